// krscript: turns compiled scripts into an editable JSON form and back, and
// their strings into translation files and back, for one script or a folder.

#include <csignal>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "io/CommandLine.h"
#include "io/OutputFile.h"
#include "krscript/Commands.h"
#include "krscript/Drop.h"
#include "krscript/Options.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// An interrupted run keeps the outputs it finished and leaves no temporary
// file behind.
extern "C" void onInterrupt(int signal) {
  krlist::removeTemporaryFiles();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = krlist::commandLine(argc, argv);
  const auto parsed =
      krlist::parseOptions({arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end()});
  if (const std::string* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "krscript: %s\n%s", error->c_str(), krlist::usage("").c_str());
    return 2;
  }
  const krlist::Options& options = std::get<krlist::Options>(parsed);
  if (options.version) {
    std::printf("krscript %s\n", KRLIST_VERSION);
    return 0;
  }
  if (options.help) {
    std::fputs(krlist::usage(options.command).c_str(), stdout);
    return 0;
  }

  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  if (options.command == "drop") {
    return krlist::runDrop(options.inputs);
  }
  if (options.command == "dump") {
#ifdef _WIN32
    // A JSON form written to standard output has the same bytes as one
    // written to a file: no carriage returns added.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return krlist::runDump(options);
  }
  if (options.command == "build") {
    return krlist::runBuild(options);
  }
  if (options.command == "extract") {
    return krlist::runExtract(options);
  }
  if (options.command == "inject") {
    return krlist::runInject(options);
  }
  if (options.command == "update") {
    return krlist::runUpdate(options);
  }
  if (options.command == "lint") {
    return krlist::runLint(options);
  }
  return krlist::runCheck(options);
}
