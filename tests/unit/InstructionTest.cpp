#include "decode/Instruction.h"
#include "decode/Listing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace krlist {
namespace {

TEST(InstructionTest, CopyKeepsItsBuffersAfterTheOriginalIsGone) {
  ByteArena arena;
  Listing listing;
  {
    const std::uint8_t data[] = {0x01, 0x02, 0x03, 0x04};
    const std::uint8_t extra[] = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11, 0x22};
    std::optional<Instruction> original(std::in_place);
    original->setOffset(0x1234);
    original->setOpcode(0x1F);
    original->setData(data, 4, arena);
    original->setExtra(extra, 8, arena);
    original->setText("name", arena);
    original->setKind(OperandKind::FloatPair);
    listing.push_back(*original);
    original.reset();
  }
  // Fill the arena's chunk past these buffers so that a reuse would show.
  for (int i = 0; i < 1000; ++i) {
    std::memset(arena.allocate(100), 0x5A, 100);
  }
  const Instruction& copy = listing.front();
  EXPECT_EQ(copy.offset(), 0x1234u);
  EXPECT_EQ(copy.opcode(), 0x1F);
  EXPECT_EQ(copy.kind(), OperandKind::FloatPair);
  ASSERT_EQ(copy.dataLength, 4);
  EXPECT_EQ(copy.dataByte(0), 0x01);
  EXPECT_EQ(copy.dataByte(3), 0x04);
  ASSERT_EQ(copy.extraLength, 8);
  EXPECT_EQ(copy.extraByte(0), 0xAA);
  EXPECT_EQ(copy.extraByte(7), 0x22);
  EXPECT_STREQ(copy.text(), "name");
}

TEST(InstructionTest, EmptyBuffersAreStillBuffers) {
  ByteArena arena;
  Instruction instruction;
  EXPECT_EQ(instruction.data(), nullptr);
  EXPECT_EQ(instruction.text(), nullptr);

  instruction.setData(nullptr, 0, arena);
  EXPECT_NE(instruction.data(), nullptr);
  EXPECT_EQ(instruction.dataLength, 0);

  instruction.setExtra(nullptr, 0, arena);
  EXPECT_NE(instruction.extra(), nullptr);

  instruction.setText("", arena);
  ASSERT_NE(instruction.text(), nullptr);
  EXPECT_EQ(instruction.text()[0], '\0');
}

TEST(InstructionTest, TextIsCopiedWhole) {
  ByteArena arena;
  std::string longName(3 << 20, 'x');  // larger than an arena chunk
  longName.back() = 'y';
  Instruction instruction;
  instruction.setText(longName, arena);
  longName.assign(longName.size(), '-');
  ASSERT_EQ(std::strlen(instruction.text()), longName.size());
  EXPECT_EQ(instruction.text()[0], 'x');
  EXPECT_EQ(instruction.text()[longName.size() - 1], 'y');
}

TEST(InstructionTest, RecordIsCompact) {
  // Millions of records make up the listing: no padding may creep in.
  if constexpr (sizeof(void*) == 8) {
    EXPECT_EQ(sizeof(Instruction), 40u);
  }
}

}  // namespace
}  // namespace krlist
