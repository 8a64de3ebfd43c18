#include "decode/ScriptDecoder.h"

#include <filesystem>
#include <string_view>

#include "decode/OpcodeTable.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace krlist {

namespace {

// Opens the script as raw bytes, so that 0x1A and carriage returns and line
// feeds are ordinary data. A directory is refused here: some systems let it be
// opened and only fail the first read.
std::FILE* openScript(const std::string& fileName) {
#ifdef _WIN32
  // Windows names files in UTF-16, and the name arrives here in UTF-8 (main
  // takes it from the wide command line). The narrow fopen would read it in
  // the ANSI code page, which cannot hold most names, so the wide open is used.
  std::wstring wideName;
  const int length = static_cast<int>(fileName.size());
  if (length > 0) {
    wideName.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, fileName.data(), length, nullptr, 0)));
    MultiByteToWideChar(CP_UTF8, 0, fileName.data(), length, wideName.data(),
                        static_cast<int>(wideName.size()));
  }
  const std::filesystem::path path(wideName);
  std::FILE* file = _wfopen(path.c_str(), L"rb");
#else
  const std::string& path = fileName;
  std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
  std::error_code error;
  if (file != nullptr && std::filesystem::is_directory(path, error)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

// Both stops in the middle of a script are reported in one shape: a title
// between two rules, then the offset and value of the byte where decoding
// stopped.
void reportStop(TextOutput& out, std::string_view title, std::uint64_t offset, std::uint8_t value) {
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

int ScriptDecoder::decode(Console& console) {
  TextOutput& out = console.out();
  out.write("\n-= Decompiling ");
  out.write(fileName_);
  out.write(" =-\n\n");

  std::FILE* file = openScript(fileName_);
  if (file == nullptr) {
    console.error("Failed to open " + fileName_ + "\n");
    return -1;
  }
  ByteReader input(file);
  const int status = decode(input, console);
  std::fclose(file);
  return status;
}

int ScriptDecoder::decode(ByteReader& input, Console& console) {
  // Where the input runs out between instructions, the script is complete,
  // unless that was a read failing rather than the file ending.
  auto endOfInput = [&]() {
    if (input.readFailed()) {
      console.error("Failed to read " + fileName_ + "\n");
      return -1;
    }
    return 0;
  };

  for (;;) {
    if (!input.fill(1)) {
      return endOfInput();
    }
    const std::uint8_t opcode = input.bytes()[0];
    const OpcodeInfo& info = kOpcodeTable[opcode];
    if (info.known) {
      if (!readInstruction(input, info.dataLength, info.kind)) {
        if (input.readFailed()) {
          return endOfInput();
        }
        reportStop(console.out(), "!! Unexpected end of file !!", input.offset(), opcode);
        return -1;
      }
      continue;
    }
    if (opcode == 0x00) {
      // The end marker may only be the last byte. Anything after it is
      // reported as it stands, even a valid opcode.
      input.skip(1);
      if (!input.fill(1)) {
        return endOfInput();
      }
    }
    reportStop(console.out(), "!! Found Uknown OpCode !!", input.offset(), input.bytes()[0]);
    return -1;
  }
}

bool ScriptDecoder::readInstruction(ByteReader& input, std::int32_t dataLength, OperandKind kind) {
  const std::size_t fixedLength = 1 + static_cast<std::size_t>(dataLength);
  if (!input.fill(fixedLength)) {
    return false;
  }
  // Bytes of the trailing operand, a string's 0x00 included.
  std::size_t operandLength = 0;
  switch (kind) {
    case OperandKind::None:
      break;
    case OperandKind::String: {
      const std::size_t end = input.find(0x00, fixedLength);
      if (end == ByteReader::npos) {
        return false;
      }
      operandLength = end - fixedLength + 1;
      break;
    }
    case OperandKind::WordList:
      // Only the first data byte counts the words; the other three do not.
      operandLength = 4 * static_cast<std::size_t>(input.bytes()[1]);
      break;
    case OperandKind::FloatPair:
      operandLength = 8;
      break;
    case OperandKind::FloatTriple:
      operandLength = 12;
      break;
  }
  if (!input.fill(fixedLength + operandLength)) {
    return false;
  }

  const std::uint8_t* bytes = input.bytes();
  const std::uint8_t* operand = bytes + fixedLength;
  Instruction instruction;
  instruction.setOffset(static_cast<std::uint32_t>(input.offset()));
  instruction.setOpcode(bytes[0]);
  instruction.setData(bytes + 1, dataLength, arena_);
  instruction.setKind(kind);
  if (kind == OperandKind::String) {
    instruction.setText({reinterpret_cast<const char*>(operand), operandLength - 1}, arena_);
  } else if (kind != OperandKind::None) {
    instruction.setExtra(operand, static_cast<std::int32_t>(operandLength), arena_);
  }
  listing_.push_back(instruction);
  input.skip(fixedLength + operandLength);
  return true;
}

}  // namespace krlist
