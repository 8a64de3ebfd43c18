// krscript: turns compiled scripts into an editable JSON form and back, and
// their strings into translation files and back, for one script or a folder.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "io/CommandLine.h"
#include "io/OutputFile.h"
#include "krscript/Commands.h"
#include "krscript/Drop.h"
#include "krscript/Options.h"
#include "krscript/ProfileOptions.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Writes the text of --help or --version: 0, or 1 when standard output
// cannot take it (a full disk, a closed pipe), which a script must be told.
int writeStandardOutput(const std::string& text) {
  const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
  if (!written) {
    std::fputs("krscript: cannot write to standard output\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = krlist::commandLine(argc, argv);
  const krlist::Expected<krlist::Options> parsed =
      krlist::parseOptions({arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end()});
  if (!parsed) {
    std::fprintf(stderr, "krscript: %s\n%s", parsed.problem().describe().c_str(),
                 krlist::usage(krlist::Command::None).c_str());
    return 2;
  }
  krlist::Options options = *parsed;
#ifdef SIGPIPE
  // A reader that goes away (a pager quit early) makes writes fail like any
  // other failed write, reported, instead of ending the program silently.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  if (options.version) {
    return writeStandardOutput(std::string("krscript ") + KRLIST_VERSION + "\n");
  }
  if (options.help) {
    return writeStandardOutput(krlist::usage(options.command));
  }

  // An interrupted run keeps the outputs it finished and leaves no
  // temporary file behind, whatever signal or console event ends it.
  krlist::removeTemporaryFilesOnExit();
  // A profile that cannot be read stops the command before anything is
  // written.
  if (!krlist::applyProfile(options)) {
    return 1;
  }
  switch (options.command) {
    case krlist::Command::Drop:
      return krlist::runDrop(options.inputs);
    case krlist::Command::Dump:
#ifdef _WIN32
      // A JSON form written to standard output has the same bytes as one
      // written to a file: no carriage returns added.
      _setmode(_fileno(stdout), _O_BINARY);
#endif
      return krlist::runDump(options);
    case krlist::Command::Build:
      return krlist::runBuild(options);
    case krlist::Command::Extract:
      return krlist::runExtract(options);
    case krlist::Command::Inject:
      return krlist::runInject(options);
    case krlist::Command::Update:
      return krlist::runUpdate(options);
    case krlist::Command::Fill:
      return krlist::runFill(options);
    case krlist::Command::Lint:
      return krlist::runLint(options);
    case krlist::Command::Html:
      return krlist::runHtml(options);
    case krlist::Command::Check:
      return krlist::runCheck(options);
    case krlist::Command::Glossary:
      return krlist::runGlossary(options);
    case krlist::Command::Memory:
      return krlist::runMemory(options);
    case krlist::Command::Edit:
      return krlist::runEdit(options);
    case krlist::Command::Init:
      return krlist::runInit(options);
    case krlist::Command::None:
      break;  // parseOptions gives no command only with --help or --version
  }
  return 2;
}
