#include "listing/DecodeReport.h"

#include <string_view>

namespace krlist {

namespace {

// Both stops in the middle of a script are reported in one shape: a title
// between two rules, then the offset and value of the byte where decoding
// stopped.
void writeStop(TextOutput& out, std::string_view title, std::uint64_t offset, std::uint8_t value) {
  out.write("\n--------------------------\n");
  out.write(title);
  out.write("\n--------------------------\n");
  out.write('\n');
  out.writeHexOffset(static_cast<std::uint32_t>(offset));
  out.write(':');
  out.writeHexByte(value);
  out.write("\n\n");
}

}  // namespace

void writeBanner(const std::string& fileName, TextOutput& out) {
  out.write("\n-= Decompiling ");
  out.write(fileName);
  out.write(" =-\n\n");
}

void reportStop(const DecodeStop& stop, const std::string& fileName, Console& console) {
  switch (stop.reason) {
    case StopReason::None:
      break;
    case StopReason::UnknownOpcode:
      writeStop(console.out(), "!! Found Uknown OpCode !!", stop.offset, stop.value);
      break;
    case StopReason::MisplacedEndMarker:
      // Whatever follows the 0x00 is reported as it stands, even a valid
      // opcode.
      writeStop(console.out(), "!! Found Uknown OpCode !!", stop.offset + 1, stop.value);
      break;
    case StopReason::Truncated:
      writeStop(console.out(), "!! Unexpected end of file !!", stop.offset, stop.value);
      break;
    case StopReason::ReadFailed:
      console.error("Failed to read " + fileName + "\n");
      break;
  }
}

}  // namespace krlist
