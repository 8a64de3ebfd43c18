#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace krlist {

// The strings of a script, as handed to translators and taken back from them.
// A translation file is text in one of two formats (PoFile.h, CsvFile.h); both
// carry the same entries.

struct TranslationEntry {
  // Eight uppercase hexadecimal digits: the string's offset in the script,
  // which is how a translation finds its way back. Unique within a file.
  std::string context;
  // What the string is, for the translator ("opcode 1B").
  std::string comment;
  // Where the string is, "SCRIPT:OFFSET".
  std::string reference;
  std::string source;  // UTF-8
  std::string target;  // UTF-8; empty while untranslated
  // The translator marked the target as needing review (PO only); such a
  // target is not to be used.
  bool fuzzy = false;
  // Where the entry starts in the file it was read from (1-based; in a PO
  // file its first comment line), for messages; 0 for entries not read.
  std::size_t line = 0;
};

struct TranslationFile {
  // The encoding of the script's strings ("utf-8", "cp932"), kept in the PO
  // header so that a translated file can be put back into the same encoding.
  // CSV has nowhere to keep it: empty when read from CSV.
  std::string scriptEncoding;
  std::vector<TranslationEntry> entries;  // in file order
};

// Why a translation file cannot be read: what is wrong, on which line
// (1-based). Callers print it after "FILE:LINE: ".
struct TranslationError {
  std::size_t line = 0;
  std::string message;
};

// Shared by the readers.
namespace translation {

// The offset of the first byte of `text` that is not part of valid UTF-8
// (overlong forms, surrogates and code points past U+10FFFF included), or of
// its first U+0000, which no script string can hold; npos when there is none.
std::size_t findInvalidText(std::string_view text);

// The 1-based number of the line holding `text[offset]`.
std::size_t lineAt(std::string_view text, std::size_t offset);

// Whether `context` is eight hexadecimal digits, of either case (the readers
// store them uppercase, as written).
bool isOffsetContext(std::string_view context);

void toUpperAscii(std::string& text);

// The start of `text` (valid UTF-8), short enough to quote in a message and
// cut between characters.
std::string_view excerpt(std::string_view text);

}  // namespace translation

}  // namespace krlist
