#include "decode/ScriptBytes.h"

#include <algorithm>

#ifndef _WIN32
#include <sys/mman.h>
#include <sys/stat.h>
#endif

namespace krlist {

ScriptBytes::~ScriptBytes() {
  unmap();
}

void ScriptBytes::view(const std::uint8_t* bytes, std::size_t size) {
  unmap();
  buffer_.clear();
  data_ = bytes;
  size_ = size;
  readFailed_ = false;
}

bool ScriptBytes::load(std::FILE* file, std::size_t blockSize) {
  view(nullptr, 0);
  if (blockSize == kBlockSize && map(file)) {
    return true;
  }
  // Read into a buffer that doubles as it fills, so that a pipe of any
  // length costs time in proportion to its length.
  blockSize = std::max<std::size_t>(blockSize, 1);
  std::size_t size = 0;
  for (;;) {
    if (buffer_.size() < size + blockSize) {
      buffer_.resize(std::max(2 * buffer_.size(), size + blockSize));
    }
    const std::size_t got = std::fread(buffer_.data() + size, 1, blockSize, file);
    size += got;
    if (got == 0) {
      readFailed_ = std::ferror(file) != 0;
      break;
    }
  }
  buffer_.resize(size);
  buffer_.shrink_to_fit();
  data_ = buffer_.data();
  size_ = size;
  return !readFailed_;
}

#ifdef _WIN32
bool ScriptBytes::map(std::FILE*) {
  return false;
}

void ScriptBytes::unmap() {}
#else
bool ScriptBytes::map(std::FILE* file) {
  // Only a regular file with something in it; some, such as those under
  // /proc, say they are empty and still have bytes to read.
  const int descriptor = fileno(file);
  struct stat status {};
  if (descriptor < 0 || fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size <= 0 || std::ftell(file) != 0) {
    return false;
  }
  const auto size = static_cast<std::size_t>(status.st_size);
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
