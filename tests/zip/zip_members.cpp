// Reads or writes a zip archive with io/Zip, for checks by other zip
// readers and writers. Members pass through stdin and stdout framed as
// "NAME_LENGTH DATA_LENGTH\n", then the name's and the data's bytes:
//
//   zip_members read ARCHIVE     prints the members of ARCHIVE
//   zip_members write ARCHIVE    writes the members read from stdin
//
// A refused archive is said on stderr, with exit status 1.

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "io/Files.h"
#include "io/Zip.h"

namespace {

int readArchive(const char* path) {
  auto bytes = krlist::readFile(path);
  if (!bytes) {
    std::fprintf(stderr, "%s\n", bytes.problem().describe().c_str());
    return 1;
  }
  auto members = krlist::readZip(*bytes);
  if (!members) {
    members.problem().where.file = path;
    std::fprintf(stderr, "%s\n", members.problem().describe().c_str());
    return 1;
  }
  for (const krlist::ZipMember& member : *members) {
    std::printf("%zu %zu\n", member.name.size(), member.data.size());
    std::fwrite(member.name.data(), 1, member.name.size(), stdout);
    std::fwrite(member.data.data(), 1, member.data.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int writeArchive(const char* path) {
  const std::string input((std::istreambuf_iterator<char>(std::cin)),
                          std::istreambuf_iterator<char>());
  std::vector<krlist::ZipMember> members;
  std::size_t at = 0;
  while (at < input.size()) {
    std::size_t nameLength = 0, dataLength = 0;
    int used = 0;
    if (std::sscanf(input.c_str() + at, "%zu %zu\n%n", &nameLength, &dataLength, &used) != 2 ||
        input.size() - at - used < nameLength + dataLength) {
      std::fprintf(stderr, "stdin: %zu: not a member\n", at);
      return 1;
    }
    at += used;
    members.push_back({input.substr(at, nameLength), input.substr(at + nameLength, dataLength)});
    at += nameLength + dataLength;
  }
  std::FILE* file = std::fopen(path, "wb");
  const std::string archive = krlist::writeZip(members);
  if (file == nullptr || std::fwrite(archive.data(), 1, archive.size(), file) != archive.size() ||
      std::fclose(file) != 0) {
    std::fprintf(stderr, "%s: cannot be written\n", path);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "read") {
    return readArchive(argv[2]);
  }
  if (argc == 3 && std::string_view(argv[1]) == "write") {
    return writeArchive(argv[2]);
  }
  std::fprintf(stderr, "usage: zip_members read|write ARCHIVE\n");
  return 2;
}
