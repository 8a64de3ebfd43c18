// A memory written as TMX must read back as the same units, and the reader
// must take what other tools write and refuse, with the line, what is not
// TMX.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "translate/PoFile.h"
#include "translate/TmxFile.h"

namespace krlist {
namespace {

std::string scratchPath(const std::string& name) {
  static const std::string run = std::to_string(std::random_device{}());
  return testing::TempDir() + "krscript-tmx-" + run + "-" + name;
}

// Pieces that XML, or this writer, treats specially.
std::string randomText(std::mt19937& random) {
  // clang-format off
  static const std::vector<std::string> pieces = {
      "a", "はい。", "……", " ", "\t", "\n", "\r", "\r\n", "&", "&amp;", "<", ">", "]]>",
      "\"", "'", "<seg>", "&#13;", "\x01", "\x1B", "\xEF\xBF\xBE", "\xF0\x9F\x98\x80", "%name%"};
  // clang-format on
  std::string text;
  const std::size_t count = 1 + random() % 6;
  for (std::size_t i = 0; i < count; ++i) {
    text += pieces[random() % pieces.size()];
  }
  return text;
}

std::vector<MemoryUnit> readOrFail(const std::string& text, std::string_view target = {}) {
  Expected<std::vector<MemoryUnit>> read = readTmx(text, "m.tmx", target);
  if (!read) {
    ADD_FAILURE() << read.problem().describe();
    return {};
  }
  return std::move(*read);
}

TEST(TmxFileTest, GivesBackWhatItWrites) {
  std::mt19937 random(28);
  std::vector<MemoryUnit> units;
  std::vector<MemoryUnit> carried;  // those XML can carry
  for (int i = 0; i < 2000; ++i) {
    MemoryUnit unit{randomText(random), randomText(random), 0};
    if (fitsTmx(unit.source) && fitsTmx(unit.target)) {
      carried.push_back(unit);
    }
    units.push_back(std::move(unit));
  }
  std::size_t leftOut = 0;
  const std::string tmx = writeTmx(units, {"ja", "es"}, "1.0.0", leftOut);
  EXPECT_EQ(leftOut, units.size() - carried.size());
  ASSERT_GT(carried.size(), 100u);
  const std::vector<MemoryUnit> read = readOrFail(tmx);
  ASSERT_EQ(read.size(), carried.size());
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].source, carried[i].source);
    EXPECT_EQ(read[i].target, carried[i].target);
  }
}

// A project memory as a CAT tool saves it: properties, notes, inline codes,
// a region in the languages, the source named per unit, CRLF line ends.
TEST(TmxFileTest, ReadsWhatOtherToolsWrite) {
  const std::string tmx =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!DOCTYPE tmx SYSTEM \"tmx11.dtd\">\r\n"
      "<tmx version=\"1.1\">\r\n"
      "  <header creationtool=\"x\" o-tmf=\"x\" adminlang=\"EN-US\" srclang=\"JA-JP\" "
      "datatype=\"plaintext\" segtype=\"paragraph\">\r\n"
      "    <prop type=\"x\">y</prop>\r\n"
      "  </header>\r\n"
      "  <body>\r\n"
      "<!-- Default translations -->\r\n"
      "    <tu changeid=\"a\">\r\n"
      "      <note>a note</note>\r\n"
      "      <prop type=\"file\">a.kr.po</prop>\r\n"
      "      <tuv lang=\"JA-JP\">\r\n"
      "        <seg>こんにちは、<bpt i=\"1\">&lt;b&gt;</bpt>%name%<ept i=\"1\">&lt;/b&gt;</ept>。"
      "</seg>\r\n"
      "      </tuv>\r\n"
      "      <tuv lang=\"EN-GB\" creationid=\"t\">\r\n"
      "        <seg>Hello, <ph x=\"1\">&lt;b/&gt;</ph>%name%.</seg>\r\n"
      "      </tuv>\r\n"
      "      <tuv xml:lang=\"es\"><seg> <ph>{1}</ph> <ph>{2}</ph>\r\n<hi>Hola</hi>, %name%."
      "</seg></tuv>\r\n"
      "    </tu>\r\n"
      "    <tu srclang=\"en\"><tuv xml:lang=\"es\"><seg>Sí</seg></tuv>"
      "<tuv xml:lang=\"en\"><seg>Yes</seg></tuv></tu>\r\n"
      "    <tu><tuv xml:lang=\"ja\"><seg>only</seg></tuv></tu>\r\n"
      "    <tu><tuv xml:lang=\"ja\"><seg>two\r\nlines&#13;</seg></tuv>"
      "<tuv xml:lang=\"en\"><seg><![CDATA[a <b> c]]></seg></tuv></tu>\r\n"
      "  </body>\r\n"
      "</tmx>\r\n";
  const std::vector<MemoryUnit> read = readOrFail(tmx);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[0].source, "こんにちは、<b>%name%</b>。");
  EXPECT_EQ(read[0].target, "Hello, <b/>%name%.");
  EXPECT_EQ(read[0].line, 9u);
  EXPECT_EQ(read[1].source, "Yes");
  EXPECT_EQ(read[1].target, "Sí");
  EXPECT_EQ(read[2].source, "two\nlines\r");
  EXPECT_EQ(read[2].target, "a <b> c");
  const std::vector<MemoryUnit> spanish = readOrFail(tmx, "es-ES");
  ASSERT_EQ(spanish.size(), 2u);
  EXPECT_EQ(spanish[0].target, " {1} {2}\nHola, %name%.");
  EXPECT_EQ(spanish[1].target, "Sí");
}

// po2tmx writes the translated entries of a PO file, and "en" as the
// header's srclang whatever the sources are.
TEST(TmxFileTest, ReadsWhatPo2tmxWrites) {
#ifdef _WIN32
  GTEST_SKIP() << "runs translate-toolkit through a POSIX shell";
#else
  if (std::system("po2tmx --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "translate-toolkit not installed";
  }
  std::mt19937 random(7);
  TranslationFile file;
  for (int i = 0; i < 300; ++i) {
    TranslationEntry entry;
    char context[9];
    std::snprintf(context, sizeof context, "%08X", 0x10 + i * 0x20);
    entry.offset = context;
    entry.source = randomText(random) + std::to_string(i);  // one unit per source
    entry.target = random() % 3 == 0 ? "" : randomText(random) + "x";
    entry.fuzzy = !entry.target.empty() && random() % 5 == 0;
    if (fitsTmx(entry.source) && fitsTmx(entry.target)) {
      file.entries.push_back(entry);
    }
  }
  const std::string po = scratchPath("in.po");
  const std::string tmx = scratchPath("out.tmx");
  std::ofstream(po, std::ios::binary) << writePo(file);
  ASSERT_EQ(std::system(("po2tmx --progress=none -l es --source-language=ja '" + po + "' '" + tmx +
                         "' >/dev/null 2>&1")
                            .c_str()),
            0);
  std::ifstream stream(tmx, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(stream)), {});
  const std::vector<MemoryUnit> read = readOrFail(text);
  std::vector<const TranslationEntry*> translated;
  for (const TranslationEntry& entry : file.entries) {
    if (!entry.target.empty() && !entry.fuzzy) {
      translated.push_back(&entry);
    }
  }
  ASSERT_EQ(read.size(), translated.size());
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].source, translated[i]->source);
    EXPECT_EQ(read[i].target, translated[i]->target);
  }
  std::remove(po.c_str());
  std::remove(tmx.c_str());
#endif
}

TEST(TmxFileTest, RefusesWithTheLine) {
  const std::string head = "<tmx version=\"1.4\">\n<header srclang=\"ja\"/>\n<body>\n";
  const std::string unit = "<tu><tuv xml:lang=\"ja\"><seg>a</seg></tuv></tu>\n";
  std::string deep = head;
  for (int i = 0; i < 100000; ++i) {
    deep += "<hi x='/>'>";
  }
  const struct {
    std::string text;
    std::size_t line;
    std::string says;
  } cases[] = {
      {head + unit + "<tu><tuv><seg>a</tuv></tu>\n</body></tmx>", 5, "not well-formed"},
      {head + unit + "<tu><tuv><seg>a</seg></tuv>\n</body></tmx>", 6, "not well-formed"},
      {head + unit + "</body>", 5, "not well-formed"},
      {head + "<tu>&bad</tu>\n</body></tmx>", 0, ""},  // an unknown entity is text
      {head + "<tu><tuv xml:lang=\"ja\"><seg>&#0;</seg></tuv><tuv xml:lang=\"en\"><seg>b</seg>"
              "</tuv></tu>\n</body></tmx>",
       4, "U+0000"},
      {head + "<tu>\xC3</tu></body></tmx>", 4, "invalid UTF-8"},
      {"\xFF\xFE<\0t\0", 1, "UTF-16"},
      {"<xliff version=\"1.2\"/>", 1, "root element"},
      {"<tmx>\n<header/>\n<body/></tmx>", 2, "srclang"},
      {"", 1, "root element"},
      {deep, 4, "nested deeper"},
  };
  for (const auto& bad : cases) {
    SCOPED_TRACE(bad.text.substr(0, 200));
    const Expected<std::vector<MemoryUnit>> read = readTmx(bad.text, "m.tmx");
    if (bad.line == 0) {
      EXPECT_TRUE(read);
      continue;
    }
    ASSERT_FALSE(read);
    EXPECT_EQ(read.problem().where.file, "m.tmx");
    EXPECT_EQ(read.problem().where.line, bad.line);
    EXPECT_NE(read.problem().message.find(bad.says), std::string::npos) << read.problem().message;
  }
}

}  // namespace
}  // namespace krlist
