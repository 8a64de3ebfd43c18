#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace krlist {

// Where a token of the JSON text lies: its byte offset and its line, and
// what is needed to count its column (in characters, from 1) without reading
// the text again: the characters of its line before `baseOffset`, counted
// when those bytes left memory, and the bytes from there, still in memory. A
// place is taken at a token's first byte, on the line being read, since a
// line ends only in whitespace between tokens.
struct JsonPlace {
  std::uint64_t offset = 0;
  std::uint64_t line = 1;
  std::uint64_t base = 0;  // characters of the line before baseOffset
  std::uint64_t baseOffset = 0;
};

// The text of a JSON document, read once from its start, from a file (or a
// pipe) in large blocks or from memory, as the stream the JSON parser reads.
// It counts lines as the parser skips whitespace and keeps where the last
// token started, so that any place the reader keeps can be named by line and
// column however far it has read since: a place whose bytes are about to be
// dropped from memory has its column counted first.
class JsonSource {
 public:
  // Reads `file`, which the caller keeps open and closes. `path`, when
  // given, names the file again, so that a second reader can open it.
  explicit JsonSource(std::FILE* file, std::filesystem::path path = {});
  // Reads text that the caller keeps alive.
  explicit JsonSource(std::string_view text);

  JsonSource(const JsonSource&) = delete;
  JsonSource& operator=(const JsonSource&) = delete;

  // The parser's stream: the next byte, 0 at the end of the text (as a 0x00
  // byte in it is read too).
  using Ch = char;
  Ch Peek() { return next_ != end_ || refill() ? *next_ : '\0'; }
  Ch Take() { return next_ != end_ || refill() ? *next_++ : '\0'; }
  std::size_t Tell() const { return static_cast<std::size_t>(offset()); }
  // Only for parsing in place, which is not done here.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  std::size_t PutEnd(Ch*) { return 0; }

  // Takes the bytes of a string up to its next '"', '\\' or control
  // character, as far as they are in memory, for the parser to copy at once.
  std::string_view takePlainString() {
    const char* start = next_;
    while (next_ != end_) {
      const auto c = static_cast<unsigned char>(*next_);
      if (c == '"' || c == '\\' || c < 0x20) {
        break;
      }
      ++next_;
    }
    return {start, static_cast<std::size_t>(next_ - start)};
  }

  std::uint64_t offset() const { return blockOffset_ + static_cast<std::uint64_t>(next_ - block_); }
  // True when every byte has been read (a 0x00 byte is not the end).
  bool atEnd() { return next_ == end_ && !refill(); }
  // True once reading the file failed, as opposed to reaching its end.
  bool readFailed() const { return readFailed_; }

  // Steps over a UTF-8 byte-order mark at the start of the text.
  void skipByteOrderMark();
  // Skips JSON whitespace, counting lines, and takes the place of the token
  // that follows.
  void skipWhitespace() {
    for (;;) {
      if (next_ == end_ && !refill()) {
        break;
      }
      const char c = *next_;
      if (c == '\n') {
        ++next_;
        ++line_;
        base_ = 0;
        baseOffset_ = offset();
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++next_;
      } else {
        break;
      }
    }
    token_ = {offset(), line_, base_, baseOffset_};
  }
  // Where the token after the last whitespace starts.
  const JsonPlace& token() const { return token_; }
  // The place of `offset`, on the line being read, at or after the start of
  // the last token.
  JsonPlace placeOf(std::uint64_t at) const { return {at, line_, base_, baseOffset_}; }

  // Places whose column is counted before their bytes leave memory: the
  // reader's, which stay where they are while it reads.
  void keepPlaces(std::vector<JsonPlace*> places) { places_ = std::move(places); }
  // Keeps the text from `offset` on in memory (as far as kKeptAtMost bytes
  // back), so that the reader can read it again to word an error.
  void keepFrom(std::uint64_t at) { keptFrom_ = at; }
  // Goes back to a kept offset, restoring the line count of that place.
  // False when those bytes are no longer in memory.
  bool rewind(const JsonPlace& place);

  // The size of the text, when a second reader can read it from any offset
  // (a regular file named by its path), and 0 otherwise.
  std::uint64_t sizeToReadAgain() const { return size_; }
  // A second reader of the same text from `offset`, which counts its lines
  // from 1 there and, when `opener` is not 0, first reads `opener` as if it
  // stood just before `offset`. Null when the file cannot be opened again.
  std::unique_ptr<JsonSource> readerFrom(std::uint64_t offset, char opener = 0) const;
  // Reads on from `place` of `other`, a second reader of the same text, whose
  // line 1 is line `lineBase` + 1 here. The places kept here are counted
  // first, since the bytes behind them leave memory.
  void continueFrom(JsonSource&& other, const JsonPlace& place, std::uint64_t lineBase);

  // The line and column (both from 1) of a place.
  struct Position {
    std::uint64_t line = 0;
    std::uint64_t column = 0;
  };
  Position positionOf(const JsonPlace& place) const;

  // The bytes from `offset` to what has been read so far, when they are
  // still in memory; empty otherwise.
  std::string_view keptText(std::uint64_t from, std::uint64_t to) const;

  // Bytes kept behind the one being read at most: a token longer than this
  // (a text of many megabytes) is not kept whole.
  static constexpr std::size_t kKeptAtMost = std::size_t{16} << 20;

 private:
  // Reads the next block of the file, keeping what is still needed. False at
  // the end of the file, or when reading fails.
  bool refill();
  // Counts, for the line being read and every place kept, the characters
  // before `to` that are about to leave memory.
  void countColumns(std::uint64_t to);
  void countColumns(JsonPlace& place, std::uint64_t to) const;
  std::uint64_t charactersBetween(std::uint64_t from, std::uint64_t to) const;

  struct Close {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  std::FILE* file_ = nullptr;
  std::unique_ptr<std::FILE, Close> ownFile_;  // a file a second reader opened
  std::filesystem::path path_;
  std::uint64_t size_ = 0;
  std::vector<char> buffer_;     // the blocks read from a file
  const char* block_ = nullptr;  // the bytes in memory, from blockOffset_
  const char* next_ = nullptr;   // the next byte to read
  const char* end_ = nullptr;    // the end of the bytes read so far
  std::uint64_t blockOffset_ = 0;
  std::uint64_t keptFrom_ = 0;
  bool ended_ = false;
  bool readFailed_ = false;

  // The line being read: its number, and its characters before baseOffset_
  // that are no longer in memory.
  std::uint64_t line_ = 1;
  std::uint64_t base_ = 0;
  std::uint64_t baseOffset_ = 0;
  JsonPlace token_;
  std::vector<JsonPlace*> places_;
};

}  // namespace krlist
