#include "format/StringVote.h"

namespace krlist {

void voteOnStrings(const InstructionList& instructions, EncodingVote& vote) {
  for (const Instruction& instruction : instructions) {
    if (instruction.kind() == OperandKind::String) {
      vote.add(instruction.textView());
    }
  }
}

Encoding encodingOfStrings(const InstructionList& instructions) {
  EncodingVote vote;
  voteOnStrings(instructions, vote);
  return vote.choice();
}

}  // namespace krlist
