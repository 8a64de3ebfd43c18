#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/ScriptDecoder.h"
#include "listing/DecodeReport.h"

namespace krlist {
namespace {

// Where and why decoding stops, and how the listing reports it, for a byte
// that is no opcode beside each block of opcodes and for every shape of
// instruction cut short by the end of the file. The decoder counts the
// instructions before the stop; the report names the offset and the byte of
// the stop, the byte as two hex digits, never sign-extended.
struct StopCase {
  const char* bytes;  // in hex
  StopReason reason;
  std::uint64_t offset;  // of the byte that stopped the decode
  std::uint8_t value;
  std::size_t decoded;   // instructions before the stop
  const char* reported;  // the line under the listing's title
};

constexpr StopReason kUnknown = StopReason::UnknownOpcode;
constexpr StopReason kCutShort = StopReason::Truncated;

const StopCase kStops[] = {
    // A byte that is no opcode, beside each block of opcodes.
    {"01", kUnknown, 0x00, 0x01, 0, "00000000:01"},     // between 0x00 and the first opcode
    {"07 08", kUnknown, 0x01, 0x08, 1, "00000001:08"},  // after the low block 0x02..0x07
    {"05 06 15 16 01 00 00 00", kUnknown, 0x02, 0x15, 2, "00000002:15"},  // last below 0x16
    {"17 01 00 00 00 18", kUnknown, 0x05, 0x18, 1, "00000005:18"},        // after an integer's data
    {"1A 00 00 80 3F 19", kUnknown, 0x05, 0x19, 1, "00000005:19"},        // between 0x17 and 0x1A
    {"1C 01 02 03 04 41 00 1D", kUnknown, 0x07, 0x1D, 1, "00000007:1D"},  // after a string's 0x00
    {"26 28 27", kUnknown, 0x02, 0x27, 2, "00000002:27"},  // the hole between 0x26 and 0x28
    {"28 29", kUnknown, 0x01, 0x29, 1, "00000001:29"},
    {"2B 00 00 00 00 00 2A", kUnknown, 0x06, 0x2A, 1, "00000006:2A"},  // after an empty name
    {"30 31", kUnknown, 0x01, 0x31, 1, "00000001:31"},  // the first above the highest opcode
    {"80", kUnknown, 0x00, 0x80, 0, "00000000:80"},     // the first with its top bit set
    {"20 21 FF", kUnknown, 0x02, 0xFF, 2, "00000002:FF"},
    // An end marker before the end: the byte after it is reported, even an
    // opcode.
    {"03 00 03", StopReason::MisplacedEndMarker, 0x01, 0x03, 1, "00000002:03"},
    // Every shape of instruction cut short by the end of the file.
    {"03 02 01 02 03", kCutShort, 0x01, 0x02, 1, "00000001:02"},           // 3 of 4 data bytes
    {"05 17", kCutShort, 0x01, 0x17, 1, "00000001:17"},                    // no data bytes
    {"17 0A", kCutShort, 0x00, 0x17, 0, "00000000:17"},                    // 1 of 4 data bytes
    {"2B 01 00", kCutShort, 0x00, 0x2B, 0, "00000000:2B"},                 // 2 of 4 data bytes
    {"03 1C 01 02 03 04", kCutShort, 0x01, 0x1C, 1, "00000001:1C"},        // no string
    {"1B 01 00 00 00 41 42 43", kCutShort, 0x00, 0x1B, 0, "00000000:1B"},  // no 0x00
    {"05 2F 02 00 00 00 11 22 33 44 55 66 77", kCutShort, 0x01, 0x2F, 1,
     "00000001:2F"},                                                       // 7 of 8 word bytes
    {"04 1F 00 00 80 3F 00 00", kCutShort, 0x01, 0x1F, 1, "00000001:1F"},  // 6 of 8 float bytes
    {"17 01 00 00 00 1E 00 00 80 3F 00 00 00 40 00 00 40", kCutShort, 0x05, 0x1E, 1,
     "00000005:1E"},  // 11 of 12 float bytes
};

std::vector<std::uint8_t> fromHex(const char* hex) {
  std::vector<std::uint8_t> bytes;
  for (const char* at = hex; *at != '\0'; at += at[2] == ' ' ? 3 : 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(std::string(at, 2), nullptr, 16)));
  }
  return bytes;
}

TEST(DecodeStopTest, StopsWhereAndAsTheListingReports) {
  for (const StopCase& c : kStops) {
    SCOPED_TRACE(c.bytes);
    const std::vector<std::uint8_t> bytes = fromHex(c.bytes);
    ScriptBytes script;
    script.view(bytes.data(), bytes.size());
    ScriptDecoder decoder;
    const DecodeStop stop = decoder.decode(script);
    EXPECT_EQ(stop.reason, c.reason);
    EXPECT_EQ(stop.offset, c.offset);
    EXPECT_EQ(stop.value, c.value);
    EXPECT_FALSE(stop.endMarker);
    EXPECT_EQ(decoder.instructions().size(), c.decoded);

    Console console(nullptr, nullptr);
    reportStop(stop, "s.kr", console);
    const std::string title = c.reason == StopReason::Truncated ? "!! Unexpected end of file !!"
                                                                : "!! Found Uknown OpCode !!";
    EXPECT_EQ(console.out().text(), "\n--------------------------\n" + title +
                                        "\n--------------------------\n\n" + c.reported + "\n\n");
    EXPECT_EQ(console.err().text(), "");
  }
}

// A string that never ends is cut short however long it runs, and a name
// with it: the stop is at its opcode, not somewhere in its text.
TEST(DecodeStopTest, AStringWithoutItsEndIsCutShortAtItsOpcode) {
  std::vector<std::uint8_t> bytes = {0x03, 0x2B, 1, 0, 0, 0};
  bytes.resize(bytes.size() + 300, 'A');
  ScriptBytes script;
  script.view(bytes.data(), bytes.size());
  ScriptDecoder decoder;
  const DecodeStop stop = decoder.decode(script);
  EXPECT_EQ(stop.reason, StopReason::Truncated);
  EXPECT_EQ(stop.offset, 1u);
  EXPECT_EQ(stop.value, 0x2B);
  EXPECT_EQ(decoder.instructions().size(), 1u);
}

// A failed read is reported on standard error alone, since the bytes that
// were read decoded and nothing is wrong with them.
TEST(DecodeStopTest, AFailedReadIsReportedOnStandardError) {
  Console console(nullptr, nullptr);
  reportStop({StopReason::ReadFailed, 7, 0, false}, "s.kr", console);
  EXPECT_EQ(console.out().text(), "");
  EXPECT_EQ(console.err().text(), "Failed to read s.kr\n");
}

}  // namespace
}  // namespace krlist
