#include "decode/TextOutput.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace krlist {

namespace {

constexpr std::array<char, 512> makeHexPairs() {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::array<char, 512> pairs{};
  for (int i = 0; i < 256; ++i) {
    pairs[2 * i] = kDigits[i >> 4];
    pairs[2 * i + 1] = kDigits[i & 15];
  }
  return pairs;
}

constexpr std::array<char, 512> kHexPairs = makeHexPairs();

// The longest "%f" of a double: 309 integer digits, a sign, a point and six
// decimals.
constexpr std::size_t kMaxFixedLength = 320;

}  // namespace

TextOutput::TextOutput(std::FILE* stream) : stream_(stream) {}

char* TextOutput::makeRoom(std::size_t count) {
  if (stream_ != nullptr) {
    flush();
  }
  if (count > capacity_ - size_) {
    const std::size_t capacity = std::max({kBufferSize, 2 * capacity_, size_ + count});
    std::unique_ptr<char[]> larger(new char[capacity]);
    if (size_ > 0) {
      std::memcpy(larger.get(), buffer_.get(), size_);
    }
    buffer_ = std::move(larger);
    capacity_ = capacity;
  }
  return buffer_.get() + size_;
}

void TextOutput::write(std::string_view text) {
  if (stream_ != nullptr && text.size() > kBufferSize) {
    // A long string goes straight out rather than through a larger buffer.
    flush();
    if (!failed_ && std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) {
      failed_ = true;
    }
    return;
  }
  std::memcpy(room(text.size()), text.data(), text.size());
  size_ += text.size();
}

void TextOutput::writeHexByte(std::uint8_t value) {
  std::memcpy(room(2), &kHexPairs[2 * value], 2);
  size_ += 2;
}

void TextOutput::writeHexOffset(std::uint32_t value) {
  char* out = room(8);
  std::memcpy(out, &kHexPairs[2 * (value >> 24)], 2);
  std::memcpy(out + 2, &kHexPairs[2 * ((value >> 16) & 0xFF)], 2);
  std::memcpy(out + 4, &kHexPairs[2 * ((value >> 8) & 0xFF)], 2);
  std::memcpy(out + 6, &kHexPairs[2 * (value & 0xFF)], 2);
  size_ += 8;
}

void TextOutput::writeDecimal(long long value) {
  char* out = room(24);
  size_ += static_cast<std::size_t>(std::to_chars(out, out + 24, value).ptr - out);
}

void TextOutput::writeFixed(double value) {
  char* out = room(kMaxFixedLength);
  const std::to_chars_result result =
      std::to_chars(out, out + kMaxFixedLength, value, std::chars_format::fixed, 6);
  size_ += static_cast<std::size_t>(result.ptr - out);
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
