#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace krlist {

// Text bound for one standard stream, gathered in a large buffer and written
// out in big pieces, with the few number formats a listing needs. Without a
// stream the text is only kept, so that tests and the fuzzer can read it back.
class TextOutput {
 public:
  explicit TextOutput(std::FILE* stream);

  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  void write(std::string_view text) {
    if (text.size() > kBufferSize) {
      writeLong(text);
    } else if (!text.empty()) {  // an empty view may have no data, nor the buffer yet
      std::memcpy(reserve(text.size()), text.data(), text.size());
      size_ += text.size();
    }
  }
  void write(char c) { *reserve(1) = c, ++size_; }
  // Two uppercase hexadecimal digits, as "%02X".
  void writeHexByte(std::uint8_t value) { commit(putHexByte(reserve(2), value)); }
  // Eight uppercase hexadecimal digits, as "%08X".
  void writeHexOffset(std::uint32_t value) { commit(putHexOffset(reserve(8), value)); }
  // Room for `count` characters at the end of the text, to be filled and then
  // handed back with `commit` (which takes the end of what was filled).
  char* reserve(std::size_t count) {
    return count <= capacity_ - size_ ? buffer_.get() + size_ : makeRoom(count);
  }
  void commit(char* end) { size_ = static_cast<std::size_t>(end - buffer_.get()); }
  // Write the digits of `value` at `out` and return the end.
  static char* putHexByte(char* out, std::uint8_t value) {
    std::memcpy(out, &kHexPairs[2 * value], 2);
    return out + 2;
  }
  static char* putHexOffset(char* out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      out = putHexByte(out, static_cast<std::uint8_t>(value >> shift));
    }
    return out;
  }

  // A float widened to double with six digits after the point, as "%f"
  // (also "inf", "-inf", "nan", "-nan"), in at most kLongestFloat characters.
  static char* putFloat(char* out, float value);
  // A sign, 39 integer digits, a point and six decimals.
  static constexpr std::size_t kLongestFloat = 47;

  // Signed decimal, as "%lld".
  void writeDecimal(long long value);

  // Writes the buffered text to the stream. False once any write has failed.
  bool flush();
  bool failed() const { return failed_; }

  // Everything written so far, for an output without a stream.
  std::string_view text() const { return {buffer_.get(), size_}; }
  // Drops the text not yet written to the stream, to use the output afresh.
  void clear() { size_ = 0; }

 private:
  char* makeRoom(std::size_t count);
  void writeLong(std::string_view text);

  // "00" to "FF", two characters per byte value.
  static const char kHexPairs[513];

  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

  std::FILE* stream_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  bool failed_ = false;
};

// Standard output and standard error of one run. Errors are written at once,
// after everything written to standard output before them, so that the two
// come out in the order they were produced when they share a terminal or file.
class Console {
 public:
  // Null streams keep the text in memory.
  Console(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  TextOutput& out() { return out_; }
  TextOutput& err() { return err_; }

  void error(std::string_view text);

 private:
  TextOutput out_;
  TextOutput err_;
};

}  // namespace krlist
