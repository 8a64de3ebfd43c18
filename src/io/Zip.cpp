#include "io/Zip.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_set>

namespace krlist {

namespace {

// The records' signatures and fixed sizes, and the fields this unit writes
// the same way in every archive.
constexpr std::uint32_t kLocalSignature = 0x04034B50;    // "PK\3\4"
constexpr std::uint32_t kCentralSignature = 0x02014B50;  // "PK\1\2"
constexpr std::uint32_t kEndSignature = 0x06054B50;      // "PK\5\6"
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kMaxComment = 65535;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kFlagEncrypted = 1 << 0;
constexpr std::uint16_t kFlagDataDescriptor = 1 << 3;
constexpr std::uint16_t kFlagStrongEncryption = 1 << 6;
constexpr std::uint16_t kFlagUtf8 = 1 << 11;
constexpr std::uint16_t kVersionNeeded = 20;                 // 2.0: deflate
constexpr std::uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
constexpr std::uint16_t kDosTime = 0;

std::uint16_t get16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t get32(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(get16(bytes, at)) |
         static_cast<std::uint32_t>(get16(bytes, at + 2)) << 16;
}

void put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

Problem problemAt(std::uint64_t offset, std::string message) {
  Problem problem;
  problem.where.offset = offset;
  problem.message = std::move(message);
  return problem;
}

// "member NAME: " before a problem with one member, the name quoted as
// stored, so that a message says which.
std::string memberPrefix(std::string_view name) {
  std::string text = "member \"";
  text.append(name);
  text += "\": ";
  return text;
}

std::uint32_t crcOf(std::string_view bytes) {
  uLong crc = crc32(0, nullptr, 0);
  // zlib takes its lengths as uInt: a large buffer goes in pieces.
  while (!bytes.empty()) {
    const std::size_t piece = std::min<std::size_t>(bytes.size(), 1u << 30);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(piece));
    bytes.remove_prefix(piece);
  }
  return static_cast<std::uint32_t>(crc);
}

// Why a name cannot be unpacked where it says, or an empty text: a member
// must land inside the folder it is unpacked to.
const char* badName(std::string_view name) {
  if (name.empty()) {
    return "a member without a name";
  }
  if (name.front() == '/' || name.front() == '\\' ||
      (name.size() >= 2 && name[1] == ':' &&
       ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))) {
    return "an absolute name";
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) {
      end = name.size();
    }
    if (name.substr(start, end - start) == "..") {
      return "a name with \"..\" as a part";
    }
    start = end + 1;
  }
  return nullptr;
}

// Inflates a member's raw deflate stream into `out`, which it must fill to
// exactly `declared` bytes: no output past one byte more than that is ever
// made, so a member that inflates to more than it says is stopped there.
Expected<void> inflateMember(std::string_view data, std::uint64_t declared, std::uint64_t at,
                             std::string_view name, std::string& out) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) {
    return problemAt(at, memberPrefix(name) + "out of memory to inflate it");
  }
  // The input is at most 4 GiB - 1 (a 32-bit size), which uInt holds.
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  // A declared size is only a claim: memory is taken as the output grows.
  out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(declared, 1u << 20)));
  char buffer[1 << 16];
  int status = Z_OK;
  std::string problem;
  while (status == Z_OK) {
    const auto room =
        static_cast<uInt>(std::min<std::uint64_t>(sizeof buffer, declared + 1 - out.size()));
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = room;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, room - stream.avail_out);
    if (out.size() > declared) {
      problem = "inflates to more than its declared " + std::to_string(declared) + " bytes";
    } else if (status == Z_BUF_ERROR) {
      problem = "its deflated data is cut short";
    } else if (status == Z_DATA_ERROR) {
      problem = "its deflated data is corrupt";
      if (stream.msg != nullptr) {
        problem += " (";
        problem += stream.msg;
        problem += ')';
      }
    } else if (status == Z_MEM_ERROR) {
      problem = "out of memory to inflate it";
    } else if (status == Z_STREAM_END && stream.avail_in != 0) {
      problem = "its deflated data ends before its compressed size (" +
                std::to_string(stream.avail_in) + " more bytes)";
    } else if (status == Z_STREAM_END && out.size() != declared) {
      problem = "inflates to " + std::to_string(out.size()) + " bytes, not the declared " +
                std::to_string(declared);
    } else if (status != Z_OK && status != Z_STREAM_END) {
      problem = "cannot be inflated";
    }
    if (!problem.empty()) {
      break;
    }
  }
  inflateEnd(&stream);
  if (!problem.empty()) {
    return problemAt(at, memberPrefix(name) + problem);
  }
  return {};
}

// The end record: the last signature in the archive's final 64 KiB and 22
// bytes whose comment ends inside the archive.
Expected<std::size_t> findEnd(std::string_view archive) {
  if (archive.size() < kEndSize) {
    return problemAt(archive.size(), "not a zip archive: too short for its end record");
  }
  const std::size_t lowest =
      archive.size() - kEndSize - std::min(archive.size() - kEndSize, kMaxComment);
  for (std::size_t at = archive.size() - kEndSize + 1; at-- > lowest;) {
    if (get32(archive, at) == kEndSignature &&
        get16(archive, at + 20) <= archive.size() - kEndSize - at) {
      return at;
    }
  }
  return problemAt(archive.size(), "not a zip archive: no end of central directory record");
}

}  // namespace

Expected<std::vector<ZipMember>> readZip(std::string_view archive) {
  const auto foundEnd = findEnd(archive);
  if (!foundEnd) {
    return foundEnd.problem();
  }
  const std::size_t end = *foundEnd;
  const std::uint16_t disk = get16(archive, end + 4);
  const std::uint16_t directoryDisk = get16(archive, end + 6);
  const std::uint16_t entriesHere = get16(archive, end + 8);
  const std::uint16_t entries = get16(archive, end + 10);
  const std::uint32_t directorySize = get32(archive, end + 12);
  const std::uint32_t directoryOffset = get32(archive, end + 16);
  if ((end >= kZip64LocatorSize &&
       get32(archive, end - kZip64LocatorSize) == kZip64LocatorSignature) ||
      entries == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
    return problemAt(end, "a zip64 archive, which is not supported");
  }
  if (disk != 0 || directoryDisk != 0 || entriesHere != entries) {
    return problemAt(end, "an archive spread over several disks, which is not supported");
  }
  if (directoryOffset > end || directorySize > end - directoryOffset) {
    return problemAt(end, "the central directory runs past its end record");
  }
  if (directorySize / kCentralSize < entries) {
    return problemAt(
        end, "the central directory is too small for its " + std::to_string(entries) + " entries");
  }

  // First the central directory alone, so that an archive whose entries
  // declare too much in all is refused before anything is inflated.
  struct Entry {
    std::size_t at;  // its central directory header
    std::string_view name;
    std::uint16_t method;
    std::uint32_t crc;
    std::uint32_t compressedSize;
    std::uint32_t size;
    std::uint32_t localOffset;
  };
  std::vector<Entry> list;
  list.reserve(entries);
  std::unordered_set<std::string_view> names;
  std::uint64_t total = 0;
  const std::size_t directoryEnd = std::size_t{directoryOffset} + directorySize;
  std::size_t at = directoryOffset;
  for (std::uint16_t i = 0; i < entries; ++i) {
    if (directoryEnd - at < kCentralSize || get32(archive, at) != kCentralSignature) {
      return problemAt(at, "entry " + std::to_string(i + 1) +
                               " of the central directory is not a central directory header");
    }
    Entry entry{at,
                {},
                get16(archive, at + 10),
                get32(archive, at + 16),
                get32(archive, at + 20),
                get32(archive, at + 24),
                get32(archive, at + 42)};
    const std::uint16_t flags = get16(archive, at + 8);
    const std::size_t nameLength = get16(archive, at + 28);
    const std::size_t extraLength = get16(archive, at + 30);
    const std::size_t commentLength = get16(archive, at + 32);
    if (directoryEnd - at - kCentralSize < nameLength + extraLength + commentLength) {
      return problemAt(
          at, "entry " + std::to_string(i + 1) + " of the central directory runs past its end");
    }
    entry.name = archive.substr(at + kCentralSize, nameLength);
    const std::string prefix = memberPrefix(entry.name);
    if (const char* bad = badName(entry.name)) {
      return problemAt(at, prefix + bad);
    }
    if (!names.insert(entry.name).second) {
      return problemAt(at, prefix + "a second member of that name");
    }
    if (flags & (kFlagEncrypted | kFlagStrongEncryption)) {
      return problemAt(at, prefix + "encrypted, which is not supported");
    }
    if (entry.method != kStored && entry.method != kDeflated) {
      return problemAt(at, prefix + "compression method " + std::to_string(entry.method) +
                               ", which is not supported (only 0, stored, and 8, deflated)");
    }
    if (entry.compressedSize == 0xFFFFFFFF || entry.size == 0xFFFFFFFF ||
        entry.localOffset == 0xFFFFFFFF) {
      return problemAt(at, prefix + "zip64 sizes, which are not supported");
    }
    if (entry.size > kZipMemberLimit) {
      return problemAt(at, prefix + "declares " + std::to_string(entry.size) +
                               " bytes, more than the limit of " + std::to_string(kZipMemberLimit) +
                               " for one member");
    }
    total += entry.size;
    if (total > kZipArchiveLimit) {
      return problemAt(at, prefix + "takes the archive past the limit of " +
                               std::to_string(kZipArchiveLimit) + " bytes in all");
    }
    if (entry.method == kStored && entry.compressedSize != entry.size) {
      return problemAt(at, prefix + "stored, but its sizes differ (" +
                               std::to_string(entry.compressedSize) + " and " +
                               std::to_string(entry.size) + ")");
    }
    list.push_back(entry);
    at += kCentralSize + nameLength + extraLength + commentLength;
  }

  // Then each member from its local header, which must agree with the
  // central directory.
  std::vector<ZipMember> members;
  members.reserve(list.size());
  for (const Entry& entry : list) {
    const std::string prefix = memberPrefix(entry.name);
    const std::size_t local = entry.localOffset;
    if (local > archive.size() || archive.size() - local < kLocalSize) {
      return problemAt(std::min(local, archive.size()),
                       prefix + "its local header runs past the end of the archive");
    }
    if (get32(archive, local) != kLocalSignature) {
      return problemAt(local, prefix + "no local file header where the central directory puts it");
    }
    const std::uint16_t localFlags = get16(archive, local + 6);
    const std::size_t localNameLength = get16(archive, local + 26);
    const std::size_t localExtraLength = get16(archive, local + 28);
    const std::size_t dataOffset = local + kLocalSize + localNameLength + localExtraLength;
    if (dataOffset > archive.size()) {
      return problemAt(local, prefix + "its local header runs past the end of the archive");
    }
    if (archive.substr(local + kLocalSize, localNameLength) != entry.name) {
      return problemAt(local, prefix + "its local header names another member");
    }
    if (get16(archive, local + 8) != entry.method) {
      return problemAt(local, prefix + "its local header gives another compression method");
    }
    // With a data descriptor (flag 3) the local header may leave the CRC-32
    // and sizes zero, to be written after the data.
    if (!(localFlags & kFlagDataDescriptor) &&
        (get32(archive, local + 14) != entry.crc ||
         get32(archive, local + 18) != entry.compressedSize ||
         get32(archive, local + 22) != entry.size)) {
      return problemAt(local, prefix +
                                  "its local header gives other sizes or CRC-32 than the "
                                  "central directory");
    }
    if (archive.size() - dataOffset < entry.compressedSize) {
      return problemAt(dataOffset, prefix + "its " + std::to_string(entry.compressedSize) +
                                       " bytes of data run past the end of the archive");
    }

    const std::string_view data = archive.substr(dataOffset, entry.compressedSize);
    ZipMember member;
    member.name = entry.name;
    if (entry.method == kStored) {
      member.data = data;
    } else if (auto inflated = inflateMember(data, entry.size, dataOffset, entry.name, member.data);
               !inflated) {
      return inflated.problem();
    }
    if (crcOf(member.data) != entry.crc) {
      return problemAt(dataOffset, prefix + "its CRC-32 does not match its data");
    }
    members.push_back(std::move(member));
  }
  return members;
}

std::string writeZip(const std::vector<ZipMember>& members) {
  constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
  if (members.size() >= 0xFFFF) {
    throw std::length_error("a zip archive of 65535 members or more needs zip64");
  }
  std::string archive;
  std::string directory;
  for (const ZipMember& member : members) {
    if (member.name.size() > 0xFFFF) {
      throw std::length_error("a zip member's name is longer than 65535 bytes");
    }
    if (member.data.size() >= kMax32) {
      throw std::length_error("a zip member of 4 GiB or more needs zip64");
    }
    std::string deflated;
    if (!member.data.empty()) {
      z_stream stream{};
      if (deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::bad_alloc();
      }
      deflated.resize(deflateBound(&stream, static_cast<uLong>(member.data.size())));
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data.data()));
      stream.avail_in = static_cast<uInt>(member.data.size());
      stream.next_out = reinterpret_cast<Bytef*>(deflated.data());
      stream.avail_out = static_cast<uInt>(deflated.size());
      const int status = deflate(&stream, Z_FINISH);
      deflated.resize(stream.total_out);
      deflateEnd(&stream);
      if (status != Z_STREAM_END) {
        throw std::bad_alloc();
      }
    }
    const bool smaller = deflated.size() < member.data.size();
    const std::string& bytes = smaller ? deflated : member.data;
    const std::uint32_t crc = crcOf(member.data);
    const std::uint16_t flags =
        std::any_of(member.name.begin(), member.name.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; })
            ? kFlagUtf8
            : 0;
    if (archive.size() + kLocalSize + member.name.size() + bytes.size() >= kMax32) {
      throw std::length_error("a zip archive of 4 GiB or more needs zip64");
    }
    const auto localOffset = static_cast<std::uint32_t>(archive.size());

    // What the local header and the central directory's entry share, from
    // the version needed to the name's length.
    std::string common;
    put16(common, kVersionNeeded);
    put16(common, flags);
    put16(common, smaller ? kDeflated : kStored);
    put16(common, kDosTime);
    put16(common, kDosDate);
    put32(common, crc);
    put32(common, static_cast<std::uint32_t>(bytes.size()));
    put32(common, static_cast<std::uint32_t>(member.data.size()));
    put16(common, static_cast<std::uint32_t>(member.name.size()));
    put16(common, 0);  // extra field

    put32(archive, kLocalSignature);
    archive += common;
    archive += member.name;
    archive += bytes;

    put32(directory, kCentralSignature);
    put16(directory, kVersionNeeded);  // made by: MS-DOS attributes, version 2.0
    directory += common;
    put16(directory, 0);  // comment
    put16(directory, 0);  // disk
    put16(directory, 0);  // internal attributes
    put32(directory, 0);  // external attributes
    put32(directory, localOffset);
    directory += member.name;
  }
  if (archive.size() + directory.size() >= kMax32) {
    throw std::length_error("a zip archive of 4 GiB or more needs zip64");
  }
  const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
  archive += directory;
  put32(archive, kEndSignature);
  put16(archive, 0);  // this disk
  put16(archive, 0);  // the central directory's disk
  put16(archive, static_cast<std::uint32_t>(members.size()));
  put16(archive, static_cast<std::uint32_t>(members.size()));
  put32(archive, static_cast<std::uint32_t>(directory.size()));
  put32(archive, directoryOffset);
  put16(archive, 0);  // comment
  return archive;
}

}  // namespace krlist
