// The other paths arbitrary bytes take, each of which must give back what
// the bytes in memory gave: a file read a few bytes at a time decodes and
// lists the same; the JSON form builds back into the same bytes in either
// encoding and dumps again into the same JSON; and putting back the strings
// of a translation file, untranslated or translated into themselves, gives
// the same script. These are slower than the decode itself, so they have a
// target of their own beside krlist_fuzzer.cpp's.
//
// Built with -fsanitize=fuzzer and KRLIST_LIBFUZZER it is a libFuzzer
// target; otherwise krlist_replay.cpp runs it over files.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzChecks.h"
#include "json/JsonBuild.h"
#include "json/JsonDump.h"
#include "listing/ListingPrinter.h"
#include "translate/CsvFile.h"
#include "translate/PoFile.h"
#include "translate/ScriptStrings.h"

namespace krlist::fuzz {

namespace {

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
                     const ScriptDecoder& inMemory, Console& inMemoryConsole) {
  ChoppedInput chopped{data, size, 1 + size % 13};
  cookie_io_functions_t functions{};
  functions.read = &ChoppedInput::read;
  std::FILE* file = fopencookie(&chopped, "rb", functions);
  check(file != nullptr, "cannot open a stream over the input", 0);
  Console console(nullptr, nullptr);
  ScriptDecoder decoder;
  ScriptBytes script;
  check(script.load(file, 1 + size % 7), "block reads failed", 0);
  std::fclose(file);
  const int streamStatus = decodeAndReport(decoder, script, console);
  check(streamStatus == status, "block reads changed the outcome", 0);
  check(decoder.instructions().size() == inMemory.instructions().size(),
        "block reads changed the instruction count", 0);
  if (status == 0) {
    printListing(decoder.instructions(), console.out());
  }
  check(console.out().text() == inMemoryConsole.out().text(), "block reads changed the output", 0);
}
#endif

std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The JSON form of the input, decoded afresh.
std::string dump(std::string_view input, Encoding encoding) {
  ScriptBytes script;
  script.view(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
  ScriptDecoder decoder;
  ScriptEnd end{decoder.decode(script), "stopped", {}};
  if (!end.stop.complete()) {
    end.rest = script.from(end.stop.offset);
  }
  TextOutput json(nullptr);
  writeJson(decoder.instructions(), encoding, end, json);
  return std::string(json.text());
}

void checkJsonRoundTrip(std::string_view input, Encoding encoding) {
  const std::string json = dump(input, encoding);
  JsonSource source(json);
  TextOutput script(nullptr);
  const Expected<void> built = buildScript(source, script);
  if (!built) {
    std::fprintf(stderr, "%s\n%s\n", built.problem().describe().c_str(), json.c_str());
  }
  check(static_cast<bool>(built), "the JSON form does not build", 0);
  check(script.text() == input, "the JSON form builds other bytes", 0);
  check(dump(script.text(), encoding) == json, "the rebuilt script dumps other JSON", 0);
}

// Injects `translations` and checks that the script comes back unchanged.
void checkInjectKeeps(const ScriptDecoder& decoder, bool endMarker, std::string_view input,
                      const TranslationFile& translations, Encoding encoding) {
  TextOutput script(nullptr);
  const auto injected =
      injectStrings(decoder.instructions(), endMarker, translations, encoding, script);
  for (const EntryProblem& refused : injected.refused) {
    std::fprintf(stderr, "%s\n", refused.problem.describe().c_str());
  }
  check(injected.refused.empty(), "inject refused its own strings", 0);
  check(script.text() == input, "inject changed the script", 0);
}

// Extracts the strings into a PO or CSV file, reads it back as a translator's
// tool would hand it over, and injects it untranslated, then translated into
// itself.
void checkTranslationRoundTrip(const ScriptDecoder& decoder, bool endMarker, std::string_view input,
                               Encoding encoding, bool po) {
  std::size_t leftOut = 0;
  TranslationFile file = extractStrings(decoder.instructions(), encoding, "fuzz.kr", po, leftOut);
  auto read = po ? readPo(writePo(file)) : readCsv(writeCsv(file));
  if (!read) {
    std::fprintf(stderr, "%s\n", read.problem().describe().c_str());
  }
  check(static_cast<bool>(read), "a written file cannot be read", 0);
  TranslationFile& translations = *read;
  check(translations.entries.size() == file.entries.size(), "entries lost on the way", 0);
  checkInjectKeeps(decoder, endMarker, input, translations, encoding);
  for (TranslationEntry& entry : translations.entries) {
    entry.target = entry.source;
  }
  checkInjectKeeps(decoder, endMarker, input, translations, encoding);
}

}  // namespace

void checkRoundTrips(const std::uint8_t* data, std::size_t size) {
  Console console(nullptr, nullptr);
  ScriptBytes script;
  script.view(data, size);
  ScriptDecoder decoder;
  const int status = decodeAndReport(decoder, script, console);
  if (status == 0) {
    printListing(decoder.instructions(), console.out());
  }
#ifdef __GLIBC__
  checkBlockReads(data, size, status, decoder, console);
#endif

  const std::string_view bytes = bytesOf(data, size);
  for (Encoding encoding : {Encoding::Utf8, Encoding::Cp932}) {
    checkJsonRoundTrip(bytes, encoding);
  }
  if (status == 0) {
    // The instructions end just before a final end marker, or at the end.
    std::uint64_t end = 0;
    for (const Instruction& instruction : decoder.instructions()) {
      end += instruction.size();
    }
    const bool endMarker = end + 1 == size;
    for (Encoding encoding : {Encoding::Utf8, Encoding::Cp932}) {
      checkTranslationRoundTrip(decoder, endMarker, bytes, encoding, size % 2 == 0);
    }
  }
}

}  // namespace krlist::fuzz

#ifdef KRLIST_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  krlist::fuzz::checkRoundTrips(data, size);
  return 0;
}
#endif
