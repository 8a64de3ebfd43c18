#include "format/Instruction.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "format/ScriptDecoder.h"

namespace krlist {
namespace {

// An instruction is read in place from the script's bytes: every kind of operand
// shows the right bytes, and a string its text up to its own 0x00.
TEST(InstructionTest, ReadsEveryKindInPlace) {
  const std::vector<std::uint8_t> bytes = {
      0x03,                                             // no data, no operand     @00
      0x17, 0xF6, 0xFF, 0xFF, 0xFF,                     // data only               @01
      0x2B, 0x01, 0x00, 0x00, 0x00, 'B',  'o', 'b', 0,  // data and a string       @06
      0x1B, 0x00, 0x00, 0x00, 0x00, 0x00,               // an empty string         @0F
      0x2F, 0x02, 0x09, 0x00, 0x00, 1,    2,   3,   4,
      5,    6,    7,    8,                                 // two words, spare count bytes @15
      0x1F, 0,    0,    0x80, 0x3F, 0,    0,   0,   0xC0,  // a float pair            @22
  };
  ScriptBytes script;
  script.view(bytes.data(), bytes.size());
  ScriptDecoder decoder;
  ASSERT_TRUE(decoder.decode(script).complete());
  std::vector<Instruction> instructions(decoder.instructions().begin(),
                                        decoder.instructions().end());
  ASSERT_EQ(instructions.size(), 6u);

  EXPECT_EQ(instructions[0].listingOffset(), 0x00u);
  EXPECT_EQ(instructions[0].dataLength, 0);
  EXPECT_EQ(instructions[0].extra(), nullptr);
  EXPECT_EQ(instructions[0].text(), nullptr);

  EXPECT_EQ(instructions[1].listingOffset(), 0x01u);
  EXPECT_EQ(instructions[1].opcode(), 0x17);
  ASSERT_EQ(instructions[1].dataLength, 4);
  EXPECT_EQ(instructions[1].dataByte(0), 0xF6);

  EXPECT_EQ(instructions[2].kind(), OperandKind::String);
  EXPECT_STREQ(instructions[2].text(), "Bob");
  EXPECT_STREQ(instructions[3].text(), "");

  EXPECT_EQ(instructions[4].listingOffset(), 0x15u);
  ASSERT_EQ(instructions[4].extraLength, 8);  // only the first data byte counts
  EXPECT_EQ(std::memcmp(instructions[4].extra(), bytes.data() + 0x1A, 8), 0);

  EXPECT_EQ(instructions[5].kind(), OperandKind::FloatPair);
  ASSERT_EQ(instructions[5].extraLength, 8);
  EXPECT_EQ(instructions[5].extraByte(7), 0xC0);
}

// A listing walks the script's bytes again, and a walk may start at any
// index: from a checkpoint, from between two, from the end. Each must reach
// the instruction a walk from the start reaches.
TEST(InstructionTest, WalksFromAnyIndexAsFromTheStart) {
  const std::vector<std::vector<std::uint8_t>> shapes = {
      {0x03}, {0x17, 1, 2, 3, 4}, {0x1B, 0, 0, 0, 0, 'h', 'i', 0}, {0x2F, 1, 0, 0, 0, 5, 6, 7, 8}};
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint64_t> offsets;
  std::mt19937 random(5);
  while (offsets.size() < 3 * InstructionList::kCheckpointInterval + 7) {
    offsets.push_back(bytes.size());
    const std::vector<std::uint8_t>& shape = shapes[random() % shapes.size()];
    bytes.insert(bytes.end(), shape.begin(), shape.end());
  }
  ScriptBytes script;
  script.view(bytes.data(), bytes.size());
  ScriptDecoder decoder;
  ASSERT_TRUE(decoder.decode(script).complete());
  const InstructionList& listing = decoder.instructions();
  ASSERT_EQ(listing.size(), offsets.size());

  std::size_t index = 0;
  for (const Instruction& instruction : listing) {
    ASSERT_EQ(instruction.fileOffset(), offsets[index++]);
  }
  constexpr std::size_t kInterval = InstructionList::kCheckpointInterval;
  for (std::size_t start : {std::size_t{0}, std::size_t{1}, kInterval - 1, kInterval,
                            2 * kInterval + 3, 3 * kInterval, offsets.size() - 1}) {
    EXPECT_EQ(listing.at(start)->fileOffset(), offsets[start]) << "index " << start;
  }
  EXPECT_TRUE(listing.at(offsets.size()) == listing.end());
}

}  // namespace
}  // namespace krlist
