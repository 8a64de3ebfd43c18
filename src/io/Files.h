#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "io/Problem.h"

namespace krlist {

// Paths come in from the command line as UTF-8 on Windows, where the system
// names files in UTF-16, and as the system's own bytes elsewhere, where a name
// need not be valid in any encoding (a Shift-JIS name unpacked from an archive
// made on another system). pathFromUtf8 makes a path of such an argument, and
// pathToArgument gives it back.
std::filesystem::path pathFromUtf8(std::string_view name);
std::string pathToArgument(const std::filesystem::path& path);

// A path as the tools show it and write it into text (messages, translation
// files, pages): always UTF-8. A name that is well-formed UTF-8 with no
// backslash is written as it is. Any other name (only outside Windows) is
// written with each byte that is not part of a well-formed UTF-8 character as
// \xNN (two upper-case hexadecimal digits) and each backslash as \\, the
// rest as it is. No two paths give the same text: a text with a backslash
// always comes from a name of the second kind, which it spells out byte for
// byte. On Windows a path is converted from UTF-16.
std::string pathToUtf8(const std::filesystem::path& path);

// The same for a path inside a folder, with '/' between its names on every
// system (Windows puts '\\' there), as translation files and pages name a
// script of a folder.
std::string slashedPathToUtf8(const std::filesystem::path& relative);

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
