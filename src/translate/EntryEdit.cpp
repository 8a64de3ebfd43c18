#include "translate/EntryEdit.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "translate/CsvFile.h"
#include "translate/PoFile.h"

namespace krlist {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr auto npos = std::string_view::npos;

// The white space the PO reader skips around what a line holds.
bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string upperOffset(std::string_view offset) {
  std::string upper(offset);
  translation::toUpperAscii(upper);
  return upper;
}

// The entry to edit, found by reading the whole file: the reader refuses
// what it cannot read, and knows on which lines each entry lies.
struct Found {
  TranslationEntry entry;
  bool found = false;
  bool obsolete = false;  // an obsolete entry had the offset
};

Problem notFound(const std::string& offset, const Found& found) {
  std::string message = "no entry has the offset " + offset;
  if (found.obsolete) {
    message += " (only an obsolete one, whose string is gone from the script)";
  }
  return translation::lineProblem(0, std::move(message));
}

Expected<Found> findEntry(std::string_view text, const std::string& offset, EntryReader read,
                          std::string& readAs) {
  Found found;
  Expected<TranslationFile> file = read(text, [&](const TranslationEntry& entry) {
    if (entry.offset != offset) {
      return;
    }
    if (entry.obsolete) {
      found.obsolete = true;
    } else {
      found.entry = entry;
      found.found = true;
    }
  });
  if (!file) {
    return std::move(file.problem());
  }
  readAs = std::move(file->readAs);
  return found;
}

// A line of a text: its bytes from `begin` to `end`, its line end after
// them up to `next`.
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;

  bool endsInCrlf() const { return next == end + 2; }
};

// The PO reader's lines: each ends at a line feed, and a carriage return
// before it is part of the line end.
Line lineFrom(std::string_view text, std::size_t begin) {
  Line line;
  line.begin = begin;
  const std::size_t lineFeed = text.find('\n', begin);
  line.next = lineFeed == npos ? text.size() : lineFeed + 1;
  line.end = lineFeed == npos ? text.size() : lineFeed;
  if (line.end > begin && text[line.end - 1] == '\r') {
    --line.end;
  }
  return line;
}

// Where line `number` (from 1) starts.
std::size_t lineStart(std::string_view text, std::size_t number) {
  std::size_t at = 0;
  for (std::size_t line = 1; line < number; ++line) {
    at = text.find('\n', at) + 1;
  }
  return at;
}

// A "#," line without the fuzzy flag: the flags left, as gettext writes them,
// or nothing when there are none.
std::string withoutFuzzy(std::string_view flags) {
  std::string kept;
  for (;;) {
    const std::size_t comma = flags.find(',');
    const std::string_view flag = trim(flags.substr(0, comma));
    if (!flag.empty() && flag != "fuzzy") {
      kept.append(kept.empty() ? "#, " : ", ").append(flag);
    }
    if (comma == npos) {
      return kept;
    }
    flags.remove_prefix(comma + 1);
  }
}

bool hasFuzzyFlag(std::string_view flags) {
  for (;;) {
    const std::size_t comma = flags.find(',');
    if (trim(flags.substr(0, comma)) == "fuzzy") {
      return true;
    }
    if (comma == npos) {
      return false;
    }
    flags.remove_prefix(comma + 1);
  }
}

// Lines written anew, which end in line feeds, with the file's line ends.
void appendLines(std::string& out, std::string_view lines, bool crlf) {
  if (!crlf) {
    out += lines;
    return;
  }
  for (const char c : lines) {
    if (c == '\n') {
      out += '\r';
    }
    out += c;
  }
}

}  // namespace

// An entry's lines are its comments, then its keywords, the msgstr last with
// the strings that continue it: a comment after a keyword starts the next
// entry, as a keyword after the msgstr does. Blank lines among them mean
// nothing and are kept. The reader gives the first line and the msgstr's;
// the lines in between are read here only as far as telling the comments
// apart.
Expected<std::string> editPoEntry(std::string_view text, std::string_view offset,
                                  const EntryChange& change) {
  const std::string wanted = upperOffset(offset);
  std::string readAs;
  Expected<Found> found = findEntry(text, wanted, readPoEntries, readAs);
  if (!found) {
    return std::move(found.problem());
  }
  if (!found->found) {
    return notFound(wanted, *found);
  }
  const TranslationEntry& entry = found->entry;
  const bool newComment = change.translatorComment != entry.translatorComment;

  std::size_t begin = lineStart(text, entry.line);
  if (begin == 0 && text.starts_with(kByteOrderMark)) {
    begin = kByteOrderMark.size();
  }
  // An entry has two lines at least, its msgid's and its msgstr's: the first
  // has a line end, and says which the file uses.
  const bool crlf = lineFrom(text, begin).endsInCrlf();
  std::string out(text.substr(0, begin));
  std::string written;  // lines written anew, ending in line feeds
  const auto putComment = [&] {
    written.clear();
    if (!change.translatorComment.empty()) {
      translation::appendPoComment(written, "#", change.translatorComment);
    }
    appendLines(out, written, crlf);
  };

  std::size_t number = entry.line;
  Line line = lineFrom(text, begin);
  bool commentPut = !newComment;
  for (;; ++number, line = lineFrom(text, line.next)) {
    const std::string_view content = trim(text.substr(line.begin, line.end - line.begin));
    const std::string_view whole = text.substr(line.begin, line.next - line.begin);
    if (!content.empty() && content.front() != '#') {
      break;  // the first keyword
    }
    if (content.starts_with("#|")) {
      continue;
    }
    if (content.starts_with("#,")) {
      if (!hasFuzzyFlag(content.substr(2))) {
        out += whole;
      } else if (const std::string flags = withoutFuzzy(content.substr(2)); !flags.empty()) {
        appendLines(out, flags + '\n', crlf);
      }
      continue;
    }
    const bool translators =
        content.starts_with('#') && !content.starts_with("#.") && !content.starts_with("#:");
    if (translators && newComment) {
      if (!commentPut) {
        putComment();
        commentPut = true;
      }
      continue;
    }
    if (!commentPut && !content.empty()) {
      // gettext puts translators' comments first.
      putComment();
      commentPut = true;
    }
    out += whole;
  }
  if (!commentPut) {
    putComment();  // before the keywords of an entry without comments
  }
  // The keywords before the msgstr, as they are.
  const std::size_t keywords = line.begin;
  for (; number < entry.targetLine; ++number) {
    line = lineFrom(text, line.next);
  }
  out += text.substr(keywords, line.begin - keywords);
  // The msgstr, and the strings after it up to the next line that is
  // neither blank nor a string.
  const std::size_t targetBegin = line.begin;
  Line last = line;
  for (Line after = lineFrom(text, line.next); after.begin < text.size();
       after = lineFrom(text, after.next)) {
    const std::string_view content = trim(text.substr(after.begin, after.end - after.begin));
    if (content.starts_with('"')) {
      last = after;
    } else if (!content.empty()) {
      break;
    }
  }
  if (change.target == entry.target) {
    out += text.substr(targetBegin, last.next - targetBegin);
  } else {
    written.clear();
    translation::appendPoString(written, "msgstr", change.target);
    // The last line keeps its line end, or its lack of one at the end of
    // the file.
    written.pop_back();
    appendLines(out, written, crlf);
    out += text.substr(last.end, last.next - last.end);
  }
  out += text.substr(last.next);
  return out;
}

Expected<std::string> editCsvEntry(std::string_view text, std::string_view offset,
                                   const EntryChange& change) {
  const std::string wanted = upperOffset(offset);
  std::string readAs;
  Expected<Found> found = findEntry(text, wanted, readCsvEntries, readAs);
  if (!found) {
    return std::move(found.problem());
  }
  if (!readAs.empty()) {
    // The file would have to be written back in the encoding it came in,
    // which a spreadsheet may not have chosen on purpose; the translator
    // picks it once instead.
    return translation::lineProblem(0, "saved as " + readAs +
                                           " by a spreadsheet: save it as CSV UTF-8 to edit "
                                           "it here");
  }
  if (!found->found) {
    return notFound(wanted, *found);
  }
  const TranslationEntry& entry = found->entry;

  // The file read, the rows are read again, with where their fields lie.
  CsvRows rows(text);
  rows.keepFieldSpans();
  if (Expected<void> started = rows.start(); !started) {
    return std::move(started.problem());
  }
  std::vector<std::string> fields;
  std::size_t line = 0;
  if (!rows.next(fields, line)) {
    return rows.problem();
  }
  const auto column = [&fields](std::string_view name) {
    const auto named = std::find_if(fields.begin(), fields.end(), [name](const std::string& f) {
      return isCsvColumnName(f, name);
    });
    return named == fields.end() ? npos : static_cast<std::size_t>(named - fields.begin());
  };
  const std::size_t targetColumn = column("target");
  const std::size_t fuzzyColumn = column("fuzzy");
  const std::size_t previousColumn = column("previous source");
  const std::size_t commentColumn = column("translator comments");
  if (commentColumn == npos && !change.translatorComment.empty()) {
    return translation::lineProblem(line, "the file has no column for translators' comments");
  }

  // The cells written anew, by column; a cell that keeps its text keeps its
  // bytes.
  std::vector<std::pair<std::size_t, std::string_view>> cells;
  if (change.target != entry.target) {
    cells.emplace_back(targetColumn, change.target);
  }
  if (commentColumn != npos && change.translatorComment != entry.translatorComment) {
    cells.emplace_back(commentColumn, change.translatorComment);
  }
  if (fuzzyColumn != npos && entry.fuzzy) {
    cells.emplace_back(fuzzyColumn, std::string_view());
  }
  if (previousColumn != npos && !entry.previousSource.empty()) {
    cells.emplace_back(previousColumn, std::string_view());
  }
  std::sort(cells.begin(), cells.end());

  while (!rows.atEnd()) {
    if (!rows.next(fields, line)) {
      return rows.problem();
    }
    if (line != entry.line) {
      continue;
    }
    const std::size_t base = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    std::string out;
    out.reserve(text.size() + change.target.size() + change.translatorComment.size());
    std::size_t copied = 0;
    for (const auto& [index, cell] : cells) {
      const CsvRows::FieldSpan span = rows.fieldSpans()[index];
      out += text.substr(copied, base + span.begin - copied);
      translation::appendCsvField(out, cell);
      copied = base + span.end;
    }
    out += text.substr(copied);
    return out;
  }
  // The reader gave the row's line, and the rows are the same.
  return translation::lineProblem(entry.line, "the row of offset " + wanted + " is gone");
}

}  // namespace krlist
