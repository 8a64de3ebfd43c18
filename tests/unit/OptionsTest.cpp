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
    {{"extract", "a", "-o", "b", "--format", "xliff"}, "--format needs po, csv or xlsx"},
    {{"extract", "a", "-o", "b", "--format", "json"}, "--format needs po, csv or xlsx"},
    {{"lint", "a", "b", "--format", "csv"}, "lint --format needs text or json"},
    {{"lint", "a", "b", "--format"}, "--format needs text or json"},
    // An option of another command is refused whatever its value, before
    // the value is looked at.
    {{"dump", "a", "--wrap", "30"}, "dump does not take --wrap"},
    {{"dump", "a", "--wrap", "5"}, "dump does not take --wrap"},
    {{"dump", "a", "--wrap", "x"}, "dump does not take --wrap"},
    {{"inject", "a", "b", "-o", "c", "--width", "30"}, "inject does not take --width"},
    {{"lint", "a", "b", "--similarity", "0.5"}, "lint does not take --similarity"},
    {{"extract", "a", "-o", "b", "--similarity", "0.3"}, "extract does not take --similarity"},
    {{"dump", "a", "--language", "es"}, "dump does not take --language"},
    {{"build", "a", "-o", "b", "--encoding", "cp932"}, "build does not take --encoding"},
    {{"lint", "a", "b", "-o", "x"}, "lint does not take -o"},
    {{"check", "a", "-o", "x"}, "check does not take -o"},
    {{"check", "a", "--output=x"}, "check does not take --output"},
    {{"--format", "csv", "lint", "a", "b"}, "lint --format needs text or json"},
    // Only dump writes its output to standard output.
    {{"build", "a", "-o", "-"}, "build writes files, not standard output"},
    {{"html", "a", "--output=-"}, "html writes files, not standard output"},
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

// A value each option takes, for the command given.
std::string sampleValue(const std::string& option, const std::string& command) {
  if (option == "--format") {
    return command == "lint" ? "json" : "csv";
  }
  const std::pair<const char*, const char*> values[] = {
      {"-o", "out"},         {"--encoding", "utf-8"}, {"--width", "30"},
      {"--lines", "2"},      {"--wrap", "30"},        {"--substitute", "table.txt"},
      {"--language", "es"},  {"--similarity", "0.5"}, {"-j", "2"},
      {"--include", "*.kr"}, {"--exclude", "old/"},
  };
  for (const auto& [name, value] : values) {
    if (option == name) {
      return value;
    }
  }
  return "";  // a switch
}

// Whether a usage names the option as a word of its own: "[-j N]".
bool usageNames(const std::string& usage, const std::string& option) {
  for (std::size_t at = usage.find(option); at != std::string::npos;
       at = usage.find(option, at + 1)) {
    const char before = at == 0 ? ' ' : usage[at - 1];
    const char after = at + option.size() < usage.size() ? usage[at + option.size()] : ' ';
    if ((before == ' ' || before == '[' || before == '\n') &&
        (after == ' ' || after == ']' || after == '\n')) {
      return true;
    }
  }
  return false;
}

// Every command takes exactly the options its usage shows, and says of any
// other that it does not take it, whatever the value.
TEST(OptionsTest, EachCommandTakesTheOptionsItsUsageShows) {
  const struct {
    const char* name;
    Command command;
    std::vector<std::string> inputs;
    bool needsOutput;
  } commands[] = {
      {"dump", Command::Dump, {"a"}, false},         {"build", Command::Build, {"a"}, true},
      {"check", Command::Check, {"a"}, false},       {"extract", Command::Extract, {"a"}, true},
      {"inject", Command::Inject, {"a", "b"}, true}, {"update", Command::Update, {"a", "b"}, true},
      {"lint", Command::Lint, {"a", "b"}, false},    {"html", Command::Html, {"a"}, true},
  };
  const char* options[] = {"-o",          "--encoding",   "--format",   "--width",      "--lines",
                           "--wrap",      "--substitute", "--language", "--similarity", "-j",
                           "--fail-fast", "--include",    "--exclude"};
  std::size_t taken = 0;
  std::size_t refused = 0;
  for (const auto& command : commands) {
    for (const std::string option : options) {
      std::vector<std::string> arguments{command.name};
      arguments.insert(arguments.end(), command.inputs.begin(), command.inputs.end());
      if (command.needsOutput && option != "-o") {
        arguments.insert(arguments.end(), {"-o", "out"});
      }
      arguments.push_back(option);
      if (const std::string value = sampleValue(option, command.name); !value.empty()) {
        arguments.push_back(value);
      }
      const Expected<Options> parsed = parseOptions(arguments);
      const std::string line = std::string(command.name) + " " + option;
      if (usageNames(usage(command.command), option)) {
        ++taken;
        EXPECT_TRUE(parsed) << line << ": " << parsed.problem().describe();
      } else {
        ++refused;
        ASSERT_FALSE(parsed) << line << " is taken, and its usage does not show it";
        EXPECT_EQ(parsed.problem().describe(),
                  std::string(command.name) + " does not take " + option);
      }
    }
  }
  // Both sides were seen: the usages were read, not passed over.
  EXPECT_GT(taken, 40u);
  EXPECT_GT(refused, 30u);
}

TEST(OptionsTest, DumpOutputDashIsStandardOutput) {
  const Expected<Options> parsed = parseOptions({"dump", "a.kr", "-o", "-"});
  ASSERT_TRUE(parsed) << parsed.problem().describe();
  EXPECT_EQ(parsed->output, "-");
}

}  // namespace
}  // namespace krlist
