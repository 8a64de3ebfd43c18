#include "io/ScriptBytes.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include "io/OutputFile.h"
#endif

#include "io/Files.h"

namespace krlist {

ScriptBytes::~ScriptBytes() {
  unmap();
}

void ScriptBytes::view(const std::uint8_t* bytes, std::size_t size) {
  unmap();
  buffer_.reset();
  capacity_ = 0;
  data_ = bytes;
  size_ = size;
  changed_ = false;
  readFailed_ = false;
}

Expected<void> ScriptBytes::unchanged(std::string_view name) const {
  bool changed = changed_;
#ifndef _WIN32
  if (mappedRange_ >= 0) {
    changed = changed || mappingCut(mappedRange_) || !(stateOf(descriptor_) == loaded_);
  }
#endif
  if (changed) {
    return Problem::about(std::string(name), "the file changed while it was read");
  }
  return {};
}

bool ScriptBytes::load(std::FILE* file, std::size_t blockSize) {
  view(nullptr, 0);
  if (blockSize == kBlockSize && map(file)) {
    return true;
  }
#ifdef _WIN32
  const int descriptor = _fileno(file);
#else
  const int descriptor = fileno(file);
#endif
  loaded_ = stateOf(descriptor);
  // Read into one buffer as large as the file says it is, and one byte more
  // to meet its end, so that a file is read without moving it; past that (a
  // pipe says nothing, a file may grow) the buffer doubles, so that any
  // length costs time in proportion to it. Nothing is cleared first, and
  // growing moves a large buffer's pages rather than its bytes.
  blockSize = std::max<std::size_t>(blockSize, 1);
  reserve(static_cast<std::size_t>(regularFileSize(file)) + 1);
  std::size_t size = 0;
  for (;;) {
    if (size == capacity_) {
      reserve(std::max(2 * capacity_, kBlockSize));
    }
    const std::size_t got =
        std::fread(buffer_.get() + size, 1, std::min(blockSize, capacity_ - size), file);
    size += got;
    if (got == 0) {
      readFailed_ = std::ferror(file) != 0;
      break;
    }
  }
  data_ = buffer_.get();
  size_ = size;
  // Only a regular file says when it was written; a pipe's time changes
  // with every write.
  changed_ = loaded_.size >= 0 && !(stateOf(descriptor) == loaded_);
  return !readFailed_;
}

void ScriptBytes::reserve(std::size_t capacity) {
  if (capacity <= capacity_) {
    return;
  }
  void* larger = std::realloc(buffer_.get(), capacity);
  if (larger == nullptr) {
    throw std::bad_alloc();
  }
  (void)buffer_.release();
  buffer_.reset(static_cast<std::uint8_t*>(larger));
  capacity_ = capacity;
}

void ScriptBytes::Free::operator()(std::uint8_t* bytes) const {
  std::free(bytes);
}

#ifdef _WIN32
ScriptBytes::FileState ScriptBytes::stateOf(int descriptor) {
  struct _stat64 status {};
  if (_fstat64(descriptor, &status) != 0 || (status.st_mode & _S_IFREG) == 0) {
    return {};
  }
  return {static_cast<long long>(status.st_size), static_cast<long long>(status.st_mtime), 0};
}

bool ScriptBytes::map(std::FILE*) {
  return false;
}

void ScriptBytes::unmap() {}
#else
namespace {

// The mappings in use, where the SIGBUS handler looks for the address that
// faulted. A range is free, being filled by the thread that took it, or in
// use; the handler reads only those in use, whose bounds no longer change.
enum RangeState : int { kRangeFree, kRangeFilling, kRangeInUse };
struct MappedRange {
  std::atomic<int> state{kRangeFree};
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> cut{false};
};
constexpr int kMostMappings = 512;
MappedRange mappedRanges[kMostMappings];
std::uintptr_t pageSize = 4096;
struct sigaction previousBusAction {};

static_assert(std::atomic<std::uintptr_t>::is_always_lock_free,
              "a signal handler may only use lock-free atomics");

// Reading a page of a mapped file past the file's end faults. When the page
// is one of a script's, zeros take the place of the rest of its mapping and
// the script is marked as cut short; the read then starts again and finds
// zeros. Any other fault is passed on to the handler before this one (or
// the default, which ends the process), once the temporary files are gone.
extern "C" void onBusError(int, siginfo_t* info, void*) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (MappedRange& range : mappedRanges) {
    if (range.state.load() != kRangeInUse || address < range.begin.load() ||
        address >= range.end.load()) {
      continue;
    }
    const std::uintptr_t page = address & ~(pageSize - 1);
    void* zeros = mmap(reinterpret_cast<void*>(page), range.end.load() - page, PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros != MAP_FAILED) {
      range.cut.store(true);
      return;
    }
  }
  removeTemporaryFiles();
  sigaction(SIGBUS, &previousBusAction, nullptr);
}

void handleBusErrors() {
  [[maybe_unused]] static const bool installed = [] {
    pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousBusAction);
    return true;
  }();
}

// A free range, taken for [begin, begin + size); -1 when all are in use.
int takeRange(const void* begin, std::size_t size) {
  for (int i = 0; i < kMostMappings; ++i) {
    int free = kRangeFree;
    if (mappedRanges[i].state.compare_exchange_strong(free, kRangeFilling)) {
      const auto start = reinterpret_cast<std::uintptr_t>(begin);
      mappedRanges[i].begin.store(start);
      mappedRanges[i].end.store(start + size);
      mappedRanges[i].cut.store(false);
      mappedRanges[i].state.store(kRangeInUse);
      return i;
    }
  }
  return -1;
}

}  // namespace

bool ScriptBytes::mappingCut(int range) {
  return mappedRanges[range].cut.load();
}

ScriptBytes::FileState ScriptBytes::stateOf(int descriptor) {
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    return {};
  }
  return {static_cast<long long>(status.st_size), static_cast<long long>(status.st_mtim.tv_sec),
          static_cast<long long>(status.st_mtim.tv_nsec)};
}

bool ScriptBytes::map(std::FILE* file) {
  // Only a regular file with something in it; some, such as those under
  // /proc, say they are empty and still have bytes to read.
  const auto size = static_cast<std::size_t>(regularFileSize(file));
  if (size == 0 || std::ftell(file) != 0) {
    return false;
  }
  handleBusErrors();
  const int descriptor = dup(fileno(file));
  if (descriptor == -1) {
    return false;
  }
  const FileState state = stateOf(descriptor);
  int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
  // The whole file is read anyway: bring it in at once rather than a page
  // at each first touch.
  flags |= MAP_POPULATE;
#endif
  void* mapping = mmap(nullptr, size, PROT_READ, flags, descriptor, 0);
  if (mapping == MAP_FAILED) {
    close(descriptor);
    return false;
  }
  // Without a range for the handler a cut would end the process: the file
  // is read instead.
  const int range = takeRange(mapping, size);
  if (range < 0) {
    munmap(mapping, size);
    close(descriptor);
    return false;
  }
  mapping_ = mapping;
  mappedRange_ = range;
  descriptor_ = descriptor;
  loaded_ = state;
  data_ = static_cast<const std::uint8_t*>(mapping);
  size_ = size;
  return true;
}

void ScriptBytes::unmap() {
  if (mapping_ != nullptr) {
    // Given up before the pages go, so that the handler never takes another
    // mapping made there for this one.
    mappedRanges[mappedRange_].state.store(kRangeFree);
    munmap(mapping_, size_);
    close(descriptor_);
    mapping_ = nullptr;
    mappedRange_ = -1;
    descriptor_ = -1;
  }
}
#endif

}  // namespace krlist
