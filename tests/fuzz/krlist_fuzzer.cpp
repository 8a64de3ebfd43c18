// Decodes and lists arbitrary bytes in memory and checks what a corrupt
// script must never break: the decode ends in success or failure, every
// instruction of the listing holds exactly its own bytes, and the
// instructions tile the input from offset 0 without gaps. Then it checks the round trips of the
// editable forms: the JSON form builds back into the same bytes in either
// encoding and dumps again into the same JSON, and putting back the strings
// of a translation file, untranslated or translated into themselves, gives
// the same script.
//
// Built with -fsanitize=fuzzer it is a libFuzzer target. Built without, it is
// a plain program that replays the files named on its command line.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "format/OpcodeTable.h"
#include "format/ScriptDecoder.h"
#include "json/JsonBuild.h"
#include "json/JsonDump.h"
#include "listing/DecodeReport.h"
#include "listing/ListingPrinter.h"
#include "translate/CsvFile.h"
#include "translate/PoFile.h"
#include "translate/ScriptStrings.h"

#ifndef KRLIST_LIBFUZZER
#include "Replay.h"
#endif

namespace {

void check(bool condition, const char* what, std::uint64_t offset) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken at offset %llu: %s\n",
                 static_cast<unsigned long long>(offset), what);
    std::abort();
  }
}

// Decodes as the listing does, its report included: 0 or -1.
int decodeAndReport(krlist::ScriptDecoder& decoder, const krlist::ScriptBytes& script,
                    krlist::Console& console) {
  const krlist::DecodeStop stop = decoder.decode(script);
  if (stop.complete()) {
    return 0;
  }
  check(stop.offset < script.size(), "a stop past the end of the input", stop.offset);
  krlist::reportStop(stop, "fuzz.kr", console);
  return -1;
}

// Checks one instruction of the listing against the input and returns where
// it ends.
std::size_t checkInstruction(const krlist::Instruction& instruction, const std::uint8_t* input,
                             std::size_t size, std::size_t offset) {
  check(instruction.offset() == offset, "instruction does not start where the last one ended",
        offset);
  check(offset < size, "instruction starts past the end of the input", offset);
  const krlist::OpcodeInfo& info = krlist::kOpcodeTable[instruction.opcode()];
  check(instruction.opcode() == input[offset], "opcode is not the input byte", offset);
  check(info.known, "instruction of a byte that is not an opcode", offset);
  check(instruction.kind() == info.kind, "operand kind is not the opcode's", offset);
  check(instruction.dataLength == info.dataLength, "data length is not the opcode's", offset);
  std::size_t end = offset + 1 + static_cast<std::size_t>(instruction.dataLength);
  check(end <= size, "data runs past the end of the input", offset);
  check(instruction.data() != nullptr, "no data buffer", offset);
  check(std::memcmp(instruction.data(), input + offset + 1, instruction.dataLength) == 0,
        "data bytes differ from the input", offset);

  std::size_t extraLength = 0;
  switch (instruction.kind()) {
    case krlist::OperandKind::None:
      check(instruction.extra() == nullptr && instruction.text() == nullptr,
            "operand on a bare opcode", offset);
      return end;
    case krlist::OperandKind::String: {
      check(instruction.text() != nullptr, "string without text", offset);
      const std::size_t length = std::strlen(instruction.text());
      check(end + length < size, "string runs past the end of the input", offset);
      check(std::memcmp(instruction.text(), input + end, length) == 0 && input[end + length] == 0,
            "text differs from the input", offset);
      return end + length + 1;
    }
    case krlist::OperandKind::WordList:
      extraLength = 4 * static_cast<std::size_t>(instruction.dataByte(0));
      break;
    case krlist::OperandKind::FloatPair:
      extraLength = 8;
      break;
    case krlist::OperandKind::FloatTriple:
      extraLength = 12;
      break;
  }
  check(instruction.extra() != nullptr, "no extra buffer", offset);
  check(static_cast<std::size_t>(instruction.extraLength) == extraLength, "wrong extra length",
        offset);
  check(end + extraLength <= size, "extra bytes run past the end of the input", offset);
  check(std::memcmp(instruction.extra(), input + end, extraLength) == 0,
        "extra bytes differ from the input", offset);
  return end + extraLength;
}

#ifdef __GLIBC__
// A stdio stream over the input that hands out at most `chunk` bytes per read,
// so that the block reader refills, moves and grows its window at every
// possible point of an instruction.
struct ChoppedInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t chunk;
  std::size_t position = 0;

  static ssize_t read(void* cookie, char* buffer, std::size_t wanted) {
    auto* self = static_cast<ChoppedInput*>(cookie);
    const std::size_t count = std::min({wanted, self->chunk, self->size - self->position});
    if (count == 0) {
      return 0;  // the end of the input, which may have no bytes at all
    }
    std::memcpy(buffer, self->data + self->position, count);
    self->position += count;
    return static_cast<ssize_t>(count);
  }
};

// Decoding from a file read in small blocks gives what decoding the bytes in
// memory gave: the same status, the same report and the same listing.
void checkBlockReads(const std::uint8_t* data, std::size_t size, int status,
                     const krlist::ScriptDecoder& inMemory, krlist::Console& inMemoryConsole) {
  ChoppedInput chopped{data, size, 1 + size % 13};
  cookie_io_functions_t functions{};
  functions.read = &ChoppedInput::read;
  std::FILE* file = fopencookie(&chopped, "rb", functions);
  check(file != nullptr, "cannot open a stream over the input", 0);
  krlist::Console console(nullptr, nullptr);
  krlist::ScriptDecoder decoder;
  krlist::ScriptBytes script;
  check(script.load(file, 1 + size % 7), "block reads failed", 0);
  std::fclose(file);
  const int streamStatus = decodeAndReport(decoder, script, console);
  check(streamStatus == status, "block reads changed the outcome", 0);
  check(decoder.instructions().size() == inMemory.instructions().size(),
        "block reads changed the instruction count", 0);
  if (status == 0) {
    krlist::printListing(decoder.instructions(), console.out());
  }
  check(console.out().text() == inMemoryConsole.out().text(), "block reads changed the output", 0);
}
#endif

std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The JSON form of the input, decoded afresh.
std::string dump(std::string_view input, krlist::Encoding encoding) {
  krlist::ScriptBytes script;
  script.view(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
  krlist::ScriptDecoder decoder;
  krlist::ScriptEnd end{decoder.decode(script), "stopped", {}};
  if (!end.stop.complete()) {
    end.rest = script.from(end.stop.offset);
  }
  krlist::TextOutput json(nullptr);
  krlist::writeJson(decoder.instructions(), encoding, end, json);
  return std::string(json.text());
}

void checkJsonRoundTrip(std::string_view input, krlist::Encoding encoding) {
  const std::string json = dump(input, encoding);
  krlist::JsonSource source(json);
  krlist::TextOutput script(nullptr);
  const std::optional<krlist::BuildError> error = krlist::buildScript(source, script);
  if (error) {
    std::fprintf(stderr, "%s\n%s\n", error->message.c_str(), json.c_str());
  }
  check(!error, "the JSON form does not build", error ? error->offset : 0);
  check(script.text() == input, "the JSON form builds other bytes", 0);
  krlist::JsonSource again(json);
  krlist::TextOutput usual(nullptr);
  check(!krlist::buildScript(again, usual, false) && usual.text() == input,
        "the JSON form read the usual way builds other bytes", 0);
  check(dump(script.text(), encoding) == json, "the rebuilt script dumps other JSON", 0);
}

// Injects `translations` and checks that the script comes back unchanged.
void checkInjectKeeps(const krlist::ScriptDecoder& decoder, bool endMarker, std::string_view input,
                      const krlist::TranslationFile& translations, krlist::Encoding encoding) {
  krlist::TextOutput script(nullptr);
  const auto injected =
      krlist::injectStrings(decoder.instructions(), endMarker, translations, encoding, script);
  for (const krlist::EntryProblem& refused : injected.refused) {
    std::fprintf(stderr, "%s\n", refused.problem.describe().c_str());
  }
  check(injected.refused.empty(), "inject refused its own strings", 0);
  check(script.text() == input, "inject changed the script", 0);
}

// Extracts the strings into a PO or CSV file, reads it back as a translator's
// tool would hand it over, and injects it untranslated, then translated into
// itself.
void checkTranslationRoundTrip(const krlist::ScriptDecoder& decoder, bool endMarker,
                               std::string_view input, krlist::Encoding encoding, bool po) {
  std::size_t leftOut = 0;
  krlist::TranslationFile file =
      krlist::extractStrings(decoder.instructions(), encoding, "fuzz.kr", po, leftOut);
  auto read = po ? krlist::readPo(krlist::writePo(file)) : krlist::readCsv(krlist::writeCsv(file));
  if (const auto* error = std::get_if<krlist::TranslationError>(&read)) {
    std::fprintf(stderr, "line %zu: %s\n", error->line, error->message.c_str());
  }
  check(std::holds_alternative<krlist::TranslationFile>(read), "a written file cannot be read", 0);
  krlist::TranslationFile& translations = std::get<krlist::TranslationFile>(read);
  check(translations.entries.size() == file.entries.size(), "entries lost on the way", 0);
  checkInjectKeeps(decoder, endMarker, input, translations, encoding);
  for (krlist::TranslationEntry& entry : translations.entries) {
    entry.target = entry.source;
  }
  checkInjectKeeps(decoder, endMarker, input, translations, encoding);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  krlist::Console console(nullptr, nullptr);
  krlist::ScriptBytes script;
  script.view(data, size);
  krlist::ScriptDecoder decoder;
  const int status = decodeAndReport(decoder, script, console);
  check(status == 0 || status == -1, "decode returned neither 0 nor -1", 0);

  std::size_t end = 0;
  for (const krlist::Instruction& instruction : decoder.instructions()) {
    const std::size_t next = checkInstruction(instruction, data, size, end);
    check(instruction.size() == next - end, "size is not the instruction's length", end);
    end = next;
  }
  if (status == 0) {
    // A script ends at the end of the input, or just before a final 0x00.
    check(end == size || (end + 1 == size && data[end] == 0x00),
          "instructions stop short of the end of the input", end);
    check(console.err().text().empty(), "success with an error message", end);
    krlist::printListing(decoder.instructions(), console.out());
  } else {
    // The decode stopped at the first byte the instructions do not cover: an
    // instruction cut short by the end of the input, or a byte that is not
    // an opcode (after a 0x00, the byte that follows it).
    check(end < size, "failure after a complete script", end);
    std::size_t stop = end;
    const char* title = "!! Unexpected end of file !!";
    if (!krlist::kOpcodeTable[data[end]].known) {
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
#ifdef __GLIBC__
  checkBlockReads(data, size, status, decoder, console);
#endif

  const std::string_view bytes = bytesOf(data, size);
  for (krlist::Encoding encoding : {krlist::Encoding::Utf8, krlist::Encoding::Cp932}) {
    checkJsonRoundTrip(bytes, encoding);
  }
  if (status == 0) {
    // The instructions end just before a final end marker, or at the end.
    const bool endMarker = end + 1 == size;
    for (krlist::Encoding encoding : {krlist::Encoding::Utf8, krlist::Encoding::Cp932}) {
      checkTranslationRoundTrip(decoder, endMarker, bytes, encoding, size % 2 == 0);
    }
  }
  return 0;
}

#ifndef KRLIST_LIBFUZZER
int main(int argc, char** argv) {
  return replayFiles(argc - 1, argv + 1);
}
#endif
