#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "io/Problem.h"

namespace krlist {

// Paths travel through the tools as UTF-8 on Windows, where the system names
// files in UTF-16, and as the system's own bytes elsewhere, where a name need
// not be valid in any encoding (a file unpacked from an archive made on
// another system). These two convert between that form and a path.
std::filesystem::path pathFromUtf8(std::string_view name);
std::string pathToUtf8(const std::filesystem::path& path);

// Opens a file with a stdio mode ("rb", "wb"), by its full Unicode name on
// Windows too.
std::FILE* openFile(const std::filesystem::path& path, const char* mode);

// Opens a file to read as raw bytes; the problem names the file when it
// cannot be opened or is a folder.
Expected<std::FILE*> openInput(const std::filesystem::path& path);

// Reads a whole file; the problem names the file when it cannot be opened or
// read, or is a folder.
Expected<std::string> readFile(const std::filesystem::path& path);

// True when an open stream is a directory, which some systems let fopen open
// and only fail at the first read. The stream itself is asked, not the name,
// which may since have come to mean another file.
bool isDirectory(std::FILE* file);

// The size of an open regular file, and 0 for anything else (a pipe, a
// terminal) or an empty file.
std::uint64_t regularFileSize(std::FILE* file);

// Moves an open file to `offset`, also past 2 GiB where `long` is 32 bits.
bool seekTo(std::FILE* file, std::uint64_t offset);

}  // namespace krlist
