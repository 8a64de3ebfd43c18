#include "text/Encoding.h"
#include "text/EncodingVote.h"
#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "json/JsonSource.h"
#include "json/JsonSyntax.h"

namespace krlist {
namespace {

constexpr Encoding kUtf8 = Encoding::Utf8;
constexpr Encoding kCp932 = Encoding::Cp932;

// A second UTF-8 encoder, to feed the tests every character.
std::string toUtf8(char32_t c) {
  static constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
  const int tail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  std::string text(1, static_cast<char>(kLead[tail] | c >> 6 * tail));
  for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) {
    text += static_cast<char>(0x80 | (c >> shift & 0x3F));
  }
  return text;
}

// `value` in the form of a UTF-8 sequence of `length` bytes, whether or not
// that is its shortest form (or a scalar value at all).
std::string sequence(char32_t value, int length) {
  static constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
  const int tail = length - 1;
  std::string text(1, static_cast<char>(kLead[tail] | value >> 6 * tail));
  for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) {
    text += static_cast<char>(0x80 | (value >> shift & 0x3F));
  }
  return text;
}

std::optional<std::string> encoded(Encoding encoding, std::string_view text) {
  std::string out;
  if (encodeText(encoding, text, out)) {
    return std::nullopt;
  }
  return out;
}

TEST(EncodingTest, NamesAreExact) {
  for (Encoding encoding : {kUtf8, kCp932}) {
    EXPECT_EQ(encodingFromName(encodingName(encoding)), encoding);
  }
  for (const char* name : {"UTF-8", "utf8", "CP932", "shift_jis", "cp932 ", ""}) {
    EXPECT_FALSE(encodingFromName(name)) << name;
  }
}

// Every string of one or two bytes: exactly the exact ones decode, and what
// they decode to encodes back to them.
TEST(EncodingTest, Cp932ExactBytesRoundTrip) {
  for (unsigned code = 1; code < 0x10000; ++code) {
    std::string bytes = code > 0xFF ? std::string{static_cast<char>(code >> 8)} : "";
    bytes += static_cast<char>(code);
    std::string text = "keep";
    const bool exact = isExactText(kCp932, bytes);
    ASSERT_EQ(decodeExactText(kCp932, bytes, text), exact) << std::hex << code;
    if (exact) {
      ASSERT_EQ(encoded(kCp932, text.substr(4)), bytes) << code;
    } else {
      ASSERT_EQ(text, "keep") << code;
    }
  }
}

// Every encodable BMP character gives exact text, which decodes back to it:
// nothing is written by best fit, in the code of a similar character.
TEST(EncodingTest, Cp932EncodingsAreExactText) {
  for (char32_t c = 1; c < 0x10000; ++c) {
    const std::optional<std::string> bytes = encoded(kCp932, toUtf8(c));
    std::string text;
    if (c >= 0xD800 && c <= 0xDFFF) {
      EXPECT_FALSE(bytes);
    } else if (bytes) {
      ASSERT_TRUE(decodeExactText(kCp932, *bytes, text)) << describeCharacter(c);
      ASSERT_EQ(text, toUtf8(c));
    }
  }
  EXPECT_FALSE(encoded(kCp932, "\u00A2"));  // ¢: Windows has only the full-width ￠
}

TEST(EncodingTest, Cp932GoldenCases) {
  const std::pair<std::string, std::string> exact[] = {
      {"\x82\xA0", "あ"},       {"\x8A\xBF\x8E\x9A", "漢字"},
      {"\\~\xB1\xDF", "\\~ｱﾟ"}, {"\x80\xA0\xFD\xFF", "\u0080\uF8F0\uF8F1\uF8F3"},
      {"\xF0\x40", "\uE000"},   {"0123456789\x81\xE6+0123456789", "0123456789∵+0123456789"}};
  for (const auto& [bytes, text] : exact) {
    std::string decoded = "x";
    EXPECT_TRUE(decodeExactText(kCp932, bytes, decoded)) << text;
    EXPECT_EQ(decoded, "x" + text);
    EXPECT_EQ(encoded(kCp932, text), bytes);
  }
  // Duplicates of characters written in another code: ∵ is written in JIS
  // X 0208, ⅰ and 髙 in the IBM extensions rather than the NEC-selected ones.
  EXPECT_FALSE(isExactText(kCp932, "\x87\x9A"));
  EXPECT_EQ(encoded(kCp932, "\u2235"), "\x81\xE6");
  EXPECT_FALSE(isExactText(kCp932, "\xEE\xEF"));
  EXPECT_EQ(encoded(kCp932, "\u2170"), "\xFA\x40");
  EXPECT_EQ(encoded(kCp932, "\u9AD9"), "\xFB\xFC");
  // A lead byte ends the view even though a trail byte follows it in memory.
  const std::string_view notExact[] = {"\x81",     "ab\x81",   std::string_view("\x82\xA0", 1),
                                       "\x81\x20", "\x81\x7F", "\x81\xFD",
                                       "\x85\x40"};
  for (std::string_view bytes : notExact) {
    EXPECT_FALSE(isExactText(kCp932, bytes)) << bytes;
  }
}

TEST(EncodingTest, Utf8IsExactWhenWellFormed) {
  for (char32_t c = 1; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {
    ASSERT_EQ(encoded(kUtf8, toUtf8(c)), toUtf8(c)) << describeCharacter(c);
  }
  const std::pair<std::string_view, std::size_t> malformed[] = {
      {"a\xC0\x80", 1},
      {"\xC1\xBF", 0},
      {"\xE0\x9F\xBF", 0},
      {"ab\xED\xA0\x80", 2},
      {"\xF0\x8F\xBF\xBF", 0},
      {"\xF4\x90\x80\x80", 0},
      {"\xF5\x80\x80\x80", 0},
      {"ｱ\x80", 3},
      {"\xFF", 0},
      {std::string_view("\xE2\x82\xAC", 2), 0},
      {"\xE2\x82x", 0},
      {std::string_view("ab\xF0\x9F\x98\x80", 5), 2}};
  for (const auto& [bytes, offset] : malformed) {
    std::string text = "keep";
    EXPECT_FALSE(decodeExactText(kUtf8, bytes, text)) << bytes;
    EXPECT_EQ(text, "keep");
    for (Encoding encoding : {kUtf8, kCp932}) {
      const std::optional<UnencodableCharacter> error = encodeText(encoding, bytes, text);
      ASSERT_TRUE(error) << bytes;
      EXPECT_EQ(error->character, U'\uFFFD');
      EXPECT_EQ(error->offset, offset) << bytes;
      EXPECT_EQ(text, "keep");
    }
  }
}

TEST(EncodingTest, EncodeNamesTheFirstUnencodableCharacter) {
  // A 0x00 byte at each place of a run of ASCII, which is read a word at a time.
  for (std::size_t at = 0; at < 20; ++at) {
    std::string text(20, 'a');
    text[at] = '\0';
    for (Encoding encoding : {kUtf8, kCp932}) {
      EXPECT_FALSE(isExactText(encoding, text));
      std::string out = "keep";
      const std::optional<UnencodableCharacter> error = encodeText(encoding, text, out);
      ASSERT_TRUE(error);
      EXPECT_EQ(error->character, U'\0');
      EXPECT_EQ(error->offset, at);
      EXPECT_EQ(out, "keep");
    }
  }
  std::string out = "keep";
  for (const auto& [text, character, offset] :
       {std::tuple{"aé", U'é', 1}, {"漢😀ab", U'😀', 3}, {"ｱ\u2171é", U'é', 6}}) {
    const std::optional<UnencodableCharacter> error = encodeText(kCp932, text, out);
    ASSERT_TRUE(error) << text;
    EXPECT_EQ(error->character, character);
    EXPECT_EQ(error->offset, static_cast<std::size_t>(offset));
    EXPECT_EQ(out, "keep");
  }
}

TEST(EncodingTest, DescribeCharacter) {
  EXPECT_EQ(describeCharacter(U'é'), "U+00E9 'é'");
  EXPECT_EQ(describeCharacter(U' '), "U+0020 ' '");
  EXPECT_EQ(describeCharacter(U'😀'), "U+1F600 '😀'");
  for (const auto& [control, name] : {std::pair{U'\0', "U+0000"},
                                      {U'\x1F', "U+001F"},
                                      {U'\x7F', "U+007F"},
                                      {U'\x85', "U+0085"},
                                      {U'\u2028', "U+2028"}}) {
    EXPECT_EQ(describeCharacter(control), name);
  }
}

// The strings of a run tell its encoding together, by the bytes of text in
// each; plain ASCII tells nothing, and then the choice is cp932.
TEST(EncodingTest, StringsOfARunVoteTogether) {
  EncodingVote run;
  EXPECT_EQ(run.told(), std::nullopt);
  EXPECT_FALSE(run.guessed());  // no string at all: nothing was guessed for
  run.add("Start");
  run.add("\x81");  // a lead byte alone: text in neither
  EXPECT_EQ(run.told(), std::nullopt);
  EXPECT_TRUE(run.guessed());
  EXPECT_EQ(run.choice(), kCp932);

  EncodingVote script;
  script.add("Wait\xE2\x80\x94");  // "Wait—": 7 bytes of UTF-8, not cp932
  run.add(script);
  EXPECT_EQ(run.told(), kUtf8);
  run.add("\x82\xCD\x82\xA2");  // "はい" in cp932: 4 bytes against UTF-8's 7
  EXPECT_EQ(run.told(), kUtf8);
  run.add("\x96\xBC\x91\x4F");  // "名前" in cp932: 8 against 7
  EXPECT_EQ(run.told(), kCp932);
  EXPECT_EQ(run.choice(), kCp932);
  EXPECT_FALSE(run.guessed());
}

// Every scalar value is written in its shortest form and read back whole,
// whatever follows it; every other form is refused at its first byte.
TEST(Utf8Test, ScalarValuesRoundTripAndNothingElseIsRead) {
  for (char32_t c = 0; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {
    char bytes[4 + 1];
    const std::size_t length = static_cast<std::size_t>(putUtf8(bytes, c) - bytes);
    ASSERT_EQ(std::string(bytes, length), toUtf8(c)) << describeCharacter(c);
    bytes[length] = '\x80';  // a continuation byte after it is not taken
    const Utf8Character read = readUtf8(std::string_view(bytes, length + 1), 0);
    ASSERT_EQ(read.code, c);
    ASSERT_EQ(read.length, length);
  }
  std::vector<std::string> malformed;
  for (int length = 2; length <= 4; ++length) {  // overlong: a value with a shorter form
    const char32_t shortest[] = {0, 0x80, 0x800, 0x10000};
    for (char32_t value = 0; value < shortest[length - 1]; value += 1 + value / 64) {
      malformed.push_back(sequence(value, length));
    }
  }
  for (char32_t surrogate = 0xD800; surrogate <= 0xDFFF; ++surrogate) {
    malformed.push_back(sequence(surrogate, 3));
  }
  for (char32_t beyond = 0x110000; beyond <= 0x1FFFFF; beyond += 0x1001) {
    malformed.push_back(sequence(beyond, 4));
  }
  for (const char32_t c :
       {U'\u0080', U'\u07FF', U'\u0800', U'\uFFFD', U'\U00010000', U'\U0010FFFF'}) {
    const std::string whole = toUtf8(c);
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {  // cut short, at the end or not
      malformed.push_back(whole.substr(0, cut));
      malformed.push_back(whole.substr(0, cut) + "a");
    }
  }
  for (int byte = 0x80; byte <= 0xBF; ++byte) {  // a stray continuation byte
    malformed.push_back(std::string(1, static_cast<char>(byte)) + "a");
  }
  for (const int lead : {0xC0, 0xC1, 0xF5, 0xF8, 0xFC, 0xFE, 0xFF}) {  // no character's lead
    malformed.push_back(std::string(1, static_cast<char>(lead)) + "\x80\x80\x80");
  }
  for (const std::string& bytes : malformed) {
    ASSERT_EQ(readUtf8(bytes, 0).length, 0U) << ::testing::PrintToString(bytes);
    ASSERT_EQ(findInvalidUtf8("ok" + bytes), 2U) << ::testing::PrintToString(bytes);
    std::size_t at = 0;
    ASSERT_EQ(nextCharacter(bytes, at), U'\uFFFD');
    ASSERT_EQ(at, 1U);
  }
}

// A cut keeps the longest start (or end) of a text that holds only whole
// characters, for every length, in random texts of characters of every size.
TEST(Utf8Test, CutsFallBetweenCharacters) {
  const char32_t characters[] = {U'a', U'\u00E9', U'\u0301', U'\u65E5', U'\U0001F600'};
  std::mt19937 random(20261210);
  for (int round = 0; round < 500; ++round) {
    std::string text;
    std::vector<std::size_t> boundaries = {0};
    for (std::size_t count = random() % 12; count > 0; --count) {
      appendUtf8(text, characters[random() % std::size(characters)]);
      boundaries.push_back(text.size());
    }
    for (std::size_t most = 0; most <= text.size() + 1; ++most) {
      std::size_t start = 0;          // the last boundary at or before `most`
      std::size_t end = text.size();  // the first boundary at or after size - most
      for (const std::size_t boundary : boundaries) {
        start = boundary <= most ? boundary : start;
        if (boundary + most >= text.size() && boundary < end) {
          end = boundary;
        }
      }
      ASSERT_EQ(cutBetweenCharacters(text, most), text.substr(0, start)) << text << " " << most;
      ASSERT_EQ(lastBetweenCharacters(text, most), text.substr(end)) << text << " " << most;
    }
  }
}

// What a terminal would act on is shown in the form a JSON report gives it.
TEST(Utf8Test, VisibleTextShowsControlsAndBadBytes) {
  EXPECT_EQ(visibleText("a\x1B]0;PWNED\x07\nb\x7F\xC2\x9B\xFF \xC3\xA9\t"),
            "a\\u001B]0;PWNED\\u0007\\nb\\u007F\\u009B\\uFFFD \xC3\xA9\\u0009");
  EXPECT_EQ(visibleText("plain \xE6\x97\xA5\xF0\x9F\x98\x80"),
            "plain \xE6\x97\xA5\xF0\x9F\x98\x80");
}

// The JSON reader refuses a string as invalid UTF-8 exactly where the UTF-8
// reader finds the first byte that starts no character, and takes it whole
// otherwise; a character past ASCII where JSON wants something else is shown
// whole, in the message of what JSON wanted there.
TEST(Utf8Test, JsonStringsAreReadByTheSameRules) {
  const std::string_view pieces[] = {
      "a",        "\xC3\xA9",         "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\x80", "\xC3",
      "\xE6\x97", "\xF4\x90\x80\x80", "\xED\xA0\x80", "\xC0\xAF",         "\xFF", "\\n"};
  std::mt19937 random(1210);
  for (int round = 0; round < 3000; ++round) {
    std::string content;
    for (std::size_t count = random() % 6; count > 0; --count) {
      content += pieces[random() % std::size(pieces)];
    }
    const std::string json = "\"" + content + "\"";
    JsonSource source(json);
    const std::optional<JsonSyntaxError> error = findSyntaxError(source, JsonNext::Value, 0);
    const std::size_t bad = findInvalidUtf8(content);
    if (bad == std::string::npos) {
      EXPECT_FALSE(error) << ::testing::PrintToString(json) << " " << error->message;
    } else {
      ASSERT_TRUE(error) << ::testing::PrintToString(json);
      EXPECT_EQ(error->message, "invalid UTF-8") << ::testing::PrintToString(json);
      EXPECT_EQ(error->place.offset, 1 + bad) << ::testing::PrintToString(json);
    }
  }
  const std::pair<std::string_view, std::string_view> misplaced[] = {
      {"\"\\\xC3\xA9\"",
       "syntax error while parsing value - invalid string: forbidden character after "
       "backslash; last read: '\"\\\xC3\xA9'"},
      {"\"\\u00\xE6\x97\xA5\"",
       "syntax error while parsing value - invalid string: '\\u' must be followed by 4 hex "
       "digits; last read: '\"\\u00\xE6\x97\xA5'"},
      {"tr\xC3\xA9", "syntax error while parsing value - invalid literal; last read: 'tr\xC3\xA9'"},
      {"\"\\\xC3x\"", "invalid UTF-8"},
      {"tr\xE9", "invalid UTF-8"},
  };
  for (const auto& [json, message] : misplaced) {
    JsonSource source(json);
    const std::optional<JsonSyntaxError> error = findSyntaxError(source, JsonNext::Value, 0);
    ASSERT_TRUE(error) << json;
    EXPECT_EQ(error->message, message);
    // Named at the first byte of the character, whose column counts characters.
    EXPECT_EQ(error->place.offset, json.find_first_of("\xC3\xE6\xE9"));
  }
}

}  // namespace
}  // namespace krlist
