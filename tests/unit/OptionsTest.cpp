#include "krscript/Options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace krlist {
namespace {

struct UsageErrorCase {
  std::vector<std::string> arguments;
  const char* message;
};

// Each command line that cannot run, and what the program says of it.
const UsageErrorCase kUsageErrors[] = {
    {{}, "no command given"},
    {{"list", "a.kr"}, "unknown command 'list'"},
    {{"dump", "a.kr", "--colour"}, "unknown option '--colour'"},
    {{"dump", "a.kr", "-o"}, "-o needs a path"},
    {{"dump", "a.kr", "-o", ""}, "-o needs a path, not an empty one"},
    {{"dump", "a.kr", "--output="}, "--output needs a path, not an empty one"},
    {{"dump", "a.kr", "-o", "a.json", "-o", "b.json"}, "-o is given twice"},
    {{"dump", "a.kr", "-oa.json", "--output=b.json"}, "--output is given twice"},
    {{"dump", "a", "-j", "1", "-j2"}, "-j is given twice"},
    {{"dump", "a", "-j0"}, "-j needs a number of files at once, 1 to 256"},
    {{"dump", "a", "--jobs=257"}, "--jobs needs a number of files at once, 1 to 256"},
    {{"dump", "a", "-j", "2x"}, "-j needs a number of files at once, 1 to 256"},
    {{"dump", "a", "--encoding", "latin-1"}, "unknown encoding 'latin-1' (auto, utf-8 or cp932)"},
    {{"extract", "a", "-o", "b", "--format", "xliff"},
     "--format needs po or csv (extract), text or json (lint)"},
    {{"extract", "a", "-o", "b", "--format", "json"}, "--format needs po or csv"},
    {{"lint", "a", "b", "--format", "csv"}, "lint --format needs text or json"},
    {{"dump", "a", "--wrap", "30"}, "--wrap and --substitute are for inject and lint"},
    {{"inject", "a", "b", "-o", "c", "--width", "30"}, "--width and --lines are for lint"},
    {{"dump", "a", "--include"}, "--include needs a pattern"},
    {{"dump", "a", "--exclude="}, "--exclude needs a pattern, not an empty one"},
    {{"dump", "a", "--fail-fast=yes"}, "--fail-fast takes no value"},
    {{"dump", "a", "-hx"}, "unknown option '-hx'"},
    {{"dump"}, "dump takes one input path"},
    {{"dump", "a", "b"}, "dump takes one input path"},
    {{"inject", "a", "-o", "b"}, "inject takes a script or folder and its translations"},
    {{"check"}, "check takes one or more input path"},
    {{"build", "a.kr.json"}, "build needs -o OUT"},
};

TEST(OptionsTest, UsageErrorsSayWhatIsWrong) {
  for (const UsageErrorCase& row : kUsageErrors) {
    const Expected<Options> parsed = parseOptions(row.arguments);
    std::string line;
    for (const std::string& argument : row.arguments) {
      line += " '" + argument + "'";
    }
    ASSERT_FALSE(parsed) << "krscript" << line;
    EXPECT_EQ(parsed.problem().describe(), row.message) << "krscript" << line;
  }
}

TEST(OptionsTest, ValuesAttachedOrApartAndPatternsInOrder) {
  const Expected<Options> parsed =
      parseOptions({"extract", "-j1", "-opo", "--format=csv", "--encoding", "cp932", "--include",
                    "*.kr", "--exclude=old/", "--include=extra/", "--fail-fast", "--", "-game"});
  ASSERT_TRUE(parsed) << parsed.problem().describe();
  EXPECT_EQ(parsed->command, Command::Extract);
  EXPECT_EQ(parsed->inputs, std::vector<std::string>{"-game"});
  EXPECT_EQ(parsed->jobs, 1u);
  EXPECT_EQ(parsed->output, "po");
  EXPECT_EQ(parsed->format, TranslationFormat::Csv);
  EXPECT_EQ(parsed->encoding, Encoding::Cp932);
  EXPECT_EQ(parsed->include, (std::vector<std::string>{"*.kr", "extra/"}));
  EXPECT_EQ(parsed->exclude, (std::vector<std::string>{"old/"}));
  EXPECT_TRUE(parsed->failFast);

  const Expected<Options> help = parseOptions({"inject", "--help"});
  ASSERT_TRUE(help);
  EXPECT_TRUE(help->help);
  EXPECT_EQ(help->command, Command::Inject);
}

}  // namespace
}  // namespace krlist
