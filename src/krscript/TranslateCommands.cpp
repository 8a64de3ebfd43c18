#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "batch/FolderRun.h"
#include "io/Files.h"
#include "json/JsonDump.h"
#include "krscript/Commands.h"
#include "krscript/ProfileOptions.h"
#include "krscript/Scripts.h"
#include "krscript/TranslationInput.h"
#include "text/Utf8.h"
#include "translate/CsvFile.h"
#include "translate/PoFile.h"
#include "translate/ScriptStrings.h"
#include "translate/XlsxFile.h"

namespace krlist {

namespace {

namespace fs = std::filesystem;

JobResult extractStrings(const Job& job, TranslationFormat format, const Options& options,
                         Encoding encoding) {
  DecodedScript script;
  if (Expected<void> decoded = decodeWholeScript(job, script); !decoded) {
    return failure(decoded.problem());
  }
  JobResult result;
  const InstructionList& listing = script.instructions();
  const bool po = format == TranslationFormat::Po;
  // A workbook holds the rows a CSV file would, made into one at the end.
  const bool workbook = format == TranslationFormat::Xlsx;
  std::size_t leftOut = 0;
  // Each entry is written as it is made, none kept; a workbook's rows are
  // kept, to be packed into one at the end.
  const auto write = [&](TextOutput& out) -> Expected<void> {
    std::string text = po ? poHeader(encodingName(encoding), options.language)
                          : csvHeader(false, encodingName(encoding));
    leftOut = extractStringEntries(listing, encoding, folderPath(job), po,
                                   [&](const TranslationEntry& entry) {
                                     if (po) {
                                       appendPoEntry(text, entry);
                                     } else {
                                       appendCsvEntry(text, entry, false, encodingName(encoding));
                                       warnOfLongCells(job.name, entry, result.err);
                                     }
                                     if (!workbook && text.size() >= 1 << 16) {
                                       out.write(text);
                                       text.clear();
                                     }
                                   });
    out.write(workbook ? xlsxOfCsv(text) : text);
    return script.bytes.unchanged(job.name);
  };
  if (const Expected<void> written = writeOutput(job, write); !written) {
    return failure(written.problem());
  }
  if (leftOut > 0) {
    result.out = job.name + ": " + std::to_string(leftOut) + " string" + (leftOut == 1 ? "" : "s") +
                 " left out: empty, or not text in " + std::string(encodingName(encoding)) +
                 (po ? " that a PO file can carry" : "") + "\n";
  }
  return result;
}

// A problem with a translation file, on a line of it (0: the whole file).
Problem fileProblem(const std::string& name, std::size_t line, std::string message) {
  Problem problem;
  problem.where.file = name;
  problem.where.line = line;
  problem.message = std::move(message);
  return problem;
}

}  // namespace

Expected<Encoding> readTranslations(const fs::path& path, const RunEncoding& run,
                                    Translations& translations, std::string& note,
                                    ScriptOfTranslations* script) {
  const std::string name = pathToUtf8(path);
  const Expected<std::string> file = readFile(path);
  if (!file) {
    return file.problem();
  }
  const std::string& text = *file;
  const TranslationFormat format = formatOfPath(path).value_or(TranslationFormat::Po);
  const bool spreadsheet = format != TranslationFormat::Po;  // CSV or a workbook
  // The texts of a PO or CSV file's entries are never longer than its lines
  // (a workbook's, packed, may be: the room grows as they come).
  translations.texts.reserve(text.size());
  // A row of a spreadsheet names its script: one that names another (rows
  // pasted from another script's file) is refused, as its offsets would
  // land on this script's strings. Files of a folder name their script by
  // its path in the folder; a single script is known only by its name.
  std::optional<Problem> foreign;
  const EntrySink take = [&](const TranslationEntry& entry) {
    translations.add(entry);
    if (!spreadsheet || script == nullptr || foreign) {
      return;
    }
    std::string_view named = entry.reference;
    named = named.substr(0, named.rfind(':'));
    if (!script->byPath && named.find('/') != std::string_view::npos) {
      named.remove_prefix(named.rfind('/') + 1);
    }
    if (named != script->name) {
      foreign =
          translation::lineProblem(entry.line, "location \"" + entry.reference +
                                                   "\" names another script than " + script->name);
    }
  };
  const auto read = readTranslationEntries(format, text, take);
  if (!read) {
    Problem problem = read.problem();
    problem.where.file = name;
    return problem;
  }
  if (foreign) {
    return fileProblem(name, foreign->where.line, foreign->message);
  }
  translations.fromSpreadsheet = read->fromSpreadsheet;
  translations.fromWorkbook = read->fromWorkbook;
  if (!read->readAs.empty()) {
    note += name + ": read as " + read->readAs + ", as a spreadsheet saved it\n";
  }
  const std::string& scriptEncoding = read->scriptEncoding;
  // The file names the encoding its strings were taken from. It must be the
  // run's when the run's is known; when nothing told the run's, it tells.
  if (!scriptEncoding.empty()) {
    const std::optional<Encoding> named = encodingFromNameInAnyCase(scriptEncoding);
    if (!named) {
      return fileProblem(
          name, read->scriptEncodingLine,
          std::string(spreadsheet ? "unknown encoding \"" : "unknown X-Script-Encoding \"") +
              std::string(translation::excerpt(scriptEncoding)) +
              (spreadsheet ? "\" in the column \"encoding\"" : "\"") + " (utf-8 or cp932)");
    }
    if (run.told && *named != run.encoding) {
      Problem other =
          fileProblem(name, read->scriptEncodingLine,
                      (spreadsheet ? "the column \"encoding\" says " : "X-Script-Encoding is ") +
                          scriptEncoding + ", but the scripts are in " +
                          std::string(encodingName(run.encoding)));
      // The encoding the strings were taken out in is what gives an
      // untouched file back: inject tries it, and says this when the file
      // does not fit the script.
      if (script == nullptr) {
        return other;
      }
      script->otherThanTold = std::move(other);
    }
    return *named;
  }
  if (run.guessed) {
    note = name +
           ": names no encoding, and no string tells utf-8 from cp932: taking cp932, the "
           "format's own\n";
  }
  return run.encoding;
}

bool readSubstitutions(const Options& options, std::optional<Substitutions>& table) {
  if (!options.substitute) {
    return true;
  }
  const Expected<std::string> file = readFile(pathFromUtf8(*options.substitute));
  if (!file) {
    std::fprintf(stderr, "krscript: %s\n", file.problem().describe().c_str());
    return false;
  }
  const std::string& text = *file;
  Expected<Substitutions> read = Substitutions::read(text, *options.substitute);
  if (!read) {
    std::fprintf(stderr, "krscript: %s\n", read.problem().describe().c_str());
    return false;
  }
  table = std::move(*read);
  return true;
}

bool readGlossary(const Options& options, std::optional<Glossary>& glossary) {
  if (!options.glossary) {
    return true;
  }
  const Expected<std::string> text = readFile(pathFromUtf8(*options.glossary));
  Expected<Glossary> read =
      text ? Glossary::read(*text, *options.glossary) : Expected<Glossary>(text.problem());
  if (!read) {
    std::fprintf(stderr, "krscript: %s\n", visibleText(read.problem().describe()).c_str());
    return false;
  }
  glossary = std::move(*read);
  return true;
}

namespace {

// Writes the script of a job whose folder has no translation file for it
// as it is: what is not translated stays as it was.
JobResult copyUnchanged(const Job& job) {
  const Expected<std::string> bytes = readFile(job.input);
  if (!bytes) {
    return failure(bytes.problem());
  }
  if (const Expected<void> written = writeOutput(job,
                                                 [&bytes](TextOutput& out) -> Expected<void> {
                                                   out.write(*bytes);
                                                   return {};
                                                 });
      !written) {
    return failure(written.problem());
  }
  return {true, job.name + ": no translation file, copied unchanged\n", ""};
}

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

JobResult injectStrings(const Job& job, const RunEncoding& run, const TextFit& fit,
                        const fs::path& translationsPath, bool folder, bool keepGoing) {
  DecodedScript script;
  if (Expected<void> decoded = decodeWholeScript(job, script); !decoded) {
    return failure(decoded.problem());
  }
  JobResult result;
  const std::string translationsName = pathToUtf8(translationsPath);
  const InstructionList& listing = script.instructions();
  Translations translations;
  ScriptOfTranslations named{folderPath(job), folder, {}};
  const Expected<Encoding> encoding =
      readTranslations(translationsPath, run, translations, result.err, &named);
  if (!encoding) {
    return failure(encoding.problem());
  }
  InjectReport report;
  // A script cut short while read has strings of zeros, which its
  // translations do not match: the change is reported, not the entries.
  bool changed = false;
  const Expected<void> written = writeOutput(job, [&](TextOutput& out) -> Expected<void> {
    report =
        injectStrings(listing, script.stop.endMarker, translations, *encoding, fit, out, keepGoing);
    if (Expected<void> same = script.bytes.unchanged(job.name); !same) {
      changed = true;
      return same;
    }
    if (!report.refused.empty() && !keepGoing) {
      return Problem::about(translationsName, "refused");
    }
    return {};
  });
  if (changed) {
    return failure(written.problem());
  }
  if (!report.refused.empty() && named.otherThanTold) {
    return {false, "", result.err + named.otherThanTold->describe() + "\n"};
  }
  // Without --keep-going a refusal keeps the whole script out, which the
  // refusals below say; with it, the script is written all the same.
  const bool refusedWhole = !report.refused.empty() && !keepGoing;
  if (!written && !refusedWhole) {
    return {false, "", result.err + written.problem().describe() + "\n"};
  }
  const std::string bytes = std::to_string(report.growth < 0 ? -report.growth : report.growth);
  // An entry may be refused for several reasons, each said; by line.
  std::size_t refusedEntries = 0;
  for (std::size_t i = 0; i < report.refused.size(); ++i) {
    refusedEntries +=
        i == 0 || report.refused[i].problem.where.line != report.refused[i - 1].problem.where.line;
  }
  result.out =
      job.name + ": " + plural(report.replaced, "string", "strings") + " replaced, " +
      (report.growth == 0  ? std::string("same size")
       : report.growth > 0 ? bytes + " bytes longer"
                           : bytes + " bytes shorter") +
      (report.fuzzy > 0 ? ", " + plural(report.fuzzy, "fuzzy entry", "fuzzy entries") + " left out"
                        : std::string()) +
      (report.refused.empty()
           ? std::string()
           : ", " + plural(refusedEntries, "entry", "entries") + " refused and left as they were") +
      "\n";
  if (!report.refused.empty()) {
    // Every entry in question at once, so that one run shows all there is
    // to mend, after the note on the encoding, which may explain them.
    std::string message = result.err;
    std::size_t stale = 0;
    for (EntryProblem& refused : report.refused) {
      refused.problem.where.file = translationsName;
      message += visibleText(refused.problem.describe()) + "\n";
      stale += refused.check == Check::Stale ? 1 : 0;
    }
    if (stale > 0) {
      message += translationsName + ": " + plural(stale, "entry is", "entries are") +
                 " stale: krscript update carries a translation file over to a new version of "
                 "its script\n";
    }
    return {false, keepGoing ? result.out : "", message};
  }
  return result;
}

}  // namespace

int runExtract(const Options& options) {
  // A single script's file named x.csv or x.xlsx is written in that format.
  std::error_code error;
  const bool folder = fs::is_directory(pathFromUtf8(options.inputs[0]), error);
  const TranslationFormat format = options.format.value_or(
      folder ? TranslationFormat::Po
             : formatOfPath(pathFromUtf8(*options.output)).value_or(TranslationFormat::Po));
  const std::string suffix = formatSuffix(format);
  Plan plan = planJobs(options, options.inputs[0], [&suffix](const fs::path& relative) {
    fs::path output = relative;
    output += suffix;
    return std::optional<fs::path>(output);
  });
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  if (encoding.guessed) {
    plan.notes += kEncodingGuessed;
  }
  return runPlan(plan, options, [&](const Job& job, std::size_t) {
    return extractStrings(job, format, options, encoding.encoding);
  });
}

int runInject(const Options& options) {
  std::optional<Substitutions> substitutions;
  if (!readSubstitutions(options, substitutions)) {
    return 1;
  }
  Plan plan = planJobs(options, options.inputs[0],
                       [](const fs::path& relative) { return std::optional<fs::path>(relative); });
  const fs::path translations = pathFromUtf8(options.inputs[1]);
  const std::string twoFiles = declareTranslationFiles(plan, translations);
  if (options.substitute) {
    plan.otherInputs.push_back(pathFromUtf8(*options.substitute));
  }
  if (!twoFiles.empty()) {
    std::fputs(twoFiles.c_str(), stderr);
    return 1;
  }
  // Each translation file tells whatever the scripts do not: nothing is said
  // for the run.
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  // With the game's text box, translations are wrapped to it in its font
  // (--wrap then gives its width in pixels); without one, to --wrap cells.
  const ProfileBoxes boxes(options);
  TextFit fit{substitutions ? &*substitutions : nullptr, options.noWrap ? 0 : options.wrap, {}};
  if (!boxes.empty()) {
    fit.boxFor = [&boxes](std::uint8_t opcode) { return boxes.boxFor(opcode); };
  }
  // A script of a translated folder that has no translation file of its own
  // (nothing in it to translate, or not translated yet) is copied as it is;
  // only a folder with no translation file at all is taken for a mistake.
  std::set<fs::path> untranslated;
  if (plan.folder) {
    for (const Job& job : plan.jobs) {
      std::error_code error;
      if (!fs::exists(translationsFor(job, translations, true), error)) {
        untranslated.insert(job.input);
      }
    }
    if (untranslated.size() == plan.jobs.size()) {
      untranslated.clear();
    }
  }
  return runPlan(plan, options, [&](const Job& job, std::size_t) {
    if (untranslated.count(job.input) != 0) {
      return copyUnchanged(job);
    }
    return injectStrings(job, encoding, fit, translationsFor(job, translations, plan.folder),
                         plan.folder, options.keepGoing);
  });
}

}  // namespace krlist
