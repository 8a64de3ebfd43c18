#include "batch/PathFilter.h"

#include <gtest/gtest.h>

namespace krlist {
namespace {

struct GlobCase {
  const char* pattern;
  const char* path;
  bool isFolder;
  bool matches;
};

// Each row is one rule of .gitignore's patterns, with the paths just inside
// and just outside it.
constexpr GlobCase kGlobCases[] = {
    // No slash: the last name, at any depth.
    {"*.kr", "a.kr", false, true},
    {"*.kr", "chapter1/scene/a.kr", false, true},
    {"*.kr", "a.kr.json", false, false},
    {"*.kr", "a.kr/readme.txt", false, false},
    {"readme.txt", "docs/readme.txt", false, true},
    // '*' and '?' stay within a name.
    {"a*", "a/b", false, false},
    {"a?c", "abc", false, true},
    {"a?c", "ac", false, false},
    {"*", "x/y", false, true},
    // A slash: from the top of the folder, '*' still within a name.
    {"chapter1/*.kr", "chapter1/a.kr", false, true},
    {"chapter1/*.kr", "chapter1/sub/a.kr", false, false},
    {"chapter1/*.kr", "other/chapter1/a.kr", false, false},
    {"/a.kr", "a.kr", false, true},
    {"/a.kr", "sub/a.kr", false, false},
    // '**' crosses folders as whole names, none included.
    {"**/a.kr", "a.kr", false, true},
    {"**/a.kr", "x/y/a.kr", false, true},
    {"**/a.kr", "x/ya.kr", false, false},
    {"old/**", "old/a.kr", false, true},
    {"old/**", "old/x/y/a.kr", false, true},
    {"old/**", "old", true, false},
    {"a/**/b.kr", "a/b.kr", false, true},
    {"a/**/b.kr", "a/x/y/b.kr", false, true},
    {"a/**/b.kr", "ab.kr", false, false},
    {"a/**b.kr", "a/xb.kr", false, true},  // not a whole name: one '*'
    {"a/**b.kr", "a/x/b.kr", false, false},
    // A last slash: folders only.
    {"old/", "old", true, true},
    {"old/", "old", false, false},
    {"old/", "x/old", true, true},
    // Sets and escapes.
    {"[ab].kr", "b.kr", false, true},
    {"[!ab].kr", "b.kr", false, false},
    {"[^ab].kr", "c.kr", false, true},
    {"[0-9][0-9].kr", "07.kr", false, true},
    {"[0-9][0-9].kr", "7a.kr", false, false},
    {"[]].kr", "].kr", false, true},
    {"[a.kr", "[a.kr", false, true},  // no closing bracket: an ordinary '['
    {"\\*.kr", "*.kr", false, true},
    {"\\*.kr", "a.kr", false, false},
};

TEST(PathFilterTest, MatchesAsGitignoreDoes) {
  for (const GlobCase& row : kGlobCases) {
    EXPECT_EQ(matchesGlob(row.pattern, row.path, row.isFolder), row.matches)
        << "pattern " << row.pattern << ", path " << row.path
        << (row.isFolder ? " (a folder)" : "");
  }
}

TEST(PathFilterTest, IncludesThenExcludesAndNamesFoldersWhole) {
  const PathFilter everything;
  EXPECT_TRUE(everything.takes("bg.png"));
  EXPECT_FALSE(everything.leavesOutFolder("old"));

  const PathFilter scripts({"*.kr", "extra/"}, {"old", "**/test_*"});
  EXPECT_TRUE(scripts.takes("a.kr"));
  EXPECT_TRUE(scripts.takes("sub/a.kr"));
  EXPECT_FALSE(scripts.takes("readme.txt"));
  EXPECT_TRUE(scripts.takes("extra/readme.txt"));  // every file of an included folder
  EXPECT_FALSE(scripts.takes("old/a.kr"));         // nor of an excluded one
  EXPECT_FALSE(scripts.takes("sub/old/deep/a.kr"));
  EXPECT_FALSE(scripts.takes("sub/test_a.kr"));
  EXPECT_TRUE(scripts.leavesOutFolder("sub/old"));
  EXPECT_FALSE(scripts.leavesOutFolder("sub"));
}

}  // namespace
}  // namespace krlist
