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
  if (info.kind == OperandKind::String) {
    if (operand.find('\0') != std::string_view::npos) {
      return EncodeProblem::NulInString;
    }
  } else if (operand.size() !=
             operandLength(info.kind, data.empty() ? 0 : static_cast<std::uint8_t>(data[0]))) {
    return info.kind == OperandKind::WordList ? EncodeProblem::WordCount
                                              : EncodeProblem::OperandLength;
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
