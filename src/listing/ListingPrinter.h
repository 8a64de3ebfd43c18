#pragma once

#include <cstddef>

#include "format/Instruction.h"
#include "format/InstructionList.h"
#include "io/TextOutput.h"

namespace krlist {

// Writes one line per instruction, in file order: the opcode's offset, the
// opcode and its data bytes in hexadecimal, then the operand rendered by its
// kind, then what a few opcodes add (an integer, a float, the names a
// reference resolves to, an empty line around 0x02 and 0x04).
void printListing(const InstructionList& listing, TextOutput& out);

// The longest operand putOperand writes: ":: " and a word list of 255 words,
// longer than any floats or number.
inline constexpr std::size_t kOperandRoom = 3 + 255 * 4 * 2;

// Writes at `out` what a listing line shows after an instruction's data
// bytes for every operand that is not text: ":: " and the words of a word
// list, the bytes of a float pair or triple and " :: " and their values,
// ":: " and the data as an integer (0x17) or a float (0x1A); nothing for the
// others, and nothing for a string or a reference, whose text is the
// script's own. Returns the end, at most kOperandRoom further.
char* putOperand(char* out, const Instruction& instruction);

}  // namespace krlist
