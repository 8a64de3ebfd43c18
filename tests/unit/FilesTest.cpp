#include "io/Files.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <random>
#include <string>

#include "text/Utf8.h"

namespace krlist {
namespace {

#ifndef _WIN32
// A name is shown as UTF-8 whatever its bytes, as it is when it is UTF-8
// with no backslash, and no two names are shown alike: the text a
// translation file or a page names a script by stands for that one file.
TEST(FilesTest, NamesAreShownAsUtf8AndNeverTwoAlike) {
  // Pieces of names: ASCII, the escape's own characters, UTF-8, Shift-JIS
  // bytes, an overlong form, a surrogate, a sequence cut short.
  const std::string pieces[] = {"a",
                                "\\",
                                "x",
                                "9",
                                "1",
                                "E",
                                "\x91",
                                "\xE6",
                                "\x88",
                                "\xC3\xA9",
                                "\xE6\x97\xA5",
                                "\xC0\xAF",
                                "\xED\xA0\x80",
                                "\xE6\x97"};
  std::mt19937 random(25);
  std::map<std::string, std::string> nameOf;
  for (int i = 0; i < 20000; ++i) {
    std::string name;
    for (std::size_t n = random() % 7; n > 0; --n) {
      name += pieces[random() % std::size(pieces)];
    }
    const std::string text = pathToUtf8(pathFromUtf8(name));
    EXPECT_EQ(findInvalidUtf8(text), std::string::npos) << text;
    if (findInvalidUtf8(name) == std::string::npos && name.find('\\') == std::string::npos) {
      EXPECT_EQ(text, name);
    }
    const auto [known, added] = nameOf.emplace(text, name);
    EXPECT_TRUE(added || known->second == name) << text << " stands for two names";
    EXPECT_EQ(pathFromUtf8(pathToArgument(pathFromUtf8(name))), pathFromUtf8(name));
  }
  EXPECT_EQ(pathToUtf8(pathFromUtf8("\x91\xE6\x88\xEA\x8F\xCD.kr")),
            "\\x91\\xE6\\x88\\xEA\\x8F\\xCD.kr");
  EXPECT_EQ(pathToUtf8(pathFromUtf8("a\\x91/\xC3\xA9\xFF")), "a\\\\x91/\xC3\xA9\\xFF");
}
#endif

}  // namespace
}  // namespace krlist
