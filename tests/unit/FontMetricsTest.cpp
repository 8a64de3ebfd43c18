// Text measured in a game's font: faces read from installed fonts, widths
// tables, and the exact arithmetic of fitting a line. The advances of
// hundreds of characters are checked against the font's own tables by
// tests/font/check_advances.py; here are the golden widths of a few lines
// and what both builds must refuse alike.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unordered_map>

#include "io/Files.h"
#include "text/Encoding.h"
#include "text/FontMetrics.h"
#include "text/Utf8.h"

namespace krlist {
namespace {

const std::filesystem::path kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::filesystem::path kIpaProportional = "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf";
const std::filesystem::path kNotoCollection =
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";

#define SKIP_WITHOUT(font)                                  \
  if (!std::filesystem::exists(font)) {                     \
    GTEST_SKIP() << (font).string() << " is not installed"; \
  }

std::shared_ptr<FontMetrics> open(const std::filesystem::path& path, std::uint32_t face = 0) {
  Expected<std::unique_ptr<FontMetrics>> font = openFont(path, face);
  if (!font) {
    ADD_FAILURE() << font.problem().describe();
    return nullptr;
  }
  return std::move(*font);
}

std::string refusal(const std::filesystem::path& path, std::uint32_t face = 0) {
  Expected<std::unique_ptr<FontMetrics>> font = openFont(path, face);
  return font ? "opened" : font.problem().describe();
}

// Golden widths, their sums taken from the fonts' `hmtx` by hand: a line in
// a Latin face, and a Japanese one in a proportional face with its full-width
// comma and ideographs.
TEST(FontMetricsTest, GoldenLineWidths) {
  SKIP_WITHOUT(kDejaVu);
  TextMeasure latin(open(kDejaVu), 24);
  const TextWidth hello = latin.measure("Hello, world");
  EXPECT_EQ(hello.units, 12132u);  // 142.17 pixels at 24 per em of 2048 units
  EXPECT_TRUE(hello.missing.empty());
  EXPECT_EQ(latin.pixels(hello), 143u);
  EXPECT_TRUE(latin.fits(hello, 143));
  EXPECT_FALSE(latin.fits(hello, 142));
  EXPECT_EQ(latin.advance(U'W'), 2025u);
  EXPECT_EQ(latin.advance(U'é'), 1260u);

  SKIP_WITHOUT(kIpaProportional);
  TextMeasure japanese(open(kIpaProportional), 20);
  const TextWidth greeting = japanese.measure("こんにちは、世界");
  EXPECT_EQ(greeting.units, 14194u);  // 1618 + 1864 + 1864 + 1782 + 1946 + 1024 + 2048 + 2048
  EXPECT_EQ(japanese.pixels(greeting), 139u);  // 138.61
}

TEST(FontMetricsTest, MissingGlyphsAreListedOnceInOrder) {
  SKIP_WITHOUT(kDejaVu);
  TextMeasure measure(open(kDejaVu), 16);
  const TextWidth width = measure.measure("A日本A日\xF0\x9F\x80\x80");  // U+1F000, a mahjong tile
  EXPECT_EQ(width.units, 2 * 1401u);                                    // only the two A's count
  ASSERT_EQ(width.missing.size(), 3u);
  EXPECT_EQ(describeCharacter(width.missing[0]), "U+65E5 '日'");
  EXPECT_EQ(width.missing[1], U'本');
  EXPECT_EQ(width.missing[2], U'\U0001F000');
  EXPECT_FALSE(measure.advance(0x110000));
}

// A collection's faces are told apart: the monospaced faces of this one give
// Latin letters half an em, the proportional ones more.
TEST(FontMetricsTest, FacesOfACollection) {
  SKIP_WITHOUT(kNotoCollection);
  std::shared_ptr<FontMetrics> proportional = open(kNotoCollection, 0);
  std::shared_ptr<FontMetrics> monospaced = open(kNotoCollection, 5);
  ASSERT_TRUE(proportional && monospaced);
  EXPECT_EQ(proportional->unitsPerEm(), 1000u);
  EXPECT_EQ(proportional->advance(U'A'), 608u);
  EXPECT_EQ(monospaced->advance(U'A'), 500u);
  EXPECT_EQ(monospaced->advance(U'、'), 1000u);
  EXPECT_EQ(refusal(kNotoCollection, 10),
            kNotoCollection.string() + ": face 10 is out of range: the file has 10 faces");
}

TEST(FontMetricsTest, RefusesWhatIsNoFont) {
  SKIP_WITHOUT(kDejaVu);
  const std::filesystem::path folder =
      std::filesystem::path(::testing::TempDir()) / "font-metrics-refusals";
  std::filesystem::create_directories(folder);
  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
    return folder / name;
  };
  const std::string font = *readFile(kDejaVu);
  const std::string name = (folder / "").string();
  EXPECT_EQ(refusal(kDejaVu, 1),
            kDejaVu.string() + ": face 1 is out of range: the file has 1 face");
  EXPECT_EQ(refusal(folder / "absent.ttf"),
            name + "absent.ttf: cannot open: No such file or directory");
  EXPECT_EQ(refusal(folder), folder.string() + ": cannot open: Is a directory");
  EXPECT_EQ(refusal(write("text.ttf", "[box]\nsize = 3\n")),
            name + "text.ttf: not a TrueType or OpenType font, nor a collection of them");
  EXPECT_EQ(refusal(write("empty.ttf", "")),
            name + "empty.ttf: not a TrueType or OpenType font, nor a collection of them");
  EXPECT_EQ(refusal(write("cut.ttf", font.substr(0, 40))),
            name + "cut.ttf: a damaged font: its tables cannot be read");
  // A font cut or damaged anywhere opens or is refused, and what opens
  // answers for any character: never a crash (the sanitizer build runs this).
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    std::string bytes = font.substr(0, random() % font.size());
    if (round % 2 == 1) {
      bytes = font;
      for (int flip = 0; flip < 16; ++flip) {
        bytes[random() % bytes.size()] = static_cast<char>(random());
      }
    }
    Expected<std::unique_ptr<FontMetrics>> opened = openFont(write("damaged.ttf", bytes), 0);
    if (opened) {
      for (char32_t c = 0; c < 0x300; ++c) {
        (void)(*opened)->advance(c);
      }
    } else {
      EXPECT_NE(opened.problem().message, "");
    }
  }
  std::filesystem::remove_all(folder);
}

// A face that counts the questions it is asked.
class CountingFace final : public FontMetrics {
 public:
  std::uint32_t unitsPerEm() const override { return 1000; }
  std::unordered_map<char32_t, int> asked;

 protected:
  std::optional<std::uint32_t> readAdvance(char32_t character) override {
    ++asked[character];
    if (character == U'x') {
      return std::nullopt;
    }
    return static_cast<std::uint32_t>(character % 700);
  }
};

// Over random lines: each character is asked of the face once however often
// it comes and in however many sizes, a line's units are the sum of its
// characters', and fits() says exactly what pixels() rounded up says.
TEST(FontMetricsTest, MeasuringProperties) {
  auto face = std::make_shared<CountingFace>();
  TextMeasure measure(face, 13);
  const TextMeasure larger(face, 40);
  std::mt19937 random(11);
  const char32_t alphabet[] = {U'a', U'x', U'é', U'日', U'\U0001F600', U'\u3000', 0x10FFFF};
  for (int round = 0; round < 2000; ++round) {
    std::string line;
    std::uint64_t units = 0;
    const std::size_t length = random() % 30;
    for (std::size_t at = 0; at < length; ++at) {
      const char32_t c = alphabet[random() % std::size(alphabet)];
      appendUtf8(line, c);
      units += c == U'x' ? 0 : c % 700;
    }
    const TextWidth width = measure.measure(line);
    ASSERT_EQ(width.units, units) << line;
    ASSERT_EQ(larger.measure(line).units, units) << line;
    const std::uint64_t pixels = measure.pixels(width);
    // pixels() is the least whole number of pixels that holds the line.
    ASSERT_GE(pixels * 1000, width.units * 13);
    ASSERT_TRUE(pixels == 0 || (pixels - 1) * 1000 < width.units * 13);
    const std::uint64_t box = random() % 300;
    ASSERT_EQ(measure.fits(width, box), pixels <= box) << line << " in " << box;
  }
  for (const auto& [character, times] : face->asked) {
    EXPECT_EQ(times, 1) << describeCharacter(character);
  }
  // Bytes that start no character count as U+FFFD.
  EXPECT_EQ(measure.measure("\xFF").units, 0xFFFDu % 700);
  // A box wider than any line holds even the longest.
  TextWidth huge;
  huge.units = std::uint64_t{1} << 47;
  EXPECT_TRUE(measure.fits(huge, std::uint64_t{1} << 62));
  EXPECT_FALSE(measure.fits(huge, 1000));
}

TEST(WidthsTableTest, ReadsAndMeasures) {
  const std::string text =
      "\xEF\xBB\xBF# widths of the game's own font\r\n"
      "A\t12\r\n"
      "#\t7\n"  // '#' itself, since a tab follows it
      "\n"
      "日\t24\n"
      "\t\t3\n";  // the tab character
  Expected<WidthsTable> table = WidthsTable::read(text, "widths.txt", 10);
  ASSERT_TRUE(table) << table.problem().describe();
  auto face = std::make_shared<WidthsTable>(std::move(*table));
  EXPECT_EQ(face->advance(U'A'), 12u);
  EXPECT_EQ(face->advance(U'#'), 7u);
  EXPECT_EQ(face->advance(U'\t'), 3u);
  EXPECT_EQ(face->advance(U'z'), 10u);  // the default
  // Its pixels are the game's: a size does not scale them.
  TextMeasure measure(face, 40);
  const TextWidth width = measure.measure("A日#z");
  EXPECT_EQ(width.units, 53u);
  EXPECT_EQ(measure.pixels(width), 53u);
  EXPECT_TRUE(measure.fits(width, 53));
  EXPECT_FALSE(measure.fits(width, 52));

  Expected<WidthsTable> noDefault = WidthsTable::read("A\t12\n", "widths.txt", std::nullopt);
  ASSERT_TRUE(noDefault);
  TextMeasure strict(std::make_shared<WidthsTable>(std::move(*noDefault)));
  const TextWidth missing = strict.measure("AzA");
  EXPECT_EQ(missing.units, 24u);
  EXPECT_EQ(missing.missing, std::vector<char32_t>{U'z'});
}

TEST(WidthsTableTest, RefusesBadLinesWithTheirPlace) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"A\t1\nB 2\n",
       "w.txt:2: no tab after the first character: a line is CHARACTER, a tab and "
       "its width in pixels"},
      {"AB\t2\n",
       "w.txt:1: no tab after the first character: a line is CHARACTER, a tab and "
       "its width in pixels"},
      {"A\t\n",
       "w.txt:1: the width of U+0041 'A', \"\", is not a whole number of pixels from 0 "
       "to 65535"},
      {"A\t-1\n",
       "w.txt:1: the width of U+0041 'A', \"-1\", is not a whole number of pixels "
       "from 0 to 65535"},
      {"é\t65536\n",
       "w.txt:1: the width of U+00E9 'é', \"65536\", is not a whole number of "
       "pixels from 0 to 65535"},
      {"A\t12 \n",
       "w.txt:1: the width of U+0041 'A', \"12 \", is not a whole number of pixels "
       "from 0 to 65535"},
      {"A\t1\n\nA\t2\n", "w.txt:3: U+0041 'A' again, first at line 1"},
      {"A\t1\n\xC3\t2\n", "w.txt:2: invalid UTF-8"},
  };
  for (const auto& [text, message] : cases) {
    Expected<WidthsTable> table = WidthsTable::read(text, "w.txt", std::nullopt);
    ASSERT_FALSE(table) << text;
    EXPECT_EQ(table.problem().describe(), message);
  }
}

}  // namespace
}  // namespace krlist
