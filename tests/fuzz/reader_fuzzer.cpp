// Feeds arbitrary text to one of krscript's readers of files from strangers
// and checks what a refusal and an acceptance must each guarantee:
//
// - json (build): a refusal says where, inside the text; an accepted text
//   gives a script whose dump builds back into the same bytes, and which
//   decodes cleanly unless the text gave bytes that did not decode ("rest").
// - po, csv (inject into a fixed script): a refusal names a line of the file;
//   an accepted file gives a script that decodes cleanly, in which every
//   string is the original bytes but where a translated entry replaced it;
//   and an entry saved into it changes that entry alone.
//
// - xlsx (inject a workbook into the fixed script): the text is its sheet
//   and its shared strings, a NUL between them, made into a workbook; as
//   for csv, but a refusal may name a row of any number, or none.
//
// - tmx (a translation memory): a refusal names the file and a line of it;
//   the units of an accepted file are UTF-8 texts, none empty, that read
//   back the same once written.
//
// Built with -fsanitize=fuzzer and one of -DKRSCRIPT_FUZZ_JSON, _PO, _CSV,
// _XLSX or _TMX it is a libFuzzer target. Built without, it is a plain
// program that replays files through all five readers (`FILE...`), or
// writes seed inputs (`--seeds DIR`).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "format/ScriptDecoder.h"
#include "format/StringVote.h"
#include "io/Zip.h"
#include "json/JsonBuild.h"
#include "json/JsonDump.h"
#include "text/Encoding.h"
#include "translate/CsvFile.h"
#include "translate/EntryEdit.h"
#include "translate/PoFile.h"
#include "translate/ScriptStrings.h"
#include "translate/TmxFile.h"
#include "translate/TranslationFormat.h"
#include "translate/XlsxFile.h"

#if !defined(KRSCRIPT_FUZZ_JSON) && !defined(KRSCRIPT_FUZZ_PO) && !defined(KRSCRIPT_FUZZ_CSV) && \
    !defined(KRSCRIPT_FUZZ_XLSX) && !defined(KRSCRIPT_FUZZ_TMX)
#include "Replay.h"
#endif

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// The script translations are put into: names and dialogue in code page 932,
// one string that is not text in it (87 9A), and a word list and floats
// around them.
const std::uint8_t kScript[] = {
    0x2B, 0x01, 0x00, 0x00, 0x00, 0x83, 0x41, 0x83, 0x8A, 0x83, 0x58, 0x00,  // 2B name "アリス"
    0x16, 0x01, 0x00, 0x00, 0x00,                                            // 16 reference
    0x1B, 0x00, 0x00, 0x00, 0x00, 0x82, 0xB1, 0x82, 0xF1, 0x82, 0xC9, 0x82,  // 1B "こんに
    0xBF, 0x82, 0xCD, 0x0A, 0x48, 0x69, 0x00,                                //   ちは\nHi"
    0x1C, 0x02, 0x00, 0x00, 0x00, 0x87, 0x9A, 0x00,                          // 1C bytes 87 9A
    0x2F, 0x01, 0x05, 0x00, 0x00, 0xAA, 0xBB, 0xCC, 0xDD,                    // 2F one word
    0x1F, 0x00, 0x00, 0xC0, 0x7F, 0x00, 0x00, 0x80, 0x80,                    // 1F NaN, -0
    0x1B, 0x00, 0x00, 0x00, 0x00, 0x00,                                      // 1B ""
    0x00};                                                                   // end marker

std::string_view scriptBytes() {
  return {reinterpret_cast<const char*>(kScript), sizeof kScript};
}

struct Decoded {
  krlist::ScriptBytes bytes;
  krlist::ScriptDecoder decoder;
  krlist::DecodeStop stop;
};

void decode(std::string_view bytes, Decoded& decoded) {
  decoded.bytes.view(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  decoded.stop = decoded.decoder.decode(decoded.bytes);
}

std::string dump(std::string_view bytes) {
  Decoded decoded;
  decode(bytes, decoded);
  const std::string_view rest =
      decoded.stop.complete() ? std::string_view() : decoded.bytes.from(decoded.stop.offset);
  krlist::TextOutput json(nullptr);
  const krlist::Encoding encoding = krlist::encodingOfStrings(decoded.decoder.instructions());
  krlist::writeJson(decoded.decoder.instructions(), encoding, {decoded.stop, "stopped", rest},
                    json);
  return std::string(json.text());
}

std::string build(std::string_view json, std::optional<krlist::Problem>& error) {
  krlist::JsonSource source(json);
  krlist::TextOutput script(nullptr);
  krlist::Expected<void> built = krlist::buildScript(source, script);
  error.reset();
  if (!built) {
    const krlist::Problem& problem = built.problem();
    const auto lines = static_cast<std::uint64_t>(std::count(json.begin(), json.end(), '\n')) + 1;
    check(problem.where.line >= 1 && problem.where.line <= lines,
          "an error placed on no line of the text");
    check(problem.where.column >= 1 && problem.where.column <= json.size() + 1,
          "an error placed on no column of its line");
    check(!problem.message.empty(), "an error without a message");
    error = problem;
  }
  return std::string(script.text());
}

[[maybe_unused]] void fuzzJson(std::string_view text) {
  std::optional<krlist::Problem> error;
  const std::string script = build(text, error);
  if (error) {
    return;
  }
  Decoded decoded;
  decode(script, decoded);
  check(decoded.stop.complete() || text.find("rest") != std::string_view::npos ||
            text.find("\\u") != std::string_view::npos,
        "a script built without a rest does not decode");
  const std::string again = build(dump(script), error);
  check(!error && again == script, "the dump of a built script builds other bytes");
}

// A workbook of a sheet and its shared strings, given as one text with a
// NUL between them, beside the parts every workbook has.
std::string workbookOf(std::string_view text) {
  const std::size_t nul = std::min(text.find('\0'), text.size());
  const std::string written = krlist::xlsxOfCsv("location,source,target\r\n");
  auto members = krlist::readZip(written);
  check(static_cast<bool>(members), "a written workbook does not read back");
  for (krlist::ZipMember& member : *members) {
    if (member.name == "xl/worksheets/sheet1.xml") {
      member.data = text.substr(0, nul);
    } else if (member.name == "xl/sharedStrings.xml") {
      member.data = text.substr(std::min(nul + 1, text.size()));
    }
  }
  return krlist::writeZip(*members);
}

// The sheet and the shared strings of a workbook, as workbookOf takes them.
[[maybe_unused]] std::string partsOf(std::string_view workbook) {
  auto members = krlist::readZip(workbook);
  check(static_cast<bool>(members), "a written workbook does not read back");
  std::string sheet;
  std::string strings;
  for (const krlist::ZipMember& member : *members) {
    if (member.name == "xl/worksheets/sheet1.xml") {
      sheet = member.data;
    } else if (member.name == "xl/sharedStrings.xml") {
      strings = member.data;
    }
  }
  return sheet + '\0' + strings;
}

bool sameEntry(const krlist::TranslationEntry& a, const krlist::TranslationEntry& b) {
  return a.offset == b.offset && a.comment == b.comment &&
         a.translatorComment == b.translatorComment && a.reference == b.reference &&
         a.source == b.source && a.target == b.target && a.fuzzy == b.fuzzy &&
         a.previousSource == b.previousSource && a.obsolete == b.obsolete;
}

// The first entry that is not obsolete saved with a new target and
// translators' comment: the file reads back with that change and nothing
// else, the bytes before the entry's line as they were, and saved again it
// stays as it is.
void checkEntryEdit(std::string_view text, bool po,
                    const std::vector<krlist::TranslationEntry>& entries) {
  const auto live = std::find_if(entries.begin(), entries.end(),
                                 [](const krlist::TranslationEntry& e) { return !e.obsolete; });
  if (live == entries.end()) {
    return;
  }
  const auto edit = po ? krlist::editPoEntry : krlist::editCsvEntry;
  krlist::EntryChange change{"saved \"target\"\n\x01", "saved\n comment"};
  auto edited = edit(text, live->offset, change);
  if (!edited && edited.problem().message == "the file has no column for translators' comments") {
    change.translatorComment.clear();
    edited = edit(text, live->offset, change);
  }
  if (!edited) {
    check(!po && edited.problem().message.starts_with("saved as "),
          "an entry of a file read is not saved");
    return;
  }
  if (po) {
    std::size_t lineStart = 0;
    for (std::size_t line = 1; line < live->line; ++line) {
      lineStart = text.find('\n', lineStart) + 1;
    }
    check(edited->compare(0, lineStart, text, 0, lineStart) == 0,
          "a save changed the bytes before the entry");
  }
  std::vector<krlist::TranslationEntry> after;
  const auto read = (po ? krlist::readPoEntries : krlist::readCsvEntries)(
      *edited, [&after](const krlist::TranslationEntry& entry) { after.push_back(entry); });
  check(read && after.size() == entries.size(), "a saved file does not read back its entries");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    krlist::TranslationEntry expected = entries[i];
    if (entries.begin() + static_cast<std::ptrdiff_t>(i) == live) {
      expected.target = change.target;
      expected.translatorComment = change.translatorComment;
      expected.fuzzy = false;
      expected.previousSource.clear();
    }
    check(sameEntry(after[i], expected), "a save changed what an entry reads as");
  }
  const auto again = edit(*edited, live->offset, change);
  check(again && *again == *edited, "an entry saved again changed");
}

[[maybe_unused]] void fuzzTranslations(std::string_view text, krlist::TranslationFormat format) {
  // Line ends as the readers take them: a line feed, a carriage return and
  // line feed, or a carriage return alone (which a CSV file may end its
  // lines with).
  std::size_t lines = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
      ++lines;
    }
  }
  const bool workbook = format == krlist::TranslationFormat::Xlsx;
  const std::string bytes = workbook ? workbookOf(text) : std::string(text);
  std::vector<krlist::TranslationEntry> entries;
  auto read = krlist::readTranslationEntries(
      format, bytes,
      [&entries](const krlist::TranslationEntry& entry) { entries.push_back(entry); });
  // A workbook's row names itself, any number; a problem with the archive
  // names its offset, one with a part of it the part.
  const auto onALine = [&](const krlist::Problem& problem) {
    if (workbook) {
      return problem.where.line >= 1 || problem.where.offset.has_value() ||
             problem.message.starts_with("xl/") || problem.message.starts_with("no sheet") ||
             problem.message.starts_with("the sheet is empty");
    }
    return problem.where.line >= 1 && problem.where.line <= lines + 1;
  };
  if (!read) {
    const krlist::Problem& error = read.problem();
    check(onALine(error), "a refusal names no line of the file");
    check(!error.message.empty(), "a refusal without a message");
    return;
  }
  krlist::TranslationFile& translations = *read;
  if (!workbook) {
    checkEntryEdit(bytes, format == krlist::TranslationFormat::Po, entries);
  }
  translations.entries = std::move(entries);
  Decoded original;
  decode(scriptBytes(), original);
  krlist::TextOutput script(nullptr);
  const auto injected = krlist::injectStrings(original.decoder.instructions(), true, translations,
                                              krlist::Encoding::Cp932, script);
  if (!injected.refused.empty()) {
    for (const krlist::EntryProblem& refused : injected.refused) {
      check(onALine(refused.problem), "a refusal names no line of the file");
    }
    return;
  }
  Decoded result;
  decode(script.text(), result);
  check(result.stop.complete() && result.stop.endMarker, "the injected script does not decode");
  check(result.decoder.instructions().size() == original.decoder.instructions().size(),
        "the injected script has other instructions");
  auto was = original.decoder.instructions().begin();
  for (const krlist::Instruction& now : result.decoder.instructions()) {
    check(now.opcode() == was->opcode(), "an opcode changed");
    check(std::memcmp(now.data(), was->data(), 4 * (now.dataLength > 0)) == 0, "data changed");
    if (now.kind() == krlist::OperandKind::String) {
      std::string expected = was->text();
      for (const krlist::TranslationEntry& entry : translations.entries) {
        char offset[9] = {};
        std::snprintf(offset, sizeof offset, "%08X", static_cast<unsigned>(was->listingOffset()));
        if (entry.offset == offset && !entry.target.empty() && !entry.fuzzy && !entry.obsolete) {
          expected.clear();
          check(!krlist::encodeText(krlist::Encoding::Cp932, entry.target, expected),
                "an accepted translation cannot be encoded");
        }
      }
      check(expected == now.text(), "a string is not its original or its translation");
    }
    ++was;
  }
}

[[maybe_unused]] void fuzzTmx(std::string_view text) {
  const auto read = krlist::readTmx(text, "fuzz.tmx");
  if (!read) {
    const krlist::Problem& error = read.problem();
    if (error.message.starts_with("this build reads no TMX")) {
      return;
    }
    const auto lines = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n') +
                                                  std::count(text.begin(), text.end(), '\r')) +
                       1;
    check(error.where.file == "fuzz.tmx", "a refusal names another file");
    check(error.where.line >= 1 && error.where.line <= lines,
          "a refusal names no line of the file");
    check(!error.message.empty(), "a refusal without a message");
    return;
  }
  std::vector<krlist::MemoryUnit> carried;
  for (const krlist::MemoryUnit& unit : *read) {
    check(!unit.source.empty() && !unit.target.empty(), "an empty text taken");
    check(krlist::findInvalidUtf8Text(unit.source) == std::string_view::npos &&
              krlist::findInvalidUtf8Text(unit.target) == std::string_view::npos,
          "a text that is not UTF-8 taken");
    if (krlist::fitsTmx(unit.source) && krlist::fitsTmx(unit.target)) {
      carried.push_back(unit);
    }
  }
  std::size_t leftOut = 0;
  const auto again =
      krlist::readTmx(krlist::writeTmx(*read, {"ja", "en"}, "0", leftOut), "fuzz.tmx");
  check(again && leftOut == read->size() - carried.size(), "a written memory does not read back");
  check(again->size() == carried.size(), "a written memory reads back other units");
  for (std::size_t i = 0; i < carried.size(); ++i) {
    check((*again)[i].source == carried[i].source && (*again)[i].target == carried[i].target,
          "a written memory reads back other texts");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
#if defined(KRSCRIPT_FUZZ_JSON)
  fuzzJson(text);
#elif defined(KRSCRIPT_FUZZ_PO)
  fuzzTranslations(text, krlist::TranslationFormat::Po);
#elif defined(KRSCRIPT_FUZZ_CSV)
  fuzzTranslations(text, krlist::TranslationFormat::Csv);
#elif defined(KRSCRIPT_FUZZ_XLSX)
  fuzzTranslations(text, krlist::TranslationFormat::Xlsx);
#elif defined(KRSCRIPT_FUZZ_TMX)
  fuzzTmx(text);
#else
  fuzzJson(text);
  fuzzTranslations(text, krlist::TranslationFormat::Po);
  fuzzTranslations(text, krlist::TranslationFormat::Csv);
  fuzzTranslations(text, krlist::TranslationFormat::Xlsx);
  fuzzTmx(text);
#endif
  return 0;
}

#if !defined(KRSCRIPT_FUZZ_JSON) && !defined(KRSCRIPT_FUZZ_PO) && !defined(KRSCRIPT_FUZZ_CSV) && \
    !defined(KRSCRIPT_FUZZ_XLSX) && !defined(KRSCRIPT_FUZZ_TMX)
namespace {

// The seeds: the fixed script's JSON form and its strings as PO and CSV,
// untranslated and translated, and as a memory; and a memory nested deeper
// than any, which the reader must refuse rather than descend into.
int writeSeeds(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  Decoded decoded;
  decode(scriptBytes(), decoded);
  std::size_t leftOut = 0;
  krlist::TranslationFile po = krlist::extractStrings(
      decoded.decoder.instructions(), krlist::Encoding::Cp932, "fuzz.kr", true, leftOut);
  krlist::TranslationFile csv = po;
  for (krlist::TranslationEntry& entry : csv.entries) {
    entry.target = entry.source + " (translated)";
  }
  std::vector<krlist::MemoryUnit> units;
  for (const krlist::TranslationEntry& entry : csv.entries) {
    units.push_back({entry.source, entry.target, 0});
  }
  std::string deep = "<tmx><header srclang=\"ja\"/><body><tu><tuv xml:lang=\"ja\"><seg>";
  for (int i = 0; i < 200000; ++i) {
    deep += "<hi>";
  }
  const std::pair<const char*, std::string> seeds[] = {
      {"memory.tmx", krlist::writeTmx(units, {"ja", "es"}, "0", leftOut)},
      {"deep.tmx", deep},
      {"script.json", dump(scriptBytes())},
      {"strings.po", krlist::writePo(po)},
      {"strings.csv", krlist::writeCsv(po)},
      {"translated.po", krlist::writePo(csv)},
      {"translated.csv", krlist::writeCsv(csv)},
      {"translated.sheet", partsOf(krlist::xlsxOfCsv(krlist::writeCsv(csv)))}};
  for (const auto& [name, text] : seeds) {
    std::ofstream(folder / name, std::ios::binary) << text;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--seeds") {
    return writeSeeds(argv[2]);
  }
  return replayFiles(argc - 1, argv + 1);
}
#endif
