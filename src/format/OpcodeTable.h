#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace krlist {

// Shape of the operand that follows an instruction's fixed data bytes.
enum class OperandKind : std::uint8_t {
  None = 0,
  String = 1,       // bytes up to a 0x00, which ends the string
  WordList = 3,     // 4 x N bytes, N being the first data byte
  FloatPair = 4,    // two little-endian IEEE 754 singles
  FloatTriple = 5,  // three little-endian IEEE 754 singles
};

// What an opcode's four data bytes hold. Decoding and building treat them all
// as four bytes; the listing and the JSON form show them by their meaning.
enum class DataMeaning : std::uint8_t {
  Bytes,    // four bytes with no meaning of their own (and opcodes without data)
  NameKey,  // the key of a name: a definition (0x2B) and a reference (0x16) share it
  Integer,  // a signed 32-bit integer
  Float,    // a single-precision float
};

// What the format says about one byte value in opcode position.
struct OpcodeInfo {
  bool known = false;
  std::uint8_t dataLength = 0;  // fixed data bytes after the opcode
  OperandKind kind = OperandKind::None;
  DataMeaning meaning = DataMeaning::Bytes;
};

// The length of the operand after the data bytes, for every kind but a
// string, which ends at its 0x00 wherever that lies. Only the first data byte
// counts a word list's words; the other three do not.
constexpr std::size_t operandLength(OperandKind kind, std::uint8_t firstDataByte) {
  switch (kind) {
    case OperandKind::WordList:
      return 4 * static_cast<std::size_t>(firstDataByte);
    case OperandKind::FloatPair:
      return 8;
    case OperandKind::FloatTriple:
      return 12;
    case OperandKind::None:
    case OperandKind::String:
      break;
  }
  return 0;
}

inline constexpr std::uint8_t kNameReference = 0x16;
inline constexpr std::uint8_t kNameDefinition = 0x2B;

// The complete instruction set: every byte value that is not listed here is
// not an opcode. 0x00 is not an opcode either; it may only end the file.
constexpr std::array<OpcodeInfo, 256> makeOpcodeTable() {
  std::array<OpcodeInfo, 256> table{};
  auto add = [&table](std::uint8_t opcode, std::uint8_t dataLength, OperandKind kind,
                      DataMeaning meaning = DataMeaning::Bytes) {
    table[opcode] = {true, dataLength, kind, meaning};
  };
  add(0x02, 4, OperandKind::None);  // printed after an empty line
  add(0x03, 0, OperandKind::None);
  add(0x04, 0, OperandKind::None);  // printed before an empty line
  add(0x05, 0, OperandKind::None);
  add(0x06, 0, OperandKind::None);
  add(0x07, 0, OperandKind::None);
  add(kNameReference, 4, OperandKind::None, DataMeaning::NameKey);
  add(0x17, 4, OperandKind::None, DataMeaning::Integer);
  add(0x1A, 4, OperandKind::None, DataMeaning::Float);
  add(0x1B, 4, OperandKind::String);
  add(0x1C, 4, OperandKind::String);
  add(0x1E, 0, OperandKind::FloatTriple);
  add(0x1F, 0, OperandKind::FloatPair);
  for (std::uint8_t opcode = 0x20; opcode <= 0x26; ++opcode) {
    add(opcode, 0, OperandKind::None);
  }
  add(0x28, 0, OperandKind::None);
  // A name definition: the key in the data bytes, the name in the string.
  add(kNameDefinition, 4, OperandKind::String, DataMeaning::NameKey);
  add(0x2C, 0, OperandKind::None);
  add(0x2D, 0, OperandKind::None);
  add(0x2E, 4, OperandKind::None);
  add(0x2F, 4, OperandKind::WordList);  // the first data byte counts the words
  add(0x30, 0, OperandKind::None);
  return table;
}

inline constexpr std::array<OpcodeInfo, 256> kOpcodeTable = makeOpcodeTable();

}  // namespace krlist
