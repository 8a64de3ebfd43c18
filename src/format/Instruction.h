#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "format/OpcodeTable.h"

namespace krlist {

// One decoded instruction, read in place from the script's bytes: where its
// opcode byte lies in the file, the opcode, its fixed data bytes and its
// trailing operand. It holds no bytes of its own; it is good for as long as
// the script's bytes are.
class Instruction {
 public:
  Instruction() = default;
  // The instruction whose opcode byte is at `offset` in `script`, which the
  // decoder found whole there.
  Instruction(const std::uint8_t* script, std::uint64_t offset)
      : opcode_(script + offset), offset_(offset) {
    const OpcodeInfo& info = kOpcodeTable[*opcode_];
    dataLength = info.dataLength;
    const std::uint8_t* operand = opcode_ + 1 + dataLength;
    if (info.kind == OperandKind::String) {
      text_ = reinterpret_cast<const char*>(operand);
      textLength_ = std::strlen(text_);
    } else if (info.kind != OperandKind::None) {
      extra_ = operand;
      extraLength = static_cast<std::int32_t>(operandLength(info.kind, opcode_[1]));
    }
  }

  // The offset as the listing shows it, in eight hexadecimal digits: the
  // low 32 bits of the file offset, wrapping past 4 GiB. Translation files
  // name a string by it, as the listing does.
  std::uint32_t listingOffset() const { return static_cast<std::uint32_t>(offset_); }
  // Where the opcode byte lies in the file, in full.
  std::uint64_t fileOffset() const { return offset_; }
  std::uint8_t opcode() const { return *opcode_; }
  OperandKind kind() const { return kOpcodeTable[*opcode_].kind; }
  const std::uint8_t* data() const { return opcode_ + 1; }
  // The operand of a word list or a float pair or triple; null otherwise.
  const std::uint8_t* extra() const { return extra_; }
  // A string operand, ended by its own 0x00 in the script; null otherwise.
  const char* text() const { return text_; }
  // The same string as a view, without its 0x00; empty otherwise.
  std::string_view textView() const { return {text_, textLength_}; }
  // Bytes from the opcode to the end of the operand, a string's 0x00
  // included.
  std::uint64_t size() const {
    return 1 + static_cast<std::uint64_t>(dataLength) + static_cast<std::uint64_t>(extraLength) +
           (text_ != nullptr ? textLength_ + 1 : 0);
  }
  // Those bytes, as they lie in the script.
  std::string_view bytes() const {
    return {reinterpret_cast<const char*>(opcode_), static_cast<std::size_t>(size())};
  }
  // Unchecked, like the buffers themselves: callers stay within the lengths.
  std::uint8_t dataByte(std::int32_t i) const { return opcode_[1 + i]; }
  std::uint8_t extraByte(std::int32_t i) const { return extra_[i]; }

  // Number of fixed data bytes (0 or 4).
  std::int32_t dataLength = 0;
  // Number of trailing operand bytes, for word lists and float pairs and triples.
  std::int32_t extraLength = 0;

 private:
  const std::uint8_t* opcode_ = nullptr;
  const std::uint8_t* extra_ = nullptr;
  const char* text_ = nullptr;
  std::size_t textLength_ = 0;
  std::uint64_t offset_ = 0;
};

}  // namespace krlist
