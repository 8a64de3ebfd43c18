// krscript lint: every problem of every translation file of a run, in the
// form compilers use, or as one JSON document; nothing is written.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "batch/FolderRun.h"
#include "format/OpcodeTable.h"
#include "io/Files.h"
#include "krscript/Commands.h"
#include "krscript/ProfileOptions.h"
#include "krscript/Scripts.h"
#include "krscript/TranslationInput.h"
#include "text/Cells.h"
#include "translate/Glossary.h"
#include "translate/ScriptStrings.h"

namespace krlist {

namespace {

namespace fs = std::filesystem;

// One finding, as lint reports it. A file that cannot be checked at all
// (a script that does not decode, a translation file that cannot be read)
// is an error of the check "file", with no context.
struct Finding {
  Problem problem;
  bool error = true;
  std::string_view check = "file";
};

// A translated entry (not fuzzy, not stale) of a file, for the checks
// that look at the whole run: its place among the file's entries, and
// whether its string is a name definition.
struct Translated {
  std::size_t entry = 0;
  bool name = false;
};

struct FileLint {
  std::vector<Finding> findings;
  TranslationCounts counts;
  std::string name;  // of the translation file
  Translations translations;
  std::vector<Translated> translated;  // in file order
};

FileLint lintFile(const Job& job, const RunEncoding& run, const Options& options,
                  const fs::path& translationsPath, const TextFit& fit) {
  FileLint lint;
  DecodedScript script;
  if (Expected<void> decoded = decodeWholeScript(job, script); !decoded) {
    Finding finding;
    finding.problem = decoded.problem();
    lint.findings.push_back(std::move(finding));
    return lint;
  }
  const InstructionList& listing = script.instructions();
  Translations translations;
  std::string note;  // lint counts on the report, not on notes
  const Expected<Encoding> encoding = readTranslations(translationsPath, run, translations, note);
  if (!encoding) {
    Finding finding;
    finding.problem = encoding.problem();
    lint.findings.push_back(std::move(finding));
    return lint;
  }
  std::vector<EntryProblem> problems;
  lint.counts = lintStrings(listing, translations, *encoding, fit,
                            TextBox{options.width, options.lines}, problems);
  // A script cut short while read no longer has the strings its translations
  // were made for: that is the one thing to say of it.
  if (Expected<void> same = script.bytes.unchanged(job.name); !same) {
    Finding finding;
    finding.problem = same.problem();
    FileLint changed;
    changed.findings.push_back(std::move(finding));
    return changed;
  }
  const std::string name = pathToUtf8(translationsPath);
  std::vector<EntryProblem> stale;  // reported above already
  matchEntries(
      listing, translations, *encoding,
      [&](const Instruction& instruction, const Translations::Entry* entry) {
        if (entry != nullptr && !entry->fuzzy && !translations.target(*entry).empty()) {
          lint.translated.push_back({static_cast<std::size_t>(entry - translations.entries.data()),
                                     instruction.opcode() == kNameDefinition});
        }
      },
      stale);
  lint.name = name;
  lint.translations = std::move(translations);
  for (EntryProblem& found : problems) {
    found.problem.where.file = name;
    Finding finding;
    finding.problem = std::move(found.problem);
    finding.error = isError(found.check);
    finding.check = checkName(found.check);
    lint.findings.push_back(std::move(finding));
  }
  return lint;
}

std::string contextOf(const Problem& problem) {
  char digits[9] = {};
  if (problem.where.offset) {
    TextOutput::putHexOffset(digits, static_cast<std::uint32_t>(*problem.where.offset));
  }
  return digits;
}

// "FILE:LINE: error: CHECK: MESSAGE", the check left out for a file that
// could not be checked. What the message quotes of a translation goes to a
// terminal: its control characters are shown, not sent.
std::string textLine(const Finding& finding) {
  Problem problem = finding.problem;
  problem.message = std::string(finding.error ? "error: " : "warning: ") +
                    (finding.check == "file" ? "" : std::string(finding.check) + ": ") +
                    problem.message;
  return visibleText(problem.describe()) + "\n";
}

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A warning about `entry`, named by its translation's line and its string's
// offset, as the entry checks name theirs.
void addWarning(FileLint& file, const Translations::Entry& entry, std::string_view check,
                std::string message) {
  Finding finding;
  finding.problem.where.file = file.name;
  finding.problem.where.line = entry.line;
  finding.problem.where.offset = entry.offset;
  finding.problem.message = std::move(message);
  finding.error = false;
  finding.check = check;
  file.findings.push_back(std::move(finding));
}

// glossary: a translated entry whose source holds a term whose target its
// translation lacks.
void checkGlossary(const Glossary& glossary, std::vector<FileLint>& files) {
  for (FileLint& file : files) {
    for (const Translated& translated : file.translated) {
      const Translations::Entry& entry = file.translations.entries[translated.entry];
      const std::string_view target = file.translations.target(entry);
      for (const GlossaryTerm* term : glossary.missing(file.translations.source(entry), target)) {
        addWarning(file, entry, "glossary", glossary.missingMessage(*term, target));
      }
    }
  }
}

// inconsistent: a translated entry whose source is translated otherwise
// elsewhere in the run. Each other translation is named with the first place
// it is given, in the run's order; a few are named, and the rest counted.
void checkConsistency(std::vector<FileLint>& files) {
  struct Place {
    std::size_t file;
    const Translated* translated;
  };
  std::unordered_map<std::string_view, std::vector<Place>> bySource;
  for (std::size_t f = 0; f < files.size(); ++f) {
    for (const Translated& translated : files[f].translated) {
      const Translations::Entry& entry = files[f].translations.entries[translated.entry];
      bySource[files[f].translations.source(entry)].push_back({f, &translated});
    }
  }
  const auto targetOf = [&files](const Place& place) {
    const Translations& translations = files[place.file].translations;
    return translations.target(translations.entries[place.translated->entry]);
  };
  for (const auto& [source, places] : bySource) {
    // Each translation given, with the first place that gives it.
    std::vector<const Place*> firsts;
    for (const Place& place : places) {
      if (std::none_of(firsts.begin(), firsts.end(),
                       [&](const Place* first) { return targetOf(*first) == targetOf(place); })) {
        firsts.push_back(&place);
      }
    }
    if (firsts.size() < 2) {
      continue;
    }
    for (const Place& place : places) {
      const std::string_view target = targetOf(place);
      std::vector<std::pair<std::string_view, std::string>> others;
      for (const Place* first : firsts) {
        const Translations& translations = files[first->file].translations;
        others.emplace_back(
            targetOf(*first),
            files[first->file].name + ":" +
                std::to_string(translations.entries[first->translated->entry].line));
      }
      FileLint& file = files[place.file];
      addWarning(file, file.translations.entries[place.translated->entry], "inconsistent",
                 inconsistencyMessage(place.translated->name, source, target, others));
    }
  }
}

}  // namespace

int runLint(const Options& options) {
  std::optional<Substitutions> substitutions;
  if (!readSubstitutions(options, substitutions)) {
    return 1;
  }
  // With the game's text box, translations are wrapped as inject wraps them
  // and checked in its font; without one, in cells.
  const ProfileBoxes boxes(options);
  TextFit fit{substitutions ? &*substitutions : nullptr, options.noWrap ? 0 : options.wrap, {}};
  if (!boxes.empty()) {
    fit.boxFor = [&boxes](std::uint8_t opcode) { return boxes.boxFor(opcode); };
  }
  std::optional<Glossary> glossary;
  if (!readGlossary(options, glossary)) {
    return 1;
  }
  Plan plan = planJobs(options, options.inputs[0],
                       [](const fs::path&) { return std::optional<fs::path>(fs::path()); });
  if (!plan.usageError.empty()) {
    return usageFailure(Command::Lint, plan.usageError);
  }
  std::fputs(plan.notes.c_str(), stderr);
  const fs::path translations = pathFromUtf8(options.inputs[1]);
  if (const std::string twoFiles = declareTranslationFiles(plan, translations); !twoFiles.empty()) {
    std::fputs(twoFiles.c_str(), stderr);
    return 1;
  }
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  // As inject does, a script of a translated folder that has no translation
  // file is passed over; a folder with none at all is a mistake.
  std::set<fs::path> untranslated;
  for (const Job& job : plan.jobs) {
    std::error_code error;
    if (plan.folder && !fs::exists(translationsFor(job, translations, true), error)) {
      untranslated.insert(job.input);
    }
  }
  if (untranslated.size() == plan.jobs.size()) {
    untranslated.clear();
  }
  // Each job fills the slot at its place in the plan; the report is written
  // once all are done.
  std::vector<FileLint> files(plan.jobs.size());
  RunOptions runOptions;
  runOptions.jobs = options.jobs;
  runJobs(
      plan.jobs,
      [&](const Job& job, std::size_t index) {
        if (untranslated.count(job.input) == 0) {
          files[index] = lintFile(job, encoding, options,
                                  translationsFor(job, translations, plan.folder), fit);
        }
        return JobResult{};
      },
      runOptions);
  checkConsistency(files);
  if (glossary) {
    checkGlossary(*glossary, files);
  }
  // The run's findings among each file's own, by line.
  for (FileLint& file : files) {
    std::stable_sort(file.findings.begin(), file.findings.end(),
                     [](const Finding& a, const Finding& b) {
                       return a.problem.where.line < b.problem.where.line;
                     });
  }

  TranslationCounts counts;
  std::size_t errors = 0;
  std::size_t warnings = 0;
  std::string out;
  const bool json = options.report == ReportFormat::Json;
  if (json) {
    out += "{\"problems\": [";
  }
  for (const FileLint& file : files) {
    counts += file.counts;
    for (const Finding& finding : file.findings) {
      ++(finding.error ? errors : warnings);
      if (!json) {
        out += textLine(finding);
        continue;
      }
      out += errors + warnings == 1 ? "\n  {\"file\": " : ",\n  {\"file\": ";
      appendJsonString(out, finding.problem.where.file);
      out += ", \"line\": ";
      out += finding.problem.where.line == 0 ? "null" : std::to_string(finding.problem.where.line);
      out += ", \"context\": ";
      const std::string context = contextOf(finding.problem);
      if (context.empty()) {
        out += "null";
      } else {
        appendJsonString(out, context);
      }
      out += finding.error ? ", \"severity\": \"error\"" : ", \"severity\": \"warning\"";
      out += ", \"check\": ";
      appendJsonString(out, finding.check);
      out += ", \"message\": ";
      appendJsonString(out, finding.problem.message);
      out += "}";
    }
  }
  const std::size_t percent = counts.entries == 0 ? 100 : counts.translated * 100 / counts.entries;
  if (json) {
    out += errors + warnings == 0 ? "],\n" : "\n ],\n";
    out += " \"totals\": {\"files\": " + std::to_string(plan.jobs.size() - untranslated.size()) +
           ", \"entries\": " + std::to_string(counts.entries) +
           ", \"translated\": " + std::to_string(counts.translated) +
           ", \"fuzzy\": " + std::to_string(counts.fuzzy) +
           ", \"untranslated\": " + std::to_string(counts.untranslated) +
           ", \"percent\": " + std::to_string(percent) + ", \"errors\": " + std::to_string(errors) +
           ", \"warnings\": " + std::to_string(warnings) + "}}\n";
  } else {
    out += plural(counts.entries, "entry", "entries") + ", " + std::to_string(counts.translated) +
           " translated, " + std::to_string(counts.fuzzy) + " fuzzy, " +
           std::to_string(counts.untranslated) + " untranslated (" + std::to_string(percent) +
           "% done), " + plural(errors, "error", "errors") + ", " +
           plural(warnings, "warning", "warnings") + "\n";
  }
  TextOutput console(stdout);
  console.write(out);
  if (!console.flush()) {
    std::fprintf(stderr, "krscript: cannot write the report\n");
    return 1;
  }
  return errors > 0 ? 1 : 0;
}

}  // namespace krlist
