// Both translation formats must give back exactly what they were given, and
// the PO files must survive the gettext tools that translators run on them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "io/Zip.h"
#include "text/Utf8.h"
#include "translate/CsvFile.h"
#include "translate/EntryEdit.h"
#include "translate/PoFile.h"
#include "translate/XlsxFile.h"

namespace krlist {
namespace {

// A file name of this run's own in the temporary folder, which other runs of
// the suite may share at the same time.
std::string scratchPath(const std::string& name) {
  static const std::string run = std::to_string(std::random_device{}());
  return testing::TempDir() + "krscript-translation-" + run + "-" + name;
}

// Pieces that some part of one format or the other treats specially.
std::string randomText(std::mt19937& random) {
  // clang-format off
  static const std::vector<std::string> pieces = {
      "a", "Hello, world", " ", "7", "é", "日本語", "\xF0\x9F\x98\x80",
      "\"", "\\", "\\n", "\\x41", "\"\"", "msgid \"", ",", ";", "#", ":",
      "\n", "\r\n", "\r", "\t", "\a", "\x01", "\x1B", "\x7F", "\"\n", "\n\n",
      "_x000D_", "_x", "&lt;", "<t>"};
  // clang-format on
  std::string text;
  const std::size_t count = random() % 20 == 0 ? 2000 : random() % 8;
  for (std::size_t i = 0; i < count; ++i) {
    text += pieces[random() % pieces.size()];
  }
  return text;
}

// msgfmt --check wants a translation to start and end with a line feed
// exactly when its source does.
std::string matchLineFeeds(std::string target, const std::string& source) {
  if (target.empty()) {
    return target;
  }
  while (target.starts_with('\n')) {
    target.erase(0, 1);
  }
  while (target.ends_with('\n')) {
    target.pop_back();
  }
  return (source.starts_with('\n') ? "\n" : "") + target + (source.ends_with('\n') ? "\n" : "");
}

// With `review`, also what an update writes: previous texts of fuzzy entries
// and obsolete entries. Translators' comments come in any file.
TranslationFile randomFile(std::mt19937& random, std::size_t count, bool review = false) {
  static const std::vector<std::string> comments = {"opcode 1B", "name definition, key 01000000",
                                                    "two\nlines", " spaced ", ""};
  static const std::vector<std::string> scripts = {"a.kr", "with space.kr", "日本/b.kr"};
  TranslationFile file;
  file.scriptEncoding = "cp932";
  file.language = "pt_BR";
  // A header as translators' editors leave it, and their credits.
  file.headerFields =
      "Project-Id-Version: krscript\nLast-Translator: Marta <marta@example.org>\n"
      "Language: pt_BR\nContent-Type: text/plain; charset=UTF-8\nX-Script-Encoding: cp932\n";
  file.headerComment = "Portuguese translation.\n\n  Marta, 2026.";
  for (std::size_t i = 0; i < count; ++i) {
    TranslationEntry entry;
    char context[16];
    std::snprintf(context, sizeof context, "%08zX", i * 0x2F + (random() % 0x2F));
    entry.offset = context;
    entry.comment = comments[random() % comments.size()];
    entry.translatorComment = comments[random() % comments.size()];
    entry.reference = "scenes/" + scripts[random() % scripts.size()] + ":" + context;
    entry.source = randomText(random);
    entry.target = random() % 2 ? matchLineFeeds(randomText(random), entry.source) : "";
    entry.fuzzy = !entry.target.empty() && random() % 4 == 0;  // gettext unmarks empty ones
    if (review && entry.fuzzy && random() % 2 == 0) {
      entry.previousSource = randomText(random);
    }
    entry.obsolete = review && !entry.target.empty() && random() % 10 == 0;
    file.entries.push_back(entry);
  }
  return file;
}

void expectSameEntries(const TranslationFile& read, const TranslationFile& written) {
  ASSERT_EQ(read.entries.size(), written.entries.size());
  for (std::size_t i = 0; i < read.entries.size(); ++i) {
    const TranslationEntry& got = read.entries[i];
    const TranslationEntry& want = written.entries[i];
    SCOPED_TRACE("entry " + want.offset);
    EXPECT_EQ(got.offset, want.offset);
    EXPECT_EQ(got.comment, want.comment);
    EXPECT_EQ(got.translatorComment, want.translatorComment);
    EXPECT_EQ(got.reference, want.reference);
    EXPECT_EQ(got.source, want.source);
    EXPECT_EQ(got.target, want.target);
    EXPECT_EQ(got.fuzzy, want.fuzzy);
    EXPECT_EQ(got.previousSource, want.previousSource);
    EXPECT_EQ(got.obsolete, want.obsolete);
  }
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

template <typename Read>
TranslationFile readOrFail(Read read, std::string_view text) {
  auto result = read(text);
  if (!result) {
    ADD_FAILURE() << result.problem().describe();
    return {};
  }
  return std::move(*result);
}

TEST(TranslationFileTest, PoCsvAndXlsxGiveBackWhatTheyWrite) {
  std::mt19937 random(7);
  const TranslationFile written = randomFile(random, 400, true);

  const std::string po = writePo(written);
  const TranslationFile fromPo = readOrFail(readPo, po);
  EXPECT_EQ(fromPo.scriptEncoding, "cp932");
  EXPECT_EQ(fromPo.language, "pt_BR");
  EXPECT_EQ(fromPo.headerFields, written.headerFields);
  EXPECT_EQ(fromPo.headerComment, written.headerComment);
  expectSameEntries(fromPo, written);
  const std::vector<std::string> poLines = linesOf(po);
  for (const TranslationEntry& entry : fromPo.entries) {
    ASSERT_GE(entry.line, 2u);
    EXPECT_EQ(poLines[entry.line - 2], "");  // entries start after a blank line
    EXPECT_EQ(poLines[entry.line - 1][0], '#');
  }

  // A CSV row can be fuzzy and obsolete both, as a PO entry can: a fuzzy
  // translation whose line goes away must stay fuzzy when the line comes back.
  ASSERT_TRUE(std::any_of(written.entries.begin(), written.entries.end(),
                          [](const TranslationEntry& e) { return e.fuzzy && e.obsolete; }));
  const std::string csv = writeCsv(written);
  const TranslationFile fromCsv = readOrFail(readCsv, csv);
  EXPECT_EQ(fromCsv.scriptEncoding, "cp932");
  expectSameEntries(fromCsv, written);
  const std::vector<std::string> csvLines = linesOf(csv);
  for (const TranslationEntry& entry : fromCsv.entries) {
    EXPECT_TRUE(csvLines[entry.line - 1].starts_with('"' + entry.reference + '"'));
  }

  // A workbook of the CSV's rows, a row's number its line.
  const TranslationFile fromXlsx = readOrFail(readXlsx, xlsxOfCsv(csv));
  EXPECT_EQ(fromXlsx.scriptEncoding, "cp932");
  expectSameEntries(fromXlsx, written);
  for (std::size_t i = 0; i < fromXlsx.entries.size(); ++i) {
    EXPECT_EQ(fromXlsx.entries[i].line, i + 2);
  }
}

// An entry without msgctxt takes its offset from its reference: decimal as
// gettext keeps it, or eight hexadecimal digits as earlier versions wrote.
TEST(TranslationFileTest, EntryListGivesBackWhatItKeeps) {
  std::mt19937 random(11);
  // Texts of a few MiB in all: the list's memory moves to huge pages on the
  // way, and is handed back from there.
  const TranslationFile written = randomFile(random, 10000, true);
  EntryList list;
  for (const TranslationEntry& entry : written.entries) {
    list.add(entry);
  }
  ASSERT_EQ(list.size(), written.entries.size());
  TranslationFile back;
  for (std::size_t i = 0; i < list.size(); ++i) {
    list.get(i, back.entries.emplace_back());
    EXPECT_EQ(list.source(i), written.entries[i].source);
    EXPECT_EQ(list.target(i), written.entries[i].target);
  }
  expectSameEntries(back, written);
}

TEST(TranslationFileTest, ReferenceGivesTheOffset) {
  const struct {
    const char* reference;
    const char* offset;
  } cases[] = {
      {"a.kr:26", "0000001A"},
      {"a.kr:0", "00000000"},
      {"a.kr:0000001A", "0000001A"},
      {"a.kr:00000031", "00000031"},
      {"a.kr:12345678", "00BC614E"},
      {"dir/a.kr:4294967295", "FFFFFFFF"},
      {"a.kr:4294967296", ""},
      {"a.kr:1A", ""},
      {"a.kr", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(translation::offsetAfterColon(c.reference), c.offset) << c.reference;
  }
}

TEST(TranslationFileTest, PoReadsWhatEditorsAndGettextWrite) {
  const std::string po =
      "\xEF\xBB\xBF# translator comment\r\n"
      "msgid \"\"\r\n"
      "msgstr \"\"\r\n"
      "\"Content-Type: text/plain; charset=utf-8\\n\"\r\n"
      "\"X-Script-Encoding: utf-8\\n\"\r\n"
      "\r\n"
      "#: scenes/a\r\n"
      "#: b.kr:0000001a\r\n"
      "#, fuzzy, c-format\r\n"
      "#. opcode 1B\r\n"
      "#| msgid \"old\"\r\n"
      "msgctxt \"0000001a\"\r\n"
      "msgid \"\"\r\n"
      "\"one \\x41\\102\\0033\"\r\n"
      "\"\x01two\\n\"\r\n"
      "msgstr \"ei\" \t\"ns\"\r\n"
      "#, fuzzy\r\n"
      "#~ msgctxt \"00000000\"\r\n"
      "#~ msgid \"gone\"\r\n"
      "#~ msgstr \"weg\"\r\n"
      "msgctxt \"00000002\"\r\n"
      "msgid \"\"\r\n"
      "msgstr \"\"";
  const TranslationFile file = readOrFail(readPo, po);
  EXPECT_FALSE(file.fromSpreadsheet);  // its sources are the script's, or another version's
  EXPECT_EQ(file.scriptEncoding, "utf-8");
  ASSERT_EQ(file.entries.size(), 3u);
  const TranslationEntry& first = file.entries[0];
  EXPECT_EQ(first.offset, "0000001A");
  EXPECT_EQ(first.reference, "scenes/a b.kr:0000001a");
  EXPECT_EQ(first.comment, "opcode 1B");
  EXPECT_EQ(first.source, "one AB\0033\x01two\n");
  EXPECT_EQ(first.target, "eins");
  EXPECT_TRUE(first.fuzzy);
  EXPECT_EQ(first.previousSource, "old");
  EXPECT_FALSE(first.obsolete);
  EXPECT_EQ(first.line, 7u);
  const TranslationEntry& gone = file.entries[1];
  EXPECT_TRUE(gone.obsolete);
  EXPECT_TRUE(gone.fuzzy);
  EXPECT_EQ(gone.offset, "00000000");
  EXPECT_EQ(gone.source, "gone");
  EXPECT_EQ(gone.target, "weg");
  EXPECT_EQ(file.entries[2].line, 21u);
  EXPECT_FALSE(file.entries[2].fuzzy);  // the mark belonged to the obsolete entry
  EXPECT_FALSE(file.entries[2].obsolete);
}

TEST(TranslationFileTest, CsvReadsWhatSpreadsheetsWrite) {
  const TranslationFile file =
      readOrFail(readCsv,
                 "Target,context,Location,source,notes\n"
                 "Hallo,opcode 1B,a.kr:0000001A,Hello,\n"
                 "\"zwei\nZeilen\",,b.kr:00000020,\"two \"\"lines\"\"\",x\n"
                 ",,,,\n"
                 "\n");
  EXPECT_EQ(file.scriptEncoding, "");  // written before the encoding had a column
  EXPECT_TRUE(file.fromSpreadsheet);
  ASSERT_EQ(file.entries.size(), 2u);
  EXPECT_EQ(file.entries[0].target, "Hallo");
  EXPECT_EQ(file.entries[0].comment, "opcode 1B");
  EXPECT_EQ(file.entries[1].offset, "00000020");
  EXPECT_EQ(file.entries[1].source, "two \"lines\"");
  EXPECT_EQ(file.entries[1].target, "zwei\nZeilen");
  EXPECT_EQ(file.entries[1].line, 3u);

  const TranslationFile semicolons =
      readOrFail(readCsv, "location;source;target;context\r\n\"a.kr:0000001A\";\"a;b\";;");
  ASSERT_EQ(semicolons.entries.size(), 1u);
  EXPECT_EQ(semicolons.entries[0].source, "a;b");

  // Lines ended by carriage returns alone; a line feed is then only ever
  // part of a field, and a carriage return inside quotes stays in it.
  const TranslationFile carriageReturns = readOrFail(readCsv,
                                                     "location,source,target,context,encoding\r"
                                                     "a.kr:0000001A,\"two\rlines\",,,cp932\r"
                                                     "a.kr:00000030,\"line\nfeed\",,,\r");
  EXPECT_EQ(carriageReturns.scriptEncoding, "cp932");
  ASSERT_EQ(carriageReturns.entries.size(), 2u);
  EXPECT_EQ(carriageReturns.entries[0].source, "two\rlines");
  EXPECT_EQ(carriageReturns.entries[1].source, "line\nfeed");
  EXPECT_EQ(carriageReturns.entries[1].line, 4u);

  // A spreadsheet's rows may spell one encoding in two cases.
  const TranslationFile cases = readOrFail(readCsv,
                                           "location,source,target,context,encoding\n"
                                           "a.kr:0000001A,a,,,utf-8\n"
                                           "a.kr:00000030,b,,,UTF-8\n");
  EXPECT_EQ(cases.scriptEncoding, "utf-8");
  EXPECT_EQ(cases.entries.size(), 2u);

  // What spreadsheets save besides: "Unicode Text", UTF-16 with tabs, and
  // "CSV" on a Japanese Windows, CP932; both read as the same rows, and say
  // how they were read.
  const std::string rows = "location\tsource\ttarget\na.kr:0000001A\t\u306F\U0001F600\tyes\n";
  std::string utf16 = "\xFF\xFE";
  for (std::size_t at = 0; at < rows.size();) {
    const char32_t character = nextCharacter(rows, at);
    const auto unit = [&utf16](char32_t value) {
      utf16 += static_cast<char>(value & 0xFF);
      utf16 += static_cast<char>(value >> 8);
    };
    if (character > 0xFFFF) {
      unit(0xD800 + ((character - 0x10000) >> 10));
      unit(0xDC00 + ((character - 0x10000) & 0x3FF));
    } else {
      unit(character);
    }
  }
  const TranslationFile unicodeText = readOrFail(readCsv, utf16);
  EXPECT_EQ(unicodeText.readAs, "UTF-16");
  ASSERT_EQ(unicodeText.entries.size(), 1u);
  EXPECT_EQ(unicodeText.entries[0].source, "\u306F\U0001F600");
  EXPECT_EQ(unicodeText.entries[0].target, "yes");
  const TranslationFile japaneseWindows =
      readOrFail(readCsv, "location,source,target\r\na.kr:0000001A,\x82\xCD,\x82\xA2\r\n");
  EXPECT_EQ(japaneseWindows.readAs, "CP932");
  ASSERT_EQ(japaneseWindows.entries.size(), 1u);
  EXPECT_EQ(japaneseWindows.entries[0].source, "\u306F");
  EXPECT_EQ(japaneseWindows.entries[0].target, "\u3044");
  EXPECT_EQ(readOrFail(readCsv, rows).readAs, "");
}

struct Refusal {
  std::string text;
  std::size_t line;
  std::string message;  // a part of it
};

template <typename Read>
void expectRefusals(Read read, const std::vector<Refusal>& refusals) {
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.text);
    const auto result = read(refusal.text);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.problem().where.line, refusal.line);
    EXPECT_NE(result.problem().message.find(refusal.message), std::string::npos)
        << result.problem().message;
  }
}

// A row is written whole, and each of its texts a spreadsheet would cut is
// warned of: the translation as the source, an obsolete entry's without the
// offset it does not have.
TEST(TranslationFileTest, CsvWarnsOfTextsLongerThanACell) {
  TranslationEntry entry;
  entry.offset = "0000001A";
  entry.source = std::string(32767, 'a');
  entry.target = std::string(32768, 'b');
  std::string warnings;
  warnOfLongCells("a.kr", entry, warnings);
  EXPECT_EQ(warnings,
            "a.kr: 0x0000001A: the translation has 32768 characters, more than a spreadsheet "
            "cell holds (32,767): a spreadsheet will cut it\n");
  std::string row;
  appendCsvEntry(row, entry);
  EXPECT_NE(row.find(entry.target), std::string::npos);
  entry.offset = "b.kr:0000001A";
  entry.obsolete = true;
  entry.source += "\U0001F600";
  entry.target.clear();
  warnings.clear();
  warnOfLongCells("a.kr", entry, warnings);
  EXPECT_EQ(warnings,
            "a.kr: the string has 32769 characters, more than a spreadsheet cell holds (32,767): "
            "a spreadsheet will cut it\n");
}

TEST(TranslationFileTest, PoRefusesWithTheLine) {
  const std::string header = "msgid \"\"\nmsgstr \"\"\n\n";
  const std::string entry = "msgctxt \"00000001\"\nmsgid \"a\"\n";
  expectRefusals(
      readPo,
      {
          {header + entry + "msgstr \"b\n", 6, "unterminated"},
          {header + entry + "msgstr \"\\q\"", 6, "unknown escape \\q"},
          {header + entry + "msgstr \"\\0\"", 6, "U+0000"},
          {header + entry + "msgstr \"\\x04\"", 6, "U+0004"},
          {header + entry + "msgstr \"\\xFF\"", 6, "UTF-8"},
          {header + entry + "msgstr \"\xFF\"", 6, "invalid UTF-8"},
          {header + entry + "msgstr \"\" x", 6, "after the closing quote"},
          {header + entry + "msgstr[0] \"\"", 6, "plural"},
          {header + entry + "msgid_plural \"\"", 6, "plural"},
          {header + entry + "msgstr \"\"\n\n" + entry + "msgstr \"\"", 8, "first at line 4"},
          {header + entry + "msgstr \"\"\nmsgstr \"\"", 7, "msgstr without msgid"},
          {header + "msgid \"a\"\nmsgstr \"\"", 4, "without msgctxt"},
          {header + "msgctxt \"1A\"\nmsgid \"a\"\nmsgstr \"\"", 4, "offset"},
          {header + "msgtxt \"1\"", 4, "unknown keyword \"msgtxt\""},
          {header + "# c\n\"a\"", 5, "without a keyword"},
          {"msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=CP932\\n\"", 2,
           "charset \"CP932\""},
      });
}

TEST(TranslationFileTest, CsvRefusesWithTheLine) {
  const std::string header = "location,source,target,context\n";
  expectRefusals(readCsv,
                 {
                     {header + "a:00000001,\"a\n\nb,c,d\n", 2, "unbalanced quote"},
                     {header + "a:00000001,\"a\"b,c,d\n", 2, "after the closing quote"},
                     {header + "a:00000001,a,b\n", 2, "missing column"},
                     {header + "a:00000001,\"\n\",b,c,d\n", 2, "extra column"},
                     {"location,source,context\n", 1, "no column \"target\""},
                     {header + "a:00000001,\x81\x20,b,c\n", 2, "invalid UTF-8, and not CP932"},
                     {std::string("l\0o\0", 4), 1, "UTF-16 without a byte-order mark"},
                     {std::string("\xFF\xFEl\0\n\0\x00\xD8", 8), 2, "invalid UTF-16"},
                     {header + "a.kr,a,b,c\n", 2, "location"},
                     {header + "a:00000001,a,,\n\na:00000001,b,,\n", 4, "first at line 2"},
                     {"location,source,target,context,encoding\n"
                      "a:00000001,a,,,utf-8\na:00000002,b,,,cp932\n",
                      3, "a script has one encoding"},
                     {"location,source,target,context,encoding\n"
                      "a:00000001,a,,,UTF-8\na:00000002,b,,,cp932\n",
                      3, "a script has one encoding"},
                 });
}

// A workbook whose sheet is `rows` (the <row> elements), beside the parts
// one of two shared strings, "location,source,target" and "a:00000001,x,",
// has.
std::string workbookWithRows(const std::string& rows) {
  auto members = readZip(xlsxOfCsv("location,source,target\r\na:00000001,x,\r\n"));
  EXPECT_TRUE(members);
  for (ZipMember& member : *members) {
    if (member.name == "xl/worksheets/sheet1.xml") {
      member.data = "<worksheet><sheetData>" + rows + "</sheetData></worksheet>";
    }
  }
  return writeZip(*members);
}

// A row of a workbook is its line; a problem with a part names the part.
TEST(TranslationFileTest, XlsxRefusesWithWhereAndWhat) {
  const std::string header =
      R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>)"
      R"(<c r="C1" t="s"><v>2</v></c></row>)";
  const auto row = [](const std::string& target) {
    return R"(<row r="7"><c r="A7" t="inlineStr"><is><t>a:00000001</t></is></c>)"
           R"(<c r="B7" t="inlineStr"><is><t>x</t></is></c>)" +
           target + "</row>";
  };
  std::string deep;
  for (int i = 0; i < 1000; ++i) {
    deep = "<a>" + deep + "</a>";
  }
  expectRefusals(
      readXlsx,
      {
          {workbookWithRows(header + row(R"(<c r="C7"><v>7</v></c>)")), 7,
           "the target of row 7 is the number 7: the spreadsheet converted what was "
           "typed; keep the column as text"},
          {workbookWithRows(header + row(R"(<c r="C7" t="e"><v>#NAME?</v></c>)")), 7,
           "is the error #NAME?"},
          {workbookWithRows(header + row(R"(<c r="C7" t="str"><f>1+2</f><v>3</v></c>)")), 7,
           "is the formula =1+2"},
          {workbookWithRows(header + row(R"(<c r="C7" t="s"><v>9</v></c>)")), 0,
           "xl/worksheets/sheet1.xml, line 1: cell C7: shared string 9, of 6"},
          {workbookWithRows(header + row(R"(<c r="B7"><v>1</v></c>)")), 0,
           "cell B7 out of order in row 7"},
          {workbookWithRows("<row>"), 0, "xl/worksheets/sheet1.xml, line 1: not well-formed XML"},
          // Nesting the parser would descend into by recursion, behind a
          // quote in a name and behind "<!...[".
          {workbookWithRows("<q'>" + deep + "<z'/></q'>"), 0, "nested deeper"},
          {workbookWithRows("<!x[>" + deep + "]>"), 0, "nested deeper"},
          {"PK\x03\x04 not a workbook", 0, "not a workbook: "},
      });
  // A spreadsheet leaves out the empty cells at a row's end.
  const TranslationFile read = readOrFail(readXlsx, workbookWithRows(header + row("")));
  ASSERT_EQ(read.entries.size(), 1u);
  EXPECT_EQ(read.entries[0].target, "");
}

// Runs the gettext tools, where installed, on what writePo writes: msgfmt
// must accept it, and readPo must read the same entries from what msgcat,
// msgmerge and msgen write back.
TEST(TranslationFileTest, GettextToolsKeepTheEntries) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the gettext tools through a POSIX shell";
#else
  if (std::system("msgcat --version >/dev/null 2>&1 && msgfmt --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "gettext tools not installed";
  }
  std::mt19937 random(11);
  const TranslationFile written = randomFile(random, 150);
  const std::string in = scratchPath("in.po");
  const std::string out = scratchPath("out.po");
  std::ofstream(in, std::ios::binary) << writePo(written);

  EXPECT_EQ(
      std::system(("msgfmt --check --check-format -o /dev/null '" + in + "' 2>/dev/null").c_str()),
      0);
  const std::vector<std::string> tools = {"msgcat --width=20", "msgcat --no-wrap",
                                          "msgmerge --quiet '" + in + "'", "msgen"};
  for (const std::string& tool : tools) {
    SCOPED_TRACE(tool);
    const std::string command = tool + " '" + in + "' -o '" + out + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream stream(out, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(stream)), {});
    TranslationFile expected = written;
    if (tool == "msgen") {
      for (TranslationEntry& entry : expected.entries) {
        entry.target = entry.target.empty() ? entry.source : entry.target;
      }
    }
    const TranslationFile read = readOrFail(readPo, text);
    EXPECT_EQ(read.headerComment, written.headerComment);
    expectSameEntries(read, expected);
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
#endif
}

// translate-toolkit turns a CSV file into PO with the location as the
// reference and as msgctxt only for a text given twice, and a PO file into
// CSV without the context column: both must read back as the same entries.
TEST(TranslationFileTest, TranslateToolkitFilesReadBack) {
#ifdef _WIN32
  GTEST_SKIP() << "runs translate-toolkit through a POSIX shell";
#else
  if (std::system("csv2po --version >/dev/null 2>&1 && po2csv --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "translate-toolkit not installed";
  }
  TranslationFile written;
  written.scriptEncoding = "utf-8";
  const std::vector<std::string> texts = {"Hello.", "はい。", "Bye.", "はい。", "two\nlines"};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    TranslationEntry entry;
    char context[9];
    std::snprintf(context, sizeof context, "%08zX", 0x1A + i * 0x100);
    entry.offset = context;
    entry.reference = std::string("a.kr:") + context;
    entry.source = texts[i];
    entry.target = i == 2 ? "" : "T" + std::to_string(i);
    written.entries.push_back(entry);
  }
  const std::string base = scratchPath("toolkit");
  std::ofstream(base + ".csv", std::ios::binary) << writeCsv(written);
  std::ofstream(base + ".po", std::ios::binary) << writePo(written);
  ASSERT_EQ(std::system(("csv2po --progress=none '" + base + ".csv' '" + base +
                         "-from-csv.po' >/dev/null 2>&1 && po2csv --progress=none '" + base +
                         ".po' '" + base + "-from-po.csv' >/dev/null 2>&1")
                            .c_str()),
            0);
  for (const bool po : {true, false}) {
    SCOPED_TRACE(po ? "csv2po" : "po2csv");
    std::ifstream stream(base + (po ? "-from-csv.po" : "-from-po.csv"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(stream)), {});
    const TranslationFile read = po ? readOrFail(readPo, text) : readOrFail(readCsv, text);
    ASSERT_EQ(read.entries.size(), written.entries.size());
    for (std::size_t i = 0; i < read.entries.size(); ++i) {
      EXPECT_EQ(read.entries[i].offset, written.entries[i].offset);
      EXPECT_EQ(read.entries[i].source, written.entries[i].source);
      EXPECT_EQ(read.entries[i].target, written.entries[i].target);
    }
  }
  for (const char* suffix : {".csv", ".po", "-from-csv.po", "-from-po.csv"}) {
    std::remove((base + suffix).c_str());
  }
#endif
}

// Saving one entry of a file that any of the tools translators use may have
// written: what is read back is the change and nothing else, and the bytes
// around the entry are those of the file.

// A PO file with CRLF line ends: its strings and comments hold no line feed
// of their own.
std::string withCrlf(std::string_view text) {
  std::string out;
  for (const char c : text) {
    out += c == '\n' ? "\r\n" : std::string(1, c);
  }
  return out;
}

// Strings longer than `width` split over lines as msgcat splits them, each
// keyword then starting with "", and a fuzzy entry's flags as gettext writes
// those of a C string, "#, fuzzy, c-format". An escape and a character stay
// whole.
std::string wrappedAsByMsgcat(std::string_view po, std::size_t width) {
  std::string out;
  while (!po.empty()) {
    const std::size_t lineFeed = po.find('\n');
    std::string_view line = po.substr(0, lineFeed);
    po.remove_prefix(lineFeed == std::string_view::npos ? po.size() : lineFeed + 1);
    const std::string_view end = lineFeed == std::string_view::npos ? "" : "\n";
    const std::size_t quote = line.find('"');
    if (line == "#, fuzzy") {
      out.append("#, fuzzy, c-format").append(end);
      continue;
    }
    if (line.starts_with("#.") || line.starts_with("#:") || line.starts_with("# ") ||
        quote == std::string_view::npos || line.size() - quote <= width) {
      out.append(line).append(end);
      continue;
    }
    std::string_view prefix = line.substr(0, line.starts_with("#~| ")  ? 4
                                             : line.starts_with("#~ ") ? 3
                                             : line.starts_with("#| ") ? 3
                                                                       : 0);
    if (quote > prefix.size()) {
      out.append(line.substr(0, quote)).append("\"\"\n");  // the keyword
    }
    std::string_view text = line.substr(quote + 1, line.size() - quote - 2);
    while (!text.empty()) {
      std::size_t length = 0;
      while (length < text.size() && length < width) {
        if (text[length] == '\\') {
          length += text[length + 1] >= '0' && text[length + 1] <= '7' ? 4 : 2;
        } else {
          ++length;
          while (length < text.size() &&
                 (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            ++length;
          }
        }
      }
      out.append(prefix).append("\"").append(text.substr(0, length)).append("\"");
      text.remove_prefix(length);
      out += text.empty() ? end : "\n";
    }
  }
  return out;
}

// A CSV file as a spreadsheet saves one: its columns in any order, named in
// any case, separated by `separator`, with `lineEnd` after each row, and the
// fields that can be left bare left so at random.
struct CsvForm {
  std::vector<std::string> columns;
  char separator = ',';
  std::string lineEnd = "\r\n";
  bool byteOrderMark = false;
};

std::string spreadsheetCsv(const TranslationFile& file, const CsvForm& form, std::mt19937& random) {
  std::string out = form.byteOrderMark ? "\xEF\xBB\xBF" : "";
  const auto append = [&](const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string& field = fields[i];
      if (i > 0) {
        out += form.separator;
      }
      const bool bare =
          field.find_first_of(std::string("\"\r\n") + form.separator) == std::string::npos;
      if (bare && random() % 2 == 0) {
        out += field;
      } else {
        translation::appendCsvField(out, field);
      }
    }
    out += form.lineEnd;
  };
  append(form.columns);
  for (const TranslationEntry& entry : file.entries) {
    std::vector<std::string> fields;
    for (std::string name : form.columns) {
      std::transform(name.begin(), name.end(), name.begin(),
                     [](char c) { return c == '_' ? ' ' : static_cast<char>(std::tolower(c)); });
      const std::string mark = std::string(entry.fuzzy ? "fuzzy" : "") +
                               (entry.fuzzy && entry.obsolete ? " " : "") +
                               (entry.obsolete ? "obsolete" : "");
      fields.push_back(name == "location"              ? entry.reference
                       : name == "source"              ? entry.source
                       : name == "target"              ? entry.target
                       : name == "context"             ? entry.comment
                       : name == "fuzzy"               ? mark
                       : name == "previous source"     ? entry.previousSource
                       : name == "translator comments" ? entry.translatorComment
                                                       : file.scriptEncoding);
    }
    append(fields);
  }
  return out;
}

// Where line `number` (from 1) of `text` starts, lines counted at `lineBreak`
// as the readers count them.
std::size_t startOfLine(std::string_view text, std::size_t number, char lineBreak) {
  std::size_t at = 0;
  for (std::size_t line = 1; line < number; ++line) {
    at = text.find(lineBreak, at) + 1;
  }
  return at;
}

using EntryEditor = Expected<std::string> (*)(std::string_view, std::string_view,
                                              const EntryChange&);

// Edits entry `index` of `text`, read as `before`, and checks what the edit
// must keep: every other entry as it was read, the bytes before the line the
// entry starts on and after its last line, and the file's line ends. Returns
// the edited text and its reading in `before`.
std::string expectOnlyTheEntryChanged(const std::string& text, TranslationFile& before,
                                      std::size_t index, const EntryChange& change, bool po) {
  const TranslationEntry& entry = before.entries[index];
  SCOPED_TRACE("edit of " + entry.offset);
  const EntryEditor edit = po ? editPoEntry : editCsvEntry;
  Expected<std::string> edited = edit(text, entry.offset, change);
  if (!edited) {
    ADD_FAILURE() << edited.problem().describe();
    return text;
  }
  // In a CSV file of carriage returns alone, they count the lines.
  const std::size_t firstBreak = text.find_first_of("\r\n");
  const bool carriageReturns = !po && text[firstBreak] == '\r' && text[firstBreak + 1] != '\n';
  const char lineBreak = carriageReturns ? '\r' : '\n';
  const std::string_view prefix =
      std::string_view(text).substr(0, startOfLine(text, entry.line, lineBreak));
  std::size_t end = index + 1 < before.entries.size()
                        ? startOfLine(text, before.entries[index + 1].line, lineBreak)
                        : text.size();
  if (po) {
    // An entry ends with its last string; blank lines after it separate it
    // from the next.
    while (end > 0 && text[end - 1] == '\n') {
      const std::size_t previous = end >= 2 ? text.rfind('\n', end - 2) : std::string::npos;
      const std::size_t begin = previous == std::string::npos ? 0 : previous + 1;
      if (text.substr(begin, end - begin).find_first_not_of(" \t\r\n") != std::string::npos) {
        break;
      }
      end = begin;
    }
  } else if (end < text.size()) {
    // The row's line end is the file's, and is kept.
    end -= text[end - 1] == '\n' && text[end - 2] == '\r' ? 2 : 1;
  }
  const std::string_view suffix = std::string_view(text).substr(end);
  EXPECT_TRUE(edited->starts_with(prefix));
  EXPECT_TRUE(edited->ends_with(suffix));
  EXPECT_LE(prefix.size() + suffix.size(), edited->size());
  const auto endsALine = [](std::string_view in) {
    return in.ends_with('\n') || in.ends_with('\r');
  };
  EXPECT_EQ(endsALine(*edited), endsALine(text));
  if (po) {
    const bool crlf = text.find("\r\n") != std::string::npos;
    const auto count = [](std::string_view in, std::string_view what) {
      std::size_t n = 0;
      for (std::size_t at = in.find(what); at != std::string::npos; at = in.find(what, at + 1)) {
        ++n;
      }
      return n;
    };
    EXPECT_EQ(count(*edited, "\r"), crlf ? count(*edited, "\n") : 0);
    EXPECT_EQ(count(*edited, "c-format"), count(text, "c-format"));
  }

  // Saved again, the entry is what it is: nothing changes.
  const Expected<std::string> again = edit(*edited, entry.offset, change);
  EXPECT_TRUE(again && *again == *edited);

  TranslationEntry& changed = before.entries[index];
  changed.target = change.target;
  changed.translatorComment = change.translatorComment;
  changed.fuzzy = false;
  changed.previousSource.clear();
  const TranslationFile after = po ? readOrFail(readPo, *edited) : readOrFail(readCsv, *edited);
  expectSameEntries(after, before);
  EXPECT_EQ(after.headerFields, before.headerFields);
  EXPECT_EQ(after.headerComment, before.headerComment);
  before = after;
  return std::move(*edited);
}

TEST(EntryEditTest, ChangesTheEntryAndNoOtherByte) {
  std::mt19937 random(29);
  TranslationFile written = randomFile(random, 60, true);
  written.entries.back().obsolete = false;  // the last line of every form is an entry's
  const bool gettext =
#ifdef _WIN32
      false;
#else
      std::system("msgcat --version >/dev/null 2>&1 && msgfmt --version >/dev/null 2>&1") == 0;
#endif
  struct Form {
    std::string name;
    std::string text;
    bool po;
    bool translatorComments = true;  // whether the file has a place for them
  };
  const std::string po = writePo(written);
  const std::string crlfWrapped = withCrlf(wrappedAsByMsgcat(po, 11));
  const std::string csv = writeCsv(written);
  std::vector<Form> forms = {
      {"writePo", po, true},
      {"writePo, CRLF", withCrlf(po), true},
      {"wrapped", wrappedAsByMsgcat(po, 24), true},
      {"wrapped, CRLF, no final line end", crlfWrapped.substr(0, crlfWrapped.size() - 2), true},
      {"writeCsv", csv, false},
      {"writeCsv, no final line end", csv.substr(0, csv.size() - 2), false},
  };
  forms.push_back({"semicolons, LF",
                   spreadsheetCsv(written,
                                  {{"Target", "location", "Translator_Comments", "source", "fuzzy",
                                    "previous source", "context"},
                                   ';',
                                   "\n"},
                                  random),
                   false});
  forms.push_back(
      {"tabs, CR, byte-order mark",
       spreadsheetCsv(
           written,
           {{"location", "source", "target", "Fuzzy", "translator comments"}, '\t', "\r", true},
           random),
       false});
  forms.push_back({"three columns",
                   spreadsheetCsv(written, {{"source", "location", "target"}, ',', "\r\n"}, random),
                   false, false});
  if (gettext) {
    const std::string in = scratchPath("edit-in.po");
    const std::string out = scratchPath("edit-out.po");
    std::ofstream(in, std::ios::binary) << po;
    EXPECT_EQ(std::system(("msgcat --width=30 '" + in + "' -o '" + out + "' 2>/dev/null").c_str()),
              0);
    std::ifstream stream(out, std::ios::binary);
    forms.push_back({"msgcat", std::string(std::istreambuf_iterator<char>(stream), {}), true});
    std::remove(in.c_str());
    std::remove(out.c_str());
  }

  const std::vector<std::string> comments = {
      "", "checked", "two\nlines", " spaced ", "\ttab", "#. not the tool's", "a\n", "\n\nafter"};
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    std::string text = form.text;
    TranslationFile before = form.po ? readOrFail(readPo, text) : readOrFail(readCsv, text);
    std::vector<std::size_t> live;
    for (std::size_t i = 0; i < before.entries.size(); ++i) {
      if (!before.entries[i].obsolete) {
        live.push_back(i);
      }
    }
    ASSERT_GT(live.size(), 10u);
    for (int round = 0; round < 40; ++round) {
      // The last entry, whose line end a file may lack, is edited early.
      const std::size_t index = round == 0 ? live.back() : live[random() % live.size()];
      const TranslationEntry& entry = before.entries[index];
      EntryChange change;
      change.target =
          random() % 5 == 0 ? entry.target : matchLineFeeds(randomText(random), entry.source);
      change.translatorComment = !form.translatorComments ? ""
                                 : random() % 5 == 0      ? entry.translatorComment
                                                          : comments[random() % comments.size()];
      text = expectOnlyTheEntryChanged(text, before, index, change, form.po);
      // An entry saved as it was read, reviewed already, keeps its bytes,
      // however its strings were wrapped.
      const TranslationEntry& other = before.entries[live[random() % live.size()]];
      if (!other.fuzzy && other.previousSource.empty()) {
        const Expected<std::string> same = (form.po ? editPoEntry : editCsvEntry)(
            text, other.offset, {other.target, other.translatorComment});
        EXPECT_TRUE(same && *same == text) << other.offset;
      }
    }
    if (gettext && form.po && text.find('\r') == std::string::npos) {
      const std::string path = scratchPath("edited.po");
      std::ofstream(path, std::ios::binary) << text;
      EXPECT_EQ(std::system(("msgfmt --check -o /dev/null '" + path + "' 2>/dev/null").c_str()), 0);
      std::remove(path.c_str());
    }
  }
}

// What a translators' editor or msgmerge makes of an entry: flags beside
// fuzzy, a previous text, strings wrapped, the same offset in an obsolete
// entry; and a spreadsheet's semicolons and bare fields.
TEST(EntryEditTest, EditsWhatEditorsAndSpreadsheetsWrite) {
  const std::string before =
      "# German translation.\n"
      "msgid \"\"\n"
      "msgstr \"\"\n"
      "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
      "\n"
      "#~ msgctxt \"0000001A\"\n"
      "#~ msgid \"Old line\"\n"
      "#~ msgstr \"Alte Zeile\"\n"
      "\n"
      "#. opcode 1B\n"
      "#: scenes/a.kr:26\n"
      "#, fuzzy, c-format\n"
      "#| msgid \"\"\n"
      "#| \"The old text of a long line that \"\n"
      "#| \"msgcat wrapped\"\n"
      "msgctxt \"0000001A\"\n"
      "msgid \"\"\n"
      "\"A long line that msgcat wrapped \"\n"
      "\"over two lines\"\n"
      "msgstr \"\"\n"
      "\"Eine lange Zeile, die msgcat \"\n"
      "\"umbrochen hat\"\n"
      "\n"
      "# keep this\n"
      "#: scenes/a.kr:48\n"
      "#, fuzzy\n"
      "#| msgid \"Nxt\"\n"
      "msgctxt \"00000030\"\n"
      "msgid \"Next\"\n"
      "msgstr \"Weiter?\"\n";
  const std::string after =
      "# German translation.\n"
      "msgid \"\"\n"
      "msgstr \"\"\n"
      "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
      "\n"
      "#~ msgctxt \"0000001A\"\n"
      "#~ msgid \"Old line\"\n"
      "#~ msgstr \"Alte Zeile\"\n"
      "\n"
      "# checked\n"
      "# by Ana\n"
      "#. opcode 1B\n"
      "#: scenes/a.kr:26\n"
      "#, c-format\n"
      "msgctxt \"0000001A\"\n"
      "msgid \"\"\n"
      "\"A long line that msgcat wrapped \"\n"
      "\"over two lines\"\n"
      "msgstr \"\"\n"
      "\"Neu: \\\"zwei\\\"\\n\"\n"
      "\"Zeilen\"\n"
      "\n"
      "# keep this\n"
      "#: scenes/a.kr:48\n"
      "msgctxt \"00000030\"\n"
      "msgid \"Next\"\n"
      "msgstr \"Weiter\"\n";
  const auto editBoth = [](std::string text) {
    for (const auto& [offset, target, comment] :
         {std::tuple{"0000001A", "Neu: \"zwei\"\nZeilen", "checked\nby Ana"},
          std::tuple{"00000030", "Weiter", "keep this"}}) {
      Expected<std::string> edited = editPoEntry(text, offset, {target, comment});
      if (!edited) {
        ADD_FAILURE() << edited.problem().describe();
        return text;
      }
      text = std::move(*edited);
    }
    return text;
  };
  EXPECT_EQ(editBoth(before), after);
  // In CRLF, and without a line end after the last line.
  EXPECT_EQ(editBoth(withCrlf(before.substr(0, before.size() - 1))),
            withCrlf(after.substr(0, after.size() - 1)));

  // The first line of a file without a header, after the byte-order mark;
  // a string continued after a blank line.
  const Expected<std::string> first =
      editPoEntry("\xEF\xBB\xBFmsgctxt \"0000001A\"\nmsgid \"a\"\nmsgstr \"\"\n\n\"old\"\n\n",
                  "0000001A", {"b", "x"});
  ASSERT_TRUE(first) << first.problem().describe();
  EXPECT_EQ(*first, "\xEF\xBB\xBF# x\nmsgctxt \"0000001A\"\nmsgid \"a\"\nmsgstr \"b\"\n\n");

  const std::string csv =
      "location;source;target;fuzzy;previous source;translator comments\n"
      "a.kr:26;Hi;Hallo;obsolete;;\n"
      "a.kr:26;Hello;Hallo;fuzzy;Hi;\n"
      "a.kr:0000002B;\"Bye; now\";Tschüss;;;old note\n";
  Expected<std::string> edited = editCsvEntry(csv, "0000001A", {"Hallo, \"Welt\"", ""});
  ASSERT_TRUE(edited) << edited.problem().describe();
  edited = editCsvEntry(*edited, "0000002B", {"Tschüss", "new\nnote"});
  ASSERT_TRUE(edited) << edited.problem().describe();
  EXPECT_EQ(*edited,
            "location;source;target;fuzzy;previous source;translator comments\n"
            "a.kr:26;Hi;Hallo;obsolete;;\n"
            "a.kr:26;Hello;\"Hallo, \"\"Welt\"\"\";\"\";\"\";\n"
            "a.kr:0000002B;\"Bye; now\";Tschüss;;;\"new\nnote\"\n");
}

TEST(EntryEditTest, RefusesWithWhereAndWhat) {
  const std::string header = "msgid \"\"\nmsgstr \"\"\n\n";
  std::string utf16 = "\xFF\xFE";
  for (const char c : std::string_view("location,source,target\na.kr:0000001A,a,\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  const struct {
    EntryEditor edit;
    std::string text;
    std::string comment;
    std::size_t line;
    std::string message;
  } refusals[] = {
      {editPoEntry, header + "msgctxt \"0000001A\"\nmsgstr \"x\"\n", "", 5, "msgstr without msgid"},
      {editPoEntry, header + "msgctxt \"00000030\"\nmsgid \"a\"\nmsgstr \"\"\n", "", 0,
       "no entry has the offset 0000001A"},
      {editPoEntry, header + "#~ msgctxt \"0000001A\"\n#~ msgid \"a\"\n#~ msgstr \"b\"\n", "", 0,
       "no entry has the offset 0000001A (only an obsolete one, whose string is gone from the "
       "script)"},
      {editCsvEntry, "location,source,target\na.kr:0000001A,\"a,\n", "", 2,
       "unbalanced quote: the field that starts here never ends"},
      {editCsvEntry, "location,source,target\na.kr:00000030,a,\n", "", 0,
       "no entry has the offset 0000001A"},
      {editCsvEntry, utf16, "", 0,
       "saved as UTF-16 by a spreadsheet: save it as CSV UTF-8 to edit it here"},
      {editCsvEntry, "location,source,target\r\na.kr:0000001A,\x82\xCD,\r\n", "", 0,
       "saved as CP932 by a spreadsheet: save it as CSV UTF-8 to edit it here"},
      {editCsvEntry, "location,source,target,fuzzy\na.kr:0000001A,a,,fuzzy\n", "a note", 1,
       "the file has no column for translators' comments"},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.text);
    const Expected<std::string> result =
        refusal.edit(refusal.text, "0000001A", {"t", refusal.comment});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.problem().where.line, refusal.line);
    EXPECT_EQ(result.problem().message, refusal.message);
  }
}

}  // namespace
}  // namespace krlist
