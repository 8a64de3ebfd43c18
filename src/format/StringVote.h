#pragma once

#include "format/InstructionList.h"
#include "text/EncodingVote.h"

namespace krlist {

// Adds every string operand of `instructions` (dialogue and names) to
// `vote`.
void voteOnStrings(const InstructionList& instructions, EncodingVote& vote);

// The encoding the strings of one script tell, or the format's own when they
// tell none: for a script taken alone.
Encoding encodingOfStrings(const InstructionList& instructions);

}  // namespace krlist
