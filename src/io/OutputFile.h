#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>

namespace krlist {

// How many outputs may be open at once, in all threads together.
constexpr std::size_t kMostOpenOutputs = 256;

struct TemporarySlot;

// A file written whole or not at all. The text goes to a temporary file in
// the same folder, which `commit` renames into place; a run that fails or is
// interrupted before then leaves the file as it was (or absent) and no
// temporary file behind.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // Creates the temporary file, and the folders on the way to `path`. False,
  // with the reason in `error`, when it cannot.
  [[nodiscard]] bool open(const std::filesystem::path& path, std::string& error);
  std::FILE* stream() const { return stream_; }
  // Closes the temporary file and renames it to the path. False, with the
  // reason in `error` and the temporary file removed, when either fails.
  [[nodiscard]] bool commit(std::string& error);
  // Closes and removes the temporary file, if there still is one.
  void discard();

 private:
  // Stops keeping track of the temporary file, once it is renamed or removed.
  void release();

  std::filesystem::path path_;
  std::filesystem::path temporary_;
  std::FILE* stream_ = nullptr;
  TemporarySlot* slot_ = nullptr;
};

// Removes the temporary files still open, for a run that is being
// interrupted, and lets no other be created: the process is to end next.
// Safe to call from a signal handler on the systems where a handler may
// remove files, as long as the handler does not interrupt a thread that is
// writing an output.
void removeTemporaryFiles();

}  // namespace krlist
