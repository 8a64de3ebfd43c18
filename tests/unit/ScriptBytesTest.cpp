// A script that cannot be mapped is read in blocks; these cases feed it
// through stdio streams whose reads return few bytes at a time or fail, which
// no file on disk does on demand.

#include "io/ScriptBytes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "format/ScriptDecoder.h"
#include "listing/DecodeReport.h"
#include "listing/ListingPrinter.h"

namespace krlist {
namespace {

// Serves `bytes` at most `chunk` bytes per read, then fails every read with
// EIO if `failAtEnd`, or reports the end of the file otherwise.
struct ScriptedFile {
  std::vector<std::uint8_t> bytes;
  std::size_t chunk;
  bool failAtEnd;
  std::size_t position = 0;

  static ssize_t read(void* cookie, char* buffer, std::size_t size) {
    auto* self = static_cast<ScriptedFile*>(cookie);
    if (self->position == self->bytes.size()) {
      if (self->failAtEnd) {
        errno = EIO;
        return -1;
      }
      return 0;
    }
    const std::size_t count = std::min({size, self->chunk, self->bytes.size() - self->position});
    std::memcpy(buffer, self->bytes.data() + self->position, count);
    self->position += count;
    return static_cast<ssize_t>(count);
  }

  std::FILE* open() {
    cookie_io_functions_t functions{};
    functions.read = &ScriptedFile::read;
    return fopencookie(this, "rb", functions);
  }
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
  std::size_t records;
};

Outcome decodeThrough(const ScriptBytes& script) {
  Console console(nullptr, nullptr);
  ScriptDecoder decoder;
  const DecodeStop stop = decoder.decode(script);
  const int status = stop.complete() ? 0 : -1;
  reportStop(stop, "script.kr", console);
  if (status == 0) {
    printListing(decoder.instructions(), console.out());
  }
  return {status, std::string(console.out().text()), std::string(console.err().text()),
          decoder.instructions().size()};
}

Outcome decodeFile(ScriptedFile file) {
  std::FILE* stream = file.open();
  EXPECT_NE(stream, nullptr);
  ScriptBytes script;
  const bool read = script.load(stream, 1 + file.chunk % 5);
  EXPECT_EQ(read, !file.failAtEnd);
  std::fclose(stream);
  return decodeThrough(script);
}

Outcome decodeMemory(const std::vector<std::uint8_t>& bytes) {
  ScriptBytes script;
  script.view(bytes.data(), bytes.size());
  return decodeThrough(script);
}

std::vector<std::uint8_t> mixedScript() {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 20000; ++i) {
    const std::uint8_t n = static_cast<std::uint8_t>(i);
    const std::vector<std::uint8_t> piece[] = {
        {0x17, n, 0x00, 0x00, 0x80},                            // integer
        {0x2B, n, 0x01, 0x00, 0x00, 'n', 'a', 'm', 'e', 0x00},  // definition
        {0x16, n, 0x01, 0x00, 0x00},                            // reference
        {0x2F, 2, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, n},             // two words
        {0x1F, 0, 0, 0x80, 0x3F, 0, 0, 0, n},                   // float pair
        {0x03},
    };
    const auto& chosen = piece[i % 6];
    bytes.insert(bytes.end(), chosen.begin(), chosen.end());
  }
  return bytes;
}

TEST(ScriptBytesTest, SmallReadsDecodeAsTheWholeBufferDoes) {
  const std::vector<std::uint8_t> bytes = mixedScript();
  const Outcome whole = decodeMemory(bytes);
  ASSERT_EQ(whole.status, 0);
  ASSERT_EQ(whole.records, 20000u);
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
    const Outcome pieces = decodeFile({bytes, chunk, false});
    EXPECT_EQ(pieces.status, 0) << "chunk " << chunk;
    EXPECT_EQ(pieces.records, whole.records) << "chunk " << chunk;
    EXPECT_TRUE(pieces.out == whole.out) << "chunk " << chunk;
  }
}

TEST(ScriptBytesTest, StringLongerThanABlockIsReadWhole) {
  std::vector<std::uint8_t> bytes = {0x1B, 0x01, 0x02, 0x03, 0x04};
  bytes.insert(bytes.end(), 3 << 20, 'a');
  bytes.push_back(0x00);
  bytes.push_back(0x03);
  const Outcome outcome = decodeFile({bytes, 65536, false});
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.records, 2u);
  const std::string expected =
      "00000000:1B  01 02 03 04 :: " + std::string(3 << 20, 'a') + "\n" + "00300006:03  \n";
  EXPECT_TRUE(outcome.out == expected);
}

TEST(ScriptBytesTest, ReadErrorIsNotTheEndOfTheFile) {
  // Between instructions: the records before the failure stay.
  Outcome outcome = decodeFile({{0x03, 0x17, 0x01, 0x00, 0x00, 0x00}, 2, true});
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.records, 2u);
  EXPECT_EQ(outcome.err, "Failed to read script.kr\n");
  EXPECT_EQ(outcome.out, "");

  // Inside an instruction: neither completed nor reported as truncated.
  outcome = decodeFile({{0x03, 0x17, 0x01, 0x00}, 3, true});
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.records, 1u);
  EXPECT_EQ(outcome.err, "Failed to read script.kr\n");
  EXPECT_EQ(outcome.out, "");

  // After a 0x00: it was not the last byte of the file, only of what was read.
  outcome = decodeFile({{0x03, 0x00}, 1, true});
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.err, "Failed to read script.kr\n");
}

// A mapped file that another program cuts short: every byte of the mapping
// still reads, zeros past the cut, where it would otherwise end the process
// with SIGBUS, and the bytes say they changed. Untouched, they do not.
TEST(ScriptBytesTest, MappedFileCutShortReadsOnAndSaysItChanged) {
  char name[] = "/tmp/krlist-cut-XXXXXX";
  const int descriptor = mkstemp(name);
  ASSERT_NE(descriptor, -1);
  const std::string bytes(1 << 20, '\x03');
  ASSERT_EQ(write(descriptor, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ASSERT_EQ(lseek(descriptor, 0, SEEK_SET), 0);
  std::FILE* file = fdopen(descriptor, "rb");
  ScriptBytes script;
  ASSERT_TRUE(script.load(file));
  std::fclose(file);
  ASSERT_EQ(script.size(), bytes.size());
  EXPECT_TRUE(script.unchanged("cut.kr"));

  ASSERT_EQ(truncate(name, 4096), 0);
  std::size_t sum = 0;
  for (std::size_t i = 0; i < script.size(); ++i) {
    sum += script.data()[i];
  }
  EXPECT_EQ(sum, 4096u * 3);
  const Expected<void> unchanged = script.unchanged("cut.kr");
  ASSERT_FALSE(unchanged);
  EXPECT_EQ(unchanged.problem().describe(), "cut.kr: the file changed while it was read");
  unlink(name);
}

}  // namespace
}  // namespace krlist
