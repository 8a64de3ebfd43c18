#include "io/OutputFile.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <limits>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>

#include "io/Files.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <cstdio>
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
  bool folder = false;  // a temporary folder, removed with all it holds
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

Problem cannotWrite(const std::filesystem::path& path, const std::string& reason) {
  return Problem::about({}, "cannot write " + pathToUtf8(path) + ": " + reason);
}

// What marks a temporary file of this naming: ".NAME.kr-PID-N.tmp".
constexpr std::string_view kTemporaryMark = ".kr-";
constexpr std::string_view kTemporaryEnd = ".tmp";

// The process that made the temporary file `name`, or 0 when the name is
// not of this naming.
unsigned long temporaryOwner(std::string_view name) {
  if (name.size() < 2 || name.front() != '.' || !name.ends_with(kTemporaryEnd)) {
    return 0;
  }
  name.remove_suffix(kTemporaryEnd.size());
  const std::size_t mark = name.rfind(kTemporaryMark);
  if (mark == 0 || mark == std::string_view::npos) {
    return 0;
  }
  const std::string_view numbers = name.substr(mark + kTemporaryMark.size());
  const std::size_t dash = numbers.find('-');
  const std::string_view pid = numbers.substr(0, dash);
  const std::string_view counter = dash == std::string_view::npos ? "" : numbers.substr(dash + 1);
  const auto digits = [](std::string_view text) {
    return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == text.npos;
  };
  unsigned long owner = 0;
  if (!digits(pid) || !digits(counter) ||
      std::from_chars(pid.data(), pid.data() + pid.size(), owner).ec != std::errc()) {
    return 0;
  }
  return owner;
}

std::mutex cleanedMutex;
std::set<std::filesystem::path::string_type> cleanedFolders;

#ifdef _WIN32
int errnoFromWindows(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    default:
      return EIO;
  }
}

// A new temporary file that another thread may delete while it is open:
// the console handler removes it while a worker still writes to it.
std::FILE* createTemporary(const std::filesystem::path& path) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = errnoFromWindows(GetLastError());
    return nullptr;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor == -1) {
    CloseHandle(handle);
    errno = EMFILE;
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, "wb");
  if (file == nullptr) {
    _close(descriptor);
  }
  return file;
}

// The device itself; null when the path has since become a regular file.
std::FILE* openInPlace(const std::filesystem::path& path) {
  return openFile(path, "wb");
}

bool processAlive(unsigned long pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) {
    // No such process; one that cannot be asked is taken to be alive.
    return GetLastError() != ERROR_INVALID_PARAMETER;
  }
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) == 0 || code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

bool removeIfStale(const std::filesystem::path& path, unsigned long pid) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
  if (processAlive(pid)) {
    return false;
  }
  if (std::filesystem::is_directory(status)) {
    return std::filesystem::remove_all(path, error) > 0 && !error;
  }
  return std::filesystem::is_regular_file(status) && DeleteFileW(path.c_str()) != 0;
}
#else
// A new temporary file, never one that was there (nor a link planted in its
// name), locked for as long as it is open so that a later run can tell a
// live one from one left behind whatever process it sees.
std::FILE* createTemporary(const std::filesystem::path& path) {
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor == -1) {
    return nullptr;
  }
  (void)flock(descriptor, LOCK_EX | LOCK_NB);
  std::FILE* file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    const int error = errno;
    close(descriptor);
    unlink(path.c_str());
    errno = error;
  }
  return file;
}

// The device or pipe itself, opened without creating or truncating anything;
// null when the path has since become a regular file, which is then written
// whole.
std::FILE* openInPlace(const std::filesystem::path& path) {
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (descriptor == -1) {
    return nullptr;
  }
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || S_ISREG(status.st_mode)) {
    close(descriptor);
    errno = 0;
    return nullptr;
  }
  std::FILE* file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    close(descriptor);
  }
  return file;
}

// Left behind when its process is gone and nobody holds its lock: a process
// in another PID namespace (a container) sharing the folder may look gone
// and still hold it. Only a regular file of the user's own, never through a
// link, and only the file that was checked.
bool removeIfStale(const std::filesystem::path& path, unsigned long pid) {
  if (pid > static_cast<unsigned long>(std::numeric_limits<pid_t>::max()) ||
      kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
    return false;
  }
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor == -1) {
    return false;
  }
  struct stat opened {};
  struct stat named {};
  bool removed = false;
  if (fstat(descriptor, &opened) == 0 && (S_ISREG(opened.st_mode) || S_ISDIR(opened.st_mode)) &&
      opened.st_uid == geteuid() && flock(descriptor, LOCK_EX | LOCK_NB) == 0 &&
      lstat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
      named.st_ino == opened.st_ino) {
    if (S_ISDIR(opened.st_mode)) {
      std::error_code error;
      removed = std::filesystem::remove_all(path, error) > 0 && !error;
    } else {
      removed = unlink(path.c_str()) == 0;
    }
  }
  close(descriptor);
  return removed;
}
#endif

#if defined(__linux__)
// Removes `name` in the folder `parent` and, when it is a folder, all it
// holds, with calls a signal handler may make: no memory is allocated and
// no link is followed. Folders nested deeper than a site's are left.
void removeTreeAt(int parent, const char* name, int depth) {
  if (unlinkat(parent, name, 0) == 0 || depth > 32) {
    return;
  }
  const int folder = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder == -1) {
    return;
  }
  alignas(8) char entries[2048];
  // What is removed while the folder is listed may hide what comes after:
  // it is listed again from the start while that removes something.
  for (int pass = 0; pass < 4; ++pass) {
    bool removedAny = false;
    for (;;) {
      const ssize_t got = getdents64(folder, entries, sizeof entries);
      if (got <= 0) {
        break;
      }
      for (ssize_t at = 0; at < got;) {
        const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
        at += entry->d_reclen;
        const char* child = entry->d_name;
        if (child[0] == '.' && (child[1] == 0 || (child[1] == '.' && child[2] == 0))) {
          continue;
        }
        removeTreeAt(folder, child, depth + 1);
        removedAny = true;
      }
    }
    if (!removedAny || lseek(folder, 0, SEEK_SET) != 0) {
      break;
    }
  }
  close(folder);
  unlinkat(parent, name, AT_REMOVEDIR);
}
#endif

// Removes what earlier runs left in the folder of `path`, the first time
// this process writes there.
void cleanFolderOnce(const std::filesystem::path& path) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) {
    folder = ".";
  }
  {
    std::lock_guard<std::mutex> lock(cleanedMutex);
    if (!cleanedFolders.insert(folder.native()).second) {
      return;
    }
  }
  (void)removeStaleTemporaryFiles(folder);
}

}  // namespace

std::size_t removeStaleTemporaryFiles(const std::filesystem::path& folder) {
  std::size_t removed = 0;
  std::error_code error;
  const auto self = static_cast<unsigned long>(getpid());
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = pathToUtf8(entry->path().filename());
    const unsigned long owner = temporaryOwner(name);
    if (owner != 0 && owner != self && removeIfStale(entry->path(), owner)) {
      ++removed;
    }
  }
  return removed;
}

Expected<void> OutputFile::open(const std::filesystem::path& path) {
  [[maybe_unused]] static const bool installed = [] {
    previousTerminate = std::set_terminate(terminateCleanly);
    return true;
  }();
  discard();
  path_ = path;
  inPlace_ = false;
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (!code && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_directory(status)) {
    stream_ = openInPlace(path);
    if (stream_ != nullptr) {
      inPlace_ = true;
      return {};
    }
    if (errno != 0) {
      return cannotWrite(path, describeErrno(errno));
    }
  }
  cleanFolderOnce(path);
  return openTemporary(path);
}

namespace {

// ".NAME.kr-PID-N.tmp" for `path`, N new each time.
std::string temporaryName(const std::filesystem::path& path) {
  std::string name = ".";
  name += pathToArgument(path.filename());
  name += kTemporaryMark;
  name += std::to_string(getpid());
  name += '-';
  name += std::to_string(++temporaryCounter);
  name += kTemporaryEnd;
  return name;
}

}  // namespace

Expected<void> OutputFile::openTemporary(const std::filesystem::path& path) {
  const std::string name = temporaryName(path);
  slot_ = takeSlot();
  if (slot_ == nullptr) {
    return cannotWrite(path, "too many outputs open at once");
  }
  // Checked once the slot is taken: a handler that came before has passed
  // over it, and one that comes after waits for the file to be created.
  if (interrupted.load()) {
    slot_->state.store(kFree);
    slot_ = nullptr;
    return cannotWrite(path, "interrupted");
  }
  // The folders on the way too are made only while the slot is taken: a
  // handler removing a temporary folder (html's site) waits for them, and
  // none is made once it has begun.
  if (path.has_parent_path()) {
    std::error_code code;
    std::filesystem::create_directories(path.parent_path(), code);
    if (code) {
      slot_->state.store(kFree);
      slot_ = nullptr;
      return Problem::about(
          {}, "cannot create the folder " + pathToUtf8(path.parent_path()) + ": " + code.message());
    }
  }
  temporary_ = path.parent_path() / pathFromUtf8(name);
  slot_->name = temporary_.native();
  slot_->folder = false;
  stream_ = createTemporary(temporary_);
  if (stream_ == nullptr) {
    const int error = errno;
    slot_->state.store(kFree);
    slot_ = nullptr;
    temporary_.clear();
    return cannotWrite(path, describeErrno(error));
  }
  slot_->state.store(kOpen);
  return {};
}

Expected<void> OutputFile::commit() {
  const bool written = std::ferror(stream_) == 0;
  const int writeError = errno;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!written || !closed) {
    const int error = written ? errno : writeError;
    discard();
    return cannotWrite(path_, describeErrno(error));
  }
  if (inPlace_) {
    return {};
  }
  std::error_code code;
  std::filesystem::rename(temporary_, path_, code);
  if (code) {
    discard();
    return cannotWrite(path_, code.message());
  }
  release();
  return {};
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

Expected<void> TemporaryFolder::create(const std::filesystem::path& path) {
  discard();
  path_ = path;
  std::error_code code;
  if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), code);
    if (code) {
      return Problem::about(
          {}, "cannot create the folder " + pathToUtf8(path.parent_path()) + ": " + code.message());
    }
  }
  cleanFolderOnce(path);
  slot_ = takeSlot();
  if (slot_ == nullptr) {
    return cannotWrite(path, "too many outputs open at once");
  }
  if (interrupted.load()) {
    slot_->state.store(kFree);
    slot_ = nullptr;
    return cannotWrite(path, "interrupted");
  }
  const std::filesystem::path temporary = path.parent_path() / pathFromUtf8(temporaryName(path));
  slot_->name = temporary.native();
  slot_->folder = true;
  if (!std::filesystem::create_directory(temporary, code)) {
    slot_->state.store(kFree);
    slot_ = nullptr;
    return Problem::about({}, "cannot create the folder " + pathToUtf8(temporary) + ": " +
                                  (code ? code.message() : describeErrno(EEXIST)));
  }
  temporary_ = temporary;
#ifndef _WIN32
  // Locked while the run lives, as a temporary file is.
  lock_ = ::open(temporary.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (lock_ != -1) {
    (void)flock(lock_, LOCK_EX | LOCK_NB);
  }
#endif
  slot_->state.store(kOpen);
  return {};
}

Expected<void> TemporaryFolder::commit() {
  std::error_code code;
#if defined(__linux__)
  // In one step, so that there is always a folder at the path: the one
  // before, then this one; the one before then bears the temporary name,
  // and goes as a temporary folder goes.
  if (renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, path_.c_str(), RENAME_EXCHANGE) == 0) {
    discard();
    return {};
  }
  const int error = errno;
  // Nothing there (ENOENT), or a file system that cannot exchange.
  if (error != ENOENT && error != EINVAL && error != ENOSYS) {
    return cannotWrite(path_, describeErrno(error));
  }
#endif
  std::filesystem::path replaced;
  if (std::filesystem::exists(std::filesystem::symlink_status(path_, code))) {
    // Out of the way under a name that no later run removes, for as long
    // as the two renames take.
    std::string name = ".";
    name += pathToUtf8(path_.filename());
    name += ".kr-old";
    replaced = path_.parent_path() / pathFromUtf8(name);
    std::filesystem::remove_all(replaced, code);
    std::filesystem::rename(path_, replaced, code);
    if (code) {
      return Problem::about({}, "cannot replace " + pathToUtf8(path_) + ": " + code.message());
    }
  }
  std::filesystem::rename(temporary_, path_, code);
  if (code) {
    return Problem::about({}, "cannot rename " + pathToUtf8(temporary_) + " to " +
                                  pathToUtf8(path_) + ": " + code.message());
  }
  release();
  if (!replaced.empty()) {
    std::filesystem::remove_all(replaced, code);
  }
  return {};
}

void TemporaryFolder::discard() {
  if (!temporary_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(temporary_, ignored);
  }
  release();
}

void TemporaryFolder::release() {
#ifndef _WIN32
  if (lock_ != -1) {
    close(lock_);
    lock_ = -1;
  }
#endif
  if (slot_ != nullptr) {
    int open = kOpen;
    slot_->state.compare_exchange_strong(open, kFree);
    slot_ = nullptr;
  }
  temporary_.clear();
}

namespace {

// Removes the temporary files, or the temporary folders, still open.
void removeTemporaries(bool folders) {
  for (TemporarySlot& slot : temporarySlots) {
    // A file being created is waited for, a second at most, so that it is
    // removed too.
    for (int waited = 0; waited < 1000 && slot.state.load() == kFilling; ++waited) {
      pauseBriefly();
    }
    // What a slot holds is set before it opens, and no slot is filled once
    // the run is interrupted.
    int open = kOpen;
    if (slot.state.load() == kOpen && slot.folder == folders &&
        slot.state.compare_exchange_strong(open, kRemoving)) {
#ifdef _WIN32
      // The console handler runs in a thread of its own, which may do
      // anything another thread does.
      if (slot.folder) {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(slot.name), ignored);
      } else {
        _wremove(slot.name.c_str());
      }
#elif defined(__linux__)
      if (slot.folder) {
        removeTreeAt(AT_FDCWD, slot.name.c_str(), 0);
      } else {
        unlink(slot.name.c_str());
      }
#else
      if (!slot.folder) {
        unlink(slot.name.c_str());
      }
#endif
    }
  }
}

}  // namespace

void removeTemporaryFiles() {
  interrupted.store(true);
  // The files first, then the folders: once every file being created is
  // settled, no thread makes a folder any more, nor a file in one.
  for (const bool folders : {false, true}) {
    removeTemporaries(folders);
  }
}

namespace {

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD) {
  // Runs in a thread of its own, while the others go on: the slots keep
  // them apart. The next handler, the system's, then ends the process.
  removeTemporaryFiles();
  return FALSE;
}
#else
// The signals that end a process by default and come from outside it: a
// closed terminal, a key, kill, a timer, a limit reached.
constexpr int kSignalsFromOutside[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGALRM,   SIGUSR1,
    SIGUSR2,   SIGPIPE, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};
// The faults, which come to the thread that made them. SIGBUS is the
// mapped script's (ScriptBytes.cpp), which passes on the faults it does not
// take to removeTemporaryFiles.
constexpr int kFaults[] = {SIGSEGV, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};

extern "C" void onExitSignal(int signal) {
  removeTemporaryFiles();
  // Ends the process as the signal would have, status and all.
  std::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}

void handle(int signal) {
  struct sigaction current {};
  // One that is ignored or already handled (a sanitizer's) is left as it is.
  if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
    return;
  }
  struct sigaction action {};
  action.sa_handler = onExitSignal;
  sigfillset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}
#endif

}  // namespace

void removeTemporaryFilesOnExit() {
#ifdef _WIN32
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
  for (const int signal : kSignalsFromOutside) {
    handle(signal);
  }
  for (const int signal : kFaults) {
    handle(signal);
  }
#endif
}

void blockExitSignals() {
#ifndef _WIN32
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : kSignalsFromOutside) {
    sigaddset(&signals, signal);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
#endif
}

}  // namespace krlist
