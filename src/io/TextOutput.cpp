#include "io/TextOutput.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "io/HugePages.h"

namespace krlist {

const char TextOutput::kHexPairs[513] =
    "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"
    "202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F"
    "404142434445464748494A4B4C4D4E4F505152535455565758595A5B5C5D5E5F"
    "606162636465666768696A6B6C6D6E6F707172737475767778797A7B7C7D7E7F"
    "808182838485868788898A8B8C8D8E8F909192939495969798999A9B9C9D9E9F"
    "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF"
    "C0C1C2C3C4C5C6C7C8C9CACBCCCDCECFD0D1D2D3D4D5D6D7D8D9DADBDCDDDEDF"
    "E0E1E2E3E4E5E6E7E8E9EAEBECEDEEEFF0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF";

TextOutput::TextOutput(std::FILE* stream) : stream_(stream) {}

char* TextOutput::makeRoom(std::size_t count) {
  if (stream_ != nullptr) {
    flush();
  }
  if (count > capacity_ - size_) {
    // Text kept in memory is mostly short (a report, an error message).
    const std::size_t first = stream_ != nullptr ? kBufferSize : 4096;
    const std::size_t capacity = std::max({first, 2 * capacity_, size_ + count});
    std::unique_ptr<char[]> larger(new char[capacity]);
    if (stream_ == nullptr && capacity >= kHugePagesFrom) {
      adviseHugePages(larger.get(), capacity);
    }
    if (size_ > 0) {
      std::memcpy(larger.get(), buffer_.get(), size_);
    }
    buffer_ = std::move(larger);
    capacity_ = capacity;
  }
  return buffer_.get() + size_;
}

void TextOutput::writeLong(std::string_view text) {
  if (stream_ == nullptr) {
    std::memcpy(reserve(text.size()), text.data(), text.size());
    size_ += text.size();
    return;
  }
  // A long string goes straight out rather than through a larger buffer.
  flush();
  if (!failed_ && std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) {
    failed_ = true;
  }
}

void TextOutput::writeDecimal(long long value) {
  char* out = reserve(24);
  size_ += static_cast<std::size_t>(std::to_chars(out, out + 24, value).ptr - out);
}

char* TextOutput::putFloat(char* out, float value) {
  return std::to_chars(out, out + kLongestFloat, static_cast<double>(value),
                       std::chars_format::fixed, 6)
      .ptr;
}

bool TextOutput::flush() {
  if (stream_ == nullptr) {
    return true;
  }
  if (size_ > 0 && !failed_ && std::fwrite(buffer_.get(), 1, size_, stream_) != size_) {
    failed_ = true;
  }
  size_ = 0;
  if (!failed_ && std::fflush(stream_) != 0) {
    failed_ = true;
  }
  return !failed_;
}

void Console::error(std::string_view text) {
  out_.flush();
  err_.write(text);
  err_.flush();
}

}  // namespace krlist
