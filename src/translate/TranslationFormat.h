#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "translate/TranslationFile.h"

namespace krlist {

// The three forms of a translation file, told apart by their names: a PO
// file (PoFile.h) for translators' editors, and for spreadsheets a CSV text
// (CsvFile.h) or a workbook (XlsxFile.h) of the same rows.
enum class TranslationFormat { Po, Csv, Xlsx };

// The format a file's name ends in, ".po", ".csv" or ".xlsx"; none for any
// other name.
std::optional<TranslationFormat> formatOfPath(const std::filesystem::path& path);

// ".po", ".csv" or ".xlsx".
const char* formatSuffix(TranslationFormat format);

// Reads a translation file of `format`, handing each entry to `take`.
Expected<TranslationFile> readTranslationEntries(TranslationFormat format, std::string_view bytes,
                                                 const EntrySink& take);
// The same, keeping every entry in the file returned.
Expected<TranslationFile> readTranslationFile(TranslationFormat format, std::string_view bytes);

}  // namespace krlist
