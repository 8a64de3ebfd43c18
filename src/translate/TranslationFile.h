#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "io/HugePages.h"
#include "io/Problem.h"

namespace krlist {

// The strings of a script, as handed to translators and taken back from them.
// A translation file is text in one of two formats (PoFile.h, CsvFile.h); both
// carry the same entries.

struct TranslationEntry {
  // Eight uppercase hexadecimal digits: the string's offset in the script,
  // which is how a translation finds its way back. Unique within a file. A
  // PO file keeps it as the msgctxt; a CSV file as the end of the location.
  // An obsolete entry keeps what it had, which may be empty or, for one an
  // update brought over from another script, that script's path and the
  // offset ("b.kr:0000001A"), so that it stays apart from this script's own.
  std::string offset;
  // What the string is, for the translator ("opcode 1B"): PO "#." lines, and
  // the CSV column named "context" (CsvFile.h).
  std::string comment;
  // What translators wrote about the entry for each other (PO "# " lines,
  // the CSV column "translator comments"): carried through an update, never
  // put into a script.
  std::string translatorComment;
  // Where the string is, "SCRIPT:OFFSET".
  std::string reference;
  std::string source;  // UTF-8
  std::string target;  // UTF-8; empty while untranslated
  // The translator, or an update that carried the target over from a changed
  // text, marked the target as needing review; such a target is not to be
  // used.
  bool fuzzy = false;
  // The source the target was made for, when it differs from `source`: what
  // an update found changed, shown to the reviewer (PO "#| msgid", the CSV
  // column "previous source"). Empty when there is none.
  std::string previousSource;
  // A translation whose string is gone from the script, kept for when it
  // comes back (PO "#~"): it names no string and is never put into a script.
  bool obsolete = false;
  // Where the entry starts in the file it was read from (1-based; in a PO
  // file its first comment line), for messages; 0 for entries not read.
  std::size_t line = 0;
  // Where its translation is: the line of its msgstr in a PO file, its row's
  // in CSV. What lint and inject name, since an editor's cursor should land
  // there to mend it; 0 for entries not read.
  std::size_t targetLine = 0;
};

struct TranslationFile {
  // The encoding of the script's strings ("utf-8", "cp932"), kept in the PO
  // header and in a CSV column so that a translated file can be put back
  // into the same encoding. Empty when the file does not say.
  std::string scriptEncoding;
  // The line that gives it, for messages: the CSV row, the PO header's
  // msgstr. 0 when the file does not say.
  std::size_t scriptEncodingLine = 0;
  // The language of the translations ("es", "pt_BR"), the PO header's
  // Language; empty when not given, and when read from CSV.
  std::string language;
  // A PO file's header as read, which an update carries over: its fields
  // ("Name: value" lines, the translators' editors fill in Last-Translator,
  // Language-Team and more) and the translators' comment before it (their
  // credits). Empty when read from CSV, and for a file made afresh.
  std::string headerFields;
  std::string headerComment;
  std::vector<TranslationEntry> entries;  // in file order
  // The text encoding of a CSV file that was not UTF-8 ("UTF-16", "CP932"),
  // as a spreadsheet saved it, for a note; empty for UTF-8.
  std::string readAs;
  // Read from a file that translators open in a spreadsheet (CSV or a
  // workbook), which may have converted its cells: set by every reader of
  // such a file, so that a source the spreadsheet changed is told from one
  // of another version of the script (spreadsheetChanged).
  bool fromSpreadsheet = false;
  // Of those, a workbook, whose cells are text unless a program made them
  // otherwise.
  bool fromWorkbook = false;
};

// Where entries go one at a time, as they are made or read, instead of into a
// TranslationFile. The entry handed over may be reused for the next one.
using EntrySink = std::function<void(const TranslationEntry&)>;

// Entries kept compactly, for a run that holds many of them at once (an
// update holds every line of two versions of a game): the texts of all of
// them lie in one string, so that an entry costs no allocation and little
// memory of its own, and both grow on huge pages. The line an entry was read
// on is not kept.
class EntryList {
 public:
  // Room for `entries` entries whose texts take `textBytes` bytes in all.
  void reserve(std::size_t entries, std::size_t textBytes);
  // Keeps a copy of `entry`, as an EntrySink does.
  void add(const TranslationEntry& entry);

  std::size_t size() const { return entries_.size(); }
  std::string_view source(std::size_t i) const { return field(i, kSource); }
  std::string_view target(std::size_t i) const { return field(i, kTarget); }
  bool fuzzy(std::size_t i) const { return entries_[i].fuzzy; }
  bool obsolete(std::size_t i) const { return entries_[i].obsolete; }
  // Entry `i` whole, into `entry`, whose strings' room is used again.
  void get(std::size_t i, TranslationEntry& entry) const;

 private:
  enum Field : std::size_t {
    kOffset,
    kComment,
    kTranslatorComment,
    kReference,
    kSource,
    kTarget,
    kPreviousSource,
    kFields
  };
  // The entry's text fields, in the order of Field.
  static constexpr std::string TranslationEntry::*kMembers[kFields] = {
      &TranslationEntry::offset,
      &TranslationEntry::comment,
      &TranslationEntry::translatorComment,
      &TranslationEntry::reference,
      &TranslationEntry::source,
      &TranslationEntry::target,
      &TranslationEntry::previousSource};
  struct Packed {
    std::size_t at = 0;  // where the entry's first field starts in texts_
    // Where each field ends, from `at`: the fields lie one after the other.
    std::size_t end[kFields] = {};
    bool fuzzy = false;
    bool obsolete = false;
  };

  std::string_view field(std::size_t i, Field f) const {
    const Packed& entry = entries_[i];
    const std::size_t from = f == 0 ? 0 : entry.end[f - 1];
    return std::string_view(texts_).substr(entry.at + from, entry.end[f] - from);
  }

  std::pmr::vector<Packed> entries_{hugePageMemory()};
  std::pmr::string texts_{hugePageMemory()};
};

// A reader that hands each entry to a sink as it reads it. A problem names
// the line (from 1) and no file: the caller names it.
using EntryReader = Expected<TranslationFile> (*)(std::string_view, const EntrySink&);

// Reads with `read` and keeps every entry in the file it returns.
Expected<TranslationFile> readAllEntries(std::string_view text, EntryReader read);

// Shared by the readers.
namespace translation {

// A problem on line `line` (from 1) of a file the caller names.
Problem lineProblem(std::size_t line, std::string message);

// The 1-based number of the line holding `text[offset]`.
std::size_t lineAt(std::string_view text, std::size_t offset);

// Whether `context` is eight hexadecimal digits, of either case (the readers
// store them uppercase, as written).
bool isOffsetContext(std::string_view context);
// The offset an offset context names.
std::uint32_t offsetOf(std::string_view context);

void toUpperAscii(std::string& text);

// The offset at the end of a reference, a location or a msgctxt, after its
// last ':', as an offset context: eight hexadecimal digits (as this program
// writes a CSV location and as earlier versions wrote references) or a
// decimal number (as gettext keeps a line number: "a.kr:26"). Empty when
// there is none.
std::string offsetAfterColon(std::string_view text);

// The line on which each offset was read, to refuse one read twice.
class OffsetLines {
 public:
  // The line on which `context` (an offset context) was read before, or 0 the
  // first time, when `line` is kept as its line.
  std::size_t firstLine(std::string_view context, std::size_t line);

 private:
  // While the offsets only grow, as extract writes them, none can come
  // twice; once one does not, they are looked up.
  std::vector<std::pair<std::uint32_t, std::size_t>> increasing_;
  std::unordered_map<std::uint32_t, std::size_t> lookedUp_;
};

// The start of `text` (valid UTF-8), short enough to quote in a message and
// cut between characters.
std::string_view excerpt(std::string_view text);

}  // namespace translation

}  // namespace krlist
