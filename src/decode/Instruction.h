#pragma once

#include <cstdint>
#include <string_view>

#include "decode/ByteArena.h"

namespace krlist {

// Shape of the operand that follows an instruction's fixed data bytes.
enum class OperandKind : std::uint8_t {
  None = 0,
  String = 1,       // bytes up to a 0x00, which is consumed and not stored
  WordList = 3,     // 4 x N bytes, N being the first data byte
  FloatPair = 4,    // two little-endian IEEE 754 singles
  FloatTriple = 5,  // three little-endian IEEE 754 singles
};

// One decoded instruction: where its opcode byte lies in the file, the opcode,
// its fixed data bytes and its trailing operand.
//
// The setters copy the bytes they are given into buffers taken from an arena
// (the decoder's, which lives as long as the listing). A record is a plain value: copies share
// those buffers, and they stay valid for as long as the arena, whatever happens to the record they
// were first stored in.
class Instruction {
 public:
  void setOffset(std::uint32_t offset) { offset_ = offset; }
  void setOpcode(std::uint8_t opcode) { opcode_ = opcode; }
  void setKind(OperandKind kind) { kind_ = kind; }
  void setData(const std::uint8_t* bytes, std::int32_t length, ByteArena& arena);
  void setExtra(const std::uint8_t* bytes, std::int32_t length, ByteArena& arena);
  // Stores the text followed by a terminating NUL.
  void setText(std::string_view text, ByteArena& arena);

  std::uint32_t offset() const { return offset_; }
  std::uint8_t opcode() const { return opcode_; }
  OperandKind kind() const { return kind_; }
  const std::uint8_t* data() const { return data_; }
  const std::uint8_t* extra() const { return extra_; }
  // NUL-terminated; null unless the operand is a string.
  const char* text() const { return text_; }
  // Unchecked, like the buffers themselves: callers stay within the lengths.
  std::uint8_t dataByte(std::int32_t i) const { return data_[i]; }
  std::uint8_t extraByte(std::int32_t i) const { return extra_[i]; }

  // Number of fixed data bytes (0 or 4).
  std::int32_t dataLength = 0;
  // Number of trailing operand bytes, for word lists and float pairs and triples.
  std::int32_t extraLength = 0;

 private:
  // Ordered so that a record has no padding inside it (40 bytes on 64-bit
  // systems): the listing holds one per instruction.
  const std::uint8_t* data_ = nullptr;
  const std::uint8_t* extra_ = nullptr;
  const char* text_ = nullptr;
  std::uint32_t offset_ = 0;
  std::uint8_t opcode_ = 0;
  OperandKind kind_ = OperandKind::None;
};

}  // namespace krlist
