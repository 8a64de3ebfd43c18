#include "listing/ListingPrinter.h"

#include <bit>

#include "decode/OpcodeTable.h"
#include "listing/NameIndex.h"

namespace krlist {

namespace {

constexpr std::uint8_t kBlankLineBefore = 0x02;
constexpr std::uint8_t kBlankLineAfter = 0x04;
constexpr std::uint8_t kInteger = 0x17;
constexpr std::uint8_t kFloat = 0x1A;

std::uint32_t littleEndianWord(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Floats are stored as IEEE 754 singles and printed widened to double.
double littleEndianFloat(const std::uint8_t* bytes) {
  return static_cast<double>(std::bit_cast<float>(littleEndianWord(bytes)));
}

void writeHexBytes(TextOutput& out, const std::uint8_t* bytes, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    out.writeHexByte(bytes[i]);
  }
}

// The floats of a pair or triple, after their raw bytes: " :: a, b" or
// " :: a, b, c".
void writeFloats(TextOutput& out, const std::uint8_t* bytes, int count) {
  out.write(" :: ");
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      out.write(", ");
    }
    out.writeFixed(littleEndianFloat(bytes + 4 * i));
  }
}

void writeOperand(TextOutput& out, const Instruction& instruction) {
  switch (instruction.kind()) {
    case OperandKind::None:
      break;
    case OperandKind::String:
      out.write(":: ");
      out.write(instruction.text());
      break;
    case OperandKind::WordList:
      out.write(":: ");
      writeHexBytes(out, instruction.extra(), instruction.extraLength);
      break;
    case OperandKind::FloatPair:
      writeHexBytes(out, instruction.extra(), instruction.extraLength);
      writeFloats(out, instruction.extra(), 2);
      break;
    case OperandKind::FloatTriple:
      writeHexBytes(out, instruction.extra(), instruction.extraLength);
      writeFloats(out, instruction.extra(), 3);
      break;
  }
}

}  // namespace

void printListing(const Listing& listing, TextOutput& out) {
  const NameIndex names(listing);
  for (const Instruction& instruction : listing) {
    // Once standard output has failed (a reader that went away) nothing more
    // can be written: stop formatting.
    if (out.failed()) {
      return;
    }
    const std::uint8_t opcode = instruction.opcode();
    if (opcode == kBlankLineBefore) {
      out.write('\n');
    }
    // "%08X:%02X  " and "%02X " per data byte, formatted in place.
    char* head = out.reserve(8 + 1 + 2 + 2 + 3 * static_cast<std::size_t>(instruction.dataLength));
    head = TextOutput::putHexOffset(head, instruction.offset());
    *head++ = ':';
    head = TextOutput::putHexByte(head, opcode);
    *head++ = ' ';
    *head++ = ' ';
    for (std::int32_t i = 0; i < instruction.dataLength; ++i) {
      head = TextOutput::putHexByte(head, instruction.dataByte(i));
      *head++ = ' ';
    }
    out.commit(head);
    writeOperand(out, instruction);
    switch (opcode) {
      case kBlankLineAfter:
        out.write('\n');
        break;
      case kNameReference:
        // Every definition of the key, in listing order: a name may be
        // defined after it is used, or more than once.
        for (std::string_view name : names.namesFor(instruction.data())) {
          out.write("-> ");
          out.write(name);
          if (out.failed()) {
            return;
          }
        }
        break;
      case kInteger:
        out.write(":: ");
        out.writeDecimal(static_cast<std::int32_t>(littleEndianWord(instruction.data())));
        break;
      case kFloat:
        out.write(":: ");
        out.writeFixed(littleEndianFloat(instruction.data()));
        break;
      default:
        break;
    }
    out.write('\n');
  }
}

}  // namespace krlist
