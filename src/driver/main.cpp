// krlist FILE: decodes a compiled script and prints its instruction listing.

#include <cstdio>
#include <string>

#include "decode/ScriptDecoder.h"
#include "decode/TextOutput.h"
#include "listing/ListingPrinter.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    const char* invokedAs = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    std::fprintf(stderr, "Usage: %s filname.kr\n", invokedAs);
    return -1;
  }

  krlist::Console console(stdout, stderr);
  krlist::ScriptDecoder decoder(argv[1]);
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
