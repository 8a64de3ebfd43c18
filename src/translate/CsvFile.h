#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "translate/TranslationFile.h"

namespace krlist {

// Translation files as spreadsheets: comma-separated values, one row per
// entry under the header row
//
//   location,source,target,context,encoding
//
// where location is the entry's reference ("scenes/a.kr:0000001A"), whose
// part after the last ':' is the offset that identifies the entry (read
// into TranslationEntry::offset), and the column named context holds the
// entry's comment (TranslationEntry::comment), what the string is. Written in UTF-8 with a
// byte-order mark (without it, spreadsheets take the file for a legacy code page), every field
// quoted and CRLF line ends; a line break inside a field stays in the field.
//
// The script's encoding ends each row as a column of its own, "encoding"
// (written last, after any others). An update, or a file with fuzzy
// or obsolete entries or translator comments, has three more columns for
// what a reviewer needs,
//
//   location,source,target,context,fuzzy,previous source,translator comments
//
// where fuzzy is "fuzzy" for a target to review, "obsolete" for a
// translation whose string went away (kept for when it comes back),
// "fuzzy obsolete" for one that was both, and empty otherwise.
std::string writeCsv(const TranslationFile& file);

// writeCsv in pieces, for a file written as its entries are made: the
// byte-order mark and header row, then each entry's row appended; with
// `review`, with the three columns of an update.
// With `scriptEncoding`, an encoding column ends every row: the script's
// encoding, the same on every row, as a spreadsheet keeps columns and rows
// whatever it does to a file and nothing else (a comment line, a header
// field) is sure to survive.
std::string csvHeader(bool review = false, std::string_view scriptEncoding = {});
void appendCsvEntry(std::string& out, const TranslationEntry& entry, bool review = false,
                    std::string_view scriptEncoding = {});

// A row is written whole however long its texts, but a spreadsheet that
// opens the file cuts a cell past kSpreadsheetCellUnits (TranslationChecks.h):
// appends to `warnings` a line for the source and for the target of `entry`
// that are longer, naming the script and the string's offset, "a.kr:
// 0x0000001A: the string has 40000 characters, more than a spreadsheet cell
// holds (32,767): a spreadsheet will cut it", characters counted in UTF-16
// units as spreadsheets count them.
void warnOfLongCells(std::string_view scriptName, const TranslationEntry& entry,
                     std::string& warnings);

// Reads what writeCsv writes and what spreadsheets save from it: UTF-8 with
// or without the byte-order mark, UTF-16 with one, or code page 932 when the
// text is not UTF-8 (TranslationFile::readAs says which), quoted or bare
// fields, CRLF, LF or CR line ends, the columns in any order (found by their
// names in the header row; other columns are ignored, and context may be
// missing, as po2csv leaves it out), separated by commas or, as some locales
// and "Unicode Text" save them, by semicolons or tabs. The offset ends the
// location in hexadecimal, or in decimal as in a PO reference. Empty rows are
// skipped. A row whose fuzzy column holds the word "obsolete" is obsolete; one
// whose fuzzy column holds anything else but nothing, "no", "0" or "false"
// is fuzzy. Refuses, with the line, an unbalanced quote, text after a
// closing quote, a row with more or fewer fields than the header, a missing
// column, invalid UTF-8, a location without an offset and the same offset
// twice, and rows that give different encodings. The encoding column may
// be missing (files written before it had one) or empty; the file's
// scriptEncoding is the one its rows give.
Expected<TranslationFile> readCsv(std::string_view text);

// readCsv, handing each entry to `take` as it is read instead of keeping it:
// the file returned holds no entries. Entries before a refusal have been
// handed over by the time it is returned.
Expected<TranslationFile> readCsvEntries(std::string_view text, const EntrySink& take);

// The rows of a table that translations are kept in, as a spreadsheet keeps
// them: a CSV text's, or a workbook's sheet's (XlsxFile.h).
class TableRows {
 public:
  virtual ~TableRows() = default;
  virtual bool atEnd() const = 0;
  // Reads the next row, which starts on `line` (a CSV text's line, a
  // sheet's row number); false, with the problem kept, when it cannot.
  virtual bool next(std::vector<std::string>& fields, std::size_t& line) = 0;
  virtual const Problem& problem() const = 0;
  // What a spreadsheet made of field `column` of the row last read when it
  // took what was typed for a value, "the number 7", "the formula =1+1";
  // empty for a text, which every field of a CSV text is.
  virtual std::string convertedCell(std::size_t /*column*/) const { return {}; }
};

// readCsvEntries from the rows of any table: columns found by the header
// row, and every refusal of a CSV file's rows. A row whose target a
// spreadsheet converted to a value is refused, never taken as a text.
Expected<TranslationFile> readTableEntries(TableRows& rows, const EntrySink& take);

// The rows of a CSV text as readCsv reads them, also for other tables kept
// as spreadsheets (a glossary): the byte-order mark skipped, the line ends
// and the separator told by the header row, quoted or bare fields. A
// problem names the line (from 1) and no file.
class CsvRows final : public TableRows {
 public:
  explicit CsvRows(std::string_view text) : text_(text) {}

  // Refuses invalid UTF-8 and an empty text; called before the first row.
  Expected<void> start();
  bool atEnd() const override { return position_ >= text_.size(); }
  // Reads the next row, which starts on `line`; false, with the problem
  // kept, for an unbalanced quote or a stray one.
  bool next(std::vector<std::string>& fields, std::size_t& line) override;
  const Problem& problem() const override { return error_; }

  // Where each field of the row last read lies, its quotes included, as
  // byte offsets into the text after its byte-order mark: kept once asked
  // for, by an edit that writes a cell anew and copies the rest.
  struct FieldSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
  };
  void keepFieldSpans() { keepSpans_ = true; }
  const std::vector<FieldSpan>& fieldSpans() const { return spans_; }

 private:
  bool fail(std::size_t line, std::string message);
  std::size_t lineEndAt(std::size_t at) const;
  std::size_t lineAt(std::size_t offset) const;
  // The character that counts lines: in a file of CR line ends a line feed
  // is only ever inside a field.
  char lineBreak() const { return carriageReturns_ ? '\r' : '\n'; }

  std::string_view text_;
  char delimiter_ = ',';
  bool carriageReturns_ = false;
  std::size_t position_ = 0;
  std::size_t line_ = 1;
  Problem error_;
  bool keepSpans_ = false;
  std::vector<FieldSpan> spans_;
};

// Appends a row of other tables kept as spreadsheets, written as writeCsv
// writes its rows; the first row, appended to an empty `out`, starts with
// the byte-order mark.
void appendCsvRow(std::string& out, std::initializer_list<std::string_view> fields);

// Whether a header row's field names a column: in any case, and with "_"
// for a space as some tools write them ("translator_comments").
bool isCsvColumnName(std::string_view field, std::string_view name);

namespace translation {

// A field as writeCsv writes one: quoted, its quotes doubled, everything else
// (line breaks, separators) as it is.
void appendCsvField(std::string& out, std::string_view text);

}  // namespace translation

}  // namespace krlist
