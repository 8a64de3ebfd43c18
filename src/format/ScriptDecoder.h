#pragma once

#include <cstdint>

#include "format/Instruction.h"
#include "format/InstructionList.h"
#include "io/ScriptBytes.h"

namespace krlist {

// Why decoding stopped before the end of the input.
enum class StopReason : std::uint8_t {
  None,                // the input was read to its end, or to a final end marker
  UnknownOpcode,       // the byte at `offset` is not an opcode
  MisplacedEndMarker,  // the 0x00 at `offset` is not the input's last byte
  Truncated,           // the input ends inside the instruction at `offset`
  ReadFailed,          // reading the input failed at `offset`, before its end
};

// Where and why a decode stopped, for each tool to word in its own way.
struct DecodeStop {
  StopReason reason = StopReason::None;
  // The first byte that is not part of a decoded instruction: the unknown
  // byte, the misplaced 0x00, or the opcode of the truncated instruction.
  std::uint64_t offset = 0;
  // The byte that stopped the decode: the unknown byte, the byte after a
  // misplaced 0x00, or the truncated instruction's opcode.
  std::uint8_t value = 0;
  // A complete script that ended with the 0x00 end marker.
  bool endMarker = false;

  bool complete() const { return reason == StopReason::None; }
};

// Decodes one compiled script into its instruction list.
//
// A script is a flat run of instructions with no header: an opcode byte, the
// opcode's fixed data bytes (0 or 4) and its trailing operand (nothing, a
// string ended by 0x00, 4 x N bytes of words, or two or three floats). All
// numbers are little-endian. A 0x00 may stand as the file's last byte to end
// it; anywhere else, and any byte that is not an opcode, stops the decode.
class ScriptDecoder {
 public:
  ScriptDecoder() = default;
  ScriptDecoder(const ScriptDecoder&) = delete;
  ScriptDecoder& operator=(const ScriptDecoder&) = delete;

  // Decodes a script into its instruction list; the instructions decoded
  // before a stop stay in it. The list reads the script's bytes, which must
  // outlive it. When the bytes are all that could be read of a file, a
  // decode that reaches their end stops there as a failed read, since more
  // instructions may have followed.
  [[nodiscard]] DecodeStop decode(const ScriptBytes& script);

  const InstructionList& instructions() const { return instructions_; }

 private:
  InstructionList instructions_;
};

}  // namespace krlist
