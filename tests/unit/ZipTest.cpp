// Archives written by writeZip read back as the members they were made of,
// and hostile archives (cut short, lying about sizes and CRC-32s, naming
// files outside the folder, inflating past every limit) are refused with the
// offset where they go wrong and what is wrong there.

#include "io/Zip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace krlist {
namespace {

std::uint32_t get32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

std::uint16_t get16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

void set16(std::string& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8 & 0xFF);
}

void set32(std::string& bytes, std::size_t at, std::uint32_t value) {
  set16(bytes, at, value & 0xFFFF);
  set16(bytes, at + 2, value >> 16);
}

// Where each member's records lie in an archive as writeZip lays it out (no
// comments, no extra fields), found from its end record.
struct Layout {
  std::size_t end = 0;
  std::vector<std::size_t> local, central, data;
};

Layout layoutOf(const std::string& archive) {
  Layout layout;
  layout.end = archive.size() - 22;
  std::size_t at = get32(archive, layout.end + 16);
  for (std::uint16_t i = 0; i < get16(archive, layout.end + 10); ++i) {
    layout.central.push_back(at);
    const std::size_t local = get32(archive, at + 42);
    layout.local.push_back(local);
    layout.data.push_back(local + 30 + get16(archive, local + 26));
    at += 46 + get16(archive, at + 28);
  }
  return layout;
}

std::vector<ZipMember> readOrFail(const std::string& archive) {
  Expected<std::vector<ZipMember>> read = readZip(archive);
  if (!read) {
    ADD_FAILURE() << read.problem().describe();
    return {};
  }
  return std::move(*read);
}

void expectSame(const std::vector<ZipMember>& read, const std::vector<ZipMember>& members) {
  ASSERT_EQ(read.size(), members.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    EXPECT_EQ(read[i].name, members[i].name);
    EXPECT_TRUE(read[i].data == members[i].data) << "member " << members[i].name;
  }
}

std::string randomBytes(std::mt19937& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random());
  }
  return bytes;
}

TEST(ZipTest, GivesBackWhatItWrites) {
  std::mt19937 random(41);
  const char* const parts[] = {
      "xl",     "worksheets", "sheet1.xml", "_rels", ".rels", "[Content_Types].xml",
      "データ", "a b",        "..x",        "x..",   ".",     "docProps"};
  for (int round = 0; round < 150; ++round) {
    std::vector<ZipMember> members;
    std::set<std::string> names;
    const std::size_t count = random() % 7;
    std::uint64_t overhead = 22;
    while (members.size() < count) {
      std::string name;
      for (std::size_t part = 0, depth = 1 + random() % 3; part < depth; ++part) {
        name.append(part ? "/" : "").append(parts[random() % std::size(parts)]);
      }
      if (!names.insert(name).second) {
        continue;
      }
      // Empty, text that deflates well, noise that does not, or both.
      std::string data;
      switch (random() % 4) {
        case 0:
          break;
        case 1:
          for (std::size_t i = random() % 3000; i > 0; --i) {
            data.append("<c r=\"A").append(std::to_string(random() % 50)).append("\"/>");
          }
          break;
        case 2:
          data = randomBytes(random, random() % 70000);
          break;
        default:
          data = randomBytes(random, random() % 300) + std::string(random() % 5000, 'x');
      }
      overhead += 30 + 46 + 2 * name.size();
      members.push_back({name, data});
    }
    const std::string archive = writeZip(members);
    expectSame(readOrFail(archive), members);
    EXPECT_EQ(writeZip(members), archive) << "the same members give other bytes";
    // A member that deflating does not make smaller is stored: the archive
    // is never larger than its members and the headers.
    std::uint64_t stored = overhead;
    for (const ZipMember& member : members) {
      stored += member.data.size();
    }
    EXPECT_LE(archive.size(), stored);
  }
}

// An archive of one member, laid out by hand: its bytes as given, which
// need not be what the headers say.
std::string oneMember(const std::string& name, std::uint16_t method, std::uint32_t crc,
                      std::uint32_t compressedSize, std::uint32_t size, const std::string& bytes) {
  std::string fields;
  set16(fields.append(2, '\0'), 0, 20);
  fields.append(2, '\0');  // flags
  set16(fields.append(2, '\0'), 4, method);
  fields.append(4, '\0');  // time, date
  set32(fields.append(4, '\0'), 10, crc);
  set32(fields.append(4, '\0'), 14, compressedSize);
  set32(fields.append(4, '\0'), 18, size);
  set16(fields.append(2, '\0'), 22, static_cast<std::uint32_t>(name.size()));
  fields.append(2, '\0');  // extra
  std::string archive = "PK\x03\x04";
  archive.append(fields).append(name).append(bytes);
  const auto directory = static_cast<std::uint32_t>(archive.size());
  archive.append("PK\x01\x02\x14", 5).append(1, '\0').append(fields).append(14, '\0').append(name);
  const auto directorySize = static_cast<std::uint32_t>(archive.size() - directory);
  archive.append("PK\x05\x06\0\0\0\0\x01\0\x01\0", 12).append(10, '\0');
  set32(archive, archive.size() - 10, directorySize);
  set32(archive, archive.size() - 6, directory);
  return archive;
}

// `megabytes` MiB of zeros, raw-deflated a mebibyte at a time: a few hundred
// kilobytes that inflate to all of it.
std::string deflatedZeros(std::size_t megabytes) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  const std::string zeros(1 << 20, '\0');
  std::string out;
  char buffer[1 << 16];
  for (std::size_t i = 0; i < megabytes; ++i) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    stream.avail_in = static_cast<uInt>(zeros.size());
    const int flush = i + 1 == megabytes ? Z_FINISH : Z_NO_FLUSH;
    do {
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      deflate(&stream, flush);
      out.append(buffer, sizeof buffer - stream.avail_out);
    } while (stream.avail_out == 0);
  }
  deflateEnd(&stream);
  return out;
}

TEST(ZipTest, RefusesHostileArchives) {
  std::mt19937 random(7);
  std::string text;
  while (text.size() < 2000) {
    text.append("<row r=\"").append(std::to_string(text.size())).append("\"/>");
  }
  text.resize(2000);
  const std::vector<ZipMember> members = {
      {"xl/sheet.xml", text}, {"bin/noise", randomBytes(random, 300)}, {"empty", ""}};
  const std::string written = writeZip(members);
  const Layout layout = layoutOf(written);
  ASSERT_EQ(layout.data.size(), 3u);
  ASSERT_LT(layout.data[1] - layout.data[0], text.size()) << "the text is not deflated";

  // Cut short anywhere, the archive is refused, at an offset inside what is
  // left.
  for (std::size_t length = 0; length < written.size(); ++length) {
    const auto read = readZip(std::string_view(written).substr(0, length));
    ASSERT_FALSE(read) << "accepted cut to " << length << " bytes";
    EXPECT_LE(*read.problem().where.offset, length);
    EXPECT_FALSE(read.problem().message.empty());
  }

  const std::size_t end = layout.end;
  const std::size_t local = layout.local[0], central = layout.central[0], data = layout.data[0];
  // Each mutation makes the archive hostile and gives the offset where the
  // reader must stop and what it must say.
  struct Case {
    const char* what;
    std::function<std::size_t(std::string&)> mutate;
    std::string message;
  };
  const auto both16 = [&](std::string& a, std::size_t localField, std::uint32_t value) {
    set16(a, local + localField, value);
    set16(a, central + localField + 2, value);
  };
  const auto both32 = [&](std::string& a, std::size_t localField, std::uint32_t value) {
    set32(a, local + localField, value);
    set32(a, central + localField + 2, value);
  };
  const auto named = [](std::vector<std::string> names, std::size_t refused) {
    return [names, refused](std::string& a) {
      std::vector<ZipMember> members;
      for (const std::string& name : names) {
        members.push_back({name, "x"});
      }
      a = writeZip(members);
      return layoutOf(a).central[refused];
    };
  };
  const Case cases[] = {
      {"not an archive", [](std::string& a) { return (a = "PK hello, world").size(); },
       "not a zip archive: too short for its end record"},
      {"a comment longer than the archive",
       [&](std::string& a) {
         set16(a, end + 20, 1);
         return a.size();
       },
       "not a zip archive: no end of central directory record"},
      {"zip64 entry count",
       [&](std::string& a) {
         set16(a, end + 8, 0xFFFF);
         set16(a, end + 10, 0xFFFF);
         return end;
       },
       "a zip64 archive, which is not supported"},
      {"several disks",
       [&](std::string& a) {
         set16(a, end + 4, 1);
         return end;
       },
       "an archive spread over several disks, which is not supported"},
      {"directory past its end record",
       [&](std::string& a) {
         set32(a, end + 16, get32(a, end + 16) + 1);
         return end;
       },
       "the central directory runs past its end record"},
      {"more entries than the directory holds",
       [&](std::string& a) {
         set16(a, end + 8, 200);
         set16(a, end + 10, 200);
         return end;
       },
       "the central directory is too small for its 200 entries"},
      {"a name longer than its entry",
       [&](std::string& a) {
         set16(a, layout.central[2] + 28, 40);
         return layout.central[2];
       },
       "entry 3 of the central directory runs past its end"},
      {"a parent folder", named({"ok", "xl/../../evil"}, 1),
       "member \"xl/../../evil\": a name with \"..\" as a part"},
      {"a parent folder, backslashed", named({"..\\evil"}, 0),
       "member \"..\\evil\": a name with \"..\" as a part"},
      {"a name from the root", named({"/etc/passwd"}, 0),
       "member \"/etc/passwd\": an absolute name"},
      {"a name from the root, backslashed", named({"\\x"}, 0), "member \"\\x\": an absolute name"},
      {"a drive letter", named({"C:x"}, 0), "member \"C:x\": an absolute name"},
      {"no name", named({""}, 0), "member \"\": a member without a name"},
      {"a name twice", named({"a", "b", "a"}, 2), "member \"a\": a second member of that name"},
      {"encrypted",
       [&](std::string& a) {
         set16(a, central + 8, 1);
         return central;
       },
       "member \"xl/sheet.xml\": encrypted, which is not supported"},
      {"another method",
       [&](std::string& a) {
         both16(a, 8, 12);
         return central;
       },
       "member \"xl/sheet.xml\": compression method 12, which is not supported (only 0, stored, "
       "and 8, deflated)"},
      {"zip64 sizes",
       [&](std::string& a) {
         set32(a, central + 20, 0xFFFFFFFF);
         return central;
       },
       "member \"xl/sheet.xml\": zip64 sizes, which are not supported"},
      {"a stored member's two sizes differ",
       [&](std::string& a) {
         set32(a, layout.central[1] + 20, 299);
         return layout.central[1];
       },
       "member \"bin/noise\": stored, but its sizes differ (299 and 300)"},
      {"over the limit for one member",
       [&](std::string& a) {
         set32(a, central + 24, 300u << 20);
         return central;
       },
       "member \"xl/sheet.xml\": declares 314572800 bytes, more than the limit of 268435456 for "
       "one member"},
      {"over the limit for the archive, before anything is inflated",
       [](std::string& a) {
         std::vector<ZipMember> five;
         for (const char* name : {"a", "b", "c", "d", "e"}) {
           five.push_back({name, std::string(100, *name)});
         }
         a = writeZip(five);
         const Layout layout = layoutOf(a);
         for (std::size_t at : layout.central) {
           set32(a, at + 24, 250u << 20);
         }
         return layout.central[4];
       },
       "member \"e\": takes the archive past the limit of 1073741824 bytes in all"},
      {"a local header past the end",
       [&](std::string& a) {
         set32(a, layout.central[1] + 42, static_cast<std::uint32_t>(a.size() - 10));
         return a.size() - 10;
       },
       "member \"bin/noise\": its local header runs past the end of the archive"},
      {"no local header there",
       [&](std::string& a) {
         a[layout.local[1]] = 'Q';
         return layout.local[1];
       },
       "member \"bin/noise\": no local file header where the central directory puts it"},
      {"the local header's name differs",
       [&](std::string& a) {
         a[local + 30] = 'X';
         return local;
       },
       "member \"xl/sheet.xml\": its local header names another member"},
      {"the local header's method differs",
       [&](std::string& a) {
         set16(a, local + 8, 0);
         return local;
       },
       "member \"xl/sheet.xml\": its local header gives another compression method"},
      {"the local header's size differs",
       [&](std::string& a) {
         set32(a, central + 24, 2001);
         return local;
       },
       "member \"xl/sheet.xml\": its local header gives other sizes or CRC-32 than the central "
       "directory"},
      {"data past the end",
       [&](std::string& a) {
         both32(a, 18, 0x7FFFFFFF);
         return data;
       },
       "member \"xl/sheet.xml\": its 2147483647 bytes of data run past the end of the archive"},
      {"inflating to fewer bytes than declared",
       [&](std::string& a) {
         both32(a, 22, 2001);
         return data;
       },
       "member \"xl/sheet.xml\": inflates to 2000 bytes, not the declared 2001"},
      {"inflating to more bytes than declared",
       [&](std::string& a) {
         both32(a, 22, 1999);
         return data;
       },
       "member \"xl/sheet.xml\": inflates to more than its declared 1999 bytes"},
      {"deflated data cut short",
       [&](std::string& a) {
         both32(a, 18, get32(a, local + 18) - 5);
         return data;
       },
       "member \"xl/sheet.xml\": its deflated data is cut short"},
      {"deflated data with bytes after its end",
       [&](std::string& a) {
         a = oneMember("m", 8, 0, 3, 0, std::string("\x03\x00\x00", 3));
         return std::size_t{31};
       },
       "member \"m\": its deflated data ends before its compressed size (1 more bytes)"},
      {"corrupt deflated data",
       [&](std::string& a) {
         a[data] = '\xFF';  // a block of the reserved type 3
         return data;
       },
       "member \"xl/sheet.xml\": its deflated data is corrupt (invalid block type)"},
      {"a wrong CRC-32 of deflated data",
       [&](std::string& a) {
         both32(a, 14, get32(a, local + 14) ^ 1);
         return data;
       },
       "member \"xl/sheet.xml\": its CRC-32 does not match its data"},
      {"stored data changed",
       [&](std::string& a) {
         a[layout.data[1] + 150] ^= 0x20;
         return layout.data[1];
       },
       "member \"bin/noise\": its CRC-32 does not match its data"},
  };
  for (const Case& hostile : cases) {
    std::string archive = written;
    const std::size_t offset = hostile.mutate(archive);
    const auto read = readZip(archive);
    if (read) {
      ADD_FAILURE() << hostile.what << ": accepted";
      continue;
    }
    EXPECT_EQ(read.problem().message, hostile.message) << hostile.what;
    EXPECT_EQ(read.problem().where.offset, offset) << hostile.what;
    EXPECT_TRUE(read.problem().where.file.empty()) << hostile.what;
  }
}

// A member that says it is small and inflates to hundreds of mebibytes is
// stopped where it passes what it declared, and one that declares more than
// a member may hold is refused before it is inflated; one declared at the
// limit is stopped there.
TEST(ZipTest, StopsZipBombs) {
  const std::string bomb = deflatedZeros(300);
  ASSERT_LT(bomb.size(), 1u << 20);
  const auto refusal = [&](std::uint32_t declared) {
    const auto read =
        readZip(oneMember("bomb", 8, 0, static_cast<std::uint32_t>(bomb.size()), declared, bomb));
    return read ? std::string("accepted") : read.problem().message;
  };
  EXPECT_EQ(refusal(1000), "member \"bomb\": inflates to more than its declared 1000 bytes");
  EXPECT_EQ(refusal(300u << 20),
            "member \"bomb\": declares 314572800 bytes, more than the limit of 268435456 for one "
            "member");
  EXPECT_EQ(refusal(256u << 20),
            "member \"bomb\": inflates to more than its declared 268435456 bytes");
}

// What spreadsheet programs write and other readers take: members whose
// local headers leave their CRC-32 and sizes to a data descriptor after the
// data, and an archive comment after the end record.
TEST(ZipTest, ReadsDataDescriptorsAndComments) {
  const std::vector<ZipMember> members = {{"xl/workbook.xml", std::string(5000, 'w')},
                                          {"noise", "\x01\x02\x03"}};
  std::string archive = writeZip(members);
  const Layout layout = layoutOf(archive);
  for (std::size_t local : layout.local) {
    set16(archive, local + 6, 1 << 3);
    set32(archive, local + 14, 0);
    set32(archive, local + 18, 0);
    set32(archive, local + 22, 0);
  }
  expectSame(readOrFail(archive), members);
  set16(archive, layout.end + 20, 14);
  expectSame(readOrFail(archive + "made by hand\r\n"), members);
}

}  // namespace
}  // namespace krlist
