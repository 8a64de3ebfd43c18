// What both builds share: the widths table, and measuring text in a face.

#include "text/FontMetrics.h"

#include <algorithm>

#include "io/TableLines.h"
#include "text/Encoding.h"
#include "text/Utf8.h"

namespace krlist {

namespace {

// Every code point from U+0000 to U+10FFFF, and U+FFFD for bytes that are not UTF-8.
constexpr std::size_t kCodePoints = 0x110000;
// A line's sum stops growing here, far past any text box, so that the
// products of fits() and pixels() cannot overflow.
constexpr std::uint64_t kMaxUnits = std::uint64_t{1} << 47;

std::optional<std::uint32_t> parsePixels(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (const char digit : digits) {
    if (digit < '0' || digit > '9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint32_t>(digit - '0');
  }
  if (value > kMaxAdvance) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

bool startsLikeFont(std::string_view firstBytes) {
  // The version of a single font's table directory (TrueType outlines or
  // compact ones), or a collection's header. The old Apple tag "true" is
  // left out: not every system reads it.
  const std::string_view tag = firstBytes.substr(0, 4);
  return tag == std::string_view("\0\1\0\0", 4) || tag == "OTTO" || tag == "ttcf";
}

Expected<WidthsTable> WidthsTable::read(std::string_view text, const std::string& fileName,
                                        std::optional<std::uint32_t> defaultWidth) {
  WidthsTable table;
  table.default_ = defaultWidth;
  std::unordered_map<char32_t, std::size_t> lineOf;
  Expected<void> read = readTableLines(
      text, fileName,
      [&table, &lineOf](std::size_t number, std::string_view line) -> std::optional<std::string> {
        std::size_t tab = 0;
        const char32_t character = nextCharacter(line, tab);
        if (tab >= line.size() || line[tab] != '\t') {
          // "#\t8" gives the width of '#'; any other line starting with
          // one is a comment.
          if (line[0] == '#') {
            return std::nullopt;
          }
          return "no tab after the first character: a line is CHARACTER, a tab and its width "
                 "in pixels";
        }
        const std::string_view digits = line.substr(tab + 1);
        const std::optional<std::uint32_t> pixels = parsePixels(digits);
        if (!pixels) {
          return "the width of " + describeCharacter(character) + ", \"" + std::string(digits) +
                 "\", is not a whole number of pixels from 0 to 65535";
        }
        const auto [first, added] = lineOf.try_emplace(character, number);
        if (!added) {
          return describeCharacter(character) + " again, first at line " +
                 std::to_string(first->second);
        }
        table.widths_.emplace(character, *pixels);
        return std::nullopt;
      });
  if (!read) {
    return read.problem();
  }
  return table;
}

std::optional<std::uint32_t> WidthsTable::readAdvance(char32_t character) {
  const auto found = widths_.find(character);
  return found == widths_.end() ? default_ : found->second;
}

std::optional<std::uint32_t> FontMetrics::advance(char32_t character) {
  if (character >= kCodePoints) {
    return std::nullopt;
  }
  if (pages_.empty()) {
    pages_.resize(kCodePoints >> kPageBits);
  }
  std::unique_ptr<Page>& page = pages_[character >> kPageBits];
  if (!page) {
    page = std::make_unique<Page>();
    page->fill(kUnknown);
  }
  std::int32_t& known = (*page)[character & ((std::size_t{1} << kPageBits) - 1)];
  if (known == kUnknown) {
    const std::optional<std::uint32_t> units = readAdvance(character);
    known = units ? static_cast<std::int32_t>(std::min(*units, kMaxAdvance)) : kNoGlyph;
  }
  if (known == kNoGlyph) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(known);
}

TextMeasure::TextMeasure(std::shared_ptr<FontMetrics> face, std::uint32_t pixelsPerEm)
    : face_(std::move(face)),
      scale_(face_->fixedSize() ? 1 : std::clamp<std::uint32_t>(pixelsPerEm, 1, kMaxPixelsPerEm)),
      perEm_(std::max<std::uint32_t>(face_->unitsPerEm(), 1)) {}

TextWidth TextMeasure::measure(std::string_view utf8) const {
  TextWidth width;
  for (std::size_t at = 0; at < utf8.size();) {
    const char32_t character = nextCharacter(utf8, at);
    if (const std::optional<std::uint32_t> units = face_->advance(character)) {
      width.units = std::min(width.units + *units, kMaxUnits);
    } else if (std::find(width.missing.begin(), width.missing.end(), character) ==
               width.missing.end()) {
      width.missing.push_back(character);
    }
  }
  return width;
}

bool TextMeasure::fits(const TextWidth& width, std::uint64_t pixels) const {
  // A box wider than any line fits every line; this keeps the product in range.
  if (pixels >= kMaxUnits * kMaxPixelsPerEm / perEm_) {
    return true;
  }
  return width.units * scale_ <= pixels * perEm_;
}

std::uint64_t TextMeasure::pixels(const TextWidth& width) const {
  return (width.units * scale_ + perEm_ - 1) / perEm_;
}

}  // namespace krlist
