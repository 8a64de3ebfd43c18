#pragma once

#include "format/InstructionList.h"
#include "io/TextOutput.h"

namespace krlist {

// Writes one line per instruction, in file order: the opcode's offset, the
// opcode and its data bytes in hexadecimal, then the operand rendered by its
// kind, then what a few opcodes add (an integer, a float, the names a
// reference resolves to, an empty line around 0x02 and 0x04).
void printListing(const InstructionList& listing, TextOutput& out);

}  // namespace krlist
