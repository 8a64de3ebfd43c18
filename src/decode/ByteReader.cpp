#include "decode/ByteReader.h"

#include <algorithm>
#include <cstring>

namespace krlist {

ByteReader::ByteReader(std::FILE* file, std::size_t blockSize)
    : file_(file), blockSize_(std::max<std::size_t>(blockSize, 1)) {}

ByteReader::ByteReader(const std::uint8_t* bytes, std::size_t size)
    : start_(bytes), position_(bytes), end_(bytes + size), atEnd_(true) {}

bool ByteReader::fillSlowly(std::size_t count) {
  while (available() < count) {
    if (atEnd_ || !refill(count)) {
      return false;
    }
  }
  return true;
}

bool ByteReader::refill(std::size_t count) {
  const std::size_t unread = available();
  const std::uint64_t unreadOffset = offset();
  const std::size_t wanted = std::max(count, blockSize_);
  if (buffer_.size() < wanted) {
    std::vector<std::uint8_t> larger(std::max(wanted, 2 * buffer_.size()));
    if (unread > 0) {
      std::memcpy(larger.data(), position_, unread);
    }
    buffer_.swap(larger);
  } else if (unread > 0) {
    std::memmove(buffer_.data(), position_, unread);
  }
  consumedBefore_ = unreadOffset;
  start_ = position_ = buffer_.data();
  end_ = start_ + unread;

  const std::size_t got = std::fread(buffer_.data() + unread, 1, buffer_.size() - unread, file_);
  end_ += got;
  if (got == 0) {
    readFailed_ = std::ferror(file_) != 0;
    atEnd_ = true;
    return false;
  }
  return true;
}

std::size_t ByteReader::find(std::uint8_t value, std::size_t from) {
  std::size_t searched = from;
  for (;;) {
    if (searched < available()) {
      const void* hit = std::memchr(position_ + searched, value, available() - searched);
      if (hit != nullptr) {
        return static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - position_);
      }
      searched = available();
    }
    if (!fill(searched + 1)) {
      return npos;
    }
  }
}

bool ByteReader::readRest(std::string& out) {
  for (;;) {
    if (available() > 0) {
      out.append(reinterpret_cast<const char*>(position_), available());
      skip(available());
    }
    if (!fill(1)) {
      return !readFailed_;
    }
  }
}

}  // namespace krlist
