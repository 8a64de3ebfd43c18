// Feeds arbitrary bytes to the zip reader and checks what a refusal and an
// acceptance must each guarantee: a refusal names an offset inside the
// archive (at most its size) and no file, and says what; the members of an
// accepted archive, written again, read back as the same members.
//
// Built with -fsanitize=fuzzer and KRLIST_LIBFUZZER it is a libFuzzer
// target. Built without, it is a plain program that replays files through
// the same checks (`FILE...`), or writes seed archives (`--seeds DIR`).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "io/Zip.h"

#if !defined(KRLIST_LIBFUZZER)
#include "Replay.h"
#endif

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view archive(reinterpret_cast<const char*>(data), size);
  const auto read = krlist::readZip(archive);
  if (!read) {
    const krlist::Problem& problem = read.problem();
    check(problem.where.offset && *problem.where.offset <= size,
          "a refusal names no offset inside the archive");
    check(problem.where.file.empty() && problem.where.line == 0, "a refusal names a file or line");
    check(!problem.message.empty(), "a refusal without a message");
    return 0;
  }
  const auto again = krlist::readZip(krlist::writeZip(*read));
  check(static_cast<bool>(again), "the members of an accepted archive, written, are refused");
  check(again->size() == read->size(), "a written archive reads back other members");
  for (std::size_t i = 0; i < read->size(); ++i) {
    check((*again)[i].name == (*read)[i].name && (*again)[i].data == (*read)[i].data,
          "a written archive reads back other members");
  }
  return 0;
}

#if !defined(KRLIST_LIBFUZZER)
namespace {

// Small archives of what a workbook holds: none, one stored member, text
// that deflates, several members with an empty one and a name past ASCII,
// and the last again with the flag of data descriptors set and its local
// headers' sizes and CRC-32s zero, which leaves the central directory the
// only account of them (as it is when descriptors follow the data).
int writeSeeds(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  std::string rows;
  for (int i = 0; i < 40; ++i) {
    rows.append("<row r=\"").append(std::to_string(i)).append("\"><c t=\"s\"><v>1</v></c></row>");
  }
  const std::vector<krlist::ZipMember> several = {{"[Content_Types].xml", "<Types/>"},
                                                  {"xl/worksheets/sheet1.xml", rows},
                                                  {"xl/empty", ""},
                                                  {"docProps/データ.xml", "\x01\x02\x03"}};
  std::string described = krlist::writeZip(several);
  for (std::size_t at = 0; at + 30 <= described.size();) {
    if (described.compare(at, 4, "PK\x03\x04") != 0) {
      break;
    }
    const auto field = [&](std::size_t offset) {
      return static_cast<unsigned char>(described[at + offset]) |
             static_cast<unsigned char>(described[at + offset + 1]) << 8;
    };
    const std::size_t next =
        at + 30 + field(26) + field(28) + (field(18) | static_cast<std::size_t>(field(20)) << 16);
    described[at + 6] = 8;
    described.replace(at + 14, 12, 12, '\0');
    at = next;
  }
  const std::pair<const char*, std::string> seeds[] = {
      {"empty.zip", krlist::writeZip({})},
      {"stored.zip", krlist::writeZip({{"mimetype", "application/zip"}})},
      {"deflated.zip", krlist::writeZip({{"xl/sharedStrings.xml", rows}})},
      {"several.zip", krlist::writeZip(several)},
      {"descriptors.zip", described}};
  for (const auto& [name, bytes] : seeds) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--seeds") {
    return writeSeeds(argv[2]);
  }
  return replayFiles(argc - 1, argv + 1);
}
#endif
