#include "io/ScriptBytes.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include <sys/stat.h>
#ifndef _WIN32
#include <sys/mman.h>
#endif

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
  readFailed_ = false;
}

bool ScriptBytes::load(std::FILE* file, std::size_t blockSize) {
  view(nullptr, 0);
  if (blockSize == kBlockSize && map(file)) {
    return true;
  }
  // Read into one buffer as large as the file says it is, and one byte more
  // to meet its end, so that a file is read without moving it; past that (a
  // pipe says nothing, a file may grow) the buffer doubles, so that any
  // length costs time in proportion to it. Nothing is cleared first, and
  // growing moves a large buffer's pages rather than its bytes.
  blockSize = std::max<std::size_t>(blockSize, 1);
  reserve(regularFileSize(file) + 1);
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
std::size_t ScriptBytes::regularFileSize(std::FILE* file) {
  struct _stat64 status {};
  if (_fstat64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFREG) == 0 ||
      status.st_size <= 0) {
    return 0;
  }
  return static_cast<std::size_t>(status.st_size);
}

bool ScriptBytes::map(std::FILE*) {
  return false;
}

void ScriptBytes::unmap() {}
#else
std::size_t ScriptBytes::regularFileSize(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
    return 0;
  }
  return static_cast<std::size_t>(status.st_size);
}

bool ScriptBytes::map(std::FILE* file) {
  // Only a regular file with something in it; some, such as those under
  // /proc, say they are empty and still have bytes to read.
  const std::size_t size = regularFileSize(file);
  if (size == 0 || std::ftell(file) != 0) {
    return false;
  }
  const int descriptor = fileno(file);
  int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
  // The whole file is read anyway: bring it in at once rather than a page
  // at each first touch.
  flags |= MAP_POPULATE;
#endif
  void* mapping = mmap(nullptr, size, PROT_READ, flags, descriptor, 0);
  if (mapping == MAP_FAILED) {
    return false;
  }
  mapping_ = mapping;
  data_ = static_cast<const std::uint8_t*>(mapping);
  size_ = size;
  return true;
}

void ScriptBytes::unmap() {
  if (mapping_ != nullptr) {
    munmap(mapping_, size_);
    mapping_ = nullptr;
  }
}
#endif

}  // namespace krlist
