#pragma once

// What the script fuzz targets share: a failed check that aborts with where
// and what, and the decode as krlist runs it, its report included. Each
// target's checks are a function of their own, so that one replay program
// can run them all.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "format/ScriptDecoder.h"
#include "io/TextOutput.h"
#include "listing/DecodeReport.h"

namespace krlist::fuzz {

inline void check(bool condition, const char* what, std::uint64_t offset) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken at offset %llu: %s\n",
                 static_cast<unsigned long long>(offset), what);
    std::abort();
  }
}

// Decodes as the listing does, its report included: 0 or -1.
inline int decodeAndReport(ScriptDecoder& decoder, const ScriptBytes& script, Console& console) {
  const DecodeStop stop = decoder.decode(script);
  if (stop.complete()) {
    return 0;
  }
  check(stop.offset < script.size(), "a stop past the end of the input", stop.offset);
  reportStop(stop, "fuzz.kr", console);
  return -1;
}

// The decode-and-list invariants (krlist_fuzzer.cpp), run at full speed.
void checkDecodeAndList(const std::uint8_t* data, std::size_t size);

// Reading a file in blocks, and the round trips through the JSON form and
// the translation files (roundtrip_fuzzer.cpp): each gives back what the
// bytes in memory gave.
void checkRoundTrips(const std::uint8_t* data, std::size_t size);

}  // namespace krlist::fuzz
