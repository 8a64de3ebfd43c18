// Fitting translations to a text box: cell widths, placeholders, line
// wrapping and substitution tables.

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "text/Cells.h"
#include "text/Encoding.h"
#include "text/Utf8.h"
#include "translate/LineWrap.h"
#include "translate/Placeholders.h"
#include "translate/Substitutions.h"
#include "translate/TranslationChecks.h"

namespace krlist {
namespace {

constexpr Encoding kUtf8 = Encoding::Utf8;
constexpr Encoding kCp932 = Encoding::Cp932;

// A family of three: man, woman and girl, joined by zero-width joiners.
#define KRLIST_FAMILY "\U0001F468\u200D\U0001F469\u200D\U0001F467"

TEST(CellsTest, WidthOfEachKindOfCharacter) {
  struct Case {
    std::string_view text;
    std::size_t utf8;
    std::size_t cp932;
  };
  const Case cases[] = {
      {"abc", 3, 3},
      {"こんにちは", 10, 10},  // kana: wide, two bytes
      {"漢字", 4, 4},
      {"ｶﾀｶﾅ", 4, 4},              // half-width katakana: one cell, one byte
      {"ＡＢ", 4, 4},              // fullwidth Latin
      {"αβγ", 3, 6},               // Greek: narrow in Unicode, two bytes in CP932
      {"…", 1, 2},                 // ambiguous width: narrow unless CP932 makes it two
      {"é", 1, 1},                 // not in CP932: measured as in UTF-8
      {"😀", 2, 2},                 // emoji: wide
      {"\xF0\xA0\x80\x80", 2, 2},  // U+20000, an ideograph beyond the BMP
      {"한", 2, 2},
      // A grapheme cluster takes the cells of its first character.
      {"Cafe\u0301", 4, 4},            // a combining accent
      {"\u0301", 0, 0},                // a mark with nothing before it
      {"\u0915\u093F", 1, 1},          // a Devanagari vowel sign (Mc)
      {KRLIST_FAMILY, 2, 2},           // an emoji of three joined
      {"\U0001F44D\U0001F3FD", 2, 2},  // a skin tone
      {"\u2764\uFE0F", 1, 1},          // a variation selector
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textCells(c.text, kUtf8), c.utf8) << c.text;
    EXPECT_EQ(textCells(c.text, kCp932), c.cp932) << c.text;
  }
}

TEST(CellsTest, WideRangesHaveSharpEdges) {
  // The first and last code points of a few ranges, and their neighbours.
  const std::pair<char32_t, bool> edges[] = {
      {0x10FF, false}, {0x1100, true},   {0x115F, true},  {0x1160, false}, {0x303E, true},
      {0x303F, false}, {0x3041, true},   {0xA4C6, true},  {0xA4C7, false}, {0xFF00, false},
      {0xFF01, true},  {0xFF60, true},   {0xFF61, false}, {0xFFE6, true},  {0xFFE7, false},
      {0x3FFFD, true}, {0x3FFFE, false},
  };
  for (const auto& [character, wide] : edges) {
    EXPECT_EQ(isWide(character), wide) << std::hex << static_cast<unsigned>(character);
  }
}

TEST(PlaceholdersTest, FoundWhereAGameActsOnThem) {
  struct Case {
    std::string_view text;
    std::vector<std::string_view> found;
  };
  const Case cases[] = {
      {"Hello %s, %d coins", {"%s", "%d"}},
      {"%1$s and %2$-5.2f, 100%%", {"%1$s", "%2$-5.2f", "%%"}},
      {"%lld %zu %*d", {"%lld", "%zu", "%*d"}},
      {"50% off", {}},  // '%' and a space and 'o': no conversion
      {"{0} met {name}{}", {"{0}", "{name}", "{}"}},
      {"a { b", {}},
      {"<color=red>hot</color><br>", {"<color=red>", "</color>", "<br>"}},
      {"a < b > c", {}},  // '<' then a space: text
      {"line\\nbreak \\\\ \\c", {"\\n", "\\\\", "\\c"}},
      {"\\あ", {"\\あ"}},  // an escaped character is taken whole
      {"trailing \\", {}},
      {"{\nx}", {}},  // a field does not run over a line
  };
  for (const Case& c : cases) {
    EXPECT_EQ(findPlaceholders(c.text), c.found) << c.text;
  }
}

struct WrapCase {
  std::string_view name;  // the test's name, as gtest shows it
  std::size_t width;
  Encoding encoding;
  std::string_view text;
  std::string_view wrapped;
};

// What gtest prints of a case (and CTest names it by): its text, on one
// line, and its width, not the bytes of its pointers.
void PrintTo(const WrapCase& c, std::ostream* out) {
  *out << '"' << visibleText(c.text) << "\" at " << c.width
       << (c.encoding == kCp932 ? " cells of cp932" : " cells");
}

class WrapTest : public ::testing::TestWithParam<WrapCase> {};

TEST_P(WrapTest, BreaksAsTheRulesSay) {
  const WrapCase& c = GetParam();
  EXPECT_EQ(wrapText(c.text, c.width, c.encoding), c.wrapped);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, WrapTest,
    ::testing::Values(
        // A line that fits is left alone.
        WrapCase{"Fits", 10, kUtf8, "short", "short"},
        // At a space, which the line feed replaces; greedily.
        WrapCase{"AtASpace", 5, kUtf8, "abcde fgh", "abcde\nfgh"},
        WrapCase{"Greedily", 10, kUtf8, "the quick brown fox jumps", "the quick\nbrown fox\njumps"},
        // Of several spaces the last breaks; none is left at the end of the
        // line, where it would take a cell.
        WrapCase{"RunOfSpacesDropped", 5, kUtf8, "abc  def", "abc\ndef"},
        WrapCase{"DoubleSpaceAfterAStop", 12, kUtf8, "Hello there.  How are you?",
                 "Hello there.\nHow are you?"},
        // A word is split only when it alone is wider than a line.
        WrapCase{"LongWordSplit", 4, kUtf8, "abcdefghij", "abcd\nefgh\nij"},
        WrapCase{"LongWordSplitLate", 5, kUtf8, "ab abcdefgh", "ab\nabcde\nfgh"},
        // Between two East Asian characters.
        WrapCase{"BetweenKana", 6, kUtf8, "あいうえお", "あいう\nえお"},
        WrapCase{"BetweenHalfWidthKana", 3, kCp932, "ｱｲｳｴｵ", "ｱｲｳ\nｴｵ"},
        // No closing mark starts a line.
        WrapCase{"StopKeptOnItsLine", 6, kUtf8, "あいう。えお", "あい\nう。え\nお"},
        WrapCase{"SmallKanaKeptOnItsLine", 4, kUtf8, "ちょっと", "ちょっ\nと"},
        WrapCase{"ClosingQuoteKeptOnItsLine", 8, kUtf8, "「はい」と言った", "「はい」\nと言った"},
        WrapCase{"EllipsisKeptOnItsLine", 4, kCp932, "あい……", "あ\nい……"},
        WrapCase{"BangFits", 6, kUtf8, "ab cd!", "ab cd!"},
        WrapCase{"BangAfterASpace", 5, kUtf8, "ab cd !", "ab\ncd !"},
        // No opening mark ends one.
        WrapCase{"OpeningQuoteStartsALine", 6, kUtf8, "あい「うえ」", "あい\n「う\nえ」"},
        // Placeholders take no cells and are never split.
        WrapCase{"PlaceholderTakesNoCells", 5, kUtf8, "{player} went home", "{player} went\nhome"},
        WrapCase{"PlaceholdersOnly", 3, kUtf8, "%1$s%2$s<br>", "%1$s%2$s<br>"},
        WrapCase{"PlaceholderNotSplit", 4, kUtf8, "ab{long name}cdef", "ab{long name}cd\nef"},
        // Line feeds already there are kept, each line wrapped alone; a
        // carriage return before one is its line end, not a cell.
        WrapCase{"EachLineAlone", 5, kUtf8, "ab\ncdefgh ij", "ab\ncdefg\nh ij"},
        WrapCase{"EmptyLineKept", 5, kUtf8, "abc\n\nde", "abc\n\nde"},
        WrapCase{"CarriageReturnIsNoCell", 8, kUtf8, "Line one\r\nLine two",
                 "Line one\r\nLine two"},
        WrapCase{"CarriageReturnLineKept", 8, kUtf8, "Line one two\r\nx", "Line one\ntwo\r\nx"},
        // Widths in the script's encoding: Greek is two bytes in CP932.
        WrapCase{"GreekNarrowInUtf8", 7, kUtf8, "αβγ αβγ", "αβγ αβγ"},
        WrapCase{"GreekWideInCp932", 7, kCp932, "αβγ αβγ", "αβγ\nαβγ"},
        // Between Latin and kana only when the Latin word is split.
        WrapCase{"LatinBeforeKana", 5, kUtf8, "OKです", "OKで\nす"},
        WrapCase{"LatinSplitBeforeKana", 3, kUtf8, "OKです", "OK\nで\nす"},
        WrapCase{"WiderThanALine", 1, kUtf8, "あ", "あ"},
        // A character and its marks, or an emoji of several, is one cell or
        // two, and never broken.
        WrapCase{"CombiningAccentTakesNoCell", 4, kUtf8, "Cafe\u0301", "Cafe\u0301"},
        WrapCase{"CombiningAccentNotSplit", 3, kUtf8, "Cafe\u0301", "Caf\ne\u0301"},
        WrapCase{"JoinedEmojiIsOne", 4, kUtf8, "ab " KRLIST_FAMILY, "ab\n" KRLIST_FAMILY},
        WrapCase{"JoinedEmojiBrokenBetween", 2, kUtf8, KRLIST_FAMILY KRLIST_FAMILY,
                 KRLIST_FAMILY "\n" KRLIST_FAMILY},
        WrapCase{"VariationSelectorKept", 2, kUtf8, "\u2764\uFE0F\u2764\uFE0F",
                 "\u2764\uFE0F\u2764\uFE0F"},
        WrapCase{"MarkAfterPlaceholder", 2, kUtf8, "ab{x}\u0301c", "ab{x}\u0301\nc"}),
    [](const ::testing::TestParamInfo<WrapCase>& info) { return std::string(info.param.name); });

// The test's own view of a wrapped text: grapheme clusters, a space alone,
// and placeholders whole.
std::vector<std::string> unitsOf(std::string_view line) {
  std::vector<std::string> units;
  for (std::size_t at = 0; at < line.size();) {
    std::size_t length = placeholderAt(line, at);
    if (length == 0) {
      length = line[at] == ' ' ? 1 : clusterEnd(line, at) - at;
    }
    units.emplace_back(line.substr(at, length));
    at += length;
  }
  return units;
}

char32_t characterOf(const std::string& unit) {
  std::size_t at = 0;
  return unit.size() > 0 && placeholderAt(unit, 0) == 0 ? nextCharacter(unit, at) : U'x';
}

bool isEastAsianUnit(const std::string& unit) {
  const char32_t c = characterOf(unit);
  return isWide(c) || (c >= 0xFF61 && c <= 0xFF9F);
}

// Whether a line could have been broken somewhere: a space with something
// after it that is not a space, or two East Asian characters, with the
// marks allowing it.
bool hasPlaceToBreak(const std::vector<std::string>& units) {
  for (std::size_t i = 1; i < units.size(); ++i) {
    const bool marksAllow =
        !isClosingMark(characterOf(units[i])) && !isOpeningMark(characterOf(units[i - 1]));
    if (units[i] != " " && units[i - 1] == " ") {
      std::size_t end = i - 1;
      while (end > 0 && units[end] == " ") {
        --end;
      }
      if (units[end] != " " && !isClosingMark(characterOf(units[i])) &&
          !isOpeningMark(characterOf(units[end]))) {
        return true;
      }
    }
    if (isEastAsianUnit(units[i - 1]) && isEastAsianUnit(units[i]) && marksAllow) {
      return true;
    }
  }
  return false;
}

TEST(WrapPropertyTest, LinesFitAndNothingButBreaksChanges) {
  const std::vector<std::string_view> alphabet = {
      "a",  "b",  "c",  " ",  " ",    " ",      "あ",     "い",         "漢",
      "。", "、", "「", "」", "ー",   "ょ",     "…",      "ｱ",          "{x}",
      "%d", "\n", "α",  "!",  "\r\n", "\u0301", "\u200D", "\U0001F468", "\uFE0F",
  };
  std::mt19937 random(20261209);
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const std::size_t length = random() % 40;
    for (std::size_t i = 0; i < length; ++i) {
      text += alphabet[random() % alphabet.size()];
    }
    const std::size_t width = 1 + random() % 12;
    const Encoding encoding = round % 2 == 0 ? kUtf8 : kCp932;
    const std::string wrapped = wrapText(text, width, encoding);
    SCOPED_TRACE("width " + std::to_string(width) + (round % 2 == 0 ? " utf-8" : " cp932") +
                 ": \"" + text + "\" -> \"" + wrapped + "\"");

    // Taking the breaks out gives the text back, each break either a run of
    // spaces it replaced or a line feed put in. `broken[k]`: line k + 1 of
    // the result starts after a break that wrapping made.
    std::vector<bool> broken;
    std::size_t i = 0;
    for (std::size_t j = 0; j < wrapped.size(); ++j) {
      if (i < text.size() && wrapped[j] == text[i]) {
        if (wrapped[j] == '\n') {
          broken.push_back(false);
        }
        ++i;
      } else {
        ASSERT_EQ(wrapped[j], '\n');
        broken.push_back(true);
        const std::size_t spaces = i;
        while (i < text.size() && text[i] == ' ') {
          ++i;
        }
        // Never inside a cluster: a line feed put in is never followed by
        // what joins the character before it (a mark after a space may
        // start a line).
        std::size_t at = i;
        ASSERT_FALSE(i == spaces && i < text.size() && isZeroWidth(nextCharacter(text, at)))
            << "a break inside a cluster";
        ASSERT_FALSE(i == spaces && text.substr(0, i).ends_with("\u200D"))
            << "a break after a joiner";
      }
    }
    ASSERT_EQ(i, text.size());

    std::vector<std::string> lines;
    std::stringstream split(wrapped);
    for (std::string line; std::getline(split, line);) {
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();  // a line end, no part of the line
      }
      lines.push_back(line);
    }
    for (std::size_t k = 0; k < lines.size(); ++k) {
      std::vector<std::string> units = unitsOf(lines[k]);
      if (k < broken.size() && broken[k]) {
        EXPECT_TRUE(units.empty() || units.back() != " ")
            << "line " << k + 1 << " ends in a space before a break";
      }
      while (!units.empty() && units.back() == " ") {
        units.pop_back();  // spaces the text had before its own line end hang
      }
      std::size_t cells = 0;
      for (const std::string& unit : units) {
        cells += placeholderAt(unit, 0) > 0 ? 0 : textCells(unit, encoding);
      }
      if (cells > width) {
        EXPECT_FALSE(hasPlaceToBreak(units)) << "line " << k + 1 << " is too wide";
      }
      if (k > 0 && broken[k - 1] && !units.empty()) {
        EXPECT_FALSE(isClosingMark(characterOf(units.front())))
            << "line " << k + 1 << " starts with a closing mark";
      }
      if (k + 1 < lines.size() && broken[k] && !units.empty()) {
        EXPECT_FALSE(isOpeningMark(characterOf(units.back())))
            << "line " << k + 1 << " ends with an opening mark";
      }
    }
    if (::testing::Test::HasFailure()) {
      return;
    }
  }
}

TEST(MeasureTest, WidestLineAndLineCount) {
  const TextExtent extent = measureText("ab\n{name}あいう\nc", kUtf8);
  EXPECT_EQ(extent.widest, 6U);
  EXPECT_EQ(extent.widestLine, 2U);
  EXPECT_EQ(extent.lines, 3U);
  EXPECT_EQ(measureText("", kUtf8).lines, 1U);
  // A carriage return and line feed end one line and take no cell.
  const TextExtent crlf = measureText("abc\r\nd\r\n", kUtf8);
  EXPECT_EQ(crlf.widest, 3U);
  EXPECT_EQ(crlf.lines, 3U);
}

TEST(SubstitutionsTest, ReplacesEveryCharacterOfTheTable) {
  const Expected<Substitutions> table =
      Substitutions::read("\xEF\xBB\xBF# a comment\né\te\r\n\n—\t―\nœ\toe\n\u00AD\t\n", "t.txt");
  ASSERT_TRUE(table) << table.problem().describe();
  EXPECT_EQ(table->apply("Café — œuvre\u00AD."), "Cafe ― oeuvre.");
  EXPECT_EQ(table->apply("plain"), "plain");
}

TEST(SubstitutionsTest, RefusesWhatIsNoTableLine) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"é e\n", "t.txt:1: no tab: a line is CHARACTER, a tab and its replacement"},
      {"# ok\nab\tx\n",
       "t.txt:2: \"ab\" is not one character: a line is CHARACTER, a tab and "
       "its replacement"},
      {"\tx\n",
       "t.txt:1: \"\" is not one character: a line is CHARACTER, a tab and its "
       "replacement"},
      {"é\te\nà\ta\né\tE\n", "t.txt:3: U+00E9 'é' again, first at line 1"},
      {"a\tb\n\xE9\tx\n", "t.txt:2: invalid UTF-8"},
  };
  for (const auto& [text, message] : cases) {
    const Expected<Substitutions> table = Substitutions::read(text, "t.txt");
    ASSERT_FALSE(table) << text;
    EXPECT_EQ(table.problem().describe(), message);
  }
}

// The table installed as an example: each character is one CP932 lacks,
// and each replacement is one it holds.
TEST(SubstitutionsTest, ExampleTableFillsGapsOfCp932) {
  std::ifstream file(KRLIST_EXAMPLE_TABLE, std::ios::binary);
  ASSERT_TRUE(file) << KRLIST_EXAMPLE_TABLE;
  std::stringstream text;
  text << file.rdbuf();
  const Expected<Substitutions> table = Substitutions::read(text.str(), "example");
  ASSERT_TRUE(table) << table.problem().describe();
  std::stringstream lines(text.str());
  std::size_t entries = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    const std::string character = line.substr(0, line.find('\t'));
    const std::string replacement = line.substr(line.find('\t') + 1);
    std::string out;
    EXPECT_TRUE(encodeText(kCp932, character, out)) << character << " is in CP932";
    EXPECT_FALSE(encodeText(kCp932, replacement, out)) << replacement << " is not in CP932";
    EXPECT_EQ(table->apply(character), replacement);
    ++entries;
  }
  EXPECT_GT(entries, 100U);
}

TEST(ChecksTest, WarningsOfATranslationAgainstItsSource) {
  struct Case {
    std::string_view source;
    std::string_view translation;
    std::vector<std::string_view> found;  // "check: message"
  };
  const Case cases[] = {
      {"Hello %s!", "Salut %s!", {}},
      {"%s and %s",
       "%s",
       {"markers: the placeholders differ from the source's: the translation "
        "lacks \"%s\""}},
      {"{a}{b}", "{b}{a}", {}},  // the order may change
      {"<br>",
       "<br><br>",
       {"markers: the placeholders differ from the source's: the "
        "translation adds \"<br>\""}},
      {"%d",
       "%i",
       {"markers: the placeholders differ from the source's: the translation lacks "
        "\"%d\"; the translation adds \"%i\""}},
      {"\u3000はい", " Yes", {}},  // an ideographic space is a space
      {"Yes ", "Oui", {"whitespace: the source ends with 1 space, the translation with 0"}},
      {"Yes", "  Oui", {"whitespace: the source starts with 0 spaces, the translation with 2"}},
      {"x", "0123456789\nab", {"width: line 1 of the translation is 10 cells wide, more than 8"}},
      {"{long placeholder}", "{long placeholder}abc", {}},  // placeholders take no cells
      {"x", "a\nb\nc\nd", {"lines: the translation has 4 lines, more than 3"}},
      {"x", "01234567\nb\nc", {}},       // exactly as wide and as many lines as the box
      {"x", "01234567\u0301\r\nb", {}},  // a mark and a line end take no cell
      {"x", "ありがとう", {"width: line 1 of the translation is 10 cells wide, more than 8"}},
  };
  for (const Case& c : cases) {
    std::vector<EntryProblem> problems;
    checkPresentation(c.source, c.translation, kUtf8, TextBox{8, 3}, Location{}, problems);
    std::vector<std::string> found;
    for (const EntryProblem& problem : problems) {
      EXPECT_FALSE(isError(problem.check));
      found.push_back(std::string(checkName(problem.check)) + ": " + problem.problem.message);
    }
    EXPECT_EQ(found, std::vector<std::string>(c.found.begin(), c.found.end())) << c.translation;
  }
}

// What a spreadsheet does to a source cell it opened as any cell, against
// a source of another version of the script.
TEST(ChecksTest, SpreadsheetChangedTellsAConvertedCellFromAnotherText) {
  struct Case {
    std::string script;
    std::string cell;
    bool changed;
  };
  const std::string full(kSpreadsheetCellUnits, 'a');
  std::string kana;
  for (std::size_t i = 0; i < kSpreadsheetCellUnits; ++i) {
    kana += "\u3042";
  }
  const Case cases[] = {
      {"007", "7", true},
      {"1,234", "1234", true},
      {"0.50", "0.5", true},
      {"1e5", "1.00E+05", true},
      {"100%", "100.00%", true},
      {"1/2", "01/02/26", true},
      {"Mar 1", "03/01/26", true},
      {"=1+1", "2", true},
      {"=1+1", "Err:501", true},
      {"=foo", "#NAME?", true},
      {"Line one\r\nLine two\r", "Line one\nLine two", true},
      {"007", "007", false},              // the same text is no change
      {"Hello", "Hello there", false},    // another version's text
      {"Chapter 7", "7", false},          // a text is not taken for a value
      {"8", "7", false},                  // another number is another version's
      {"=foo", "foo", false},             // not what a spreadsheet shows
      {"12/25 sale", "12/25/26", false},  // only a day and a month alone are a date
      {"a\rb", "a\nb", false},            // the returns are dropped, not made line feeds
      {"ab\r", "a", false},
      // A text longer than a cell holds, cut where the cell is full.
      {full + "bc", full, true},
      {full + "bc", full.substr(1), false},
      {full, full.substr(1), false},  // what a cell holds is not cut
      {kana + "\u3044", kana, true},  // counted in UTF-16 units, not bytes
      {kana + "\u3044", kana.substr(0, kSpreadsheetCellUnits), false},  // as many bytes
      // A character past U+FFFF takes two units: cut between them, it is lost.
      {full.substr(1) + "\U0001F600b", full.substr(1), true},
      {full.substr(1) + "\U0001F600b", full.substr(1) + "\U0001F600", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(spreadsheetChanged(c.script, c.cell), c.changed)
        << visibleText(c.script.substr(0, 40)) << " as " << visibleText(c.cell.substr(0, 40));
  }
  EXPECT_EQ(utf16Units("a\u3042\U0001F600"), 4u);
}

TEST(ChecksTest, EveryUnencodableCharacterEachTimeItOccurs) {
  std::vector<EntryProblem> problems;
  checkEncodable("é, ü and é — ok", kCp932, Location{"t.po", 7, 0, 0x1A}, problems);
  std::vector<std::string> found;
  for (const EntryProblem& problem : problems) {
    EXPECT_EQ(problem.check, Check::Unencodable);
    found.push_back(problem.problem.describe());
  }
  const std::vector<std::string> expected = {
      "t.po:7: the translation holds U+00E9 'é', which cp932 cannot hold",
      "t.po:7: the translation holds U+00FC 'ü', which cp932 cannot hold",
      "t.po:7: the translation holds U+00E9 'é', which cp932 cannot hold",
      "t.po:7: the translation holds U+2014 '—', which cp932 cannot hold",
  };
  EXPECT_EQ(found, expected);
  problems.clear();
  checkEncodable("é, ü and é — ok", kUtf8, Location{}, problems);
  EXPECT_TRUE(problems.empty());
}

// A character that the substitution table put in is the table's to mend:
// the message names its line; the translation's own characters are named as
// the translation's.
TEST(ChecksTest, UnencodableReplacementNamesTheTableLine) {
  const Expected<Substitutions> table =
      Substitutions::read("# for cp932\n\u00E9\t\U0001F600\n\u2014\t\u2015\n", "t.txt");
  ASSERT_TRUE(table) << table.problem().describe();
  std::vector<EntryProblem> problems;
  checkEncodable("Caf\u00E9 \u2014 \u00FC", kCp932, &*table, Location{"t.po", 7, 0, 0x1A},
                 problems);
  std::vector<std::string> found;
  for (const EntryProblem& problem : problems) {
    found.push_back(problem.problem.describe());
  }
  const std::vector<std::string> expected = {
      "t.po:7: the substitution table's line t.txt:2 puts U+1F600 '\U0001F600' in place of "
      "U+00E9 '\u00E9', which cp932 cannot hold",
      "t.po:7: the translation holds U+00FC '\u00FC', which cp932 cannot hold",
  };
  EXPECT_EQ(found, expected);
}

}  // namespace
}  // namespace krlist
