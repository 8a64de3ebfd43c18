#pragma once

#include <string>
#include <string_view>

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

// Reads what writeCsv writes and what spreadsheets save from it: with or
// without the byte-order mark, quoted or bare fields, CRLF, LF or CR line
// ends, the columns
// in any order (found by their names in the header row; other columns are
// ignored, and context may be missing, as po2csv leaves it out), separated by
// commas or, as some locales save them, by semicolons. The offset ends the
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

}  // namespace krlist
