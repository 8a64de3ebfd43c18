#include "io/OutputFile.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <system_error>

#include "io/Files.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <time.h>
#include <unistd.h>
#endif

namespace krlist {

// The temporary files of the run, as plain strings a signal handler can read.
// A slot is free; or being filled by the thread that took it, which sets the
// name and creates the file; or open, its file existing; or taken by the
// handler, and then never used again, for the process is ending. Only the
// state is shared: the name is written by the slot's thread while it is being
// filled, and read by the handler once it has taken the slot.
enum SlotState : int { kFree, kFilling, kOpen, kRemoving };
struct TemporarySlot {
  std::atomic<int> state{kFree};
  std::filesystem::path::string_type name;
};

namespace {

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only use lock-free atomics");

TemporarySlot temporarySlots[kMostOpenOutputs];
std::atomic<bool> interrupted{false};
std::atomic<unsigned> temporaryCounter{0};

TemporarySlot* takeSlot() {
  for (TemporarySlot& slot : temporarySlots) {
    int free = kFree;
    if (slot.state.compare_exchange_strong(free, kFilling)) {
      return &slot;
    }
  }
  return nullptr;
}

void pauseBriefly() {
#ifdef _WIN32
  Sleep(1);
#else
  const timespec millisecond{0, 1000000};
  nanosleep(&millisecond, nullptr);
#endif
}

// A program ended by std::terminate (an exception escaping a thread, say)
// leaves no temporary file either.
std::terminate_handler previousTerminate = nullptr;

void terminateCleanly() {
  removeTemporaryFiles();
  if (previousTerminate != nullptr) {
    previousTerminate();
  }
  std::abort();
}

std::string describeErrno(int error) {
  return std::generic_category().message(error);
}

}  // namespace

bool OutputFile::open(const std::filesystem::path& path, std::string& error) {
  [[maybe_unused]] static const bool installed = [] {
    previousTerminate = std::set_terminate(terminateCleanly);
    return true;
  }();
  discard();
  path_ = path;
  std::error_code code;
  if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), code);
    if (code) {
      error = "cannot create the folder " + pathToUtf8(path.parent_path()) + ": " + code.message();
      return false;
    }
  }
  // Hidden, and named for this process and file, so that two runs writing
  // into one folder never share a temporary file.
  std::string name = ".";
  name += pathToUtf8(path.filename());
  name += '.';
  name += std::to_string(getpid());
  name += '-';
  name += std::to_string(++temporaryCounter);
  name += ".tmp";
  slot_ = takeSlot();
  if (slot_ == nullptr) {
    error = "cannot write " + pathToUtf8(path) + ": too many outputs open at once";
    return false;
  }
  // Checked once the slot is taken: a handler that came before has passed
  // over it, and one that comes after waits for the file to be created.
  if (interrupted.load()) {
    slot_->state.store(kFree);
    slot_ = nullptr;
    error = "cannot write " + pathToUtf8(path) + ": interrupted";
    return false;
  }
  temporary_ = path.parent_path() / pathFromUtf8(name);
  slot_->name = temporary_.native();
  stream_ = openFile(temporary_, "wb");
  if (stream_ == nullptr) {
    error = "cannot write " + pathToUtf8(path) + ": " + describeErrno(errno);
    slot_->state.store(kFree);
    slot_ = nullptr;
    temporary_.clear();
    return false;
  }
  slot_->state.store(kOpen);
  return true;
}

bool OutputFile::commit(std::string& error) {
  const bool written = std::ferror(stream_) == 0;
  const int writeError = errno;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!written || !closed) {
    error =
        "cannot write " + pathToUtf8(path_) + ": " + describeErrno(written ? errno : writeError);
    discard();
    return false;
  }
  std::error_code code;
  std::filesystem::rename(temporary_, path_, code);
  if (code) {
    error = "cannot write " + pathToUtf8(path_) + ": " + code.message();
    discard();
    return false;
  }
  release();
  return true;
}

void OutputFile::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temporary_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
    release();
  }
}

void OutputFile::release() {
  if (slot_ != nullptr) {
    // Fails when the handler has taken the slot; it keeps it.
    int open = kOpen;
    slot_->state.compare_exchange_strong(open, kFree);
    slot_ = nullptr;
  }
  temporary_.clear();
}

void removeTemporaryFiles() {
  interrupted.store(true);
  for (TemporarySlot& slot : temporarySlots) {
    // A file being created is waited for, a second at most, so that it is
    // removed too.
    for (int waited = 0; waited < 1000 && slot.state.load() == kFilling; ++waited) {
      pauseBriefly();
    }
    int open = kOpen;
    if (slot.state.compare_exchange_strong(open, kRemoving)) {
#ifdef _WIN32
      _wremove(slot.name.c_str());
#else
      unlink(slot.name.c_str());
#endif
    }
  }
}

}  // namespace krlist
