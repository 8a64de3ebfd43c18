#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace krlist {

// A window onto the input bytes, refilled from a file in large blocks.
//
// The decoder looks at the bytes from the current position on; `fill` makes
// sure that enough of them are in the window, and reports whether the input
// had them. The window moves when it is refilled, so pointers into it are only
// good until the next `fill`.
class ByteReader {
 public:
  // Reads `file`, which the caller keeps open and closes, `blockSize` bytes
  // at a time (tests make it small, to cross block boundaries often).
  explicit ByteReader(std::FILE* file, std::size_t blockSize = kBlockSize);
  // Reads a buffer that the caller keeps alive.
  ByteReader(const std::uint8_t* bytes, std::size_t size);

  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // Makes at least `count` bytes available from the current position. False
  // when the input ends (or a read fails) before that; the bytes that were
  // there stay available.
  [[nodiscard]] bool fill(std::size_t count) { return count <= available() || fillSlowly(count); }

  // Finds the first byte equal to `value` at index `from` or later, reading
  // on as far as needed. Returns its index from the current position, or
  // `npos` when the input ends first.
  std::size_t find(std::uint8_t value, std::size_t from);

  // Appends every byte from the current position to the end of the input to
  // `out`. False when a read fails.
  [[nodiscard]] bool readRest(std::string& out);

  const std::uint8_t* bytes() const { return position_; }
  std::size_t available() const { return static_cast<std::size_t>(end_ - position_); }
  void skip(std::size_t count) { position_ += count; }

  // Offset in the input of the current position.
  std::uint64_t offset() const {
    return consumedBefore_ + static_cast<std::uint64_t>(position_ - start_);
  }

  // True once reading the file failed, as opposed to reaching its end.
  bool readFailed() const { return readFailed_; }

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 private:
  bool fillSlowly(std::size_t count);
  // Moves the unread bytes to the front of the buffer and reads more behind
  // them, growing the buffer if `count` bytes would not fit.
  bool refill(std::size_t count);

  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

  std::FILE* file_ = nullptr;
  std::size_t blockSize_ = 0;
  std::vector<std::uint8_t> buffer_;
  const std::uint8_t* start_ = nullptr;  // where the window's first byte lies
  const std::uint8_t* position_ = nullptr;
  const std::uint8_t* end_ = nullptr;
  std::uint64_t consumedBefore_ = 0;  // input offset of start_
  bool atEnd_ = false;
  bool readFailed_ = false;
};

}  // namespace krlist
