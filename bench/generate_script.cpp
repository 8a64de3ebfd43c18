// krlist_generate_script OUT --size-mb MB [--seed S]
// krlist_generate_script OUT --distinct N [--seed S]
//
// Writes a synthetic script for the benchmarks: a mix of instructions like a
// real script's, of about MB mebibytes, or N name references and N name
// definitions of N distinct keys. Prints nothing but errors.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ScriptGenerator.h"

namespace {

int usage(const char* program) {
  std::fprintf(stderr,
               "Usage: %s OUT --size-mb MB [--seed S]\n"
               "       %s OUT --distinct N [--seed S]\n"
               "MB counts mebibytes (2^20 bytes) and may have a fraction.\n",
               program, program);
  return 2;
}

bool parseCount(const char* text, std::uint64_t& value) {
  if (text == nullptr || *text < '0' || *text > '9') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text, &end, 10);
  return errno == 0 && *end == '\0';
}

bool parseMebibytes(const char* text, double& value) {
  if (text == nullptr) {
    return false;
  }
  char* end = nullptr;
  value = std::strtod(text, &end);
  // At most 1 TiB: anything larger is a typing error, not a benchmark.
  return end != text && *end == '\0' && value >= 0 && value <= 1024 * 1024;
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = argc > 0 ? argv[0] : "krlist_generate_script";
  if (argc < 2) {
    return usage(program);
  }
  const std::string outPath = argv[1];
  double sizeMebibytes = -1;
  std::uint64_t distinct = 0;
  bool distinctGiven = false;
  std::uint64_t seed = 1;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    const char* value = i + 1 < argc ? argv[++i] : nullptr;
    bool valid = false;
    if (option == "--size-mb") {
      valid = parseMebibytes(value, sizeMebibytes);
    } else if (option == "--distinct") {
      valid = parseCount(value, distinct) && distinct <= (std::uint64_t{1} << 32);
      distinctGiven = true;
    } else if (option == "--seed") {
      valid = parseCount(value, seed);
    }
    if (!valid) {
      std::fprintf(stderr, "%s: bad option or value: %s %s\n", program, option.c_str(),
                   value != nullptr ? value : "");
      return usage(program);
    }
  }
  if ((sizeMebibytes >= 0) == distinctGiven) {
    return usage(program);
  }

  const std::vector<std::uint8_t> script =
      distinctGiven ? krlist::bench::generateDistinctNamesScript(distinct, seed)
                    : krlist::bench::generateMixedScript(
                          static_cast<std::size_t>(sizeMebibytes * 1024 * 1024), seed);

  std::FILE* out = std::fopen(outPath.c_str(), "wb");
  if (out == nullptr) {
    std::perror(outPath.c_str());
    return 1;
  }
  const bool written = std::fwrite(script.data(), 1, script.size(), out) == script.size();
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "%s: failed to write %s\n", program, outPath.c_str());
    return 1;
  }
  return 0;
}
