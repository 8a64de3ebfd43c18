#include "translate/CsvFile.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>
#include <vector>

#include "text/Encoding.h"
#include "text/Utf8.h"
#include "translate/TranslationChecks.h"

namespace krlist {
namespace {

// Two names of the encoding column name one encoding: the same name, or the
// names of one known encoding in any case ("UTF-8" and "utf-8").
bool sameEncoding(std::string_view a, std::string_view b) {
  const std::optional<Encoding> named = encodingFromNameInAnyCase(a);
  return a == b || (named && named == encodingFromNameInAnyCase(b));
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr auto npos = std::string_view::npos;

// The columns from context on may be missing: po2csv writes no context, the
// next two are those an update adds, and files written before the encoding
// had a column have none.
enum Column {
  kLocation,
  kSource,
  kTarget,
  kComment,  // named "context"
  kFuzzy,
  kPreviousSource,
  kTranslatorComments,
  kEncoding,
  kColumnCount
};
constexpr std::size_t kRequiredColumns = kComment;
constexpr std::array<std::string_view, kColumnCount> kColumnNames = {
    "location", "source", "target", "context", "fuzzy", "previous source", "translator comments",
    "encoding"};
constexpr std::string_view kObsolete = "obsolete";

// A spreadsheet user marks a row fuzzy with whatever comes to hand; only an
// empty cell or a plain no leaves it to be used.
bool meansFuzzy(std::string_view value) {
  return !value.empty() && value != "no" && value != "0" && value != "false" && value != "FALSE";
}

std::string_view trimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The fuzzy column: "obsolete" among its words makes the row obsolete, and
// the rest, if anything, says whether its target is to be reviewed: an
// obsolete translation that was fuzzy stays fuzzy when it comes back.
void readMark(std::string_view mark, TranslationEntry& entry) {
  entry.obsolete = false;
  std::string rest;
  for (;;) {
    mark = trimSpaces(mark);
    const std::size_t end = mark.find_first_of(" \t");
    const std::string_view word = mark.substr(0, end);
    if (word == kObsolete) {
      entry.obsolete = true;
    } else if (!word.empty()) {
      rest.append(rest.empty() ? "" : " ").append(word);
    }
    if (end == npos) {
      break;
    }
    mark.remove_prefix(end);
  }
  entry.fuzzy = meansFuzzy(rest);
}

std::string_view markOf(const TranslationEntry& entry) {
  if (entry.obsolete) {
    return entry.fuzzy ? "fuzzy obsolete" : kObsolete;
  }
  return entry.fuzzy ? "fuzzy" : "";
}

void appendField(std::string& out, std::string_view text) {
  out += '"';
  for (;;) {
    const std::size_t quote = text.find('"');
    out += text.substr(0, quote);
    if (quote == npos) {
      break;
    }
    out += "\"\"";
    text.remove_prefix(quote + 1);
  }
  out += '"';
}

// The fields, and `last` after them unless it is empty.
void appendRecord(std::string& out, std::initializer_list<std::string_view> fields,
                  std::string_view last = {}) {
  bool first = true;
  for (const std::string_view field : fields) {
    if (!first) {
      out += ',';
    }
    first = false;
    appendField(out, field);
  }
  if (!last.empty()) {
    out += ',';
    appendField(out, last);
  }
  out += "\r\n";
}

}  // namespace

bool isCsvColumnName(std::string_view field, std::string_view name) {
  field = trimSpaces(field);
  return std::equal(field.begin(), field.end(), name.begin(), name.end(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a == '_' ? ' ' : a) == b;
  });
}

namespace {

class TableReader {
 public:
  TableReader(TableRows& rows, const EntrySink& take) : rows_(rows), take_(take) {}

  Expected<TranslationFile> read() {
    std::vector<std::string> fields;
    std::size_t recordLine = 0;
    if (!rows_.next(fields, recordLine)) {
      return rows_.problem();
    }
    std::array<std::size_t, kColumnCount> columns;
    columns.fill(npos);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      for (std::size_t c = 0; c < kColumnCount; ++c) {
        if (!isCsvColumnName(fields[i], kColumnNames[c])) {
          continue;
        }
        if (columns[c] != npos) {
          return translation::lineProblem(recordLine,
                                          "column \"" + std::string(kColumnNames[c]) + "\" twice");
        }
        columns[c] = i;
      }
    }
    for (std::size_t c = 0; c < kRequiredColumns; ++c) {
      if (columns[c] == npos) {
        return translation::lineProblem(
            recordLine, "no column \"" + std::string(kColumnNames[c]) + "\" in the header row");
      }
    }
    const std::size_t width = fields.size();

    translation::OffsetLines lines;  // of each offset read
    TranslationFile file;            // without its entries, handed to `take_`
    std::size_t encodingLine = 0;    // where the encoding was first given
    while (!rows_.atEnd()) {
      if (!rows_.next(fields, recordLine)) {
        return rows_.problem();
      }
      if (std::all_of(fields.begin(), fields.end(), [](const auto& f) { return f.empty(); })) {
        continue;
      }
      if (fields.size() != width) {
        return translation::lineProblem(
            recordLine, std::string(fields.size() < width ? "missing" : "extra") +
                            " column: the row has " + std::to_string(fields.size()) +
                            " fields, the header " + std::to_string(width));
      }
      if (const std::string value = rows_.convertedCell(columns[kTarget]); !value.empty()) {
        return translation::lineProblem(
            recordLine, "the target of row " + std::to_string(recordLine) + " is " + value +
                            ": the spreadsheet converted what was typed; keep the column as text");
      }
      TranslationEntry entry;
      entry.reference = std::move(fields[columns[kLocation]]);
      // The offset in hexadecimal, or in decimal as in the reference of a PO
      // file that po2csv made the file from.
      entry.offset = translation::offsetAfterColon(entry.reference);
      if (columns[kFuzzy] != npos) {
        readMark(fields[columns[kFuzzy]], entry);
      }
      if (columns[kPreviousSource] != npos) {
        entry.previousSource = std::move(fields[columns[kPreviousSource]]);
      }
      if (columns[kTranslatorComments] != npos) {
        entry.translatorComment = std::move(fields[columns[kTranslatorComments]]);
      }
      // An obsolete row names no string of the script: the offset it had, if
      // any, may come again.
      if (entry.obsolete && !translation::isOffsetContext(entry.offset)) {
        entry.offset.clear();
      } else if (!translation::isOffsetContext(entry.offset)) {
        return translation::lineProblem(
            recordLine, "location \"" + std::string(translation::excerpt(entry.reference)) +
                            "\" does not end in ':' and a script offset");
      }
      translation::toUpperAscii(entry.offset);
      if (const std::size_t first =
              entry.obsolete ? 0 : lines.firstLine(entry.offset, recordLine)) {
        return translation::lineProblem(
            recordLine,
            "offset " + entry.offset + " again, first at line " + std::to_string(first));
      }
      entry.source = std::move(fields[columns[kSource]]);
      entry.target = std::move(fields[columns[kTarget]]);
      if (columns[kComment] != npos) {
        entry.comment = std::move(fields[columns[kComment]]);
      }
      if (columns[kEncoding] != npos && !fields[columns[kEncoding]].empty()) {
        std::string& encoding = fields[columns[kEncoding]];
        if (file.scriptEncoding.empty()) {
          file.scriptEncoding = std::move(encoding);
          encodingLine = recordLine;
          file.scriptEncodingLine = recordLine;
        } else if (!sameEncoding(encoding, file.scriptEncoding)) {
          return translation::lineProblem(
              recordLine, "encoding \"" + std::string(translation::excerpt(encoding)) +
                              "\", where line " + std::to_string(encodingLine) + " has \"" +
                              std::string(translation::excerpt(file.scriptEncoding)) +
                              "\": a script has one encoding");
        }
      }
      entry.line = recordLine;
      entry.targetLine = recordLine;
      take_(entry);
    }
    return file;
  }

 private:
  TableRows& rows_;
  const EntrySink& take_;
};

}  // namespace

Expected<TranslationFile> readTableEntries(TableRows& rows, const EntrySink& take) {
  Expected<TranslationFile> file = TableReader(rows, take).read();
  if (file) {
    file->fromSpreadsheet = true;
  }
  return file;
}

Expected<void> CsvRows::start() {
  if (text_.starts_with(kByteOrderMark)) {
    text_.remove_prefix(kByteOrderMark.size());
  }
  // Old Mac OS programs, and some spreadsheets still, end lines with a
  // carriage return alone; the header row tells, as it holds no line break
  // of its own.
  const std::size_t firstEnd = text_.find_first_of("\r\n");
  carriageReturns_ = firstEnd != npos && text_[firstEnd] == '\r' &&
                     (firstEnd + 1 == text_.size() || text_[firstEnd + 1] != '\n');
  if (const std::size_t bad = findInvalidUtf8Text(text_); bad != npos) {
    return translation::lineProblem(lineAt(bad),
                                    text_[bad] == '\0' ? "U+0000 in the file" : "invalid UTF-8");
  }
  // Spreadsheets in locales that write decimal commas separate fields with
  // semicolons, and their "Unicode Text" with tabs; the header row, whose
  // names hold none of them, tells which.
  const std::size_t separator = text_.find_first_of(",;\t\n");
  if (separator != npos && text_[separator] != '\n') {
    delimiter_ = text_[separator];
  }
  if (text_.empty()) {
    return translation::lineProblem(1, "no header row");
  }
  return {};
}

bool CsvRows::fail(std::size_t line, std::string message) {
  error_ = translation::lineProblem(line, std::move(message));
  return false;
}

// The length of the line end at `at`: LF, CRLF, or a CR that ends the file
// or, in a file whose lines end so, the line.
std::size_t CsvRows::lineEndAt(std::size_t at) const {
  if (text_[at] == '\n') {
    return 1;
  }
  if (text_[at] == '\r') {
    return at + 1 == text_.size() ? 1 : text_[at + 1] == '\n' ? 2 : carriageReturns_ ? 1 : 0;
  }
  return 0;
}

std::size_t CsvRows::lineAt(std::size_t offset) const {
  const std::string_view before = text_.substr(0, offset);
  return 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), lineBreak()));
}

bool CsvRows::next(std::vector<std::string>& fields, std::size_t& recordLine) {
  fields.clear();
  spans_.clear();
  recordLine = line_;
  const std::size_t size = text_.size();
  for (;;) {
    std::string& field = fields.emplace_back();
    const std::size_t fieldStart = position_;
    if (position_ < size && text_[position_] == '"') {
      const std::size_t openingLine = line_;
      ++position_;
      for (;;) {
        const std::size_t quote = text_.find('"', position_);
        if (quote == npos) {
          return fail(openingLine, "unbalanced quote: the field that starts here never ends");
        }
        const std::string_view chunk = text_.substr(position_, quote - position_);
        line_ += static_cast<std::size_t>(std::count(chunk.begin(), chunk.end(), lineBreak()));
        field += chunk;
        position_ = quote + 1;
        if (position_ == size || text_[position_] != '"') {
          break;
        }
        field += '"';
        ++position_;
      }
      if (position_ < size && text_[position_] != delimiter_ && lineEndAt(position_) == 0) {
        return fail(line_, "text after the closing quote of a field");
      }
    } else {
      const std::size_t start = position_;
      for (; position_ < size && text_[position_] != delimiter_ && lineEndAt(position_) == 0;
           ++position_) {
        if (text_[position_] == '"') {
          return fail(line_, "a quote inside a field that does not start with one");
        }
      }
      field = text_.substr(start, position_ - start);
    }
    if (keepSpans_) {
      spans_.push_back({fieldStart, position_});
    }
    if (position_ == size) {
      return true;
    }
    if (text_[position_] == delimiter_) {
      ++position_;
      continue;
    }
    position_ += lineEndAt(position_);
    ++line_;
    return true;
  }
}

std::string csvHeader(bool review, std::string_view scriptEncoding) {
  std::string out(kByteOrderMark);
  const auto& n = kColumnNames;
  const std::string_view encoding = scriptEncoding.empty() ? "" : n[kEncoding];
  if (review) {
    appendRecord(out, {n[0], n[1], n[2], n[3], n[4], n[5], n[6]}, encoding);
  } else {
    appendRecord(out, {n[0], n[1], n[2], n[3]}, encoding);
  }
  return out;
}

void appendCsvEntry(std::string& out, const TranslationEntry& entry, bool review,
                    std::string_view scriptEncoding) {
  if (!review) {
    appendRecord(out, {entry.reference, entry.source, entry.target, entry.comment}, scriptEncoding);
    return;
  }
  appendRecord(out,
               {entry.reference, entry.source, entry.target, entry.comment, markOf(entry),
                entry.previousSource, entry.translatorComment},
               scriptEncoding);
}

void warnOfLongCells(std::string_view scriptName, const TranslationEntry& entry,
                     std::string& warnings) {
  const auto warn = [&](std::string_view text, const char* what) {
    // No text takes more UTF-16 units than UTF-8 bytes: most are not counted.
    if (text.size() <= kSpreadsheetCellUnits) {
      return;
    }
    const std::size_t units = utf16Units(text);
    if (units <= kSpreadsheetCellUnits) {
      return;
    }
    Problem problem = Problem::about(std::string(scriptName), std::string(what));
    problem.message.append(" has ")
        .append(std::to_string(units))
        .append(
            " characters, more than a spreadsheet cell holds (32,767): a spreadsheet will "
            "cut it");
    if (translation::isOffsetContext(entry.offset)) {
      problem.where.offset = translation::offsetOf(entry.offset);
    }
    warnings.append(problem.describe()).append(1, '\n');
  };
  warn(entry.source, "the string");
  warn(entry.target, "the translation");
}

void appendCsvRow(std::string& out, std::initializer_list<std::string_view> fields) {
  if (out.empty()) {
    out = kByteOrderMark;
  }
  appendRecord(out, fields);
}

std::string writeCsv(const TranslationFile& file) {
  const bool review =
      std::any_of(file.entries.begin(), file.entries.end(), [](const TranslationEntry& entry) {
        return entry.fuzzy || entry.obsolete || !entry.previousSource.empty() ||
               !entry.translatorComment.empty();
      });
  std::string out = csvHeader(review, file.scriptEncoding);
  for (const TranslationEntry& entry : file.entries) {
    appendCsvEntry(out, entry, review, file.scriptEncoding);
  }
  return out;
}

Expected<TranslationFile> readCsvEntries(std::string_view text, const EntrySink& take) {
  // Besides UTF-8, what spreadsheets save: "Unicode Text" is UTF-16 with a
  // byte-order mark, and "CSV" on a Japanese Windows is CP932, told from
  // UTF-8 by not being UTF-8 (text in CP932 hardly ever is).
  std::string converted;
  std::string readAs;
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    const std::size_t bad = appendUtf16AsUtf8(text.substr(2), text[0] == '\xFE', converted);
    if (bad != npos) {
      return translation::lineProblem(
          1 + static_cast<std::size_t>(std::count(converted.begin(), converted.end(), '\n')),
          "invalid UTF-16: a surrogate without its pair, or a byte left over at the end");
    }
    text = converted;
    readAs = "UTF-16";
  } else if (text.size() >= 2 && (text[0] == '\0' || text[1] == '\0')) {
    return translation::lineProblem(1,
                                    "the file looks like UTF-16 without a byte-order mark: save "
                                    "it as CSV UTF-8, or as Unicode Text");
  } else if (const std::size_t bad = findInvalidUtf8Text(
                 text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text);
             bad != npos) {
    if (!decodeExactText(Encoding::Cp932, text, converted) ||
        converted.find('\0') != std::string::npos) {
      const std::size_t at = bad + (text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0);
      return translation::lineProblem(
          1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n')),
          text[at] == '\0' ? "U+0000 in the file" : "invalid UTF-8, and not CP932 either");
    }
    text = converted;
    readAs = "CP932";
  }
  CsvRows rows(text);
  if (Expected<void> started = rows.start(); !started) {
    return started.problem();
  }
  Expected<TranslationFile> file = readTableEntries(rows, take);
  if (file) {
    file->readAs = std::move(readAs);
  }
  return file;
}

Expected<TranslationFile> readCsv(std::string_view text) {
  return readAllEntries(text, readCsvEntries);
}

void translation::appendCsvField(std::string& out, std::string_view text) {
  appendField(out, text);
}

}  // namespace krlist
