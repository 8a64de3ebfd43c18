// The checks of both script fuzz targets as a plain program: replays the
// files named on the command line, and every file in the folders named, as
// the fuzzers would over their corpus. `--decode` or `--round-trips` first
// runs one target's checks alone. The test suite replays the seeds with it,
// each target's checks as a test of its own, so that the quick decode checks
// are not kept waiting behind the round trips of a seed of many megabytes.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FuzzChecks.h"
#include "Replay.h"

namespace {

bool decode = true;
bool roundTrips = true;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (decode) {
    krlist::fuzz::checkDecodeAndList(data, size);
  }
  if (roundTrips) {
    krlist::fuzz::checkRoundTrips(data, size);
  }
  return 0;
}

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--decode") == 0) {
    roundTrips = false;
    first = 2;
  } else if (argc > 1 && std::strcmp(argv[1], "--round-trips") == 0) {
    decode = false;
    first = 2;
  }
  return replayFiles(argc - first, argv + first);
}
