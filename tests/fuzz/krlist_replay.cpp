// The checks of both script fuzz targets as a plain program: replays the
// files named on the command line, and every file in the folders named, as
// the fuzzers would over their corpus. The test suite replays the seeds with
// it.

#include <cstddef>
#include <cstdint>

#include "FuzzChecks.h"
#include "Replay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  krlist::fuzz::checkDecodeAndList(data, size);
  krlist::fuzz::checkRoundTrips(data, size);
  return 0;
}

int main(int argc, char** argv) {
  return replayFiles(argc - 1, argv + 1);
}
