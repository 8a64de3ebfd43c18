// krlist FILE: decodes a compiled script and prints its instruction listing.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "decode/ScriptDecoder.h"
#include "decode/TextOutput.h"
#include "listing/ListingPrinter.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
// Windows passes the command line in UTF-16; the narrow argv is a copy in the
// ANSI code page, where a name outside it (a Japanese folder on a Western
// system) turns into question marks and can no longer be opened. The
// arguments are taken from the wide command line and carried in UTF-8, which
// openScript widens again. Paths are printed in UTF-8 too, so a listing shows
// a path with the same bytes on every system, whatever the code page.
std::vector<std::string> commandLine(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return {argv, argv + argc};
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const int length = static_cast<int>(std::char_traits<wchar_t>::length(wide[i]));
    std::string& argument = arguments.emplace_back();
    if (length > 0) {
      argument.resize(static_cast<std::size_t>(
          WideCharToMultiByte(CP_UTF8, 0, wide[i], length, nullptr, 0, nullptr, nullptr)));
      WideCharToMultiByte(CP_UTF8, 0, wide[i], length, argument.data(),
                          static_cast<int>(argument.size()), nullptr, nullptr);
    }
  }
  LocalFree(wide);
  return arguments;
}
#else
std::vector<std::string> commandLine(int argc, char** argv) {
  return {argv, argv + argc};
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = commandLine(argc, argv);
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
  krlist::ScriptDecoder decoder(arguments[1]);
  const int status = decoder.decode(console);
  if (status == 0) {
    krlist::printListing(decoder.listing(), console.out());
    console.out().write("Done.\n");
  } else {
    // Whoever dropped the script onto the program reads this before the
    // window closes; at the end of standard input nothing waits.
    console.error("Exiting due to decompile error.\n");
    console.error("Press enter to exit...");
    std::getchar();
  }
  console.out().write("instructions processed: ");
  console.out().writeDecimal(static_cast<long long>(decoder.listing().size()));
  console.out().write('\n');

  if (!console.out().flush()) {
    // A listing cut short must not pass for a whole one.
    console.error("Failed to write to standard output\n");
    return 1;
  }
  return status == 0 ? 0 : 1;
}
