#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "text/Encoding.h"

namespace krlist {

// A krscript command line, parsed.
struct Options {
  // One of the commands, or "drop" when the arguments are paths dropped onto
  // the program with no command (krscript/Drop.h).
  std::string command;
  std::vector<std::string> inputs;
  std::optional<std::string> output;      // -o
  std::optional<Encoding> encoding;       // --encoding; none for auto
  std::string format = "po";              // --format, for extract
  std::string report = "text";            // --format, for lint: text or json
  std::size_t width = 0;                  // --width, for lint; 0 for none
  std::size_t lines = 0;                  // --lines, for lint; 0 for none
  std::size_t wrap = 0;                   // --wrap, for inject and lint; 0 for none
  std::optional<std::string> substitute;  // --substitute, for inject and lint
  double similarity = 0.6;                // --similarity, for update
  std::string language;                   // --language, for extract and update
  unsigned jobs = 0;                      // -j; 0 for one per core
  bool failFast = false;                  // --fail-fast
  bool help = false;                      // --help
  bool version = false;                   // --version
};

// Parses the arguments after the program's name. A usage error is returned
// as its message.
std::variant<Options, std::string> parseOptions(const std::vector<std::string>& arguments);

// The usage of one command, or of them all for an empty or unknown command.
std::string usage(const std::string& command);

}  // namespace krlist
