// krscript update: the translation files of the previous version of the
// scripts carried over to the new one. Unlike the other commands it cannot
// take one script at a time: a line may have moved to any script of the run.
// So every old file is read and every script decoded first, and nothing is
// written unless all of them could be.
//
// krscript fill is the same run, with the lines it leaves untranslated
// filled from the game's memory: the translations of the files it was given
// and of more files named with --memory. update --fill does both in one run.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <string>

#include "batch/FolderRun.h"
#include "io/Files.h"
#include "krscript/Commands.h"
#include "krscript/Scripts.h"
#include "translate/CsvFile.h"
#include "translate/Memory.h"
#include "translate/PoFile.h"
#include "translate/ScriptStrings.h"
#include "translate/Update.h"
#include "translate/XlsxFile.h"

namespace krlist {

namespace {

namespace fs = std::filesystem;

std::string slashed(const fs::path& path) {
  return slashedPathToUtf8(path);
}

// An old file's format by its name; one named otherwise is read as PO.
TranslationFormat formatOf(const fs::path& path) {
  return formatOfPath(path).value_or(TranslationFormat::Po);
}

struct OldFile {
  fs::path path;
  std::string script;  // the script it was made for: its path in the folder, with '/'
  EntryList entries;
  std::string language;
  std::string headerFields;
  std::string headerComment;
  std::string readAs;  // TranslationFile::readAs
};

// Finds the old translation files: the one named, or every .po, .csv and
// .xlsx file in the folder named. False, reported, when the folder cannot be
// listed, or when a script has two (x.kr.po and x.kr.csv, say): neither can
// be taken for its translations over the other.
bool findOldFiles(const fs::path& old, bool folder, const Options& options,
                  std::vector<OldFile>& files) {
  if (!folder) {
    files.emplace_back().path = old;
    return true;
  }
  std::string notes;
  const fs::path output = pathFromUtf8(*options.output);
  for (const Job& job : listFolder(
           old, output, [](const fs::path& relative) { return std::optional<fs::path>(relative); },
           // --include and --exclude choose scripts, not their old files.
           PathFilter(), notes)) {
    if (!job.failure.empty()) {
      std::fputs(job.failure.c_str(), stderr);
      return false;
    }
    if (formatOfPath(job.input)) {
      fs::path script = job.relative;
      script.replace_extension();
      OldFile& file = files.emplace_back();
      file.path = job.input;
      file.script = slashed(script);
    }
  }
  // Listed in path order, so that one script's two files are neighbours.
  std::map<std::string, const OldFile*> byScript;
  bool two = false;
  for (const OldFile& file : files) {
    const auto [found, added] = byScript.emplace(file.script, &file);
    if (!added) {
      // Named in the order of the formats: PO, CSV, then a workbook.
      const bool firstFirst = formatOf(found->second->path) < formatOf(file.path);
      std::fputs(twoTranslationFiles(firstFirst ? found->second->path : file.path,
                                     firstFirst ? file.path : found->second->path)
                     .c_str(),
                 stderr);
      two = true;
    }
  }
  return !two;
}

// Reads an old file's entries and header; the problem names the file.
Expected<void> readOldFile(OldFile& file) {
  const Expected<std::string> read = readFile(file.path);
  if (!read) {
    return read.problem();
  }
  const std::string& text = *read;
  // An entry takes a few lines of at least a few bytes each, and its texts
  // take no more room than they do in a PO or CSV file (a workbook's,
  // packed, may take more: the room then grows as they come).
  file.entries.reserve(text.size() / 64, text.size());
  const EntrySink take = [&file](const TranslationEntry& entry) { file.entries.add(entry); };
  auto entriesRead = readTranslationEntries(formatOf(file.path), text, take);
  if (!entriesRead) {
    Problem problem = entriesRead.problem();
    problem.where.file = pathToUtf8(file.path);
    return problem;
  }
  file.language = entriesRead->language;
  file.headerFields = std::move(entriesRead->headerFields);
  file.headerComment = std::move(entriesRead->headerComment);
  file.readAs = std::move(entriesRead->readAs);
  return {};
}

struct NewScript {
  TranslationFormat format = TranslationFormat::Po;
  std::string encoding;
  std::size_t leftOut = 0;
  EntryList entries;
  std::string language;  // the old file's, unless --language gives one
  // The header of the script's own old PO file, which goes on.
  std::string headerFields;
  std::string headerComment;
};

std::string describeCounts(const UpdateCounts& c, const FillCounts* filled) {
  std::string out = std::to_string(c.kept) + " kept, " + std::to_string(c.moved) + " moved, " +
                    std::to_string(c.fuzzy) + " fuzzy, " + std::to_string(c.added) + " new, " +
                    std::to_string(c.obsolete) + " obsolete";
  if (filled != nullptr) {
    out += "; " + std::to_string(filled->exact) + " filled exactly, " +
           std::to_string(filled->fuzzy) + " filled fuzzy, " + std::to_string(filled->empty) +
           " left empty";
  }
  return out;
}

// The memory files --memory names, in the order given, each folder's in path
// order. False, reported, when one is missing or a folder cannot be listed.
bool findMemoryFiles(const Options& options, std::vector<fs::path>& files) {
  const fs::path output = pathFromUtf8(*options.output);
  for (const std::string& named : options.memory) {
    const fs::path path = pathFromUtf8(named);
    std::error_code error;
    if (!fs::exists(path, error)) {
      std::fprintf(stderr, "%s: no such file or folder\n", named.c_str());
      return false;
    }
    if (!fs::is_directory(path, error)) {
      files.push_back(path);
      continue;
    }
    std::string notes;
    for (const Job& job : listFolder(
             path, output,
             [](const fs::path& relative) { return std::optional<fs::path>(relative); },
             PathFilter(), notes)) {
      if (!job.failure.empty()) {
        std::fputs(job.failure.c_str(), stderr);
        return false;
      }
      if (isMemoryFile(job.input)) {
        files.push_back(job.input);
      }
    }
  }
  return true;
}

}  // namespace

int runCarry(const Options& options) {
  const Command command = options.command;
  const bool fill = command == Command::Fill || options.fill;
  if (!fill && !options.memory.empty()) {
    return usageFailure(command, "update takes --memory only with --fill");
  }
  const double similarity = options.similarity.value_or(command == Command::Fill ? 0.75 : 0.6);
  const fs::path old = pathFromUtf8(options.inputs[1]);
  const fs::path input = pathFromUtf8(options.inputs[0]);
  std::error_code error;
  for (const fs::path& path : {input, old}) {
    if (!fs::exists(path, error)) {
      std::fprintf(stderr, "%s: no such file or folder\n", pathToUtf8(path).c_str());
      return 1;
    }
  }
  const bool folder = fs::is_directory(input, error);
  if (folder != fs::is_directory(old, error)) {
    const std::string name = commandName(command);
    return usageFailure(command, folder ? name + " of a folder takes a folder of translation files"
                                        : name +
                                              " of a script takes its translation file, "
                                              "not a folder");
  }

  std::vector<OldFile> oldFiles;
  std::vector<fs::path> memoryFiles;
  if (!findOldFiles(old, folder, options, oldFiles) || !findMemoryFiles(options, memoryFiles)) {
    std::fputs("krscript: nothing written\n", stderr);
    return 1;
  }
  // Each script's file keeps the format of its old one; a new script takes
  // the format most of the old files have.
  std::map<std::string, TranslationFormat> oldFormats;
  std::size_t byFormat[3] = {};
  for (const OldFile& file : oldFiles) {
    oldFormats.emplace(file.script, formatOf(file.path));
    ++byFormat[static_cast<std::size_t>(formatOf(file.path))];
  }
  // The most common, PO before CSV before a workbook when as common.
  const TranslationFormat byDefault = static_cast<TranslationFormat>(
      std::max_element(std::begin(byFormat), std::end(byFormat)) - std::begin(byFormat));
  // A single file's output named .po, .csv or .xlsx takes that format.
  const std::optional<TranslationFormat> named =
      folder ? std::nullopt : formatOfPath(pathFromUtf8(*options.output));
  const auto formatFor = [&](const fs::path& relative) {
    if (named) {
      return *named;
    }
    const auto found = oldFormats.find(folder ? slashed(relative) : "");
    return found != oldFormats.end() ? found->second : byDefault;
  };
  Plan plan = planJobs(options, options.inputs[0], [&](const fs::path& relative) {
    fs::path output = relative;
    output += formatSuffix(formatFor(relative));
    return std::optional<fs::path>(output);
  });
  if (!plan.usageError.empty()) {
    return usageFailure(command, plan.usageError);
  }
  if (plan.jobs.empty()) {
    std::fprintf(stderr, "%s: no scripts to %s\n", options.inputs[0].c_str(), commandName(command));
    return 1;
  }
  for (const OldFile& file : oldFiles) {
    plan.otherInputs.push_back(file.path);
  }
  for (const fs::path& path : memoryFiles) {
    plan.otherInputs.push_back(path);
  }
  if (guardOutputs(plan)) {
    for (const Job& job : plan.jobs) {
      std::fputs(job.failure.c_str(), stderr);
    }
    std::fputs("krscript: nothing written\n", stderr);
    return 1;
  }

  // Every script decoded and its strings taken, as extract would.
  const RunEncoding runEncoding = chooseRunEncoding(plan, options);
  if (runEncoding.guessed) {
    plan.notes += kEncodingGuessed;
  }
  std::fputs(plan.notes.c_str(), stderr);
  // The old files are read while the scripts are decoded, on a core of
  // their own, the later half on one more unless -j 1 asks for one script at
  // once: they can take longer than the scripts. Every file that cannot be
  // read is reported.
  const auto readOldFiles = [&oldFiles](std::size_t from, std::size_t to) {
    std::vector<Problem> problems;
    for (std::size_t f = from; f < to; ++f) {
      if (Expected<void> read = readOldFile(oldFiles[f]); !read) {
        problems.push_back(read.problem());
      }
    }
    return problems;
  };
  const std::size_t half = options.jobs == 1 ? oldFiles.size() : oldFiles.size() / 2;
  std::future<std::vector<Problem>> laterRead =
      std::async(std::launch::async, readOldFiles, half, oldFiles.size());
  std::vector<EntryList> memoryEntries;
  std::future<std::vector<Problem>> oldRead = std::async(
      std::launch::async,
      [&oldFiles, &memoryFiles, &memoryEntries, &options, &readOldFiles, &laterRead, half] {
        std::vector<Problem> problems = readOldFiles(0, half);
        std::vector<Problem> later = laterRead.get();
        problems.insert(problems.end(), later.begin(), later.end());
        // A TMX memory may hold more languages than the translations': the
        // one --language or the first file gives is taken.
        std::string language = options.language;
        for (const OldFile& file : oldFiles) {
          if (language.empty()) {
            language = file.language;
          }
        }
        for (const fs::path& path : memoryFiles) {
          Expected<EntryList> read = readMemoryFile(path, language);
          if (!read) {
            problems.push_back(read.problem());
          } else {
            memoryEntries.push_back(std::move(*read));
          }
        }
        return problems;
      });
  std::vector<NewScript> scripts(plan.jobs.size());
  RunOptions quiet;
  quiet.jobs = options.jobs;
  quiet.failFast = options.failFast;
  const int decoded = runJobs(
      plan.jobs,
      [&](const Job& job, std::size_t index) {
        NewScript& script = scripts[index];
        DecodedScript decoded;
        JobResult result;
        if (Expected<void> read = decodeWholeScript(job, decoded); !read) {
          return failure(read.problem());
        }
        const InstructionList& listing = decoded.instructions();
        const Encoding encoding = runEncoding.encoding;
        script.format = formatFor(job.relative);
        script.encoding = encodingName(encoding);
        script.leftOut = extractStringEntries(
            listing, encoding, slashed(job.relative), script.format == TranslationFormat::Po,
            [&script](const TranslationEntry& entry) { script.entries.add(entry); });
        // Cut short once decoded, the file reads as zeros: strings that are
        // not the script's, which would make its translations obsolete.
        if (Expected<void> same = decoded.bytes.unchanged(job.name); !same) {
          return failure(same.problem());
        }
        return result;
      },
      quiet);
  const std::vector<Problem> oldProblems = oldRead.get();
  for (const OldFile& file : oldFiles) {
    if (!file.readAs.empty()) {
      std::fprintf(stderr, "%s: read as %s, as a spreadsheet saved it\n",
                   pathToUtf8(file.path).c_str(), file.readAs.c_str());
    }
  }
  for (const Problem& problem : oldProblems) {
    std::fprintf(stderr, "%s\n", problem.describe().c_str());
  }
  if (decoded != 0 || !oldProblems.empty()) {
    std::fputs("krscript: nothing written\n", stderr);
    return 1;
  }

  UpdateInput update;
  update.similarity = similarity;
  std::map<std::string, std::size_t> scriptAt;
  for (std::size_t s = 0; s < plan.jobs.size(); ++s) {
    scriptAt.emplace(folder ? slashed(plan.jobs[s].relative) : "", s);
    update.newScripts.push_back(std::move(scripts[s].entries));
  }
  // A script without an old file of its own takes the language most old
  // files give.
  std::map<std::string, std::size_t> languages;
  for (const OldFile& file : oldFiles) {
    languages[file.language] += file.language.empty() ? 0 : 1;
  }
  const auto mostGiven =
      std::max_element(languages.begin(), languages.end(),
                       [](const auto& a, const auto& b) { return a.second < b.second; });
  for (NewScript& script : scripts) {
    script.language = mostGiven == languages.end() ? "" : mostGiven->first;
  }
  for (OldFile& file : oldFiles) {
    const auto at = scriptAt.find(file.script);
    std::size_t here = kNoScript;
    if (at != scriptAt.end()) {
      here = at->second;
      scripts[here].language = file.language;
      scripts[here].headerFields = std::move(file.headerFields);
      scripts[here].headerComment = std::move(file.headerComment);
      scriptAt.erase(at);  // one old file per script: a second is taken as moved away
    }
    update.scriptAtPath.push_back(here);
    // The script whose path comes just before the old file's, or the first.
    std::size_t nearest = 0;
    for (std::size_t s = 0; s < plan.jobs.size(); ++s) {
      if (slashed(plan.jobs[s].relative) < file.script) {
        nearest = s;
      }
    }
    update.nearestScript.push_back(nearest);
    update.oldFiles.push_back(std::move(file.entries));
  }
  // The memory: the translations of the run's own files, in their order, then
  // those of --memory. Made on a core of its own while the old files are
  // matched to the scripts: both only read them.
  TranslationMemory memory;
  std::future<void> indexed;
  if (fill) {
    indexed = std::async(std::launch::async, [&memory, &update, &memoryEntries, similarity] {
      for (const EntryList& entries : update.oldFiles) {
        memory.add(entries);
      }
      for (const EntryList& entries : memoryEntries) {
        memory.add(entries);
      }
      memory.index(similarity);
    });
  }
  const std::vector<UpdatedScript> updated = updateTranslations(update);
  if (indexed.valid()) {
    indexed.get();
  }
  std::vector<FillCounts> filled(plan.jobs.size());

  UpdateCounts total;
  RunOptions writing;
  writing.jobs = options.jobs;
  writing.failFast = options.failFast;
  writing.summary = plan.folder;
  const int status = runJobs(
      plan.jobs,
      [&](const Job& job, std::size_t s) {
        const NewScript& script = scripts[s];
        const UpdatedScript& result = updated[s];
        std::string longCells;  // warnings of texts a spreadsheet would cut
        const Expected<void> written = writeOutput(job, [&](TextOutput& out) -> Expected<void> {
          const bool po = script.format == TranslationFormat::Po;
          // A workbook holds the rows a CSV file would, made into one at the end.
          const bool workbook = script.format == TranslationFormat::Xlsx;
          std::string text =
              po ? poHeader(script.encoding,
                            options.language.empty() ? script.language : options.language,
                            script.headerFields, script.headerComment)
                 : csvHeader(true, script.encoding);
          std::optional<MemorySearch> search;
          if (fill) {
            search.emplace(memory);
          }
          TranslationEntry filling;
          result.entries(update, [&](const TranslationEntry& given) {
            const TranslationEntry* entry = &given;
            if (search && !given.obsolete && given.target.empty()) {
              filling = given;
              fillEntry(filling, *search, filled[s]);
              entry = &filling;
            }
            if (po) {
              appendPoEntry(text, *entry);
            } else {
              appendCsvEntry(text, *entry, true, script.encoding);
              warnOfLongCells(job.name, *entry, longCells);
            }
            if (!workbook && text.size() >= 1 << 16) {
              out.write(text);
              text.clear();
            }
          });
          out.write(workbook ? xlsxOfCsv(text) : text);
          return {};
        });
        if (!written) {
          return failure(written.problem());
        }
        JobResult done{true, "",
                       longCells + job.name + ": " +
                           describeCounts(result.counts, fill ? &filled[s] : nullptr) + "\n"};
        if (script.leftOut > 0) {
          done.out = job.name + ": " + std::to_string(script.leftOut) + " string" +
                     (script.leftOut == 1 ? "" : "s") + " left out: empty, or not text in " +
                     script.encoding +
                     (script.format == TranslationFormat::Po ? " that a PO file can carry" : "") +
                     "\n";
        }
        return done;
      },
      writing);
  FillCounts totalFilled;
  for (std::size_t s = 0; s < updated.size(); ++s) {
    total += updated[s].counts;
    totalFilled += filled[s];
  }
  std::fprintf(stderr, "total: %s\n", describeCounts(total, fill ? &totalFilled : nullptr).c_str());
  return status;
}

int runUpdate(const Options& options) {
  return runCarry(options);
}

int runFill(const Options& options) {
  return runCarry(options);
}

}  // namespace krlist
