// Decodes and lists arbitrary bytes in memory and checks what a corrupt
// script must never break: the decode ends in success or failure, every
// instruction of the listing holds exactly its own bytes, measured through
// the opcode table, the instructions tile the input from offset 0 without
// gaps, and a failure is reported where the first byte they do not cover
// lies. Nothing else runs, so that the decoder, the reader most exposed to
// hostile bytes, is fuzzed at full speed; the round trips have a target of
// their own (roundtrip_fuzzer.cpp).
//
// Built with -fsanitize=fuzzer and KRLIST_LIBFUZZER it is a libFuzzer
// target; otherwise krlist_replay.cpp runs it over files.

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "FuzzChecks.h"
#include "format/OpcodeTable.h"
#include "listing/ListingPrinter.h"

namespace krlist::fuzz {

namespace {

// Checks one instruction of the listing against the input and returns where
// it ends.
std::size_t checkInstruction(const Instruction& instruction, const std::uint8_t* input,
                             std::size_t size, std::size_t offset) {
  check(instruction.listingOffset() == offset,
        "instruction does not start where the last one ended", offset);
  check(offset < size, "instruction starts past the end of the input", offset);
  const OpcodeInfo& info = kOpcodeTable[input[offset]];
  check(instruction.opcode() == input[offset], "opcode is not the input byte", offset);
  check(info.known, "instruction of a byte that is not an opcode", offset);
  check(instruction.kind() == info.kind, "operand kind is not the opcode's", offset);
  check(instruction.dataLength == info.dataLength, "data length is not the opcode's", offset);
  const std::size_t end = offset + 1 + info.dataLength;
  check(end <= size, "data runs past the end of the input", offset);
  check(std::memcmp(instruction.data(), input + offset + 1, info.dataLength) == 0,
        "data bytes differ from the input", offset);

  if (info.kind == OperandKind::String) {
    check(instruction.text() != nullptr && instruction.extra() == nullptr, "string without text",
          offset);
    const std::size_t length = std::strlen(instruction.text());
    check(end + length < size, "string runs past the end of the input", offset);
    check(std::memcmp(instruction.text(), input + end, length) == 0 && input[end + length] == 0,
          "text differs from the input", offset);
    return end + length + 1;
  }
  check(instruction.text() == nullptr, "text on an operand that is not a string", offset);
  const std::size_t operand = operandLength(info.kind, info.dataLength > 0 ? input[offset + 1] : 0);
  check(static_cast<std::size_t>(instruction.extraLength) == operand, "wrong operand length",
        offset);
  check((instruction.extra() != nullptr) == (info.kind != OperandKind::None),
        "operand buffer where there is none, or none where there is one", offset);
  check(end + operand <= size, "operand runs past the end of the input", offset);
  check(operand == 0 || std::memcmp(instruction.extra(), input + end, operand) == 0,
        "operand bytes differ from the input", offset);
  return end + operand;
}

}  // namespace

void checkDecodeAndList(const std::uint8_t* data, std::size_t size) {
  Console console(nullptr, nullptr);
  ScriptBytes script;
  script.view(data, size);
  ScriptDecoder decoder;
  const int status = decodeAndReport(decoder, script, console);
  check(status == 0 || status == -1, "decode returned neither 0 nor -1", 0);

  std::size_t end = 0;
  for (const Instruction& instruction : decoder.instructions()) {
    const std::size_t next = checkInstruction(instruction, data, size, end);
    check(instruction.size() == next - end, "size is not the instruction's length", end);
    end = next;
  }
  if (status == 0) {
    // A script ends at the end of the input, or just before a final 0x00.
    check(end == size || (end + 1 == size && data[end] == 0x00),
          "instructions stop short of the end of the input", end);
    check(console.err().text().empty(), "success with an error message", end);
    printListing(decoder.instructions(), console.out());
    return;
  }
  // The decode stopped at the first byte the instructions do not cover: an
  // instruction cut short by the end of the input, or a byte that is not an
  // opcode (after a 0x00, the byte that follows it).
  check(end < size, "failure after a complete script", end);
  std::size_t stop = end;
  const char* title = "!! Unexpected end of file !!";
  if (!kOpcodeTable[data[end]].known) {
    title = "!! Found Uknown OpCode !!";
    stop = data[end] == 0x00 ? end + 1 : end;
    check(stop < size, "a final 0x00 taken for a failure", end);
  }
  char report[128];
  std::snprintf(report, sizeof report,
                "\n--------------------------\n%s\n--------------------------\n\n%08X:%02X\n\n",
                title, static_cast<unsigned>(stop), data[stop]);
  check(console.out().text() == report, "failure not reported as it should be", stop);
}

}  // namespace krlist::fuzz

#ifdef KRLIST_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  krlist::fuzz::checkDecodeAndList(data, size);
  return 0;
}
#endif
