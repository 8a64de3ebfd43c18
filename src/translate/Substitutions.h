#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

#include "io/Problem.h"

namespace krlist {

// Characters replaced in translations before they are encoded, for those a
// game's code page lacks: "é" written as "e", an em dash as the Japanese
// horizontal bar. A table is UTF-8 text, one replacement a line:
//
//   CHARACTER<TAB>REPLACEMENT
//
// where CHARACTER is one character and REPLACEMENT any text, empty to drop
// the character. A line that starts with '#' is a comment; empty lines are
// skipped.
class Substitutions {
 public:
  // Reads a table; a line that is none of the above, or that gives a
  // character again, is refused with its line. `fileName` names the file in
  // the problem.
  static Expected<Substitutions> read(std::string_view text, const std::string& fileName);

  bool empty() const { return replacements_.empty(); }
  // `utf8` with every character of the table replaced.
  std::string apply(std::string_view utf8) const;

  // The replacement of a character and the table line that gives it.
  struct Replacement {
    std::string text;
    std::size_t line = 0;
  };
  // The replacement of `character`, or null when the table has none.
  const Replacement* find(char32_t character) const;
  // "FILE:LINE" of a line of the table, for a message about what it puts in.
  std::string placeOf(const Replacement& replacement) const;

 private:
  std::string fileName_;
  std::unordered_map<char32_t, Replacement> replacements_;
};

}  // namespace krlist
