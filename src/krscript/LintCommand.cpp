// krscript lint: every problem of every translation file of a run, in the
// form compilers use, or as one JSON document; nothing is written.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "batch/FolderRun.h"
#include "io/Files.h"
#include "krscript/Commands.h"
#include "krscript/ProfileOptions.h"
#include "krscript/Scripts.h"
#include "krscript/TranslationInput.h"
#include "text/Cells.h"
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

struct FileLint {
  std::vector<Finding> findings;
  TranslationCounts counts;
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
    return {{std::move(finding)}, {}};
  }
  const std::string name = pathToUtf8(translationsPath);
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

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const char32_t character = nextCharacter(text, at);
    if (character == U'"' || character == U'\\') {
      out += '\\';
      out += static_cast<char>(character);
    } else if (character == U'\n') {
      out += "\\n";
    } else if (character < 0x20 || (character == U'\uFFFD' && at - start == 1)) {
      // Controls, and bytes of a file name that are not UTF-8.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(character));
      out += escape;
    } else {
      out.append(text.substr(start, at - start));
    }
  }
  out += '"';
}

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
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
