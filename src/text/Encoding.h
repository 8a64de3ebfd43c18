#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krlist {

// The encodings a script's strings may be written in. A string is shown as
// text only when its bytes decode and encode back to exactly the same bytes,
// so that writing the text back gives the original script; other strings are
// kept as hex.
//
// cp932 is the Windows code page 932, written as Windows writes it without
// best-fit substitutions: a character with several codes (the NEC and IBM
// duplicates) has one code that is written, so its other codes are not exact
// text. U+0000 is never text in either encoding, since a script string ends
// at its first 0x00 byte.
enum class Encoding : std::uint8_t { Utf8, Cp932 };

// "utf-8" or "cp932" (exactly these names); nullopt otherwise.
std::optional<Encoding> encodingFromName(std::string_view name);
// The same names in any case ("UTF-8", "CP932"), as a translation file's
// header or column gives them: they are written by hand as often as not.
std::optional<Encoding> encodingFromNameInAnyCase(std::string_view name);
// "utf-8" or "cp932".
std::string_view encodingName(Encoding encoding);

// True when `bytes` decode in `encoding` and encode back to exactly the same bytes.
bool isExactText(Encoding encoding, std::string_view bytes);
// When `bytes` are exact text, appends their UTF-8 form to `utf8` and returns
// true; otherwise returns false and leaves `utf8` as it was.
bool decodeExactText(Encoding encoding, std::string_view bytes, std::string& utf8);

// The offset of the first byte of `text` that does not begin a character of
// UTF-8 text: the start of a malformed sequence (a stray continuation byte,
// an overlong form, a surrogate, a code point past U+10FFFF, a sequence cut
// short) or a U+0000, which no script string can hold; npos when there is
// none. UTF-8 itself is read by text/Utf8.h.
std::size_t findInvalidUtf8Text(std::string_view text);

// A character of a text that cannot be written in an encoding.
struct UnencodableCharacter {
  char32_t character;  // the code point; U+FFFD for bytes that are not UTF-8
  std::size_t offset;  // byte offset of the character in the UTF-8 text
};

// Appends `utf8` encoded in `encoding` to `out`. On failure returns the first
// character that cannot be encoded (U+0000, one the encoding lacks, or U+FFFD
// at the first byte that is not UTF-8), with `out` left as it was.
std::optional<UnencodableCharacter> encodeText(Encoding encoding, std::string_view utf8,
                                               std::string& out);

// A readable name for a character in messages: `U+00E9 'é'`, with the
// character itself in UTF-8 when it is printable; just `U+0000` for controls.
std::string describeCharacter(char32_t character);

}  // namespace krlist
