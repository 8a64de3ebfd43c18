#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "decode/ByteArena.h"
#include "decode/ByteReader.h"
#include "decode/Instruction.h"
#include "decode/Listing.h"
#include "decode/TextOutput.h"

namespace krlist {

// Decodes one compiled script into its listing.
//
// A script is a flat run of instructions with no header: an opcode byte, the
// opcode's fixed data bytes (0 or 4) and its trailing operand (nothing, a
// string ended by 0x00, 4 x N bytes of words, or two or three floats). All
// numbers are little-endian. A 0x00 may stand as the file's last byte to end
// it; anywhere else, and any byte that is not an opcode, stops the decode.
class ScriptDecoder {
 public:
  explicit ScriptDecoder(std::string fileName) : fileName_(std::move(fileName)) {}

  ScriptDecoder(const ScriptDecoder&) = delete;
  ScriptDecoder& operator=(const ScriptDecoder&) = delete;

  // Writes the banner, opens the file and decodes it. Returns 0 when the file
  // was read to its end, -1 after reporting why not. Records decoded before a
  // failure stay in the listing.
  [[nodiscard]] int decode(Console& console);
  // Decodes the bytes `input` delivers, without banner or file.
  [[nodiscard]] int decode(ByteReader& input, Console& console);

  const Listing& listing() const { return listing_; }

 private:
  // Decodes the instruction at the reader's position and appends it. False,
  // with nothing appended and nothing consumed, when the input ends first.
  [[nodiscard]] bool readInstruction(ByteReader& input, std::int32_t dataLength, OperandKind kind);

  Listing listing_;
  std::string fileName_;
  ByteArena arena_;
};

}  // namespace krlist
