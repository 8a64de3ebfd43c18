#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "format/InstructionList.h"
#include "io/TextOutput.h"
#include "text/Encoding.h"
#include "translate/TranslationFile.h"

namespace krlist {

// The strings of a script as translation entries, and translations put back.

// What a translator may change: the text of every dialogue string (0x1B,
// 0x1C) and every name (0x2B), in file order. Each entry's comment says what
// the string is ("opcode 1B") and, on a second line, what the name references
// since the string before resolve to, as the listing prints them
// ("-> Alice"). A string that is empty, that is not text in the encoding, or
// that a PO file cannot carry, is left out and counted in `leftOut`: its bytes
// stay as they are.
TranslationFile extractStrings(const InstructionList& listing, Encoding encoding,
                               std::string_view scriptName, bool forPo, std::size_t& leftOut);

// extractStrings, handing each entry to `take` as it is made instead of
// keeping them. Returns how many strings were left out.
std::size_t extractStringEntries(const InstructionList& listing, Encoding encoding,
                                 std::string_view scriptName, bool forPo, const EntrySink& take);

// What injectStrings needs of the entries of a translation file, gathered
// as the file is read: no string of its own per entry.
struct Translations {
  struct Entry {
    std::uint32_t offset = 0;
    bool fuzzy = false;
    std::size_t line = 0;
    std::size_t textAt = 0;  // where the source lies in `texts`, the target right after it
    std::size_t sourceSize = 0;
    std::size_t targetSize = 0;
  };

  std::vector<Entry> entries;  // in file order
  std::string texts;

  // Takes an entry as the readers make them, whose context is eight
  // hexadecimal digits.
  void add(const TranslationEntry& entry);
  std::string_view source(const Entry& entry) const {
    return std::string_view(texts).substr(entry.textAt, entry.sourceSize);
  }
  std::string_view target(const Entry& entry) const {
    return std::string_view(texts).substr(entry.textAt + entry.sourceSize, entry.targetSize);
  }
};

struct InjectReport {
  std::size_t replaced = 0;  // strings whose bytes changed or were rewritten
  std::int64_t growth = 0;   // bytes the script grew by (negative: shrank)
};

// Why translations cannot be put into a script: the entry's line in the
// translation file and what is wrong.
using InjectError = TranslationError;

// Writes the script of `listing` (which decoded to its end, with a final end
// marker when `endMarker`) with the translated entries of `translations` in
// place of their strings. Untranslated and fuzzy entries keep the original
// bytes. Refuses the whole file when an entry names no string of the script,
// when its source is not the script's text there (the translations belong to
// another version of the script), or when a translation holds a character the
// encoding cannot hold; `script` then holds part of a script, to be thrown
// away.
std::variant<InjectReport, InjectError> injectStrings(const InstructionList& listing,
                                                      bool endMarker,
                                                      const Translations& translations,
                                                      Encoding encoding, TextOutput& script);
std::variant<InjectReport, InjectError> injectStrings(const InstructionList& listing,
                                                      bool endMarker,
                                                      const TranslationFile& translations,
                                                      Encoding encoding, TextOutput& script);

}  // namespace krlist
