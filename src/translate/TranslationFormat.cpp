#include "translate/TranslationFormat.h"

#include "translate/CsvFile.h"
#include "translate/PoFile.h"
#include "translate/XlsxFile.h"

namespace krlist {

std::optional<TranslationFormat> formatOfPath(const std::filesystem::path& path) {
  const std::filesystem::path extension = path.extension();
  for (const TranslationFormat format :
       {TranslationFormat::Po, TranslationFormat::Csv, TranslationFormat::Xlsx}) {
    if (extension == formatSuffix(format)) {
      return format;
    }
  }
  return std::nullopt;
}

const char* formatSuffix(TranslationFormat format) {
  switch (format) {
    case TranslationFormat::Csv:
      return ".csv";
    case TranslationFormat::Xlsx:
      return ".xlsx";
    case TranslationFormat::Po:
      break;
  }
  return ".po";
}

Expected<TranslationFile> readTranslationEntries(TranslationFormat format, std::string_view bytes,
                                                 const EntrySink& take) {
  switch (format) {
    case TranslationFormat::Csv:
      return readCsvEntries(bytes, take);
    case TranslationFormat::Xlsx:
      return readXlsxEntries(bytes, take);
    case TranslationFormat::Po:
      break;
  }
  return readPoEntries(bytes, take);
}

Expected<TranslationFile> readTranslationFile(TranslationFormat format, std::string_view bytes) {
  std::vector<TranslationEntry> entries;
  Expected<TranslationFile> read = readTranslationEntries(
      format, bytes, [&entries](const TranslationEntry& entry) { entries.push_back(entry); });
  if (read) {
    read->entries = std::move(entries);
  }
  return read;
}

}  // namespace krlist
