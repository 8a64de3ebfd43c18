#pragma once

#include <string>
#include <string_view>

#include "translate/TranslationFile.h"

namespace krlist {

// Translation files as workbooks (Office Open XML, "x.kr.xlsx"): the rows
// and columns of the CSV form (CsvFile.h) on one sheet, every cell a string
// in a column formatted as text, so that what a translator types stays
// what was typed, in any spreadsheet. The header row is frozen, the columns
// sized to what they hold and the text wrapped.

// The workbook of a CSV text as writeCsv, csvHeader and appendCsvEntry
// write it: its rows, cell for cell. A cell keeps every character: those
// XML cannot carry, and a carriage return, which XML reads as a line feed,
// are escaped as workbooks escape them (_x000D_), and so is a text that
// reads as such an escape. Throws std::logic_error for a text that those do
// not write.
std::string xlsxOfCsv(std::string_view csv);

// Reads what xlsxOfCsv writes and what spreadsheets save from it: the
// first sheet, its strings shared or inline, rich-text runs joined (a
// phonetic guide left out), columns found by their header as in a CSV, rows
// and cells missing where empty (a row that ends early has the header's
// columns all the same). Refuses cells whose texts come to far more than
// the workbook holds (a shared string shown in cell after cell). A problem names the row as its
// line; one with the archive names its offset, and one with a part of it names the part and its
// line in the message. A target that the spreadsheet made a number, a date, a boolean, an error or
// a formula is refused at its row, saying what it is; any other such cell is read as the value's
// text.
Expected<TranslationFile> readXlsxEntries(std::string_view bytes, const EntrySink& take);
Expected<TranslationFile> readXlsx(std::string_view bytes);

}  // namespace krlist
