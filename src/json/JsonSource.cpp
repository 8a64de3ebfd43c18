#include "json/JsonSource.h"

#include <algorithm>

namespace krlist {

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;

}  // namespace

JsonSource::JsonSource(std::FILE* file) : file_(file), window_(kBlockSize) {}

JsonSource::JsonSource(std::string_view text)
    : text_(text),
      blockPosition_(text.data()),
      blockEnd_(text.data() + text.size()),
      window_(kBlockSize) {}

bool JsonSource::restart(std::size_t window) {
  window_ = std::max<std::size_t>(window, 1);
  consumed_ = windowStart_ = 0;
  if (file_ == nullptr) {
    blockPosition_ = text_.data();
    return true;
  }
  if (fileRead_) {
    if (std::fseek(file_, 0, SEEK_SET) != 0) {
      return false;
    }
    std::clearerr(file_);
  }
  blockPosition_ = blockEnd_ = nullptr;
  fileRead_ = false;
  readFailed_ = false;
  return true;
}

bool JsonSource::readBlock() {
  if (file_ == nullptr || readFailed_) {
    return false;
  }
  block_.resize(kBlockSize);
  fileRead_ = true;
  const std::size_t got = std::fread(block_.data(), 1, block_.size(), file_);
  if (got == 0) {
    readFailed_ = std::ferror(file_) != 0;
    return false;
  }
  blockPosition_ = block_.data();
  blockEnd_ = block_.data() + got;
  return true;
}

const char* JsonSource::nextWindow() {
  windowStart_ = consumed_;
  if (blockPosition_ == blockEnd_ && !readBlock()) {
    windowEnd_ = nullptr;
    return nullptr;
  }
  const char* window = blockPosition_;
  const std::size_t size = std::min(window_, static_cast<std::size_t>(blockEnd_ - blockPosition_));
  blockPosition_ += size;
  windowEnd_ = blockPosition_;
  consumed_ += size;
  return window;
}

JsonSource::Position JsonSource::positionOf(std::uint64_t offset) {
  if (!restart(kBlockSize)) {
    return {};
  }
  Position position{1, 1};
  std::uint64_t at = 0;
  for (Iterator it = begin(); it != end() && at < offset; ++it, ++at) {
    const auto c = static_cast<unsigned char>(*it);
    if (c == '\n') {
      ++position.line;
      position.column = 1;
    } else if ((c & 0xC0) != 0x80) {  // a UTF-8 continuation byte adds no character
      ++position.column;
    }
  }
  return position;
}

}  // namespace krlist
