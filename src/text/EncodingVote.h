#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "text/Encoding.h"

namespace krlist {

// The encoding that the strings of a run tell. A game writes every script in
// one encoding, so the strings of all the scripts of a run are weighed
// together: a script whose strings tell nothing alone (a menu of plain
// ASCII) takes the encoding the others tell.
//
// Each string adds its length to every encoding in which it is exact text;
// the encoding that holds more bytes is told. Plain ASCII is text in both and
// tells nothing, nor does a string that is text in neither.
class EncodingVote {
 public:
  void add(std::string_view bytes) {
    ++strings_;
    utf8Bytes_ += isExactText(Encoding::Utf8, bytes) ? bytes.size() : 0;
    cp932Bytes_ += isExactText(Encoding::Cp932, bytes) ? bytes.size() : 0;
  }
  // The strings of another vote, counted as if added here.
  void add(const EncodingVote& other) {
    strings_ += other.strings_;
    utf8Bytes_ += other.utf8Bytes_;
    cp932Bytes_ += other.cp932Bytes_;
  }

  // The encoding the strings tell; nothing when there are none or they hold
  // as many bytes of text in either.
  std::optional<Encoding> told() const {
    if (utf8Bytes_ == cp932Bytes_) {
      return std::nullopt;
    }
    return utf8Bytes_ > cp932Bytes_ ? Encoding::Utf8 : Encoding::Cp932;
  }
  // The encoding told, or when nothing tells, the format's own: the scripts
  // were made for a Japanese Windows system, whose code page is cp932.
  Encoding choice() const { return told().value_or(Encoding::Cp932); }
  // True when strings were added but told nothing, so that the choice was
  // made for them.
  bool guessed() const { return strings_ > 0 && !told(); }

 private:
  std::uint64_t strings_ = 0;
  std::uint64_t utf8Bytes_ = 0;
  std::uint64_t cp932Bytes_ = 0;
};

}  // namespace krlist
