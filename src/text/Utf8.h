#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace krlist {

// The one reader and writer of UTF-8 in the tools. Well-formed means the
// shortest form of a Unicode scalar value: no overlong forms, no surrogates
// (U+D800 to U+DFFF), nothing past U+10FFFF.

// A character read from UTF-8 text: its code point and the bytes it takes.
// `length` is 0 when the bytes at that place start no well-formed character
// (a stray continuation byte, a lead byte that no character has, a sequence
// cut short or malformed).
struct Utf8Character {
  char32_t code = 0;
  std::size_t length = 0;
};

// The character that starts at byte `at` of `text` (which must be inside it).
Utf8Character readUtf8(std::string_view text, std::size_t at);

// The character of UTF-8 text that starts at `at`, moving `at` past it. A
// byte that starts no well-formed character gives U+FFFD and is passed alone,
// so that a walk over any bytes ends and sees each byte once.
char32_t nextCharacter(std::string_view text, std::size_t& at);

// The characters of UTF-8 text, each byte that starts none as U+FFFD (as
// nextCharacter reads them): for comparing texts character by character.
std::u32string codePoints(std::string_view text);

// The offset of the first byte of `text` that starts no well-formed
// character; npos when the whole text is UTF-8.
std::size_t findInvalidUtf8(std::string_view text);

// The UTF-8 form of UTF-16 text (`bytes`, little-endian unless
// `bigEndian`), appended to `utf8`. On a surrogate without its pair, or an
// odd byte at the end, returns the offset in `bytes` of that unit and leaves
// `utf8` with what came before it; npos when all of it was read.
std::size_t appendUtf16AsUtf8(std::string_view bytes, bool bigEndian, std::string& utf8);

// Writes the UTF-8 form of a scalar value at `out` (room for four bytes) and
// returns the end of what it wrote.
char* putUtf8(char* out, char32_t character);
void appendUtf8(std::string& out, char32_t character);

// `text` as a terminal shows it without acting on it: a line feed as "\n",
// every other control character (C0, DEL and C1: the escape that starts a
// terminal's commands among them) as "\u001B", and a byte that starts no
// character as "\uFFFD", which is how a JSON report writes them too; the
// rest as it is. For messages that quote what a file holds.
std::string visibleText(std::string_view text);

// The longest start of `text` of at most `most` bytes that does not end
// inside a character: the place to cut a text for a message or a label.
std::string_view cutBetweenCharacters(std::string_view text, std::size_t most);

// The same from the other end: the longest end of `text` of at most `most`
// bytes that does not start inside a character.
std::string_view lastBetweenCharacters(std::string_view text, std::size_t most);

// Appends `text` as a JSON string: quoted, with quotes, backslashes and
// control characters escaped, and each byte that starts no UTF-8 character
// as U+FFFD.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace krlist
