#include "text/Encoding.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "text/Utf8.h"

namespace krlist {

namespace {

#include "text/Cp932Table.inc"

using Byte = unsigned char;

const Byte* bytesOf(std::string_view text) {
  return reinterpret_cast<const Byte*>(text.data());
}

// The length of the run of bytes 0x01..0x7F that starts at `begin`: ASCII
// reads the same in both encodings. Eight bytes are tested at once: no byte
// of the word has its top bit set, and none is zero, since subtracting one
// from every byte borrows into a top bit exactly where some byte is zero.
std::size_t asciiRun(const Byte* begin, const Byte* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kTopBits = 0x8080808080808080;
  const Byte* at = begin;
  while (end - at >= 8) {
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    if (((word | (word - kOnes)) & kTopBits) != 0) {
      break;
    }
    at += 8;
  }
  while (at != end && static_cast<Byte>(*at - 1) < 0x7F) {
    ++at;
  }
  return static_cast<std::size_t>(at - begin);
}

constexpr char32_t kMalformed = 0xFFFFFFFF;

// Reads the UTF-8 character at `at` (before `end`) and moves past it; bytes
// that start no well-formed character give kMalformed and leave `at` where
// it was.
char32_t readUtf8(const Byte*& at, const Byte* end) {
  const Utf8Character read =
      krlist::readUtf8({reinterpret_cast<const char*>(at), static_cast<std::size_t>(end - at)}, 0);
  if (read.length == 0) {
    return kMalformed;
  }
  at += read.length;
  return read.code;
}

// The first character of `utf8` that is not UTF-8 text: a malformed sequence
// (as U+FFFD) or U+0000.
std::optional<UnencodableCharacter> findNonUtf8Text(std::string_view utf8) {
  const Byte* const begin = bytesOf(utf8);
  const Byte* const end = begin + utf8.size();
  const Byte* at = begin;
  while ((at += asciiRun(at, end)) < end) {
    // Kana and most kanji take three bytes after a lead of 0xE1 to 0xEC, 0xEE
    // or 0xEF, which every pair of continuation bytes completes: no shortest
    // form or surrogate to rule out. They are most of a Japanese text.
    while (end - at >= 3 && at[0] >= 0xE1 && at[0] <= 0xEF && at[0] != 0xED &&
           (at[1] & 0xC0) == 0x80 && (at[2] & 0xC0) == 0x80) {
      at += 3;
    }
    if (at == end) {
      break;
    }
    const Byte* const start = at;
    const char32_t character = readUtf8(at, end);
    if (character == 0 || character == kMalformed) {
      return UnencodableCharacter{character == 0 ? U'\0' : U'\uFFFD',
                                  static_cast<std::size_t>(start - begin)};
    }
  }
  return std::nullopt;
}

// CP932: bytes 0x00..0x7F are ASCII; 0x81..0x9F and 0xE0..0xFC lead a
// double-byte code whose trail byte is 0x40..0xFC; the other bytes stand
// alone (half-width katakana and a few private-use characters).
constexpr bool isCp932Lead(Byte byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The CP932 code of every BMP character (a byte, or lead * 256 + trail), 0
// for none, as Windows writes them without best-fit substitutions. Where
// several codes decode to one character (the NEC and IBM extensions repeat
// characters of JIS X 0208 and of each other), Windows writes the code of the
// first group that has one: JIS X 0208, then the NEC special characters (lead
// byte 0x87), then the IBM extensions (0xFA..0xFC), then the NEC-selected IBM
// extensions (0xED, 0xEE); within a group, the lowest code.
class Cp932Encoder {
 public:
  Cp932Encoder() {
    for (char32_t byte = 1; byte < 0x80; ++byte) {
      codes_[byte] = static_cast<std::uint16_t>(byte);
    }
    for (unsigned byte = 0x80; byte < 0x100; ++byte) {
      add(kCp932SingleByte[byte - 0x80], static_cast<std::uint16_t>(byte));
    }
    for (int group = 0; group < 4; ++group) {
      for (unsigned lead = 0; lead < std::size(kCp932DoubleByte); ++lead) {
        const unsigned leadByte = lead < 0x1F ? 0x81 + lead : 0xE0 + lead - 0x1F;
        if (groupOf(leadByte) != group) {
          continue;
        }
        for (unsigned trail = 0; trail < std::size(kCp932DoubleByte[lead]); ++trail) {
          add(kCp932DoubleByte[lead][trail],
              static_cast<std::uint16_t>(leadByte << 8 | (0x40 + trail)));
        }
      }
    }
  }

  std::uint16_t code(char32_t character) const {
    return character < std::size(codes_) ? codes_[character] : 0;
  }

  // Reads the CP932 character at `at` (before `end`) and moves past it when
  // it is exact text, that is, when its character is written in the same
  // code. Returns 0 when it is not.
  char32_t readExact(const Byte*& at, const Byte* end) const {
    const Byte byte = *at;
    if (byte < 0x80) {
      ++at;
      return byte;
    }
    if (!isCp932Lead(byte)) {
      const char32_t character = kCp932SingleByte[byte - 0x80];
      if (character == 0 || codes_[character] != byte) {
        return 0;
      }
      ++at;
      return character;
    }
    if (end - at < 2 || at[1] < 0x40 || at[1] > 0xFC) {
      return 0;
    }
    const unsigned lead = byte <= 0x9F ? byte - 0x81u : byte - 0xE0u + 0x1F;
    const char32_t character = kCp932DoubleByte[lead][at[1] - 0x40];
    if (character == 0 || codes_[character] != (byte << 8 | at[1])) {
      return 0;
    }
    at += 2;
    return character;
  }

 private:
  static int groupOf(unsigned leadByte) {
    if (leadByte == 0x87) {
      return 1;
    }
    if (leadByte >= 0xFA) {
      return 2;
    }
    return leadByte == 0xED || leadByte == 0xEE ? 3 : 0;
  }

  void add(char32_t character, std::uint16_t code) {
    if (character != 0 && codes_[character] == 0) {
      codes_[character] = code;
    }
  }

  std::uint16_t codes_[0x10000] = {};
};

const Cp932Encoder& cp932() {
  static const Cp932Encoder encoder;
  return encoder;
}

bool isExactCp932(std::string_view bytes) {
  const Cp932Encoder& encoder = cp932();
  const Byte* const end = bytesOf(bytes) + bytes.size();
  const Byte* at = bytesOf(bytes);
  while ((at += asciiRun(at, end)) < end) {
    if (encoder.readExact(at, end) == 0) {
      return false;
    }
  }
  return true;
}

bool decodeExactCp932(std::string_view bytes, std::string& utf8) {
  const Cp932Encoder& encoder = cp932();
  const std::size_t oldSize = utf8.size();
  // No CP932 byte gives more than three bytes of UTF-8.
  utf8.resize(oldSize + 3 * bytes.size());
  char* out = utf8.data() + oldSize;
  const Byte* const end = bytesOf(bytes) + bytes.size();
  const Byte* at = bytesOf(bytes);
  while (at < end) {
    const std::size_t run = asciiRun(at, end);
    std::memcpy(out, at, run);
    out += run;
    if ((at += run) >= end) {
      break;
    }
    const char32_t character = encoder.readExact(at, end);
    if (character == 0) {
      utf8.resize(oldSize);
      return false;
    }
    out = putUtf8(out, character);
  }
  utf8.resize(static_cast<std::size_t>(out - utf8.data()));
  return true;
}

std::optional<UnencodableCharacter> encodeCp932(std::string_view utf8, std::string& out) {
  const Cp932Encoder& encoder = cp932();
  const std::size_t oldSize = out.size();
  // No character takes more bytes in CP932 than in UTF-8.
  out.resize(oldSize + utf8.size());
  char* put = out.data() + oldSize;
  const Byte* const begin = bytesOf(utf8);
  const Byte* const end = begin + utf8.size();
  const Byte* at = begin;
  while (at < end) {
    const std::size_t run = asciiRun(at, end);
    std::memcpy(put, at, run);
    put += run;
    if ((at += run) >= end) {
      break;
    }
    const Byte* const start = at;
    const char32_t character = readUtf8(at, end);
    const std::uint16_t code = encoder.code(character);
    if (code == 0) {
      out.resize(oldSize);
      return UnencodableCharacter{character == kMalformed ? U'\uFFFD' : character,
                                  static_cast<std::size_t>(start - begin)};
    }
    if (code > 0xFF) {
      *put++ = static_cast<char>(code >> 8);
    }
    *put++ = static_cast<char>(code & 0xFF);
  }
  out.resize(static_cast<std::size_t>(put - out.data()));
  return std::nullopt;
}

// Controls, and what is no character at all, are shown by number only; so
// are the line and paragraph separators, which would break a message's line.
bool isPrintable(char32_t character) {
  return character >= 0x20 && !(character >= 0x7F && character <= 0x9F) &&
         !(character >= 0xD800 && character <= 0xDFFF) && character <= 0x10FFFF &&
         character != 0x2028 && character != 0x2029;
}

}  // namespace

std::optional<Encoding> encodingFromName(std::string_view name) {
  if (name == "utf-8") {
    return Encoding::Utf8;
  }
  if (name == "cp932") {
    return Encoding::Cp932;
  }
  return std::nullopt;
}

std::optional<Encoding> encodingFromNameInAnyCase(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return encodingFromName(lower);
}

std::string_view encodingName(Encoding encoding) {
  return encoding == Encoding::Utf8 ? "utf-8" : "cp932";
}

std::size_t findInvalidUtf8Text(std::string_view text) {
  const std::optional<UnencodableCharacter> invalid = findNonUtf8Text(text);
  return invalid ? invalid->offset : std::string_view::npos;
}

bool isExactText(Encoding encoding, std::string_view bytes) {
  return encoding == Encoding::Utf8 ? !findNonUtf8Text(bytes) : isExactCp932(bytes);
}

bool decodeExactText(Encoding encoding, std::string_view bytes, std::string& utf8) {
  if (encoding == Encoding::Cp932) {
    return decodeExactCp932(bytes, utf8);
  }
  if (findNonUtf8Text(bytes)) {
    return false;
  }
  utf8.append(bytes);
  return true;
}

std::optional<UnencodableCharacter> encodeText(Encoding encoding, std::string_view utf8,
                                               std::string& out) {
  if (encoding == Encoding::Cp932) {
    return encodeCp932(utf8, out);
  }
  std::optional<UnencodableCharacter> failure = findNonUtf8Text(utf8);
  if (!failure) {
    out.append(utf8);
  }
  return failure;
}

std::string describeCharacter(char32_t character) {
  char text[24];
  int length = std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(character));
  if (isPrintable(character)) {
    text[length++] = ' ';
    text[length++] = '\'';
    length = static_cast<int>(putUtf8(text + length, character) - text);
    text[length++] = '\'';
  }
  return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace krlist
