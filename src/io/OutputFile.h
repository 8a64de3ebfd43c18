#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>

#include "io/Problem.h"

namespace krlist {

// How many outputs may be open at once, in all threads together.
constexpr std::size_t kMostOpenOutputs = 256;

struct TemporarySlot;

// A file written whole or not at all. The text goes to a temporary file in
// the same folder, which `commit` renames into place; a run that fails or is
// interrupted before then leaves the file as it was (or absent) and no
// temporary file behind.
//
// An output that already exists and is neither a regular file nor a folder
// (a terminal, /dev/null, a FIFO another program reads from, a socket) is
// written into directly instead: renaming a file over it would replace the
// device or the pipe with a file. Such an output cannot be taken back, so a
// failed write to it fails the run but leaves whatever was written.
//
// A temporary file is hidden and named for its output and the process,
// ".NAME.kr-PID-N.tmp", so that two runs writing into one folder never share
// one, and so that a later run can tell it from anything else: opening an
// output removes, once per folder, the temporary files of this naming that
// were left there by processes no longer alive (a run killed with SIGKILL,
// or by a power cut).
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // Opens the output: creates the folders on the way to `path` and the
  // temporary file, or opens the device or pipe itself.
  Expected<void> open(const std::filesystem::path& path);
  std::FILE* stream() const { return stream_; }
  // Closes the temporary file and renames it to the path, or closes the
  // device. On a problem the temporary file is removed.
  Expected<void> commit();
  // Closes and removes the temporary file, if there still is one.
  void discard();
  // Whether the output is written in place rather than replaced.
  bool inPlace() const { return inPlace_; }

 private:
  // Stops keeping track of the temporary file, once it is renamed or removed.
  void release();
  Expected<void> openTemporary(const std::filesystem::path& path);

  std::filesystem::path path_;
  std::filesystem::path temporary_;
  std::FILE* stream_ = nullptr;
  TemporarySlot* slot_ = nullptr;
  bool inPlace_ = false;
};

// A folder of many outputs made whole or not at all (a site of pages): its
// files are written in a temporary folder beside it, which the caller then
// renames into place (or exchanges with the folder there). The temporary
// folder is named and cleaned as a temporary file is: ".NAME.kr-PID-N.tmp",
// removed with all it holds when the run fails or a signal ends it, and by a
// later run writing beside it once its process is no longer alive.
class TemporaryFolder {
 public:
  TemporaryFolder() = default;
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder() { discard(); }

  // Creates the temporary folder for `path` beside it, and the folders on
  // the way there.
  Expected<void> create(const std::filesystem::path& path);
  const std::filesystem::path& path() const { return temporary_; }
  // Puts the folder in the place of `path_`: exchanged with what is there,
  // which is then removed, or renamed there when nothing is.
  Expected<void> commit();
  // Removes the temporary folder and all in it, if there still is one.
  void discard();

 private:
  void release();

  std::filesystem::path path_;
  std::filesystem::path temporary_;
  TemporarySlot* slot_ = nullptr;
  int lock_ = -1;  // the folder, open and locked while the run may write in it
};

// Removes the temporary files still open, for a run that is being
// interrupted, and lets no other be created: the process is to end next.
// Safe to call from a signal handler on the systems where a handler may
// remove files, as long as the handler does not interrupt a thread that is
// writing an output.
void removeTemporaryFiles();

// Has every signal that ends the process remove the temporary files first,
// then end it as the signal would have: those from outside (SIGINT, SIGTERM,
// SIGHUP when the terminal closes, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2 and
// the like) and the faults. A signal that was ignored when the program
// started (nohup ignores SIGHUP) stays ignored. On Windows the same happens
// for Ctrl+C, Ctrl+Break, closing the console window, logging off and
// shutting down.
void removeTemporaryFilesOnExit();

// Keeps the signals from outside away from the calling thread, which is to
// write outputs: they go to the thread that writes none, so that the handler
// never interrupts a temporary file being created.
void blockExitSignals();

// Removes from `folder` the temporary files and folders of this naming that
// belong to processes no longer alive, only regular files and folders of the
// user's own. Returns how many it removed.
std::size_t removeStaleTemporaryFiles(const std::filesystem::path& folder);

}  // namespace krlist
