#include "translate/LineWrap.h"

#include <algorithm>
#include <vector>

#include "text/Cells.h"
#include "translate/Placeholders.h"

namespace krlist {

namespace {

bool isAmong(char32_t character, std::u32string_view set) {
  return set.find(character) != std::u32string_view::npos;
}

// What wrapping sees of a line: each grapheme cluster (a character with the
// marks and joined characters after it, drawn as one), or a placeholder
// whole. A mark after a placeholder goes with it: nothing breaks before a
// mark (unless it follows a space).
struct Unit {
  std::size_t at = 0;  // in the line, in bytes
  std::size_t length = 0;
  std::uint64_t cells = 0;  // in the measure's unit
  bool space = false;
  bool eastAsian = false;
  bool opening = false;
  bool closing = false;
};

std::vector<Unit> unitsOf(std::string_view line, const LineMeasure& measure) {
  std::vector<Unit> units;
  for (std::size_t at = 0; at < line.size();) {
    if (const std::size_t length = placeholderAt(line, at)) {
      Unit& unit = units.emplace_back();
      unit.at = at;
      unit.length = length;
      unit.cells = measure.placeholderWidth(line.substr(at, length));
      at += length;
      continue;
    }
    std::size_t next = at;
    const char32_t character = nextCharacter(line, next);
    // A space is a unit alone, since a break replaces it: a mark after it
    // is kept as a unit of its own.
    const std::size_t end = character == U' ' ? next : clusterEnd(line, at);
    if (isZeroWidth(character) && !units.empty() && !units.back().space) {
      units.back().length += end - at;
      at = end;
      continue;
    }
    Unit& unit = units.emplace_back();
    unit.at = at;
    unit.length = end - at;
    unit.cells = measure.clusterWidth(line.substr(at, end - at));
    at = end;
    unit.space = character == U' ';
    // Half-width katakana break like the full-width kana they stand for.
    unit.eastAsian = isWide(character) || (character >= 0xFF61 && character <= 0xFF9F);
    unit.opening = isOpeningMark(character);
    unit.closing = isClosingMark(character);
  }
  return units;
}

// What a break does to a unit: the first space of the run at a break is
// replaced by the line feed and the others are dropped, or a line feed is put
// in before the unit.
enum class Break : std::uint8_t { None, ReplaceSpace, DropSpace, Insert };

void wrapLine(std::string_view line, const LineMeasure& measure, std::uint64_t width,
              std::string_view lineBreak, std::string& out) {
  const std::vector<Unit> units = unitsOf(line, measure);
  const std::size_t count = units.size();
  // breaks[k]: how the line breaks at unit k.
  std::vector<Break> breaks(count, Break::None);
  // May a line end with unit `end` and the next start with unit `next`?
  const auto keepsMarks = [&units](std::size_t end, std::size_t next) {
    return !units[end].opening && (next == units.size() || !units[next].closing);
  };
  std::size_t lineStart = 0;
  std::uint64_t cells = 0;    // of the units from lineStart up to the one being placed
  std::size_t lastPlace = 0;  // the last place the line may break, before that unit; 0 for none
  // Splits of a word before units up to this one were tried and are not
  // allowed: whether one is depends only on the two units around it, so a
  // long word is not searched again for every character.
  std::size_t triedSplits = 0;
  const auto startLine = [&](std::size_t start, std::size_t upTo) {
    lineStart = start;
    lastPlace = 0;
    triedSplits = start;
    cells = 0;
    for (std::size_t k = start; k < upTo; ++k) {
      cells += units[k].cells;
    }
  };
  for (std::size_t i = 0; i < count; ++i) {
    const Unit& unit = units[i];
    // Spaces hang past the end of a line rather than break it: the line
    // breaks at the last space of a run, before the next word.
    if (unit.space) {
      cells += unit.cells;
      continue;
    }
    // A place to break before this unit: after a space, which the line feed
    // replaces (but not a space that starts the line: that would leave an
    // empty line), or between two East Asian characters.
    if (i > lineStart) {
      const Unit& before = units[i - 1];
      if (before.space) {
        std::size_t end = i - 1;  // the last unit before the spaces ends the line
        while (end > lineStart && units[end].space) {
          --end;
        }
        if (!units[end].space && keepsMarks(end, i)) {
          lastPlace = i;
        }
      } else if (before.eastAsian && unit.eastAsian && keepsMarks(i - 1, i)) {
        lastPlace = i;
      }
    }
    while (cells + unit.cells > width) {
      if (lastPlace > lineStart) {
        if (units[lastPlace - 1].space) {
          // None of the spaces is left at the end of the line: a space
          // there would make it wider than it shows, and than the box.
          std::size_t first = lastPlace - 1;
          while (first > lineStart && units[first - 1].space) {
            --first;
          }
          breaks[first] = Break::ReplaceSpace;
          std::fill(breaks.begin() + static_cast<std::ptrdiff_t>(first) + 1,
                    breaks.begin() + static_cast<std::ptrdiff_t>(lastPlace), Break::DropSpace);
        } else {
          breaks[lastPlace] = Break::Insert;
        }
        startLine(lastPlace, i);
        continue;
      }
      // A word wider than the line: split it as late as the marks allow,
      // between two of its characters (a space is a place to break or
      // nothing).
      std::size_t split = i;
      while (split > triedSplits &&
             (!keepsMarks(split - 1, split) || units[split].space || units[split - 1].space)) {
        --split;
      }
      if (split <= triedSplits) {
        triedSplits = i;
        break;  // it cannot be split: it stays whole, wider than the line
      }
      breaks[split] = Break::Insert;
      startLine(split, i);
    }
    cells += unit.cells;
  }
  for (std::size_t k = 0; k < count; ++k) {
    const std::string_view text = line.substr(units[k].at, units[k].length);
    switch (breaks[k]) {
      case Break::None:
        out += text;
        break;
      case Break::ReplaceSpace:
        out += lineBreak;
        break;
      case Break::DropSpace:
        break;
      case Break::Insert:
        out += lineBreak;
        out += text;
        break;
    }
  }
}

}  // namespace

bool isClosingMark(char32_t character) {
  return isAmong(character,
                 U"、。，．・：；？！ゝゞヽヾー」』）】〕〉》’”…‥"
                 U"ぁぃぅぇぉっゃゅょゎゕゖァィゥェォッャュョヮヵヶㇰㇱㇲㇳㇴㇵㇶㇷㇸㇹㇺㇻㇼㇽㇾㇿ"
                 U"〟］｝〙〗｡｣､･ｧｨｩｪｫｬｭｮｯｰ)]}!?,.:;");
}

bool isOpeningMark(char32_t character) {
  return isAmong(character, U"「『（【〔〈《‘“〝［｛〘〖｢([{");
}

namespace {

// Each line of `text` with its line end: a line feed, a carriage return
// and a line feed (one line end, as a file written on Windows has them), or
// nothing after the last line.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
  for (std::size_t start = 0;;) {
    const std::size_t feed = std::min(text.find('\n', start), text.size());
    std::size_t end = feed;
    if (feed < text.size() && end > start && text[end - 1] == '\r') {
      --end;
    }
    const bool last = feed == text.size();
    visit(text.substr(start, end - start), text.substr(end, last ? 0 : feed + 1 - end));
    if (last) {
      break;
    }
    start = feed + 1;
  }
}

}  // namespace

std::uint64_t CellMeasure::clusterWidth(std::string_view cluster) const {
  return clusterCells(cluster, encoding_);
}

std::string wrapText(std::string_view text, const LineMeasure& measure, std::uint64_t width,
                     std::string_view lineBreak) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  forEachLine(text, [&](std::string_view line, std::string_view lineEnd) {
    wrapLine(line, measure, std::max<std::uint64_t>(width, 1), lineBreak, out);
    out += lineEnd;
  });
  return out;
}

std::string wrapText(std::string_view text, std::size_t width, Encoding encoding) {
  return wrapText(text, CellMeasure(encoding), width);
}

void forEachBoxLine(std::string_view text, std::string_view lineBreak,
                    const std::function<void(std::string_view line)>& line) {
  for (std::size_t start = 0;;) {
    std::size_t end = text.find('\n', start);
    std::size_t next = end == std::string_view::npos ? end : end + 1;
    if (lineBreak != "\n" && !lineBreak.empty()) {
      const std::size_t other = text.find(lineBreak, start);
      if (other < end) {
        end = other;
        next = other + lineBreak.size();
      }
    }
    end = std::min(end, text.size());
    line(text.substr(start, end - start));
    if (next == std::string_view::npos) {
      return;
    }
    start = next;
  }
}

std::uint64_t lineWidth(std::string_view line, const LineMeasure& measure) {
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  std::uint64_t width = 0;
  for (std::size_t at = 0; at < line.size();) {
    if (const std::size_t length = placeholderAt(line, at)) {
      width += measure.placeholderWidth(line.substr(at, length));
      at += length;
      continue;
    }
    const std::size_t end = clusterEnd(line, at);
    width += measure.clusterWidth(line.substr(at, end - at));
    at = end;
  }
  return width;
}

std::size_t lineCells(std::string_view line, Encoding encoding) {
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  std::size_t cells = 0;
  for (std::size_t at = 0; at < line.size();) {
    if (const std::size_t length = placeholderAt(line, at)) {
      at += length;
      continue;
    }
    const std::size_t end = clusterEnd(line, at);
    cells += clusterCells(line.substr(at, end - at), encoding);
    at = end;
  }
  return cells;
}

TextExtent measureText(std::string_view text, Encoding encoding) {
  TextExtent extent;
  extent.lines = 0;
  forEachLine(text, [&](std::string_view line, std::string_view) {
    ++extent.lines;
    const std::size_t cells = lineCells(line, encoding);
    if (cells > extent.widest || extent.lines == 1) {
      extent.widest = cells;
      extent.widestLine = extent.lines;
    }
  });
  return extent;
}

}  // namespace krlist
