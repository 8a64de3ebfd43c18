// krlist FILE: decodes a compiled script and prints its instruction listing.

#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "format/ScriptFile.h"
#include "io/CommandLine.h"
#include "io/Files.h"
#include "io/TextOutput.h"
#include "listing/DecodeReport.h"
#include "listing/ListingPrinter.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = krlist::commandLine(argc, argv);
  if (arguments.size() < 2) {
    const char* invokedAs = arguments.empty() ? "" : arguments[0].c_str();
    std::fprintf(stderr, "Usage: %s filname.kr\n", invokedAs);
    return -1;
  }

#ifdef SIGPIPE
  // A reader that goes away (a pager quit early) makes writes fail like any
  // other failed write, reported below, instead of ending the program
  // silently.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  krlist::Console console(stdout, stderr);
  const std::string& fileName = arguments[1];
  // The listing reads the script's bytes where they lie.
  krlist::DecodedScript script;
  bool listed = false;
  try {
    krlist::writeBanner(fileName, console.out());
    if (!krlist::openAndDecode(krlist::pathFromUtf8(fileName), fileName, script)) {
      console.error("Failed to open " + fileName + "\n");
    } else if (const krlist::Expected<void> unchanged = script.bytes.unchanged(fileName);
               !unchanged) {
      // Cut short while it was decoded, the file reads as zeros past its new
      // end, which decode as a stop that is not the file's.
      console.error(unchanged.problem().describe() + "\n");
    } else if (!script.stop.complete()) {
      krlist::reportStop(script.stop, fileName, console);
    } else {
      krlist::printListing(script.instructions(), console.out());
      // Cut short while it was listed, the listing's last lines are zeros:
      // it is not the file's.
      if (const krlist::Expected<void> after = script.bytes.unchanged(fileName); !after) {
        console.error(after.problem().describe() + "\n");
      } else {
        console.out().write("Done.\n");
        listed = true;
      }
    }
  } catch (const std::bad_alloc&) {
    // A script too large for memory is a failed decode like any other, not
    // a crash.
    console.error("Not enough memory to decode " + fileName + "\n");
  }
  if (!listed) {
    // Whoever dropped the script onto the program reads this before the
    // window closes; at the end of standard input nothing waits.
    console.error("Exiting due to decompile error.\n");
    console.error("Press enter to exit...");
    std::getchar();
  }
  console.out().write("instructions processed: ");
  console.out().writeDecimal(static_cast<long long>(script.instructions().size()));
  console.out().write('\n');

  if (!console.out().flush()) {
    // A listing cut short must not pass for a whole one.
    console.error("Failed to write to standard output\n");
    return 1;
  }
  return listed ? 0 : 1;
}
