#include "format/ScriptDecoder.h"

#include <cstring>

#include "format/OpcodeTable.h"

namespace krlist {

DecodeStop ScriptDecoder::decode(const ScriptBytes& script) {
  const std::uint8_t* bytes = script.data();
  const std::size_t size = script.size();
  instructions_.reset(bytes);
  // Where the bytes end between or inside instructions, the script ends,
  // unless that was a read failing rather than the file ending.
  auto endOfBytes = [&](DecodeStop stop) {
    return script.readFailed() ? DecodeStop{StopReason::ReadFailed, size, 0} : stop;
  };

  std::size_t at = 0;
  while (at < size) {
    const std::uint8_t opcode = bytes[at];
    const OpcodeInfo& info = kOpcodeTable[opcode];
    if (info.known) {
      // Every length is checked against what is left before it is used.
      const DecodeStop truncated{StopReason::Truncated, at, opcode};
      std::size_t end = at + 1 + info.dataLength;
      if (end > size) {
        return endOfBytes(truncated);
      }
      if (info.kind == OperandKind::String) {
        const void* terminator = std::memchr(bytes + end, 0x00, size - end);
        if (terminator == nullptr) {
          return endOfBytes(truncated);
        }
        end = static_cast<std::size_t>(static_cast<const std::uint8_t*>(terminator) - bytes) + 1;
      } else {
        end += operandLength(info.kind, info.dataLength > 0 ? bytes[at + 1] : 0);
      }
      if (end > size) {
        return endOfBytes(truncated);
      }
      instructions_.push_back(at);
      at = end;
      continue;
    }
    if (opcode == 0x00) {
      // The end marker may only be the last byte.
      if (at + 1 == size) {
        DecodeStop stop = endOfBytes({});
        stop.endMarker = stop.complete();
        return stop;
      }
      return {StopReason::MisplacedEndMarker, at, bytes[at + 1]};
    }
    return {StopReason::UnknownOpcode, at, opcode};
  }
  return endOfBytes({});
}

}  // namespace krlist
