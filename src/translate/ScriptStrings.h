#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "format/InstructionList.h"
#include "io/TextOutput.h"
#include "text/Encoding.h"
#include "translate/TranslationChecks.h"
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
    std::size_t line = 0;    // of its translation (TranslationEntry::targetLine)
    std::size_t textAt = 0;  // where the source lies in `texts`, the target right after it
    std::size_t sourceSize = 0;
    std::size_t targetSize = 0;
    // After the target, for a reviewer (html): the translator's comment and
    // the source the target was made for (TranslationEntry).
    std::size_t commentSize = 0;
    std::size_t previousSize = 0;
  };

  std::vector<Entry> entries;  // in file order
  std::string texts;
  // The entries were read from a spreadsheet's file, or a workbook
  // (TranslationFile::fromSpreadsheet, fromWorkbook).
  bool fromSpreadsheet = false;
  bool fromWorkbook = false;

  // Takes an entry as the readers make them, whose offset is eight
  // hexadecimal digits.
  void add(const TranslationEntry& entry);
  std::string_view source(const Entry& entry) const {
    return std::string_view(texts).substr(entry.textAt, entry.sourceSize);
  }
  std::string_view target(const Entry& entry) const {
    return std::string_view(texts).substr(entry.textAt + entry.sourceSize, entry.targetSize);
  }
  std::string_view translatorComment(const Entry& entry) const {
    return std::string_view(texts).substr(entry.textAt + entry.sourceSize + entry.targetSize,
                                          entry.commentSize);
  }
  std::string_view previousSource(const Entry& entry) const {
    return std::string_view(texts).substr(
        entry.textAt + entry.sourceSize + entry.targetSize + entry.commentSize, entry.previousSize);
  }
};

// Pairs the strings of the script of `listing` with the entries of
// `translations` by offset, walking the script once: `visit` is called for
// every instruction in order, with the entry of a string whose source is the
// script's text there, or with none. An entry whose source is not the
// script's text, or at whose offset no string lies, is stale (the
// translations belong to another version of the script, or, from a
// spreadsheet's file, the spreadsheet changed the source cell, which the
// message says): it is reported in `problems` and not handed to `visit`. The one place that decides
// what is stale, for inject and lint alike.
void matchEntries(const InstructionList& listing, const Translations& translations,
                  Encoding encoding,
                  const std::function<void(const Instruction&, const Translations::Entry*)>& visit,
                  std::vector<EntryProblem>& problems);

struct InjectReport {
  std::size_t replaced = 0;  // strings whose bytes changed or were rewritten
  std::int64_t growth = 0;   // bytes the script grew by (negative: shrank)
  std::size_t fuzzy = 0;     // translations left out for being marked fuzzy
  // Every entry that keeps its translation out of the script, stale,
  // unencodable or drawn with a glyph the font lacks, by line. When there is
  // any, the script written is to be thrown away, unless every entry it
  // could take was asked for (keepGoing): then it is whole, and each
  // refused entry kept the script's own bytes.
  std::vector<EntryProblem> refused;
};

// Writes the script of `listing` (which decoded to its end, with a final end
// marker when `endMarker`) with the translated entries of `translations` in
// place of their strings, each fitted as `fit` says. Untranslated and fuzzy
// entries keep the original bytes. Refuses the whole file, reporting every
// entry in question, when an entry is stale (matchEntries) or when a
// translation holds a character the encoding cannot hold (or the box's font
// cannot draw); with `keepGoing`, refuses those entries alone.
InjectReport injectStrings(const InstructionList& listing, bool endMarker,
                           const Translations& translations, Encoding encoding, const TextFit& fit,
                           TextOutput& script, bool keepGoing = false);
InjectReport injectStrings(const InstructionList& listing, bool endMarker,
                           const TranslationFile& translations, Encoding encoding,
                           TextOutput& script);

// The counts of a translation file, for lint's summary.
struct TranslationCounts {
  std::size_t entries = 0;
  std::size_t translated = 0;  // not marked fuzzy
  std::size_t fuzzy = 0;       // translated, but marked fuzzy
  std::size_t untranslated = 0;

  TranslationCounts& operator+=(const TranslationCounts& other);
};

// lint's checks of one translation, `target`, of a string of `opcode` whose
// text is `source`, put in as `fit` says and for a text box `box`: every
// problem but staleness, at `where`, each message quoting the translation.
void checkTranslation(std::string_view source, std::string_view target, std::uint8_t opcode,
                      Encoding encoding, const TextFit& fit, const TextBox& box,
                      const Location& where, std::vector<EntryProblem>& problems);

// Checks the translations of a script as inject would put them in, fitted as
// `fit` says, and for a text box `box`: every problem of every entry, by line.
// Only translated entries that are not fuzzy are checked beyond staleness.
TranslationCounts lintStrings(const InstructionList& listing, const Translations& translations,
                              Encoding encoding, const TextFit& fit, const TextBox& box,
                              std::vector<EntryProblem>& problems);

}  // namespace krlist
