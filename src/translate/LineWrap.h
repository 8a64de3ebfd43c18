#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// How wide text is drawn, in one unit for a whole line: cells, or a font's
// design units. A line's width is the sum of its grapheme clusters' and its
// placeholders'.
class LineMeasure {
 public:
  virtual ~LineMeasure() = default;
  virtual std::uint64_t clusterWidth(std::string_view cluster) const = 0;
  // What a placeholder stands for when drawn; nothing unless told.
  virtual std::uint64_t placeholderWidth(std::string_view) const { return 0; }
  // Whether the face draws `character`: every one has its cells.
  virtual bool hasGlyph(char32_t) const { return true; }
  // A width in the measure's units in pixels, rounded up to a whole pixel.
  virtual std::uint64_t pixels(std::uint64_t units) const { return units; }
};

// Cells (text/Cells.h) in an encoding: what wrapText above measures in.
class CellMeasure final : public LineMeasure {
 public:
  explicit CellMeasure(Encoding encoding) : encoding_(encoding) {}
  std::uint64_t clusterWidth(std::string_view cluster) const override;

 private:
  Encoding encoding_;
};

// wrapText with lines measured by `measure` and at most `width` of its units
// wide (at least 1), `lineBreak` put in at every break it makes: the same
// rules, whatever the unit.
std::string wrapText(std::string_view text, const LineMeasure& measure, std::uint64_t width,
                     std::string_view lineBreak = "\n");

// A text box as wrapping sees it: lines measured by `measure`, at most
// `width` of its units, `lineBreak` put in at each break made.
// `wrap` false leaves the lines as they are; the box is then only checked
// against: lines at most `checkWidth` pixels wide (0: any) and `lines` of
// them (0: any).
struct BoxFit {
  const LineMeasure* measure = nullptr;
  std::uint64_t width = 1;
  std::string lineBreak = "\n";
  bool wrap = true;
  std::uint64_t checkWidth = 0;
  std::size_t lines = 0;
};

// Calls `line` with each line of `text` as a game breaks it, in order: at a
// line feed, or at `lineBreak` (the box's own break, when it is not a line
// feed). `text` that is empty is one empty line.
void forEachBoxLine(std::string_view text, std::string_view lineBreak,
                    const std::function<void(std::string_view line)>& line);

// The width of one line as `measure` has it, a carriage return that ends it
// left out.
std::uint64_t lineWidth(std::string_view line, const LineMeasure& measure);

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
