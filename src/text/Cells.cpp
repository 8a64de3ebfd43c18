#include "text/Cells.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

namespace krlist {

namespace {

struct WideRange {
  char32_t first;
  char32_t last;
};

#include "text/WideTable.inc"

}  // namespace

bool isWide(char32_t character) {
  if (character < std::begin(kWideRanges)->first) {
    return false;
  }
  const auto after =
      std::upper_bound(std::begin(kWideRanges), std::end(kWideRanges), character,
                       [](char32_t value, const WideRange& range) { return value < range.first; });
  return character <= std::prev(after)->last;
}

std::size_t characterCells(char32_t character, Encoding encoding) {
  if (character < 0x80) {
    return 1;
  }
  if (encoding == Encoding::Cp932) {
    char utf8[4];
    const std::size_t length = static_cast<std::size_t>(putUtf8(utf8, character) - utf8);
    std::string code;
    if (!encodeText(encoding, std::string_view(utf8, length), code)) {
      return code.size();
    }
  }
  return isWide(character) ? 2 : 1;
}

std::size_t textCells(std::string_view utf8, Encoding encoding) {
  std::size_t cells = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    cells += characterCells(nextCharacter(utf8, at), encoding);
  }
  return cells;
}

}  // namespace krlist
