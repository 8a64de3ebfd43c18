#include "listing/ListingPrinter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "format/ScriptDecoder.h"

namespace krlist {
namespace {

// A script long enough to be formatted in several pieces on two workers, each
// piece more text than a worker's buffer holds, listed against the listing
// written line by line as one piece: a piece cut short, a piece out of turn
// or a walk started at the wrong instruction all show. The script mixes
// every shape of line: the empty lines around 0x02 and 0x04, integers,
// strings of every length up to a few hundred bytes, a name and references
// to it and to no name.
TEST(ListingPrinterTest, PiecesOnTwoWorkersGiveTheListingOfOnePiece) {
  std::vector<std::uint8_t> script;
  std::string expected;
  char line[64];
  const auto add = [&script](std::initializer_list<std::uint8_t> bytes) {
    script.insert(script.end(), bytes);
  };
  const auto head = [&](std::uint8_t opcode) {
    std::snprintf(line, sizeof line, "%08X:%02X  ", static_cast<unsigned>(script.size()), opcode);
    return std::string(line);
  };

  expected += head(0x2B) + "01 00 00 00 :: Alice\n";
  add({0x2B, 0x01, 0x00, 0x00, 0x00, 'A', 'l', 'i', 'c', 'e', 0x00});
  std::mt19937 random(2024);
  const std::size_t count = 4 * InstructionList::kCheckpointInterval + 1234;
  for (std::size_t i = 1; i < count; ++i) {
    switch (random() % 8) {
      case 0:
        expected += '\n';
        expected += head(0x02) + "07 00 00 00 \n";
        add({0x02, 0x07, 0x00, 0x00, 0x00});
        break;
      case 1:
        expected += head(0x04) + "\n\n";
        add({0x04});
        break;
      case 2: {
        const auto value = static_cast<std::int32_t>(random());
        const auto bits = static_cast<std::uint32_t>(value);
        expected += head(0x17);
        std::snprintf(line, sizeof line, "%02X %02X %02X %02X :: %d\n", bits & 0xFF,
                      bits >> 8 & 0xFF, bits >> 16 & 0xFF, bits >> 24, value);
        expected += line;
        add({0x17, static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
             static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)});
        break;
      }
      case 3:
        expected += head(0x16) + "01 00 00 00 -> Alice\n";
        add({0x16, 0x01, 0x00, 0x00, 0x00});
        break;
      case 4:
        expected += head(0x16) + "09 00 00 00 \n";
        add({0x16, 0x09, 0x00, 0x00, 0x00});
        break;
      default: {
        const std::string text(random() % 700, static_cast<char>('a' + i % 26));
        expected += head(0x1B) + "00 00 00 00 :: " + text + "\n";
        add({0x1B, 0x00, 0x00, 0x00, 0x00});
        script.insert(script.end(), text.begin(), text.end());
        add({0x00});
        break;
      }
    }
  }

  ScriptBytes bytes;
  bytes.view(script.data(), script.size());
  ScriptDecoder decoder;
  ASSERT_TRUE(decoder.decode(bytes).complete());
  ASSERT_EQ(decoder.instructions().size(), count);
  TextOutput out(nullptr);
  printListing(decoder.instructions(), out);
  // More than 2 MiB a piece on average: more than a worker's buffer.
  ASSERT_GT(expected.size(),
            (count / InstructionList::kCheckpointInterval) * (std::size_t{2} << 20));
  ASSERT_EQ(out.text().size(), expected.size());
  EXPECT_TRUE(out.text() == expected);
}

}  // namespace
}  // namespace krlist
