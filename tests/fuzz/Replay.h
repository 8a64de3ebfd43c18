#pragma once

// The plain-program side of a fuzz target: runs the target over the files
// named on the command line, and every file in the folders named, as the
// fuzzer would over its corpus.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

inline int replayFiles(int count, char** names) {
  std::vector<std::filesystem::path> paths;
  for (int i = 0; i < count; ++i) {
    if (std::filesystem::is_directory(names[i])) {
      for (const auto& entry : std::filesystem::directory_iterator(names[i])) {
        paths.push_back(entry.path());
      }
    } else {
      paths.emplace_back(names[i]);
    }
  }
  for (const std::filesystem::path& path : paths) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
      return 1;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", paths.size());
  return paths.empty() ? 1 : 0;
}
