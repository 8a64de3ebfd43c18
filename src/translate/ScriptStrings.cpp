#include "translate/ScriptStrings.h"

#include <charconv>
#include <cstring>
#include <unordered_map>

#include "decode/OpcodeTable.h"
#include "decode/ScriptEncoder.h"

namespace krlist {

namespace {

std::string_view stringOf(const Instruction& instruction) {
  return {instruction.text(), std::strlen(instruction.text())};
}

std::string hexOffset(std::uint32_t offset) {
  char digits[8];
  TextOutput::putHexOffset(digits, offset);
  return std::string(digits, 8);
}

std::string describeString(const Instruction& instruction) {
  char opcode[2];
  TextOutput::putHexByte(opcode, instruction.opcode());
  if (instruction.opcode() != kNameDefinition) {
    return "opcode " + std::string(opcode, 2);
  }
  std::string key;
  for (int i = 0; i < 4; ++i) {
    char digits[2];
    TextOutput::putHexByte(digits, instruction.dataByte(i));
    key.append(digits, 2);
  }
  return "name definition, key " + key;
}

}  // namespace

TranslationFile extractStrings(const Listing& listing, Encoding encoding,
                               std::string_view scriptName, bool forPo, std::size_t& leftOut) {
  TranslationFile file;
  file.scriptEncoding = encodingName(encoding);
  leftOut = 0;
  for (const Instruction& instruction : listing) {
    if (instruction.kind() != OperandKind::String) {
      continue;
    }
    TranslationEntry entry;
    // gettext refuses U+0004 anywhere in a PO file: it separates the context
    // from the text in compiled catalogues.
    if (!decodeExactText(encoding, stringOf(instruction), entry.source) ||
        (forPo && entry.source.find('\x04') != std::string::npos)) {
      ++leftOut;
      continue;
    }
    entry.context = hexOffset(instruction.offset());
    entry.comment = describeString(instruction);
    entry.reference = std::string(scriptName) + ":" + entry.context;
    file.entries.push_back(std::move(entry));
  }
  return file;
}

std::variant<InjectReport, InjectError> injectStrings(const Listing& listing, bool endMarker,
                                                      const TranslationFile& translations,
                                                      Encoding encoding, TextOutput& script) {
  // The entries by the offset of their string; each must name one.
  const std::vector<TranslationEntry>& entries = translations.entries;
  std::unordered_map<std::uint32_t, std::size_t> byOffset;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::uint32_t offset = 0;
    std::from_chars(entries[i].context.data(),
                    entries[i].context.data() + entries[i].context.size(), offset, 16);
    byOffset.emplace(offset, i);
  }
  std::vector<bool> matched(entries.size());
  InjectReport report;
  std::string text;
  std::string translated;
  for (const Instruction& instruction : listing) {
    std::string_view operand;
    if (instruction.kind() == OperandKind::String) {
      operand = stringOf(instruction);
      const auto found = byOffset.find(instruction.offset());
      if (found != byOffset.end()) {
        const TranslationEntry& entry = entries[found->second];
        matched[found->second] = true;
        text.clear();
        if (!decodeExactText(encoding, operand, text) || text != entry.source) {
          return InjectError{entry.line, "the source text is not the script's text at " +
                                             entry.context +
                                             ": the translation belongs to another version of "
                                             "the script"};
        }
        if (!entry.target.empty() && !entry.fuzzy) {
          translated.clear();
          if (const auto bad = encodeText(encoding, entry.target, translated)) {
            return InjectError{
                entry.line, "the translation holds " + describeCharacter(bad->character) +
                                ", which " + std::string(encodingName(encoding)) + " cannot hold"};
          }
          report.growth += static_cast<std::int64_t>(translated.size()) -
                           static_cast<std::int64_t>(operand.size());
          ++report.replaced;
          operand = translated;
        }
      }
    } else if (instruction.kind() != OperandKind::None) {
      operand = {reinterpret_cast<const char*>(instruction.extra()),
                 static_cast<std::size_t>(instruction.extraLength)};
    }
    const std::string_view data(reinterpret_cast<const char*>(instruction.data()),
                                static_cast<std::size_t>(instruction.dataLength));
    // The instruction decoded from these bytes, so only a translation could
    // fail to fit, and its characters were checked above.
    (void)appendInstruction(script, instruction.opcode(), data, operand);
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!matched[i]) {
      return InjectError{entries[i].line,
                         "no string of the script lies at offset " + entries[i].context};
    }
  }
  if (endMarker) {
    script.write('\0');
  }
  return report;
}

}  // namespace krlist
