#include "decode/ScriptDecoder.h"

#include "decode/OpcodeTable.h"

namespace krlist {

DecodeStop ScriptDecoder::decode(ByteReader& input) {
  // Where the input runs out between instructions the script is complete,
  // unless that was a read failing rather than the file ending.
  auto endOfInput = [&input]() {
    return input.readFailed() ? DecodeStop{StopReason::ReadFailed, input.offset(), 0}
                              : DecodeStop{};
  };

  for (;;) {
    if (!input.fill(1)) {
      return endOfInput();
    }
    const std::uint8_t opcode = input.bytes()[0];
    const OpcodeInfo& info = kOpcodeTable[opcode];
    if (info.known) {
      if (!readInstruction(input, info.dataLength, info.kind)) {
        if (input.readFailed()) {
          return endOfInput();
        }
        return {StopReason::Truncated, input.offset(), opcode};
      }
      continue;
    }
    if (opcode == 0x00) {
      // The end marker may only be the last byte.
      if (!input.fill(2)) {
        DecodeStop stop = endOfInput();
        stop.endMarker = stop.complete();
        return stop;
      }
      return {StopReason::MisplacedEndMarker, input.offset(), input.bytes()[1]};
    }
    return {StopReason::UnknownOpcode, input.offset(), opcode};
  }
}

bool ScriptDecoder::readInstruction(ByteReader& input, std::int32_t dataLength, OperandKind kind) {
  const std::size_t fixedLength = 1 + static_cast<std::size_t>(dataLength);
  if (!input.fill(fixedLength)) {
    return false;
  }
  // Bytes of the trailing operand, a string's 0x00 included.
  std::size_t operandLength = 0;
  switch (kind) {
    case OperandKind::None:
      break;
    case OperandKind::String: {
      const std::size_t end = input.find(0x00, fixedLength);
      if (end == ByteReader::npos) {
        return false;
      }
      operandLength = end - fixedLength + 1;
      break;
    }
    case OperandKind::WordList:
      // Only the first data byte counts the words; the other three do not.
      operandLength = 4 * static_cast<std::size_t>(input.bytes()[1]);
      break;
    case OperandKind::FloatPair:
      operandLength = 8;
      break;
    case OperandKind::FloatTriple:
      operandLength = 12;
      break;
  }
  if (!input.fill(fixedLength + operandLength)) {
    return false;
  }

  const std::uint8_t* bytes = input.bytes();
  const std::uint8_t* operand = bytes + fixedLength;
  Instruction instruction;
  instruction.setOffset(static_cast<std::uint32_t>(input.offset()));
  instruction.setOpcode(bytes[0]);
  instruction.setData(bytes + 1, dataLength, arena_);
  instruction.setKind(kind);
  if (kind == OperandKind::String) {
    instruction.setText({reinterpret_cast<const char*>(operand), operandLength - 1}, arena_);
  } else if (kind != OperandKind::None) {
    instruction.setExtra(operand, static_cast<std::int32_t>(operandLength), arena_);
  }
  listing_.push_back(instruction);
  input.skip(fixedLength + operandLength);
  return true;
}

}  // namespace krlist
