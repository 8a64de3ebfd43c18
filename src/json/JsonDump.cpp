#include "json/JsonDump.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "format/NameIndex.h"
#include "format/OpcodeTable.h"

namespace krlist {

namespace {

void writeHex(TextOutput& out, const std::uint8_t* bytes, std::size_t count) {
  out.write('"');
  char* hex = out.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    hex = TextOutput::putHexByte(hex, bytes[i]);
  }
  out.commit(hex);
  out.write('"');
}

void writeHex(TextOutput& out, std::string_view bytes) {
  writeHex(out, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// A JSON string: quotes, backslashes and control characters escaped, the rest
// (UTF-8) as it is.
void writeJsonString(TextOutput& out, std::string_view text) {
  static constexpr char kShortEscapes[] = "btnvfr";  // for 0x08 to 0x0D, but \v is not JSON
  out.write('"');
  std::size_t plainFrom = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') {
      continue;
    }
    out.write(text.substr(plainFrom, i - plainFrom));
    plainFrom = i + 1;
    out.write('\\');
    if (c == '"' || c == '\\') {
      out.write(static_cast<char>(c));
    } else if (c >= 0x08 && c <= 0x0D && c != 0x0B) {
      out.write(kShortEscapes[c - 0x08]);
    } else {
      char* escape = out.reserve(5);
      *escape++ = 'u';
      *escape++ = '0';
      *escape++ = '0';
      out.commit(TextOutput::putHexByte(escape, c));
    }
  }
  out.write(text.substr(plainFrom));
  out.write('"');
}

std::uint32_t littleEndianWord(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The shortest decimal that reads back as the same float. A NaN or an
// infinity has no JSON number, so it is written as its four bytes, which also
// keeps a NaN's payload; negative zero keeps its sign with a ".0", since a
// JSON reader may take "-0" for the integer 0.
void writeFloat(TextOutput& out, const std::uint8_t* bytes) {
  const float value = std::bit_cast<float>(littleEndianWord(bytes));
  if (!std::isfinite(value)) {
    writeHex(out, bytes, 4);
  } else if (value == 0 && std::signbit(value)) {
    out.write("-0.0");
  } else {
    char* digits = out.reserve(32);
    out.commit(std::to_chars(digits, digits + 32, value).ptr);
  }
}

void writeFloats(TextOutput& out, const Instruction& instruction) {
  out.write(", \"floats\": [");
  for (std::int32_t i = 0; i < instruction.extraLength; i += 4) {
    if (i > 0) {
      out.write(", ");
    }
    writeFloat(out, instruction.extra() + i);
  }
  out.write(']');
}

// A string as "text" when its bytes are text in the encoding, otherwise as
// "bytes", so that no byte is ever changed on the way back.
void writeStringField(TextOutput& out, std::string_view bytes, Encoding encoding,
                      std::string& utf8) {
  utf8.clear();
  if (decodeExactText(encoding, bytes, utf8)) {
    out.write(", \"text\": ");
    writeJsonString(out, utf8);
  } else {
    out.write(", \"bytes\": ");
    writeHex(out, bytes);
  }
}

void writeNames(TextOutput& out, const Instruction& reference, const NameIndex& names,
                Encoding encoding, std::string& utf8) {
  out.write(", \"names\": [");
  bool first = true;
  for (std::string_view name : names.namesFor(reference.data())) {
    if (!first) {
      out.write(", ");
    }
    first = false;
    utf8.clear();
    if (decodeExactText(encoding, name, utf8)) {
      writeJsonString(out, utf8);
    } else {
      writeHex(out, name);
    }
  }
  out.write(']');
}

void writeInstruction(TextOutput& out, const Instruction& instruction, const NameIndex& names,
                      Encoding encoding, std::string& utf8) {
  const OpcodeInfo& info = kOpcodeTable[instruction.opcode()];
  char* head = out.reserve(40);
  std::memcpy(head, "  {\"at\": \"", 10);
  head = TextOutput::putHexOffset(head + 10, instruction.listingOffset());
  std::memcpy(head, "\", \"op\": \"", 10);
  head = TextOutput::putHexByte(head + 10, instruction.opcode());
  *head++ = '"';
  out.commit(head);

  if (instruction.dataLength == 4) {
    switch (info.meaning) {
      case DataMeaning::Bytes:
        out.write(", \"data\": ");
        writeHex(out, instruction.data(), 4);
        break;
      case DataMeaning::NameKey:
        out.write(", \"key\": ");
        writeHex(out, instruction.data(), 4);
        break;
      case DataMeaning::Integer:
        out.write(", \"int\": ");
        out.writeDecimal(static_cast<std::int32_t>(littleEndianWord(instruction.data())));
        break;
      case DataMeaning::Float:
        out.write(", \"float\": ");
        writeFloat(out, instruction.data());
        break;
    }
  }
  switch (instruction.kind()) {
    case OperandKind::None:
      break;
    case OperandKind::String:
      writeStringField(out, instruction.textView(), encoding, utf8);
      break;
    case OperandKind::WordList:
      out.write(", \"words\": [");
      for (std::int32_t i = 0; i < instruction.extraLength; i += 4) {
        if (i > 0) {
          out.write(", ");
        }
        writeHex(out, instruction.extra() + i, 4);
      }
      out.write(']');
      break;
    case OperandKind::FloatPair:
    case OperandKind::FloatTriple:
      writeFloats(out, instruction);
      break;
  }
  if (instruction.opcode() == kNameReference) {
    writeNames(out, instruction, names, encoding, utf8);
  }
  out.write('}');
}

}  // namespace

void writeJson(const InstructionList& listing, Encoding encoding, const ScriptEnd& end,
               TextOutput& out) {
  const NameIndex names(listing);
  std::string utf8;
  out.write("{\"format\": \"krscript\", \"version\": 1, \"encoding\": \"");
  out.write(encodingName(encoding));
  out.write("\",\n \"code\": [");
  bool first = true;
  for (const Instruction& instruction : listing) {
    out.write(first ? "\n" : ",\n");
    first = false;
    writeInstruction(out, instruction, names, encoding, utf8);
  }
  out.write("\n ],\n");
  if (!end.stop.complete()) {
    out.write(" \"rest\": {\"at\": \"");
    out.writeHexOffset(static_cast<std::uint32_t>(end.stop.offset));
    out.write("\", \"reason\": ");
    writeJsonString(out, end.reason);
    out.write(", \"bytes\": ");
    writeHex(out, end.rest);
    out.write("},\n");
  }
  out.write(end.stop.endMarker ? " \"end\": true}\n" : " \"end\": false}\n");
}

}  // namespace krlist
