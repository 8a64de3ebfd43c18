#pragma once

#include <array>
#include <cstdint>

#include "decode/Instruction.h"

namespace krlist {

// What the format says about one byte value in opcode position.
struct OpcodeInfo {
  bool known = false;
  std::uint8_t dataLength = 0;  // fixed data bytes after the opcode
  OperandKind kind = OperandKind::None;
};

// The complete instruction set: every byte value that is not listed here is
// not an opcode. 0x00 is not an opcode either; it may only end the file.
constexpr std::array<OpcodeInfo, 256> makeOpcodeTable() {
  std::array<OpcodeInfo, 256> table{};
  auto add = [&table](std::uint8_t opcode, std::uint8_t dataLength, OperandKind kind) {
    table[opcode] = {true, dataLength, kind};
  };
  add(0x02, 4, OperandKind::None);  // printed after an empty line
  add(0x03, 0, OperandKind::None);
  add(0x04, 0, OperandKind::None);  // printed before an empty line
  add(0x05, 0, OperandKind::None);
  add(0x06, 0, OperandKind::None);
  add(0x07, 0, OperandKind::None);
  add(0x16, 4, OperandKind::None);  // name reference, keyed by its data bytes
  add(0x17, 4, OperandKind::None);  // signed 32-bit integer
  add(0x1A, 4, OperandKind::None);  // single-precision float
  add(0x1B, 4, OperandKind::String);
  add(0x1C, 4, OperandKind::String);
  add(0x1E, 0, OperandKind::FloatTriple);
  add(0x1F, 0, OperandKind::FloatPair);
  for (std::uint8_t opcode = 0x20; opcode <= 0x26; ++opcode) {
    add(opcode, 0, OperandKind::None);
  }
  add(0x28, 0, OperandKind::None);
  add(0x2B, 4, OperandKind::String);  // name definition: key in the data bytes, name in the string
  add(0x2C, 0, OperandKind::None);
  add(0x2D, 0, OperandKind::None);
  add(0x2E, 4, OperandKind::None);
  add(0x2F, 4, OperandKind::WordList);  // the first data byte counts the words
  add(0x30, 0, OperandKind::None);
  return table;
}

inline constexpr std::array<OpcodeInfo, 256> kOpcodeTable = makeOpcodeTable();

}  // namespace krlist
