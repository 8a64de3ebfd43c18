#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace krlist {

// One JSON value that is not an object or an array, as the builder is handed
// it: the parser gives numbers as their text, and they are read here.
struct JsonScalar {
  enum class Type : std::uint8_t { Null, Boolean, Integer, Float, String };
  Type type = Type::Null;
  bool boolean = false;
  // An integer that fits 64 bits: signed, or unsigned above the signed range.
  std::int64_t integer = 0;
  bool unsignedHigh = false;
  std::uint64_t unsignedValue = 0;
  // The text of a number with a fraction or exponent or too many digits, or a
  // string's value.
  std::string_view text = {};
};

// True when the text of a number has no fraction and no exponent.
bool looksIntegral(std::string_view number);

// A number as JSON readers take it: an integer when it is written as one and
// fits 64 bits, otherwise a float, kept as its text (which `text` must
// outlive).
JsonScalar numberOf(std::string_view text);

// A number read as the nearest single-precision float, from its text: a
// double conversion first would round twice. A number too close to zero is
// read as zero; false when it is too large for any float.
bool parseFloat(const JsonScalar& value, float& result);

// The value of each hexadecimal digit, -1 for any other byte.
inline constexpr std::array<std::int8_t, 256> kHexDigits = [] {
  std::array<std::int8_t, 256> digits{};
  digits.fill(-1);
  for (int i = 0; i < 10; ++i) {
    digits['0' + i] = static_cast<std::int8_t>(i);
  }
  for (int i = 0; i < 6; ++i) {
    digits['A' + i] = digits['a' + i] = static_cast<std::int8_t>(10 + i);
  }
  return digits;
}();

// Appends the bytes that `hex` spells, two digits each, in file order; false
// (and `out` as it was) when it is not hexadecimal digits in pairs. Inline,
// with appendWord, since every instruction's data goes through them.
inline bool appendHex(std::string_view hex, std::string& out) {
  if (hex.size() % 2 != 0) {
    return false;
  }
  const std::size_t start = out.size();
  out.resize(start + hex.size() / 2);
  char* byte = out.data() + start;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = kHexDigits[static_cast<unsigned char>(hex[i])];
    const int low = kHexDigits[static_cast<unsigned char>(hex[i + 1])];
    if (high < 0 || low < 0) {
      out.resize(start);
      return false;
    }
    *byte++ = static_cast<char>(high << 4 | low);
  }
  return true;
}

// Appends a 32-bit word as the script holds it, low byte first.
inline void appendWord(std::uint32_t word, std::string& out) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>(word >> shift));
  }
}

}  // namespace krlist
