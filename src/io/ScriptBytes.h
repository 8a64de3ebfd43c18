#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "io/Problem.h"

namespace krlist {

// The whole of a script's bytes in memory, where the decoder and the listing
// read them: a regular file is mapped, anything else (a pipe) is read in
// blocks.
//
// A mapped file that another program cuts short while it is read would end
// the process with SIGBUS at the first byte past its new end. The handler
// this class installs maps zeros in place of the pages that are gone, so
// that the reading goes on, harmlessly, and marks the bytes as changed; so
// does a file whose size or modification time differs once it has been
// read. Whoever reads the bytes asks `unchanged` before trusting what it
// made of them. A file that does not change costs nothing more than it did.
class ScriptBytes {
 public:
  ScriptBytes() = default;
  ScriptBytes(const ScriptBytes&) = delete;
  ScriptBytes& operator=(const ScriptBytes&) = delete;
  ~ScriptBytes();

  // Reads all of `file`, which the caller keeps open and closes; a file that
  // cannot be mapped is read `blockSize` bytes at a time (tests make it
  // small). False when a read fails: the bytes before the failure stay.
  [[nodiscard]] bool load(std::FILE* file, std::size_t blockSize = kBlockSize);
  // Takes bytes that the caller keeps alive.
  void view(const std::uint8_t* bytes, std::size_t size);

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  // True when reading the file failed, as opposed to reaching its end.
  bool readFailed() const { return readFailed_; }
  // Nothing, or "NAME: the file changed while it was read" when the file was
  // cut short or written to since it was loaded: the bytes read may be
  // neither the old file nor the new one.
  Expected<void> unchanged(std::string_view name) const;
  // The bytes from `offset` to the end.
  std::string_view from(std::uint64_t offset) const {
    return {reinterpret_cast<const char*>(data_) + offset, size_ - offset};
  }

  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

 private:
  struct Free {
    void operator()(std::uint8_t* bytes) const;
  };

  // Makes room for `capacity` bytes, keeping those read.
  void reserve(std::size_t capacity);
  bool map(std::FILE* file);
  void unmap();
  // The size and modification time of the file, to tell whether it changed.
  struct FileState {
    long long size = -1;
    long long modified = 0;
    long long modifiedNanoseconds = 0;
    bool operator==(const FileState&) const = default;
  };
  static FileState stateOf(int descriptor);
  // Whether the fault handler found the mapping in `range` cut short.
  static bool mappingCut(int range);

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::unique_ptr<std::uint8_t[], Free> buffer_;  // the bytes, when they were read
  std::size_t capacity_ = 0;
  void* mapping_ = nullptr;  // the bytes, when they were mapped
  int mappedRange_ = -1;     // where the fault handler finds the mapping
  int descriptor_ = -1;      // the file mapped, kept open to see it change
  FileState loaded_;         // the file as it was when loaded
  bool changed_ = false;     // seen to change while read
  bool readFailed_ = false;
};

}  // namespace krlist
