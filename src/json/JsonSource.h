#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <vector>

namespace krlist {

// The text of a JSON document, handed to the JSON parser a window at a time,
// so that a document larger than memory can be read: from a file in large
// blocks, or from memory.
//
// The parser reports no positions to its handler, so a position is found by
// reading again from the start in windows of one byte, after which `consumed`
// says exactly how far the parser has read. That costs time only when there is
// an error to place.
class JsonSource {
 public:
  // Reads `file`, which the caller keeps open and closes.
  explicit JsonSource(std::FILE* file);
  // Reads text that the caller keeps alive.
  explicit JsonSource(std::string_view text);

  JsonSource(const JsonSource&) = delete;
  JsonSource& operator=(const JsonSource&) = delete;

  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    Iterator() = default;
    reference operator*() const { return *position_; }
    Iterator& operator++() {
      if (++position_ == source_->windowEnd_) {
        position_ = source_->nextWindow();
      }
      return *this;
    }
    bool operator==(const Iterator& other) const { return position_ == other.position_; }

   private:
    friend class JsonSource;
    Iterator(const char* position, JsonSource* source) : position_(position), source_(source) {}

    const char* position_ = nullptr;  // null at the end of the text
    JsonSource* source_ = nullptr;
  };

  // Starts reading from the first byte, `window` bytes at a time. False when
  // the input cannot go back to its start (a pipe read past its first block).
  [[nodiscard]] bool restart(std::size_t window);
  Iterator begin() { return {nextWindow(), this}; }
  Iterator end() { return {nullptr, this}; }

  // The next window of the text, for a reader of its own; empty at the end.
  std::string_view nextText() {
    const char* window = nextWindow();
    return window == nullptr ? std::string_view() : std::string_view(window, windowEnd_ - window);
  }

  // Bytes the parser has gone past: those before its current window. The
  // iterator moves to the next window as soon as it leaves one, so with
  // windows of one byte this is exactly what the parser has read.
  std::uint64_t consumed() const { return windowStart_; }
  // True once reading the file failed, as opposed to reaching its end.
  bool readFailed() const { return readFailed_; }

  // The line and column (both from 1, the column in characters) of a byte
  // offset, reading the text again from its start. Zeros when it cannot.
  struct Position {
    std::uint64_t line = 0;
    std::uint64_t column = 0;
  };
  Position positionOf(std::uint64_t offset);

 private:
  // The next window of bytes, or null at the end of the text.
  const char* nextWindow();
  // Refills the block buffer from the file; false at its end.
  bool readBlock();

  std::FILE* file_ = nullptr;
  std::string_view text_;                // the text, when it is read from memory
  std::vector<char> block_;              // the block last read, when it is read from a file
  const char* blockPosition_ = nullptr;  // what is not yet handed out of the block
  const char* blockEnd_ = nullptr;
  const char* windowEnd_ = nullptr;
  std::size_t window_ = 0;
  std::uint64_t consumed_ = 0;     // bytes handed out, to the end of the current window
  std::uint64_t windowStart_ = 0;  // where the current window starts
  bool fileRead_ = false;          // some of the file has been read, so a restart must seek
  bool readFailed_ = false;
};

}  // namespace krlist
