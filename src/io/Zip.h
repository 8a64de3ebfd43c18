#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/Problem.h"

namespace krlist {

// Zip archives, as workbooks are packed: local file headers with each
// member's bytes, stored or deflated, then a central directory that lists
// them and an end record that finds it. Nothing more is read or written: no
// zip64, no encryption, no archive spread over several disks.

// One file of an archive: its name as stored ("xl/worksheets/sheet1.xml") and its bytes.
struct ZipMember {
  std::string name;
  std::string data;
};

// What a member, and all of an archive, may inflate to before it is refused:
// more than any workbook needs, and little enough that a small archive that
// declares or inflates to gigabytes (a "zip bomb") is stopped as soon as it
// passes the limit.
inline constexpr std::uint64_t kZipMemberLimit = std::uint64_t{256} << 20;
inline constexpr std::uint64_t kZipArchiveLimit = std::uint64_t{1} << 30;

// Reads a whole archive: every member, inflated, in the central directory's
// order. The central directory is the truth about each member; its local
// header must agree with it (but for the sizes and CRC-32 of a member written
// with a data descriptor, which the local header leaves zero), and its bytes
// must inflate to exactly the declared size with the declared CRC-32. A name
// that is empty, absolute (a leading '/' or '\\', a drive letter) or has ".."
// as a part, or that an earlier member has, is refused. A problem names the
// byte offset (Location::offset, never past the archive's size) where the
// archive goes wrong and says what; it names no file (the caller does).
Expected<std::vector<ZipMember>> readZip(std::string_view archive);

// An archive of `members` in that order, each deflated (raw deflate, level 6)
// or stored when deflating does not make it smaller, with CRC-32s and a
// central directory. Deterministic: the same members give the same bytes
// (every member dated 1980-01-01 00:00). A name with bytes past ASCII is
// flagged as UTF-8. Members that do not fit an archive without zip64 (65535
// or more, a name of 64 KiB or more, 4 GiB or more in all) throw
// std::length_error: the caller's mistake, never something a file can cause.
std::string writeZip(const std::vector<ZipMember>& members);

}  // namespace krlist
