#pragma once

#include <cstdint>
#include <string_view>

#include "io/TextOutput.h"

namespace krlist {

// Why an instruction cannot be written as asked.
enum class EncodeProblem : std::uint8_t {
  None,
  UnknownOpcode,  // the byte is not an opcode (0x00 included: it only ends a file)
  DataLength,     // the data bytes are not as many as the opcode has
  OperandLength,  // the operand bytes do not fit the opcode's operand kind
  WordCount,      // a word list's length disagrees with its count byte
  NulInString,    // a string would hold 0x00, which would end it early
};

// Appends one instruction in the form the decoder reads: the opcode, its
// `data` bytes and its operand. For a string `operand` is the string's bytes
// (the closing 0x00 is added here); for a word list and a float pair or
// triple it is the operand's bytes; for an opcode without operand it is
// empty. The opcode table decides what fits, as it does for decoding, so that
// whatever is written here decodes back into the same instruction. Nothing is
// appended when the instruction does not fit.
[[nodiscard]] EncodeProblem appendInstruction(TextOutput& script, std::uint8_t opcode,
                                              std::string_view data, std::string_view operand);

}  // namespace krlist
