// krscript memory and krscript glossary: what a game's translations hold as
// a whole, for other tools and for lint, each written as one file.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "batch/FolderRun.h"
#include "format/NameIndex.h"
#include "format/OpcodeTable.h"
#include "io/Files.h"
#include "io/OutputFile.h"
#include "krscript/Commands.h"
#include "krscript/Scripts.h"
#include "krscript/TranslationInput.h"
#include "text/Utf8.h"
#include "translate/CsvFile.h"
#include "translate/PoFile.h"
#include "translate/ScriptStrings.h"
#include "translate/TmxFile.h"

namespace krlist {

namespace {

namespace fs = std::filesystem;

void say(const std::string& line) {
  std::fprintf(stderr, "krscript: %s\n", visibleText(line).c_str());
}

// The run of a command that writes one file from all its scripts: every
// job has that file as its output, so that the one guard refuses it when it
// would replace an input. Fails (false) with what was said.
bool planOneOutput(const Options& options, Plan& plan, const std::optional<fs::path>& translations,
                   int& status) {
  plan = planJobs(options, options.inputs[0],
                  [](const fs::path& relative) { return std::optional<fs::path>(relative); });
  if (!plan.usageError.empty()) {
    status = usageFailure(options.command, plan.usageError);
    return false;
  }
  std::fputs(plan.notes.c_str(), stderr);
  status = 1;
  std::error_code error;
  if (translations && !fs::exists(*translations, error)) {
    say(pathToUtf8(*translations) + ": no such file or folder");
    return false;
  }
  if (translations) {
    if (const std::string twoFiles = declareTranslationFiles(plan, *translations);
        !twoFiles.empty()) {
      std::fputs(twoFiles.c_str(), stderr);
      return false;
    }
  }
  const fs::path output = pathFromUtf8(*options.output);
  for (Job& job : plan.jobs) {
    job.output = output;
  }
  guardOutputs(plan);
  // Every job has the one output: what is wrong with it is said once.
  bool failed = false;
  std::set<std::string> said;
  for (const Job& job : plan.jobs) {
    if (job.failure.empty()) {
      continue;
    }
    failed = true;
    if (said.insert(job.failure.substr(std::min(job.name.size(), job.failure.size()))).second) {
      std::fputs(job.failure.c_str(), stderr);
    }
  }
  if (plan.jobs.empty()) {
    say(options.inputs[0] + ": no script to read");
    failed = true;
  }
  status = failed ? 1 : 0;
  return !failed;
}

// The translation files of the plan's scripts: in a folder run, a script
// without one is passed over, as inject passes it over; a folder with none
// at all is a mistake, which reading the first file then tells.
std::vector<std::pair<const Job*, fs::path>> translationFiles(const Plan& plan,
                                                              const fs::path& translations) {
  std::vector<std::pair<const Job*, fs::path>> files;
  for (const Job& job : plan.jobs) {
    const fs::path path = translationsFor(job, translations, plan.folder);
    std::error_code error;
    if (!plan.folder || fs::exists(path, error)) {
      files.emplace_back(&job, path);
    }
  }
  if (files.empty() && !plan.jobs.empty()) {
    files.emplace_back(&plan.jobs.front(), translationsFor(plan.jobs.front(), translations, true));
  }
  return files;
}

Expected<void> writeWhole(const fs::path& path, const std::string& text) {
  OutputFile output;
  if (Expected<void> opened = output.open(path); !opened) {
    return opened;
  }
  if (std::fwrite(text.data(), 1, text.size(), output.stream()) != text.size()) {
    return Problem::about(pathToUtf8(path), "cannot write the file");
  }
  return output.commit();
}

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A PO Language ("pt_BR") as TMX names languages ("pt-BR").
std::string tmxLanguage(std::string code) {
  std::replace(code.begin(), code.end(), '_', '-');
  return code;
}

}  // namespace

int runMemory(const Options& options) {
  Plan plan;
  const fs::path translations = pathFromUtf8(options.inputs[1]);
  if (int status = 0; !planOneOutput(options, plan, translations, status)) {
    return status;
  }
  std::vector<MemoryUnit> units;
  std::set<std::pair<std::string, std::string>> given;
  std::string language;
  std::string languageFile;  // the first file that gives it
  std::size_t entries = 0;
  std::size_t files = 0;
  for (const auto& [job, path] : translationFiles(plan, translations)) {
    const std::string name = pathToUtf8(path);
    const Expected<std::string> text = readFile(path);
    if (!text) {
      say(text.problem().describe());
      return 1;
    }
    const EntrySink take = [&](const TranslationEntry& entry) {
      if (entry.target.empty() || entry.fuzzy || entry.obsolete) {
        return;
      }
      ++entries;
      if (given.emplace(entry.source, entry.target).second) {
        units.push_back({entry.source, entry.target, entry.targetLine});
        if (!fitsTmx(entry.source) || !fitsTmx(entry.target)) {
          // Said here, where the entry's file is known.
          say(name + ":" + std::to_string(entry.targetLine) +
              ": left out of the memory: it holds a control character, which XML cannot carry");
        }
      }
    };
    const Expected<TranslationFile> read =
        readTranslationEntries(formatOfPath(path).value_or(TranslationFormat::Po), *text, take);
    if (!read) {
      Problem problem = read.problem();
      problem.where.file = name;
      say(problem.describe());
      return 1;
    }
    ++files;
    if (read->language.empty()) {
      continue;
    }
    if (language.empty()) {
      language = read->language;
      languageFile = name;
    } else if (read->language != language) {
      say(name + ": Language is " + read->language + ", but " + languageFile + " gives " +
          language + ": a memory holds one language");
      return 1;
    }
  }
  if (language.empty()) {
    language = options.language;
  }
  if (language.empty()) {
    say(options.inputs[1] +
        ": no translation file gives its Language: name it with --language LL (or language in "
        "the profile)");
    return 1;
  }
  const TmxLanguages languages{
      tmxLanguage(options.sourceLanguage.empty() ? "ja" : options.sourceLanguage),
      tmxLanguage(language)};
  std::size_t leftOut = 0;
  const std::string tmx = writeTmx(units, languages, KRLIST_VERSION, leftOut);
  if (const Expected<void> written = writeWhole(pathFromUtf8(*options.output), tmx); !written) {
    say(written.problem().describe());
    return 1;
  }
  const std::string report =
      *options.output + ": " + plural(units.size() - leftOut, "unit", "units") + " (" +
      languages.source + " to " + languages.target + ") from " +
      plural(entries, "translated entry", "translated entries") + " of " +
      plural(files, "file", "files") +
      (leftOut > 0 ? ", " + std::to_string(leftOut) + " left out" : "") + "\n";
  std::fputs(report.c_str(), stdout);
  return 0;
}

namespace {

// A name the scripts define, as glossary gathers it.
struct DefinedName {
  std::size_t references = 0;
  std::size_t order = 0;  // where it was first defined, in the run's order
  // Each translation the files give it, with how often, in the order given.
  std::vector<std::pair<std::string, std::size_t>> translations;
};

std::uint32_t keyOf(const std::uint8_t* bytes) {
  std::uint32_t key;
  std::memcpy(&key, bytes, sizeof key);
  return key;
}

// The names of one script and the references to each, added to `names`;
// with `translations`, the translations the file gives them.
void gatherNames(const InstructionList& listing, Encoding encoding,
                 const Translations* translations, std::map<std::string, DefinedName>& names) {
  std::unordered_map<std::uint32_t, std::size_t> references;
  for (const Instruction& instruction : listing) {
    if (instruction.opcode() == kNameReference) {
      ++references[keyOf(instruction.data())];
    }
  }
  std::set<std::pair<std::uint32_t, std::string>> counted;
  const auto define = [&](const Instruction& instruction, const Translations::Entry* entry) {
    std::string text;
    if (instruction.opcode() != kNameDefinition ||
        !decodeExactText(encoding, instruction.textView(), text) || text.empty()) {
      return;
    }
    auto [found, added] = names.try_emplace(text);
    if (added) {
      found->second.order = names.size();
    }
    // A key defined twice with one name is referred to once a reference.
    const std::uint32_t key = keyOf(instruction.data());
    if (counted.emplace(key, text).second) {
      const auto refs = references.find(key);
      found->second.references += refs == references.end() ? 0 : refs->second;
    }
    if (entry == nullptr || entry->fuzzy || translations->target(*entry).empty()) {
      return;
    }
    const std::string_view target = translations->target(*entry);
    auto& given = found->second.translations;
    const auto same = std::find_if(given.begin(), given.end(), [&](const auto& translation) {
      return translation.first == target;
    });
    if (same == given.end()) {
      given.emplace_back(std::string(target), 1);
    } else {
      ++same->second;
    }
  };
  if (translations == nullptr) {
    for (const Instruction& instruction : listing) {
      define(instruction, nullptr);
    }
    return;
  }
  std::vector<EntryProblem> stale;  // a stale entry gives no translation
  matchEntries(listing, *translations, encoding, define, stale);
}

}  // namespace

int runGlossary(const Options& options) {
  Plan plan;
  const std::optional<fs::path> translations =
      options.inputs.size() > 1 ? std::optional<fs::path>(pathFromUtf8(options.inputs[1]))
                                : std::nullopt;
  if (int status = 0; !planOneOutput(options, plan, translations, status)) {
    return status;
  }
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  std::map<std::string, DefinedName> names;
  for (const Job& job : plan.jobs) {
    DecodedScript script;
    if (Expected<void> decoded = decodeWholeScript(job, script); !decoded) {
      say(decoded.problem().describe());
      return 1;
    }
    std::optional<Translations> read;
    Encoding stringEncoding = encoding.encoding;
    const fs::path path =
        translations ? translationsFor(job, *translations, plan.folder) : fs::path();
    std::error_code error;
    if (translations && (!plan.folder || fs::exists(path, error))) {
      std::string note;
      const Expected<Encoding> told = readTranslations(path, encoding, read.emplace(), note);
      if (!told) {
        say(told.problem().describe());
        return 1;
      }
      stringEncoding = *told;
    }
    gatherNames(script.instructions(), stringEncoding, read ? &*read : nullptr, names);
    if (Expected<void> same = script.bytes.unchanged(job.name); !same) {
      say(same.problem().describe());
      return 1;
    }
  }
  std::vector<std::pair<const std::string*, const DefinedName*>> sorted;
  for (const auto& [text, name] : names) {
    sorted.emplace_back(&text, &name);
  }
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
    return a.second->references != b.second->references
               ? a.second->references > b.second->references
               : a.second->order < b.second->order;
  });
  std::string csv;
  appendCsvRow(csv, {"source", "target", "references"});
  std::size_t translated = 0;
  for (const auto& [text, name] : sorted) {
    // The translation given most often, the first given of those.
    std::string_view target;
    std::size_t most = 0;
    for (const auto& [translation, times] : name->translations) {
      if (times > most) {
        target = translation;
        most = times;
      }
    }
    translated += target.empty() ? 0 : 1;
    appendCsvRow(csv, {*text, target, std::to_string(name->references)});
  }
  if (const Expected<void> written = writeWhole(pathFromUtf8(*options.output), csv); !written) {
    say(written.problem().describe());
    return 1;
  }
  const std::string report = *options.output + ": " + plural(sorted.size(), "name", "names") +
                             ", " + std::to_string(translated) + " of them translated\n";
  std::fputs(report.c_str(), stdout);
  return 0;
}

}  // namespace krlist
