#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/Problem.h"
#include "text/Encoding.h"
#include "translate/TranslationFormat.h"

namespace krlist {

struct Profile;

// What krscript is asked to do. `None` is a command line with --help or
// --version alone; `Drop` stands for paths dropped onto the program with no
// command (krscript/Drop.h).
enum class Command {
  None,
  Dump,
  Build,
  Check,
  Extract,
  Inject,
  Update,
  Fill,
  Lint,
  Html,
  Init,
  Glossary,
  Memory,
  Edit,
  Drop
};

// How `lint` reports.
enum class ReportFormat { Text, Json };

// A krscript command line, parsed. An option is one field here and one row
// of the option table in Options.cpp; which options a command takes is said
// where the command is declared there, and any other is a usage error.
struct Options {
  Command command = Command::None;
  std::vector<std::string> inputs;
  std::optional<std::string> output;  // -o, never empty; "-" for standard output
  std::optional<Encoding> encoding;   // --encoding; none for auto
  // --format, for extract; none: as the output's name says, or else PO.
  std::optional<TranslationFormat> format;
  ReportFormat report = ReportFormat::Text;  // --format, for lint
  std::size_t width = 0;                     // --width, for lint; 0 for none
  std::size_t lines = 0;                     // --lines, for lint; 0 for none
  std::size_t wrap = 0;                      // --wrap, for inject and lint; 0 for none
  std::optional<std::string> substitute;     // --substitute, for inject and lint
  // --similarity, for update (0.6 when not given) and fill (0.75).
  std::optional<double> similarity;
  // --memory, in the order given: more translation files or folders that
  // fill takes translations from.
  std::vector<std::string> memory;
  bool fill = false;                    // --fill, for update
  std::string language;                 // --language, for extract and update
  std::optional<std::string> glossary;  // --glossary, for lint
  std::string sourceLanguage;           // --source-language, for memory; empty: ja
  unsigned jobs = 0;                    // -j; 0 for one per core
  bool failFast = false;                // --fail-fast
  // --include and --exclude, in the order given: which files of a folder a
  // run takes (batch/PathFilter.h).
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  // Where the patterns are written from, when a profile above the run's
  // folder gave them: that folder relative to the profile's ('/' between
  // names); empty when they are relative to the run's folder.
  std::string patternBase;
  // --profile: the game's profile to take instead of the krscript.toml found
  // beside the scripts or above them.
  std::optional<std::string> profileFile;
  bool noWrap = false;  // --no-wrap, for inject and lint
  // --keep-going, for inject: a script is written with the entries it can
  // take, the refused ones keeping its own bytes, and the run fails.
  bool keepGoing = false;
  // The profile the command runs with, once read (krscript/ProfileOptions.h);
  // none when there is none.
  std::shared_ptr<const Profile> profile;
  // --port, for edit: where it serves, 0 for a port the system picks.
  std::uint16_t port = 8470;
  bool open = true;      // opens the editor in the browser; --no-open does not
  bool help = false;     // --help
  bool version = false;  // --version
};

// Parses the arguments after the program's name. A usage error is a problem
// with no location, its message the whole of what is wrong.
Expected<Options> parseOptions(const std::vector<std::string>& arguments);

// The command's name as typed: "dump".
const char* commandName(Command command);

// The usage of one command, or of them all for `None` and `Drop`.
std::string usage(Command command);

}  // namespace krlist
