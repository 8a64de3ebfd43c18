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

char32_t nextCharacter(std::string_view text, std::size_t& at) {
  const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  std::size_t length = 0;
  char32_t character = 0;
  char32_t shortest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, character = lead & 0x1F, shortest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, character = lead & 0x0F, shortest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, character = lead & 0x07, shortest = 0x10000;
  }
  if (length == 0 || text.size() - at < length) {
    ++at;
    return U'\uFFFD';
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      ++at;
      return U'\uFFFD';
    }
    character = character << 6 | (byte(at + i) & 0x3F);
  }
  if (character < shortest || (character >= 0xD800 && character <= 0xDFFF) ||
      character > 0x10FFFF) {
    ++at;
    return U'\uFFFD';
  }
  at += length;
  return character;
}

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
    std::size_t length = 0;
    if (character < 0x800) {
      utf8[length++] = static_cast<char>(0xC0 | character >> 6);
    } else {
      if (character < 0x10000) {
        utf8[length++] = static_cast<char>(0xE0 | character >> 12);
      } else {
        utf8[length++] = static_cast<char>(0xF0 | character >> 18);
        utf8[length++] = static_cast<char>(0x80 | (character >> 12 & 0x3F));
      }
      utf8[length++] = static_cast<char>(0x80 | (character >> 6 & 0x3F));
    }
    utf8[length++] = static_cast<char>(0x80 | (character & 0x3F));
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
