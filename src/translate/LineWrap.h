#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/Encoding.h"

namespace krlist {

// Fitting a translation to a game's text box, which rarely breaks lines
// itself: every line of the text box holds so many cells (text/Cells.h).

// Characters that may not start a line (closing brackets and quotes, the
// Japanese stops and commas, small kana, the long-vowel mark, iteration
// marks, the ellipses) and that may not end one (opening brackets and
// quotes), as Japanese typesetting has it; Western closing and opening
// punctuation is taken the same way.
bool isClosingMark(char32_t character);
bool isOpeningMark(char32_t character);

// Breaks every line of `text` (UTF-8) that is wider than `width` cells into
// lines no wider, greedily: each line takes as much as fits. A line breaks at
// a space, which the line feed replaces (with the rest of its run of spaces,
// which would not show at the end of a line), or between two East Asian
// characters, where a line feed is put in; never so that a closing mark
// starts a line or an opening mark ends one. A word (a stretch with no such
// place) is split only when it alone is wider than a line, between two of its
// characters that keep those rules; a word that cannot be split so stays
// whole. A grapheme cluster (a character and its marks, an emoji of several
// joined) is measured and kept whole. Line ends already in the text are kept,
// a carriage return and line feed as one; placeholders
// (translate/Placeholders.h) take no cells and are never split. `width` is
// at least 1.
std::string wrapText(std::string_view text, std::size_t width, Encoding encoding);

// The cells of one line, placeholders not counted, each grapheme cluster as
// text/Cells.h has it; a carriage return that ends the line (before its line
// feed) is no part of it.
std::size_t lineCells(std::string_view line, Encoding encoding);

// The width of the widest line of `text` in cells, placeholders not counted,
// and its number of lines (1 for an empty text), a carriage return and line
// feed ending one line.
struct TextExtent {
  std::size_t widest = 0;
  std::size_t widestLine = 0;  // 1-based
  std::size_t lines = 1;
};
TextExtent measureText(std::string_view text, Encoding encoding);

}  // namespace krlist
