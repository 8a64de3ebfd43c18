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

EntryProblem staleEntry(const Translations& translations, const Translations::Entry& entry,
                        std::string message) {
  EntryProblem stale{Check::Stale, {}};
  stale.problem.where.line = entry.line;
  stale.problem.where.offset = entry.offset;
  stale.problem.message = std::move(message);
  quoteTranslation(translations.target(entry), stale.problem.message);
  return stale;
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
    entry.offset.resize(8);
    TextOutput::putHexOffset(entry.offset.data(), instruction.listingOffset());
    describeString(instruction, entry.comment);
    if (!speakers.empty()) {
      entry.comment.append(1, '\n').append(speakers);
      speakers.clear();
    }
    entry.reference.assign(scriptName).append(1, ':').append(entry.offset);
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
  added.offset = translation::offsetOf(entry.offset);
  added.fuzzy = entry.fuzzy;
  added.line = entry.targetLine != 0 ? entry.targetLine : entry.line;
  added.textAt = texts.size();
  added.sourceSize = entry.source.size();
  added.targetSize = entry.target.size();
  added.commentSize = entry.translatorComment.size();
  added.previousSize = entry.previousSource.size();
  texts += entry.source;
  texts += entry.target;
  texts += entry.translatorComment;
  texts += entry.previousSource;
}

void matchEntries(const InstructionList& listing, const Translations& translations,
                  Encoding encoding,
                  const std::function<void(const Instruction&, const Translations::Entry*)>& visit,
                  std::vector<EntryProblem>& problems) {
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
  std::string text;
  for (const Instruction& instruction : listing) {
    if (instruction.kind() != OperandKind::String) {
      visit(instruction, nullptr);
      continue;
    }
    // Past 4 GiB the offsets start again from 0.
    if (instruction.listingOffset() < lastOffset) {
      next = 0;
    }
    lastOffset = instruction.listingOffset();
    while (next < byOffset.size() && entries[byOffset[next]].offset < instruction.listingOffset()) {
      ++next;
    }
    // Of entries with the same offset, the first names the string.
    if (next == byOffset.size() || entries[byOffset[next]].offset != instruction.listingOffset()) {
      visit(instruction, nullptr);
      continue;
    }
    const Translations::Entry& entry = entries[byOffset[next]];
    matched[byOffset[next]] = true;
    text.clear();
    const bool decoded = decodeExactText(encoding, instruction.textView(), text);
    if (!decoded || text != translations.source(entry)) {
      // A spreadsheet that converted the cell leaves the translation as good
      // as it was: the cell is to be mended, not the translation.
      const bool converted = decoded && translations.fromSpreadsheet &&
                             spreadsheetChanged(text, translations.source(entry));
      problems.push_back(staleEntry(
          translations, entry,
          "the source text is not the script's text at " + hexOffset(entry.offset) +
              (!converted ? ": the translation belongs to another version of the script"
               : translations.fromWorkbook
                   ? ": the spreadsheet changed this cell (keep the column as text)"
                   : ": the spreadsheet changed this cell (import every column as text, or use "
                     "--format xlsx)")));
      visit(instruction, nullptr);
      continue;
    }
    visit(instruction, &entry);
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!matched[i]) {
      problems.push_back(
          staleEntry(translations, entries[i],
                     "no string of the script lies at offset " + hexOffset(entries[i].offset)));
    }
  }
}

namespace {

// Problems in the order of the translation file's lines.
void byLine(std::vector<EntryProblem>::iterator begin, std::vector<EntryProblem>::iterator end) {
  std::stable_sort(begin, end, [](const EntryProblem& a, const EntryProblem& b) {
    return a.problem.where.line < b.problem.where.line;
  });
}

}  // namespace

InjectReport injectStrings(const InstructionList& listing, bool endMarker,
                           const Translations& translations, Encoding encoding, const TextFit& fit,
                           TextOutput& script, bool keepGoing) {
  InjectReport report;
  std::string fitted;
  std::string translated;
  // The script's bytes from `kept` on stay as they are up to the next
  // string translated, and are copied as one run.
  const char* kept = nullptr;
  std::size_t keptLength = 0;
  const auto visit = [&](const Instruction& instruction, const Translations::Entry* entry) {
    const std::string_view bytes = instruction.bytes();
    if (keptLength == 0) {
      kept = bytes.data();
    }
    keptLength += bytes.size();
    if (entry == nullptr) {
      return;
    }
    const std::string_view target = translations.target(*entry);
    if (target.empty()) {
      return;
    }
    if (entry->fuzzy) {
      ++report.fuzzy;
      return;
    }
    const bool plain = fit.wrap == 0 && !fit.boxFor &&
                       (fit.substitutions == nullptr || fit.substitutions->empty());
    if (!plain) {
      fitted = fitTranslation(target, encoding, fit, instruction.opcode());
    }
    const std::string_view text = plain ? target : std::string_view(fitted);
    const std::size_t refusedBefore = report.refused.size();
    // A character the box's font cannot draw is refused as one the
    // encoding cannot hold: the game would show a blank or a box.
    if (const BoxFit* box = fit.boxFor ? fit.boxFor(instruction.opcode()) : nullptr) {
      const std::size_t first = report.refused.size();
      checkBox(text, *box, false, {"", entry->line, 0, entry->offset}, report.refused);
      for (std::size_t k = first; k < report.refused.size(); ++k) {
        quoteTranslation(target, report.refused[k].problem.message);
      }
    }
    translated.clear();
    if (encodeText(encoding, text, translated)) {
      const std::size_t first = report.refused.size();
      checkEncodable(target, encoding, fit.substitutions, {"", entry->line, 0, entry->offset},
                     report.refused);
      for (std::size_t k = first; k < report.refused.size(); ++k) {
        quoteTranslation(target, report.refused[k].problem.message);
      }
      return;
    }
    // A refused entry keeps its string's bytes. Without keepGoing, the
    // script will not be used: nothing more is written.
    if (report.refused.size() > refusedBefore || (!keepGoing && !report.refused.empty())) {
      return;
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
  };
  matchEntries(listing, translations, encoding, visit, report.refused);
  byLine(report.refused.begin(), report.refused.end());
  if (!keepGoing && !report.refused.empty()) {
    return report;
  }
  script.write({kept, keptLength});
  if (endMarker) {
    script.write('\0');
  }
  return report;
}

InjectReport injectStrings(const InstructionList& listing, bool endMarker,
                           const TranslationFile& translations, Encoding encoding,
                           TextOutput& script) {
  Translations taken;
  taken.fromSpreadsheet = translations.fromSpreadsheet;
  taken.fromWorkbook = translations.fromWorkbook;
  for (const TranslationEntry& entry : translations.entries) {
    taken.add(entry);
  }
  return injectStrings(listing, endMarker, taken, encoding, TextFit{}, script);
}

TranslationCounts& TranslationCounts::operator+=(const TranslationCounts& other) {
  entries += other.entries;
  translated += other.translated;
  fuzzy += other.fuzzy;
  untranslated += other.untranslated;
  return *this;
}

void checkTranslation(std::string_view source, std::string_view target, std::uint8_t opcode,
                      Encoding encoding, const TextFit& fit, const TextBox& box,
                      const Location& where, std::vector<EntryProblem>& problems) {
  const std::string fitted = fitTranslation(target, encoding, fit, opcode);
  const std::size_t found = problems.size();
  checkEncodable(target, encoding, fit.substitutions, where, problems);
  // In the game's text box, lines are measured in its font, in pixels,
  // rather than in cells.
  const BoxFit* textBox = fit.boxFor ? fit.boxFor(opcode) : nullptr;
  if (textBox != nullptr) {
    checkBox(fitted, *textBox, true, where, problems);
  }
  checkPresentation(source, fitted, encoding, textBox != nullptr ? TextBox{} : box, where,
                    problems);
  for (std::size_t k = found; k < problems.size(); ++k) {
    quoteTranslation(target, problems[k].problem.message);
  }
}

TranslationCounts lintStrings(const InstructionList& listing, const Translations& translations,
                              Encoding encoding, const TextFit& fit, const TextBox& box,
                              std::vector<EntryProblem>& problems) {
  TranslationCounts counts;
  for (const Translations::Entry& entry : translations.entries) {
    ++counts.entries;
    if (translations.target(entry).empty()) {
      ++counts.untranslated;
    } else if (entry.fuzzy) {
      ++counts.fuzzy;
    } else {
      ++counts.translated;
    }
  }
  const std::size_t first = problems.size();
  matchEntries(
      listing, translations, encoding,
      [&](const Instruction& instruction, const Translations::Entry* entry) {
        if (entry == nullptr || entry->fuzzy || translations.target(*entry).empty()) {
          return;
        }
        checkTranslation(translations.source(*entry), translations.target(*entry),
                         instruction.opcode(), encoding, fit, box,
                         Location{"", entry->line, 0, entry->offset}, problems);
      },
      problems);
  byLine(problems.begin() + static_cast<std::ptrdiff_t>(first), problems.end());
  return counts;
}

}  // namespace krlist
