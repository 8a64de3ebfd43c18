#include "system/OutputFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

#include "system/Files.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace krlist {

namespace {

// The temporary files of the run, by slot, as plain strings a signal handler
// can read. A slot is taken while its file exists.
constexpr std::size_t kSlots = 256;
struct TemporarySlot {
  std::atomic<bool> used{false};
  std::filesystem::path::string_type name;
};
TemporarySlot temporarySlots[kSlots];
std::mutex slotsMutex;
std::atomic<unsigned> temporaryCounter{0};

TemporarySlot* takeSlot(const std::filesystem::path& temporary) {
  std::lock_guard<std::mutex> lock(slotsMutex);
  for (TemporarySlot& slot : temporarySlots) {
    if (!slot.used.load()) {
      slot.name = temporary.native();
      slot.used.store(true);
      return &slot;
    }
  }
  return nullptr;
}

void releaseSlot(const std::filesystem::path& temporary) {
  std::lock_guard<std::mutex> lock(slotsMutex);
  for (TemporarySlot& slot : temporarySlots) {
    if (slot.used.load() && slot.name == temporary.native()) {
      slot.used.store(false);
      return;
    }
  }
}

std::string describeErrno(int error) {
  return std::generic_category().message(error);
}

}  // namespace

bool OutputFile::open(const std::filesystem::path& path, std::string& error) {
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
  temporary_ = path.parent_path() / pathFromUtf8(name);
  takeSlot(temporary_);
  stream_ = openFile(temporary_, "wb");
  if (stream_ == nullptr) {
    error = "cannot write " + pathToUtf8(path) + ": " + describeErrno(errno);
    releaseSlot(temporary_);
    temporary_.clear();
    return false;
  }
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
  releaseSlot(temporary_);
  temporary_.clear();
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
    releaseSlot(temporary_);
    temporary_.clear();
  }
}

void removeTemporaryFiles() {
  for (TemporarySlot& slot : temporarySlots) {
    if (slot.used.load()) {
#ifdef _WIN32
      _wremove(slot.name.c_str());
#else
      unlink(slot.name.c_str());
#endif
    }
  }
}

}  // namespace krlist
