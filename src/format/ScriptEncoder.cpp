#include "format/ScriptEncoder.h"

#include "format/OpcodeTable.h"

namespace krlist {

EncodeProblem appendInstruction(TextOutput& script, std::uint8_t opcode, std::string_view data,
                                std::string_view operand) {
  const OpcodeInfo& info = kOpcodeTable[opcode];
  if (!info.known) {
    return EncodeProblem::UnknownOpcode;
  }
  if (data.size() != info.dataLength) {
    return EncodeProblem::DataLength;
  }
  switch (info.kind) {
    case OperandKind::None:
      if (!operand.empty()) {
        return EncodeProblem::OperandLength;
      }
      break;
    case OperandKind::String:
      if (operand.find('\0') != std::string_view::npos) {
        return EncodeProblem::NulInString;
      }
      break;
    case OperandKind::WordList:
      // Only the first data byte counts the words.
      if (operand.size() != 4 * static_cast<std::size_t>(static_cast<std::uint8_t>(data[0]))) {
        return EncodeProblem::WordCount;
      }
      break;
    case OperandKind::FloatPair:
    case OperandKind::FloatTriple:
      if (operand.size() != (info.kind == OperandKind::FloatPair ? 8u : 12u)) {
        return EncodeProblem::OperandLength;
      }
      break;
  }
  script.write(static_cast<char>(opcode));
  script.write(data);
  script.write(operand);
  if (info.kind == OperandKind::String) {
    script.write('\0');
  }
  return EncodeProblem::None;
}

}  // namespace krlist
