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
#include "text/ZeroWidthTable.inc"

template <std::size_t N>
bool isInRanges(const WideRange (&ranges)[N], char32_t character) {
  if (character < std::begin(ranges)->first) {
    return false;
  }
  const auto after =
      std::upper_bound(std::begin(ranges), std::end(ranges), character,
                       [](char32_t value, const WideRange& range) { return value < range.first; });
  return character <= std::prev(after)->last;
}

constexpr char32_t kZeroWidthJoiner = U'\u200D';

}  // namespace

bool isWide(char32_t character) {
  return isInRanges(kWideRanges, character);
}

bool isZeroWidth(char32_t character) {
  return isInRanges(kZeroWidthRanges, character);
}

std::size_t clusterEnd(std::string_view utf8, std::size_t at) {
  char32_t last = nextCharacter(utf8, at);
  while (at < utf8.size()) {
    std::size_t next = at;
    const char32_t character = nextCharacter(utf8, next);
    const bool joined = last == kZeroWidthJoiner && character != U'\n' && character != U'\r';
    if (!joined && !isZeroWidth(character)) {
      break;
    }
    last = character;
    at = next;
  }
  return at;
}

std::size_t clusterCells(std::string_view cluster, Encoding encoding) {
  std::size_t at = 0;
  const char32_t first = nextCharacter(cluster, at);
  return isZeroWidth(first) ? 0 : characterCells(first, encoding);
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
    const std::size_t end = clusterEnd(utf8, at);
    cells += clusterCells(utf8.substr(at, end - at), encoding);
    at = end;
  }
  return cells;
}

}  // namespace krlist
