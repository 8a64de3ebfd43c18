#include "translate/ScriptStrings.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "format/NameIndex.h"
#include "format/OpcodeTable.h"
#include "format/ScriptEncoder.h"

namespace krlist {

namespace {

constexpr auto npos = std::string_view::npos;

std::string hexOffset(std::uint32_t offset) {
  char digits[8];
  TextOutput::putHexOffset(digits, offset);
  return std::string(digits, 8);
}

void describeString(const Instruction& instruction, std::string& description) {
  char digits[2];
  TextOutput::putHexByte(digits, instruction.opcode());
  if (instruction.opcode() != kNameDefinition) {
    description.assign("opcode ").append(digits, 2);
    return;
  }
  description.assign("name definition, key ");
  for (int i = 0; i < 4; ++i) {
    TextOutput::putHexByte(digits, instruction.dataByte(i));
    description.append(digits, 2);
  }
}

}  // namespace

std::size_t extractStringEntries(const InstructionList& listing, Encoding encoding,
                                 std::string_view scriptName, bool forPo, const EntrySink& take) {
  std::size_t leftOut = 0;
  TranslationEntry entry;
  const NameIndex names(listing);
  // What the references since the last string resolve to, as the listing
  // prints them: who speaks, when the script says so.
  std::string speakers;
  std::string resolved;
  for (const Instruction& instruction : listing) {
    if (instruction.opcode() == kNameReference) {
      // Names that are not text in the encoding are passed over.
      resolved.clear();
      if (decodeExactText(encoding, names.referenceText(instruction.data()), resolved) &&
          !resolved.empty()) {
        speakers.append(speakers.empty() ? "" : " ").append(resolved);
      }
      continue;
    }
    if (instruction.kind() != OperandKind::String) {
      continue;
    }
    entry.source.clear();
    // An empty string stays as it is: in a PO file its entry could not be
    // told from the header, and there is nothing to translate.
    if (instruction.textView().empty()) {
      ++leftOut;
      speakers.clear();
      continue;
    }
    // gettext refuses U+0004 anywhere in a PO file: it separates the context
    // from the text in compiled catalogues.
    if (!decodeExactText(encoding, instruction.textView(), entry.source) ||
        (forPo && entry.source.find('\x04') != npos)) {
      ++leftOut;
      speakers.clear();
      continue;
    }
    entry.context.resize(8);
    TextOutput::putHexOffset(entry.context.data(), instruction.offset());
    describeString(instruction, entry.comment);
    if (!speakers.empty()) {
      entry.comment.append(1, '\n').append(speakers);
      speakers.clear();
    }
    entry.reference.assign(scriptName).append(1, ':').append(entry.context);
    take(entry);
  }
  return leftOut;
}

TranslationFile extractStrings(const InstructionList& listing, Encoding encoding,
                               std::string_view scriptName, bool forPo, std::size_t& leftOut) {
  TranslationFile file;
  file.scriptEncoding = encodingName(encoding);
  leftOut = extractStringEntries(
      listing, encoding, scriptName, forPo,
      [&file](const TranslationEntry& entry) { file.entries.push_back(entry); });
  return file;
}

void Translations::add(const TranslationEntry& entry) {
  if (entry.obsolete) {
    return;
  }
  Entry& added = entries.emplace_back();
  added.offset = translation::offsetOf(entry.context);
  added.fuzzy = entry.fuzzy;
  added.line = entry.line;
  added.textAt = texts.size();
  added.sourceSize = entry.source.size();
  added.targetSize = entry.target.size();
  texts += entry.source;
  texts += entry.target;
}

std::variant<InjectReport, InjectError> injectStrings(const InstructionList& listing,
                                                      bool endMarker,
                                                      const Translations& translations,
                                                      Encoding encoding, TextOutput& script) {
  // The entries by the offset of their string, each to be matched to the
  // string there in one pass over the script: in file order, which is the
  // script's order unless a translator's tool reordered them.
  const std::vector<Translations::Entry>& entries = translations.entries;
  std::vector<std::size_t> byOffset(entries.size());
  std::iota(byOffset.begin(), byOffset.end(), std::size_t{0});
  const auto offsetOrder = [&entries](std::size_t a, std::size_t b) {
    return entries[a].offset < entries[b].offset;
  };
  if (!std::is_sorted(byOffset.begin(), byOffset.end(), offsetOrder)) {
    std::stable_sort(byOffset.begin(), byOffset.end(), offsetOrder);
  }
  std::size_t next = 0;  // in `byOffset`: the first entry not below the last string
  std::uint32_t lastOffset = 0;
  std::vector<bool> matched(entries.size());

  InjectReport report;
  std::string text;
  std::string translated;
  // The script's bytes from `kept` on stay as they are up to the next
  // string translated, and are copied as one run.
  const char* kept = nullptr;
  std::size_t keptLength = 0;
  for (const Instruction& instruction : listing) {
    const std::string_view bytes = instruction.bytes();
    if (keptLength == 0) {
      kept = bytes.data();
    }
    keptLength += bytes.size();
    if (instruction.kind() != OperandKind::String) {
      continue;
    }
    // Past 4 GiB the offsets start again from 0.
    if (instruction.offset() < lastOffset) {
      next = 0;
    }
    lastOffset = instruction.offset();
    while (next < byOffset.size() && entries[byOffset[next]].offset < instruction.offset()) {
      ++next;
    }
    // Of entries with the same offset, the first names the string.
    if (next == byOffset.size() || entries[byOffset[next]].offset != instruction.offset()) {
      continue;
    }
    const Translations::Entry& entry = entries[byOffset[next]];
    matched[byOffset[next]] = true;
    text.clear();
    if (!decodeExactText(encoding, instruction.textView(), text) ||
        text != translations.source(entry)) {
      return InjectError{entry.line, "the source text is not the script's text at " +
                                         hexOffset(entry.offset) +
                                         ": the translation belongs to another version of "
                                         "the script"};
    }
    const std::string_view target = translations.target(entry);
    if (target.empty() || entry.fuzzy) {
      continue;
    }
    translated.clear();
    if (const auto bad = encodeText(encoding, target, translated)) {
      return InjectError{entry.line, "the translation holds " + describeCharacter(bad->character) +
                                         ", which " + std::string(encodingName(encoding)) +
                                         " cannot hold"};
    }
    report.growth += static_cast<std::int64_t>(translated.size()) -
                     static_cast<std::int64_t>(instruction.textView().size());
    ++report.replaced;
    script.write({kept, keptLength - bytes.size()});
    keptLength = 0;
    const std::string_view data(reinterpret_cast<const char*>(instruction.data()),
                                static_cast<std::size_t>(instruction.dataLength));
    // The instruction decoded from these bytes, so only the translation could
    // fail to fit, and its characters were checked above.
    (void)appendInstruction(script, instruction.opcode(), data, translated);
  }
  script.write({kept, keptLength});
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!matched[i]) {
      return InjectError{entries[i].line,
                         "no string of the script lies at offset " + hexOffset(entries[i].offset)};
    }
  }
  if (endMarker) {
    script.write('\0');
  }
  return report;
}

std::variant<InjectReport, InjectError> injectStrings(const InstructionList& listing,
                                                      bool endMarker,
                                                      const TranslationFile& translations,
                                                      Encoding encoding, TextOutput& script) {
  Translations taken;
  for (const TranslationEntry& entry : translations.entries) {
    taken.add(entry);
  }
  return injectStrings(listing, endMarker, taken, encoding, script);
}

}  // namespace krlist
