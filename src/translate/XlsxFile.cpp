#include "translate/XlsxFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "io/Zip.h"
#include "text/Cells.h"
#include "text/Utf8.h"
#include "translate/CsvFile.h"
#include "translate/XmlDocument.h"

namespace krlist {

namespace {

constexpr auto npos = std::string_view::npos;

constexpr std::string_view kSheetPart = "xl/worksheets/sheet1.xml";

// The parts of a workbook that are the same in every one this program
// writes: what each part is, how they refer to one another, and the styles
// that the sheet's cells name by number (s="1", s="2").
constexpr std::string_view kContentTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/xl/workbook.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
    "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
    "<Override PartName=\"/xl/styles.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
    "<Override PartName=\"/xl/sharedStrings.xml\" "
    "ContentType=\"application/"
    "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
    "</Types>\n";

constexpr std::string_view kPackageRelationships =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
    "Target=\"xl/workbook.xml\"/>"
    "</Relationships>\n";

constexpr std::string_view kWorkbook =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
    "<sheets><sheet name=\"translations\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
    "</workbook>\n";

constexpr std::string_view kWorkbookRelationships =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
    "Target=\"worksheets/sheet1.xml\"/>"
    "<Relationship Id=\"rId2\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
    "Target=\"styles.xml\"/>"
    "<Relationship Id=\"rId3\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
    "Target=\"sharedStrings.xml\"/>"
    "</Relationships>\n";

// Number format 49 is text ("@"): a cell of it keeps what is typed into it
// as typed. Style 1 is a cell of text, wrapped and at the top; style 2 the
// header's, in bold.
constexpr std::string_view kStyles =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"2\"><font><sz val=\"11\"/></font><font><b/><sz val=\"11\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
    "</cellStyleXfs>"
    "<cellXfs count=\"3\">"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
    "<xf numFmtId=\"49\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
    "applyNumberFormat=\"1\" applyAlignment=\"1\"><alignment vertical=\"top\" wrapText=\"1\"/>"
    "</xf>"
    "<xf numFmtId=\"49\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
    "applyNumberFormat=\"1\" applyFont=\"1\"/>"
    "</cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>\n";

// A column's letters: A to Z, then AA.
std::string columnName(std::size_t column) {
  std::string name;
  for (std::size_t n = column + 1; n > 0; n = (n - 1) / 26) {
    name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
  }
  return name;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// The character that the escape _xHHHH_ at `at` of `text` stands for, or
// -1 when no escape starts there.
std::int32_t escapeAt(std::string_view text, std::size_t at) {
  if (text.size() - at < 7 || text[at] != '_' || text[at + 1] != 'x' || text[at + 6] != '_') {
    return -1;
  }
  std::int32_t value = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    const int digit = hexValue(text[i]);
    if (digit < 0) {
      return -1;
    }
    value = value * 16 + digit;
  }
  return value;
}

// A cell's text, as XML: what XML cannot carry (most C0 controls, U+FFFE,
// U+FFFF) and a carriage return escaped as _xHHHH_, and an underscore that
// would start such an escape escaped itself (_x005F_).
void appendCellText(std::string& out, std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const char32_t character = nextCharacter(text, at);
    if (character == U'\r' || !isXmlCharacter(character) ||
        (character == U'_' && escapeAt(text, start) >= 0)) {
      out += "_x";
      for (int shift = 12; shift >= 0; shift -= 4) {
        out += kDigits[(character >> shift) & 0xF];
      }
      out += '_';
    } else {
      appendXmlEscaped(out, text.substr(start, at - start));
    }
  }
}

// A column wide enough for the first line of what it holds, within reason.
double columnWidth(std::size_t cells) {
  return static_cast<double>(std::clamp<std::size_t>(cells, 8, 60) + 2);
}

}  // namespace

std::string xlsxOfCsv(std::string_view csv) {
  CsvRows rows(csv);
  std::vector<std::vector<std::string>> table;
  // This program's own CSV text always reads back: a failure is a mistake
  // here, never something a file can cause, and no row may be lost to it.
  if (!rows.start()) {
    throw std::logic_error("a workbook of a text that is not CSV");
  }
  std::vector<std::string> fields;
  std::size_t line = 0;
  while (!rows.atEnd()) {
    if (!rows.next(fields, line)) {
      throw std::logic_error("a workbook of a CSV text that does not read back");
    }
    table.push_back(fields);
  }
  // Every text once, in sharedStrings.xml; a cell names it by number.
  std::unordered_map<std::string_view, std::size_t> shared;
  std::vector<std::string_view> strings;
  std::vector<std::size_t> widths;
  std::string sheet =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
      "<sheetViews><sheetView workbookViewId=\"0\">"
      "<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>"
      "<selection pane=\"bottomLeft\" activeCell=\"A2\" sqref=\"A2\"/>"
      "</sheetView></sheetViews>";
  std::string data = "<sheetData>";
  std::size_t cellCount = 0;
  for (std::size_t r = 0; r < table.size(); ++r) {
    const std::string row = std::to_string(r + 1);
    data += "<row r=\"" + row + "\">";
    for (std::size_t c = 0; c < table[r].size(); ++c) {
      const std::string& text = table[r][c];
      widths.resize(std::max(widths.size(), table[r].size()));
      const std::string_view firstLine = std::string_view(text).substr(0, text.find('\n'));
      widths[c] = std::max(widths[c], textCells(firstLine, Encoding::Utf8));
      const auto [at, added] = shared.emplace(text, strings.size());
      if (added) {
        strings.push_back(text);
      }
      data += "<c r=\"" + columnName(c) + row + "\" s=\"" + (r == 0 ? "2" : "1") +
              "\" t=\"s\"><v>" + std::to_string(at->second) + "</v></c>";
      ++cellCount;
    }
    data += "</row>";
  }
  data += "</sheetData>";
  // The target is typed where the source is read: as wide as it.
  if (!table.empty()) {
    const auto column = [&](std::string_view name) {
      const auto& header = table.front();
      return static_cast<std::size_t>(
          std::find_if(header.begin(), header.end(),
                       [&](const std::string& field) { return isCsvColumnName(field, name); }) -
          header.begin());
    };
    const std::size_t source = column("source");
    const std::size_t target = column("target");
    if (source < widths.size() && target < widths.size()) {
      widths[target] = widths[source] = std::max(widths[source], widths[target]);
    }
  }
  // Each column is of text, so that a cell typed into where there was none
  // is text too.
  if (!widths.empty()) {
    sheet += "<cols>";
    for (std::size_t c = 0; c < widths.size(); ++c) {
      char width[32];
      std::snprintf(width, sizeof width, "%.0f", columnWidth(widths[c]));
      sheet += "<col min=\"" + std::to_string(c + 1) + "\" max=\"" + std::to_string(c + 1) +
               "\" width=\"" + width + "\" style=\"1\" customWidth=\"1\"/>";
    }
    sheet += "</cols>";
  }
  sheet += data;
  sheet += "</worksheet>\n";

  std::string sharedStrings =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"" +
      std::to_string(cellCount) + "\" uniqueCount=\"" + std::to_string(strings.size()) + "\">";
  for (const std::string_view text : strings) {
    sharedStrings += "<si><t xml:space=\"preserve\">";
    appendCellText(sharedStrings, text);
    sharedStrings += "</t></si>";
  }
  sharedStrings += "</sst>\n";

  return writeZip({{"[Content_Types].xml", std::string(kContentTypes)},
                   {"_rels/.rels", std::string(kPackageRelationships)},
                   {"xl/workbook.xml", std::string(kWorkbook)},
                   {"xl/_rels/workbook.xml.rels", std::string(kWorkbookRelationships)},
                   {"xl/styles.xml", std::string(kStyles)},
                   {"xl/sharedStrings.xml", std::move(sharedStrings)},
                   {std::string(kSheetPart), std::move(sheet)}});
}

#ifndef KRLIST_XML

Expected<TranslationFile> readXlsxEntries(std::string_view, const EntrySink&) {
  return Problem::about({}, "this build reads no workbooks (built without Boost.PropertyTree)");
}

#else

namespace {

// A cell's text with the escapes _xHHHH_ made the characters they stand
// for (an escaped underscore, _x005F_, too).
std::string unescapeCellText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t next = text.find("_x", at);
    if (next == npos) {
      out.append(text.substr(at));
      break;
    }
    out.append(text.substr(at, next - at));
    const std::int32_t character = escapeAt(text, next);
    if (character <= 0 || (character >= 0xD800 && character <= 0xDFFF)) {
      out += '_';
      at = next + 1;
      continue;
    }
    appendUtf8(out, static_cast<char32_t>(character));
    at = next + 7;
  }
  return out;
}

// The text of a shared string <si> or an inline string <is>: its <t>, or
// the <t> of each rich-text run <r> in turn; a phonetic guide (<rPh>) is
// not part of it.
std::string stringText(const XmlNode& node) {
  std::string text;
  for (const XmlNode* child = node.first_node(); child != nullptr; child = child->next_sibling()) {
    if (child->type() != rapidxml::node_element) {
      continue;
    }
    const std::string_view name = XmlDocument::localName(*child);
    if (name == "t") {
      XmlDocument::appendText(*child, text);
    } else if (name == "r") {
      if (const XmlNode* run = XmlDocument::child(*child, "t")) {
        XmlDocument::appendText(*run, text);
      }
    }
  }
  return unescapeCellText(text);
}

// A date serial as a spreadsheet counts it (days from 1899-12-30, with a
// 29 February 1900 that never was: serial 60) as YYYY-MM-DD, the civil
// calendar reckoned from the days since 1970. `serial` is from 1 to before
// 2958466 (10000-01-01).
std::string dateOfSerial(double serial) {
  const auto whole = static_cast<std::int64_t>(serial);
  const std::int64_t days = whole - (whole < 61 ? 25568 : 25569);
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char out[64];
  std::snprintf(out, sizeof out, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day));
  return out;
}

// Whether a number format shows a date or a time: the built-in ones that
// do, or a format code with a day, year or hour in it outside quoted text
// and brackets.
bool isDateFormat(std::size_t id, std::string_view code) {
  if ((id >= 14 && id <= 22) || (id >= 45 && id <= 47)) {
    return true;
  }
  bool quoted = false;
  bool bracketed = false;
  for (const char c : code) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == '[' || c == ']')) {
      bracketed = c == '[';
    } else if (!quoted && !bracketed &&
               (c == 'd' || c == 'D' || c == 'y' || c == 'Y' || c == 'h' || c == 'H')) {
      return true;
    }
  }
  return false;
}

class SheetRows final : public TableRows {
 public:
  explicit SheetRows(std::vector<ZipMember> members) : members_(std::move(members)) {}

  Expected<void> start() {
    const std::string sheetPart = findSheetPart();
    const ZipMember* sheet = member(sheetPart);
    if (sheet == nullptr) {
      return Problem::about({}, "no sheet in the workbook (" + sheetPart + " is missing)");
    }
    std::size_t stringBytes = 0;
    if (const ZipMember* strings = member("xl/sharedStrings.xml")) {
      stringBytes = strings->data.size();
      if (Expected<void> read = readSharedStrings(*strings); !read) {
        return read;
      }
    }
    if (const ZipMember* styles = member("xl/styles.xml")) {
      if (Expected<void> read = readStyles(*styles); !read) {
        return read;
      }
    }
    if (Expected<void> parsed = parsePart(sheet_, *sheet); !parsed) {
      return parsed;
    }
    sheetName_ = sheet->name;
    textLimit_ =
        std::max<std::size_t>(std::size_t{64} << 20, 4 * (sheet->data.size() + stringBytes));
    const XmlNode* root = sheet_.root();
    const XmlNode* data = root != nullptr ? XmlDocument::child(*root, "sheetData") : nullptr;
    if (data == nullptr) {
      return partProblem(sheetName_, root != nullptr ? sheet_.lineOf(*root) : 1,
                         "no <sheetData> in the sheet");
    }
    row_ = XmlDocument::child(*data, "row");
    if (row_ == nullptr) {
      return Problem::about({}, "the sheet is empty: no header row");
    }
    return {};
  }

  bool atEnd() const override { return row_ == nullptr; }

  bool next(std::vector<std::string>& fields, std::size_t& line) override {
    fields.clear();
    converted_.clear();
    const XmlNode& row = *row_;
    line = rowNumber_ + 1;
    if (const auto number = XmlDocument::attribute(row, "r")) {
      line = std::strtoull(std::string(*number).c_str(), nullptr, 10);
      if (line <= rowNumber_) {
        return fail(sheet_.lineOf(row),
                    "row " + std::string(*number) + " after row " + std::to_string(rowNumber_));
      }
    }
    rowNumber_ = line;
    std::size_t column = 0;
    for (const XmlNode* cell = XmlDocument::child(row, "c"); cell != nullptr;
         cell = XmlDocument::nextSibling(*cell, "c"), ++column) {
      if (const auto reference = XmlDocument::attribute(*cell, "r")) {
        std::size_t named = 0;
        std::size_t letters = 0;
        while (letters < reference->size() && (*reference)[letters] >= 'A' &&
               (*reference)[letters] <= 'Z' && letters < 3) {
          named = named * 26 + static_cast<std::size_t>((*reference)[letters] - 'A' + 1);
          ++letters;
        }
        if (named == 0 || named - 1 < column) {
          return fail(sheet_.lineOf(*cell), "cell " + std::string(*reference) +
                                                " out of order in row " + std::to_string(line));
        }
        column = named - 1;
      }
      if (column >= kMostColumns) {
        return fail(sheet_.lineOf(*cell), "a cell beyond column " + columnName(kMostColumns - 1));
      }
      fields.resize(column + 1);
      converted_.resize(column + 1);
      if (!readCell(*cell, columnName(column) + std::to_string(line), fields[column],
                    converted_[column])) {
        return false;
      }
      // A shared string is one text however many cells show it; read into
      // every one, a small workbook could make gigabytes of them.
      textBytes_ += fields[column].size();
      if (textBytes_ > textLimit_) {
        return fail(sheet_.lineOf(*cell), "cell " + columnName(column) + std::to_string(line) +
                                              ": the cells' texts come to more than " +
                                              std::to_string(textLimit_) +
                                              " bytes, far more than the workbook holds");
      }
    }
    // A spreadsheet leaves out the empty cells at a row's end: the row has
    // the header's columns all the same.
    if (width_ == 0) {
      width_ = fields.size();
    } else if (fields.size() < width_) {
      fields.resize(width_);
    }
    row_ = XmlDocument::nextSibling(row, "row");
    return true;
  }

  const Problem& problem() const override { return error_; }

  std::string convertedCell(std::size_t column) const override {
    return column < converted_.size() ? converted_[column] : std::string();
  }

 private:
  // More columns than any translation file has, and few enough that a
  // hostile cell reference cannot make a row of millions of fields.
  static constexpr std::size_t kMostColumns = 256;

  const ZipMember* member(std::string_view name) const {
    const auto found = std::find_if(members_.begin(), members_.end(),
                                    [&](const ZipMember& m) { return m.name == name; });
    return found == members_.end() ? nullptr : &*found;
  }

  // The first sheet, as the workbook names it through its relationships;
  // sheet1.xml when they do not say.
  std::string findSheetPart() {
    const ZipMember* workbook = member("xl/workbook.xml");
    const ZipMember* relationships = member("xl/_rels/workbook.xml.rels");
    XmlDocument book;
    XmlDocument links;
    if (workbook == nullptr || relationships == nullptr || !book.parse(workbook->data) ||
        !links.parse(relationships->data) || book.root() == nullptr || links.root() == nullptr) {
      return std::string(kSheetPart);
    }
    const XmlNode* sheets = XmlDocument::child(*book.root(), "sheets");
    const XmlNode* sheet = sheets != nullptr ? XmlDocument::child(*sheets, "sheet") : nullptr;
    const auto id = sheet != nullptr ? XmlDocument::attribute(*sheet, "r:id") : std::nullopt;
    if (!id) {
      return std::string(kSheetPart);
    }
    for (const XmlNode* link = XmlDocument::child(*links.root(), "Relationship"); link != nullptr;
         link = XmlDocument::nextSibling(*link, "Relationship")) {
      const auto target = XmlDocument::attribute(*link, "Target");
      if (XmlDocument::attribute(*link, "Id") == id && target) {
        return target->starts_with('/') ? std::string(target->substr(1))
                                        : "xl/" + std::string(*target);
      }
    }
    return std::string(kSheetPart);
  }

  static Problem partProblem(const std::string& part, std::size_t line, std::string message) {
    return Problem::about({}, part + ", line " + std::to_string(line) + ": " + message);
  }

  static Expected<void> parsePart(XmlDocument& document, const ZipMember& part) {
    if (Expected<void> parsed = document.parse(part.data); !parsed) {
      return partProblem(part.name, parsed.problem().where.line, parsed.problem().message);
    }
    return {};
  }

  Expected<void> readSharedStrings(const ZipMember& part) {
    XmlDocument document;
    if (Expected<void> parsed = parsePart(document, part); !parsed) {
      return parsed;
    }
    if (document.root() == nullptr) {
      return {};
    }
    for (const XmlNode* item = XmlDocument::child(*document.root(), "si"); item != nullptr;
         item = XmlDocument::nextSibling(*item, "si")) {
      strings_.push_back(stringText(*item));
    }
    return {};
  }

  // Which cell styles show a number as a date.
  Expected<void> readStyles(const ZipMember& part) {
    XmlDocument document;
    if (Expected<void> parsed = parsePart(document, part); !parsed) {
      return parsed;
    }
    if (document.root() == nullptr) {
      return {};
    }
    std::unordered_map<std::size_t, std::string> codes;
    if (const XmlNode* formats = XmlDocument::child(*document.root(), "numFmts")) {
      for (const XmlNode* format = XmlDocument::child(*formats, "numFmt"); format != nullptr;
           format = XmlDocument::nextSibling(*format, "numFmt")) {
        const auto id = XmlDocument::attribute(*format, "numFmtId");
        const auto code = XmlDocument::attribute(*format, "formatCode");
        if (id && code) {
          codes[std::strtoull(std::string(*id).c_str(), nullptr, 10)] = std::string(*code);
        }
      }
    }
    if (const XmlNode* styles = XmlDocument::child(*document.root(), "cellXfs")) {
      for (const XmlNode* style = XmlDocument::child(*styles, "xf"); style != nullptr;
           style = XmlDocument::nextSibling(*style, "xf")) {
        const auto id = XmlDocument::attribute(*style, "numFmtId");
        const std::size_t number = id ? std::strtoull(std::string(*id).c_str(), nullptr, 10) : 0;
        const auto code = codes.find(number);
        dateStyles_.push_back(isDateFormat(number, code != codes.end() ? code->second : ""));
      }
    }
    return {};
  }

  // A cell's text, and what the spreadsheet made of it when it is no text
  // but a value: the value as the cell holds it.
  bool readCell(const XmlNode& cell, const std::string& name, std::string& text,
                std::string& converted) {
    const auto fail = [&](std::string message) {
      return this->fail(sheet_.lineOf(cell), "cell " + name + ": " + message);
    };
    const std::string_view type = XmlDocument::attribute(cell, "t").value_or("n");
    const XmlNode* valueNode = XmlDocument::child(cell, "v");
    std::string value;
    if (valueNode != nullptr) {
      XmlDocument::appendText(*valueNode, value);
    }
    if (type == "s") {
      const std::size_t index = std::strtoull(value.c_str(), nullptr, 10);
      if (valueNode == nullptr) {
        return fail("a cell of a shared string that names none");
      }
      if (index >= strings_.size()) {
        return fail("shared string " + value + ", of " + std::to_string(strings_.size()) +
                    " shared strings");
      }
      text = strings_[index];
    } else if (type == "inlineStr") {
      const XmlNode* inlineString = XmlDocument::child(cell, "is");
      text = inlineString != nullptr ? stringText(*inlineString) : std::string();
    } else {
      text = type == "str" ? unescapeCellText(value) : value;
      if (type == "b") {
        text = value == "1" ? "TRUE" : "FALSE";
      }
      // A string cell of a formula's result is a text unless a formula is
      // there (below): some programs write their strings so.
      if (valueNode != nullptr && type != "str") {
        converted = describeValue(cell, type, text);
      }
    }
    if (const XmlNode* formula = XmlDocument::child(cell, "f")) {
      std::string expression;
      XmlDocument::appendText(*formula, expression);
      converted = expression.empty() ? "a formula's result" : "the formula =" + expression;
    }
    if (findInvalidUtf8(text) != npos) {
      return fail("invalid UTF-8");
    }
    return true;
  }

  std::string describeValue(const XmlNode& cell, std::string_view type,
                            const std::string& text) const {
    if (type == "b") {
      return "the boolean " + text;
    }
    if (type == "e") {
      return "the error " + text;
    }
    if (type == "d") {
      return "the date " + text;
    }
    const auto style = XmlDocument::attribute(cell, "s");
    const std::size_t index = style ? std::strtoull(std::string(*style).c_str(), nullptr, 10) : 0;
    const double serial = std::strtod(text.c_str(), nullptr);
    // From 1900-01-01 (serial 1) to 9999-12-31, as far as spreadsheets go.
    if (index < dateStyles_.size() && dateStyles_[index] && serial >= 1 && serial < 2958466) {
      return "the date " + dateOfSerial(serial);
    }
    return "the number " + text;
  }

  bool fail(std::size_t line, std::string message) {
    error_ = partProblem(sheetName_, line, std::move(message));
    return false;
  }

  std::vector<ZipMember> members_;
  std::vector<std::string> strings_;  // shared, by number
  std::vector<bool> dateStyles_;      // by cell style number
  XmlDocument sheet_;
  std::string sheetName_;
  const XmlNode* row_ = nullptr;  // the next row to read
  std::size_t rowNumber_ = 0;     // of the row last read
  std::vector<std::string> converted_;
  std::size_t width_ = 0;      // the header row's fields
  std::size_t textBytes_ = 0;  // of the cells read so far
  std::size_t textLimit_ = 0;
  Problem error_;
};

}  // namespace

Expected<TranslationFile> readXlsxEntries(std::string_view bytes, const EntrySink& take) {
  Expected<std::vector<ZipMember>> members = readZip(bytes);
  if (!members) {
    Problem problem = std::move(members.problem());
    problem.message = "not a workbook: " + problem.message;
    return problem;
  }
  SheetRows rows(std::move(*members));
  if (Expected<void> started = rows.start(); !started) {
    return started.problem();
  }
  Expected<TranslationFile> file = readTableEntries(rows, take);
  if (file) {
    file->fromWorkbook = true;
  }
  return file;
}

#endif

Expected<TranslationFile> readXlsx(std::string_view bytes) {
  return readAllEntries(bytes, readXlsxEntries);
}

}  // namespace krlist
