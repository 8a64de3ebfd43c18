// A game's profile, krscript.toml: a full one read and resolved, the bad
// ones of tests/profile/bad refused with the message and place each file
// says, and the walk up to the nearest profile.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "io/Files.h"
#include "profile/Profile.h"

namespace krlist {
namespace {

const std::filesystem::path kCases = KRLIST_PROFILE_CASES;
const std::filesystem::path kNotoCollection =
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";

TEST(ProfileTest, ReadsAndResolvesEveryKey) {
  if (!std::filesystem::exists(kNotoCollection)) {
    GTEST_SKIP() << kNotoCollection << " is not installed";
  }
  const std::filesystem::path folder = kCases / "good";
  Expected<Profile> profile = readProfile(folder / "krscript.toml");
  ASSERT_TRUE(profile) << profile.problem().describe();
  EXPECT_EQ(profile->encoding, Encoding::Cp932);
  EXPECT_EQ(profile->language, "en");
  EXPECT_EQ(profile->include, (std::vector<std::string>{"scenario/**", "*.kr"}));
  EXPECT_EQ(profile->exclude, std::vector<std::string>{"**/test_*"});
  EXPECT_EQ(profile->substitute, folder / "subst.txt");
  EXPECT_EQ(profile->glossary, folder / "terms/names.csv");
  EXPECT_EQ(profile->sourceLanguage, "ja");

  ASSERT_TRUE(profile->box);
  const TextBox& dialogue = *profile->box;
  EXPECT_EQ(dialogue.font, kNotoCollection);
  EXPECT_EQ(dialogue.fontIndex, 0u);
  EXPECT_EQ(dialogue.size, 24u);
  EXPECT_EQ(dialogue.width, 600u);
  EXPECT_EQ(dialogue.lines, 3u);
  EXPECT_EQ(dialogue.lineBreak, "\\n");
  EXPECT_EQ(dialogue.placeholders,
            (std::map<std::string, std::string>{{"%item%", "Potion"}, {"%name%", "Alexander"}}));
  EXPECT_EQ(dialogue.face->advance(U'A'), 608u);

  // Names: another face of [box]'s font, their own width, lines and name.
  ASSERT_EQ(profile->opcodes.size(), 2u);
  const TextBox& names = profile->opcodes.at(0x2B);
  EXPECT_EQ(names.font, kNotoCollection);
  EXPECT_EQ(names.fontIndex, 5u);
  EXPECT_EQ(names.size, 24u);
  EXPECT_EQ(names.width, 200u);
  EXPECT_EQ(names.lines, 1u);
  EXPECT_EQ(names.placeholders,
            (std::map<std::string, std::string>{{"%item%", "Potion"}, {"%name%", "Al"}}));
  EXPECT_EQ(names.face->advance(U'A'), 500u);  // the monospaced face
  EXPECT_EQ(profile->boxFor(0x2B), &names);

  // Menus: the game's own widths, in pixels whatever [box]'s size.
  const TextBox& menus = profile->opcodes.at(0x1B);
  EXPECT_TRUE(menus.font.empty());
  EXPECT_EQ(menus.widths, folder / "menu-widths.txt");
  EXPECT_EQ(menus.defaultWidth, 12u);
  EXPECT_EQ(menus.width, 320u);
  EXPECT_EQ(menus.lines, 3u);
  TextMeasure measure = menus.measure();
  EXPECT_EQ(measure.pixels(measure.measure("A日z")), 10u + 20u + 12u);

  // Strings of any other opcode are drawn in [box].
  EXPECT_EQ(profile->boxFor(0x1C), &dialogue);
  TextMeasure inBox = dialogue.measure();
  EXPECT_EQ(inBox.pixels(inBox.measure("AA")), 30u);  // 1216 units × 24 ÷ 1000, rounded up
}

TEST(ProfileTest, EmptyProfileHasNoBox) {
  Expected<Profile> profile = parseProfile("# nothing yet\n", "krscript.toml");
  ASSERT_TRUE(profile) << profile.problem().describe();
  EXPECT_FALSE(profile->encoding);
  EXPECT_FALSE(profile->box);
  EXPECT_EQ(profile->boxFor(0x1C), nullptr);
}

// Each file of tests/profile/bad says on a line `# expect: MESSAGE` what it
// is refused with; `@/` stands for the folder of the cases.
// The cases that open a font open this one.
TEST(ProfileTest, RefusesBadProfilesWithTheirPlace) {
  if (!std::filesystem::exists("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")) {
    GTEST_SKIP() << "DejaVuSans.ttf is not installed";
  }
  std::size_t checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kCases / "bad")) {
    if (entry.path().extension() != ".toml") {
      continue;
    }
    const std::string text = *readFile(entry.path());
    const std::size_t mark = text.find("# expect: ");
    ASSERT_NE(mark, std::string::npos) << entry.path();
    std::string expected = text.substr(mark + 10, text.find('\n', mark) - mark - 10);
    const std::string folder = pathToUtf8(kCases / "bad") + "/";
    for (std::size_t at = expected.find("@/"); at != std::string::npos;
         at = expected.find("@/", at + folder.size())) {
      expected.replace(at, 2, folder);
    }
    // A font the profile names (in quotes, not in the expected message).
    const std::size_t font = text.find("\"/usr/share/fonts/");
    if (font != std::string::npos &&
        !std::filesystem::exists(text.substr(font + 1, text.find('"', font + 1) - font - 1))) {
      ADD_FAILURE() << entry.path() << " names a font that is not installed";
      continue;
    }
    Expected<Profile> profile = readProfile(entry.path());
    ASSERT_FALSE(profile) << entry.path();
    EXPECT_EQ(profile.problem().describe(), expected) << entry.path();
    ++checked;
  }
  EXPECT_GE(checked, 16u);
}

// A profile cut short anywhere, or with any one byte changed, is read or
// refused with a place: a line of the profile (or of the widths table it
// names) and a message.
TEST(ProfileTest, EveryRefusalSaysWhere) {
  if (!std::filesystem::exists("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")) {
    GTEST_SKIP() << "DejaVuSans.ttf is not installed";
  }
  const std::string text =
      "encoding = \"utf-8\"\n"
      "include = [\"a/**\", \"*.kr\"]\n"
      "[box]\n"
      "font = \"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf\"\n"
      "size = 24\n"
      "width = 600\n"
      "[box.placeholders]\n"
      "\"%n%\" = \"Al\"\n"
      "[box.opcode.1B]\n"
      "widths = \"good/menu-widths.txt\"\n"
      "default = 12\n";
  const std::filesystem::path file = kCases / "krscript.toml";
  ASSERT_TRUE(parseProfile(text, file)) << parseProfile(text, file).problem().describe();
  const std::string widths = pathToUtf8(kCases / "good" / "menu-widths.txt");
  std::size_t read = 0;
  std::size_t refused = 0;
  const auto check = [&](const std::string& changed) {
    Expected<Profile> profile = parseProfile(changed, file);
    if (profile) {
      ++read;
      return;
    }
    ++refused;
    const Problem& problem = profile.problem();
    EXPECT_FALSE(problem.message.empty()) << changed;
    if (problem.where.file == pathToUtf8(file)) {
      const auto lines =
          static_cast<std::uint64_t>(std::count(changed.begin(), changed.end(), '\n'));
      EXPECT_GE(problem.where.line, 1u) << problem.describe() << "\n" << changed;
      EXPECT_LE(problem.where.line, lines + 1) << problem.describe() << "\n" << changed;
    } else {
      EXPECT_EQ(problem.where.file, widths) << problem.describe() << "\n" << changed;
    }
  };
  for (std::size_t cut = 0; cut < text.size(); ++cut) {
    check(text.substr(0, cut));
  }
  const char replacements[] = {'\0', '"', '=', '[', ']', '\n', 'x', '9', '\xFF', '.'};
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::string changed = text;
    changed[at] = replacements[at % std::size(replacements)];
    check(changed);
  }
  // Both kinds were seen: the changes make and break profiles.
  EXPECT_GT(read, 10u);
  EXPECT_GT(refused, 100u);
}

TEST(ProfileTest, FindsTheNearestProfileAbove) {
  const std::filesystem::path top = std::filesystem::path(::testing::TempDir()) / "profile-walk";
  std::filesystem::remove_all(top);
  std::filesystem::create_directories(top / "game" / "scripts" / "chapter1");
  std::filesystem::create_directories(top / "game" / "other" / "krscript.toml");  // a folder
  std::ofstream(top / "game" / "krscript.toml") << "";
  EXPECT_EQ(findProfile(top / "game" / "scripts" / "chapter1"), top / "game" / "krscript.toml");
  EXPECT_EQ(findProfile(top / "game" / "scripts" / "chapter1" / ".."),
            top / "game" / "krscript.toml");
  EXPECT_EQ(findProfile(top / "game" / "other"), top / "game" / "krscript.toml");
  std::ofstream(top / "game" / "scripts" / "krscript.toml") << "";
  EXPECT_EQ(findProfile(top / "game" / "scripts" / "chapter1"),
            top / "game" / "scripts" / "krscript.toml");
  std::filesystem::remove_all(top / "game");
  // With no profile in any folder above, there is none to find.
  std::filesystem::create_directories(top / "bare");
  bool anyAbove = false;
  for (std::filesystem::path at = top; at != at.parent_path(); at = at.parent_path()) {
    anyAbove = anyAbove || std::filesystem::exists(at.parent_path() / "krscript.toml");
  }
  if (!anyAbove) {
    EXPECT_EQ(findProfile(top / "bare"), std::nullopt);
  }
  std::filesystem::remove_all(top);
}

}  // namespace
}  // namespace krlist
