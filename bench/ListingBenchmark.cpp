// Decoding and printing measured apart, on one generated script held in
// memory, so that neither the disk nor the terminal is part of the figures.
//
// krlist_benchmarks [--script-mb=MB] [Google Benchmark options]

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ScriptGenerator.h"
#include "format/ScriptDecoder.h"
#include "io/TextOutput.h"
#include "listing/ListingPrinter.h"

namespace {

std::size_t scriptMebibytes = 16;

const std::vector<std::uint8_t>& script() {
  static const std::vector<std::uint8_t> bytes =
      krlist::bench::generateMixedScript(scriptMebibytes << 20, 1);
  return bytes;
}

const krlist::ScriptBytes& scriptBytes() {
  static krlist::ScriptBytes bytes;
  if (bytes.size() == 0) {
    bytes.view(script().data(), script().size());
  }
  return bytes;
}

// The listing of the script, decoded once for the printing benchmark. Null if
// the script did not decode.
const krlist::ScriptDecoder* decodedScript() {
  static const std::unique_ptr<krlist::ScriptDecoder> decoder = [] {
    auto decoded = std::make_unique<krlist::ScriptDecoder>();
    return decoded->decode(scriptBytes()).complete() ? std::move(decoded) : nullptr;
  }();
  return decoder.get();
}

void BM_Decode(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = script();
  for (auto _ : state) {
    // A fresh decoder each time, as each run of krlist has.
    krlist::ScriptDecoder decoder;
    if (!decoder.decode(scriptBytes()).complete()) {
      state.SkipWithError("the generated script did not decode");
      break;
    }
    benchmark::DoNotOptimize(decoder.instructions().size());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

// Bytes processed are those of the script, as for decoding, so that the two
// rates add up to the whole run's.
void BM_Print(benchmark::State& state) {
  const krlist::ScriptDecoder* decoder = decodedScript();
  if (decoder == nullptr) {
    state.SkipWithError("the generated script did not decode");
    return;
  }
  std::FILE* devNull = std::fopen("/dev/null", "wb");
  if (devNull == nullptr) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  for (auto _ : state) {
    krlist::TextOutput out(devNull);
    krlist::printListing(decoder->instructions(), out);
    if (!out.flush()) {
      state.SkipWithError("writing to /dev/null failed");
      break;
    }
  }
  std::fclose(devNull);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(script().size()));
}
BENCHMARK(BM_Print)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    constexpr char kOption[] = "--script-mb=";
    char* end = nullptr;
    if (std::strncmp(argv[i], kOption, sizeof kOption - 1) == 0) {
      const char* value = argv[i] + sizeof kOption - 1;
      if (*value >= '0' && *value <= '9') {
        scriptMebibytes = std::strtoull(value, &end, 10);
      }
    }
    if (end == nullptr || *end != '\0' || scriptMebibytes == 0) {
      std::fprintf(stderr, "Unknown option %s; use --script-mb=MB (default 16)\n", argv[i]);
      return 2;
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
