#include <filesystem>
#include <string>
#include <variant>

#include "batch/FolderRun.h"
#include "io/Files.h"
#include "json/JsonDump.h"
#include "krscript/Commands.h"
#include "krscript/Scripts.h"
#include "translate/CsvFile.h"
#include "translate/PoFile.h"
#include "translate/ScriptStrings.h"

namespace krlist {

namespace {

namespace fs = std::filesystem;

JobResult extractStrings(const Job& job, const Options& options, Encoding encoding) {
  DecodedScript script;
  if (Expected<void> decoded = decodeWholeScript(job, script); !decoded) {
    return failure(decoded.problem());
  }
  JobResult result;
  const InstructionList& listing = script.instructions();
  const bool po = options.format == TranslationFormat::Po;
  std::size_t leftOut = 0;
  std::string error;
  // Each entry is written as it is made, none kept.
  const auto write = [&](TextOutput& out) {
    std::string text = po ? poHeader(encodingName(encoding), options.language) : csvHeader();
    out.write(text);
    leftOut = extractStringEntries(listing, encoding, folderPath(job), po,
                                   [&](const TranslationEntry& entry) {
                                     text.clear();
                                     if (po) {
                                       appendPoEntry(text, entry);
                                     } else {
                                       appendCsvEntry(text, entry);
                                     }
                                     out.write(text);
                                   });
    return true;
  };
  if (!writeOutput(job, write, error)) {
    return {false, "", job.name + ": " + error + "\n"};
  }
  if (leftOut > 0) {
    result.out = job.name + ": " + std::to_string(leftOut) + " string" + (leftOut == 1 ? "" : "s") +
                 " left out: empty, or not text in " + std::string(encodingName(encoding)) +
                 (po ? " that a PO file can carry" : "") + "\n";
  }
  return result;
}

JobResult injectStrings(const Job& job, const RunEncoding& run, const fs::path& translationsPath) {
  DecodedScript script;
  if (Expected<void> decoded = decodeWholeScript(job, script); !decoded) {
    return failure(decoded.problem());
  }
  JobResult result;
  const std::string translationsName = pathToUtf8(translationsPath);
  std::string text;
  std::string error;
  if (!readFile(translationsPath, text, error)) {
    return {false, "", translationsName + ": " + error + "\n"};
  }
  const bool csv = translationsPath.extension() == ".csv";
  Translations translations;
  // The texts of an entry are never longer than its lines.
  translations.texts.reserve(text.size());
  const EntrySink take = [&translations](const TranslationEntry& entry) {
    translations.add(entry);
  };
  const auto read = csv ? readCsvEntries(text, take) : readPoEntries(text, take);
  if (const auto* problem = std::get_if<TranslationError>(&read)) {
    return {
        false, "",
        translationsName + ":" + std::to_string(problem->line) + ": " + problem->message + "\n"};
  }
  const std::string& scriptEncoding = std::get<TranslationFile>(read).scriptEncoding;
  const InstructionList& listing = script.instructions();
  // The file names the encoding its strings were taken from. It must be the
  // run's when the run's is known; when nothing told the run's, it tells.
  Encoding encoding = run.encoding;
  if (!scriptEncoding.empty()) {
    const std::optional<Encoding> named = encodingFromName(scriptEncoding);
    if (!named) {
      return {false, "",
              translationsName + ": unknown X-Script-Encoding \"" + scriptEncoding +
                  "\" (utf-8 or cp932)\n"};
    }
    if (run.told && *named != run.encoding) {
      return {false, "",
              translationsName + ": X-Script-Encoding is " + scriptEncoding +
                  ", but the scripts are in " + std::string(encodingName(run.encoding)) + "\n"};
    }
    encoding = *named;
  } else if (run.guessed) {
    result.err = translationsName +
                 ": names no encoding, and no string tells utf-8 from cp932: taking cp932, "
                 "the format's own\n";
  }
  std::error_code ignored;
  if (fs::equivalent(translationsPath, job.output, ignored)) {
    return {false, "", pathToUtf8(job.output) + ": the output would replace the translations\n"};
  }
  InjectReport report;
  std::string message;
  const bool written = writeOutput(
      job,
      [&](TextOutput& out) {
        auto injected = injectStrings(listing, script.stop.endMarker, translations, encoding, out);
        if (const auto* problem = std::get_if<InjectError>(&injected)) {
          message = translationsName + ":" + std::to_string(problem->line) + ": " +
                    problem->message + "\n";
          return false;
        }
        report = std::get<InjectReport>(injected);
        return true;
      },
      error);
  if (!written) {
    // A refusal follows the note on the encoding, which may explain it.
    return {false, "", result.err + (message.empty() ? job.name + ": " + error + "\n" : message)};
  }
  const std::string bytes = std::to_string(report.growth < 0 ? -report.growth : report.growth);
  result.out = job.name + ": " + std::to_string(report.replaced) + " string" +
               (report.replaced == 1 ? "" : "s") + " replaced, " +
               (report.growth == 0  ? std::string("same size")
                : report.growth > 0 ? bytes + " bytes longer"
                                    : bytes + " bytes shorter") +
               "\n";
  return result;
}

}  // namespace

int runExtract(const Options& options) {
  const std::string suffix = formatSuffix(options.format);
  Plan plan = planJobs(options, options.inputs[0], [&suffix](const fs::path& relative) {
    fs::path output = relative;
    output += suffix;
    return std::optional<fs::path>(output);
  });
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  if (encoding.guessed) {
    plan.notes += kEncodingGuessed;
  }
  return runPlan(plan, options, [&options, &encoding](const Job& job) {
    return extractStrings(job, options, encoding.encoding);
  });
}

int runInject(const Options& options) {
  const Plan plan = planJobs(options, options.inputs[0], [](const fs::path& relative) {
    return std::optional<fs::path>(relative);
  });
  const fs::path translations = pathFromUtf8(options.inputs[1]);
  // Each translation file tells whatever the scripts do not: nothing is said
  // for the run.
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  return runPlan(plan, options, [&](const Job& job) {
    return injectStrings(job, encoding, translationsFor(job, translations, plan.folder));
  });
}

}  // namespace krlist
