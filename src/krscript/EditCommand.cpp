#include <cstdio>
#include <string>

#include "krscript/Commands.h"

#ifdef KRLIST_EDIT

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "edit/Editor.h"
#include "edit/HttpServer.h"
#include "io/Files.h"
#include "krscript/DrawnBoxes.h"
#include "krscript/ProfileOptions.h"
#include "krscript/TranslationInput.h"
#include "text/Utf8.h"
#include "translate/CsvFile.h"
#include "translate/Glossary.h"
#include "translate/ScriptStrings.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
extern char** environ;
#endif

#endif

namespace krlist {

#ifndef KRLIST_EDIT

int runEdit(const Options&) {
  std::fputs("krscript: this build has no editor (built without Boost.Beast)\n", stderr);
  return 1;
}

#else

namespace {

namespace fs = std::filesystem;

// What the names referenced before a string resolve to, from the second
// line of its entry's comment as extract makes it: "-> Alice -> Bob".
std::vector<std::string> speakersOf(std::string_view comment) {
  std::vector<std::string> names;
  const std::size_t lineEnd = comment.find('\n');
  if (lineEnd == std::string_view::npos) {
    return names;
  }
  std::string_view rest = comment.substr(lineEnd + 1);
  constexpr std::string_view kArrow = "-> ";
  while (rest.starts_with(kArrow)) {
    rest.remove_prefix(kArrow.size());
    std::size_t end = rest.find(" -> ");
    if (end == std::string_view::npos) {
      end = rest.size();
    }
    names.emplace_back(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return names;
}

// Whether a CSV file's header row has the column for translators'
// comments.
bool hasCommentColumn(std::string_view text) {
  CsvRows rows(text);
  std::vector<std::string> fields;
  std::size_t line = 0;
  if (!rows.start() || rows.atEnd() || !rows.next(fields, line)) {
    return false;
  }
  for (const std::string& field : fields) {
    if (isCsvColumnName(field, "translator comments")) {
      return true;
    }
  }
  return false;
}

// The script of one job with its translation file, as the editor holds it;
// what keeps it from being edited in its failure.
edit::EditedScript loadScript(const Job& job, const RunEncoding& run, const fs::path& path,
                              bool folder) {
  edit::EditedScript edited;
  edited.path = folderPath(job);
  edited.translationsPath = path;
  edited.translationsName = pathToUtf8(path);
  const auto fail = [&](std::string reason) {
    edited.failure = std::move(reason);
    return std::move(edited);
  };
  if (!job.failure.empty()) {
    std::string reason = job.failure;
    while (!reason.empty() && reason.back() == '\n') {
      reason.pop_back();
    }
    return fail(reason);
  }
  std::error_code error;
  if (!fs::exists(path, error)) {
    return fail(edited.translationsName + ": no such file" +
                (folder ? " (krscript extract makes one for each script)" : ""));
  }
  const std::optional<TranslationFormat> format = formatOfPath(path);
  if (format == TranslationFormat::Xlsx) {
    return fail(edited.translationsName +
                ": a workbook, which the editor does not save into: translate it in a "
                "spreadsheet, or extract a PO or CSV file to edit here");
  }
  edited.format = format.value_or(TranslationFormat::Po);
  DecodedScript script;
  if (Expected<void> decoded = decodeWholeScript(job, script); !decoded) {
    return fail(decoded.problem().describe());
  }
  const InstructionList& listing = script.instructions();
  // Read and checked as inject reads and checks it: an entry that is not
  // its script's string is for update to carry over first.
  Translations translations;
  std::string note;
  const Expected<Encoding> encoding = readTranslations(path, run, translations, note);
  if (!encoding) {
    return fail(encoding.problem().describe());
  }
  edited.encoding = *encoding;
  TextOutput discarded(nullptr);
  const InjectReport checked = injectStrings(listing, script.stop.endMarker, translations,
                                             edited.encoding, TextFit{}, discarded);
  if (!checked.refused.empty()) {
    Problem refused = checked.refused.front().problem;
    refused.where.file = edited.translationsName;
    return fail(refused.describe() +
                " (krscript update carries a translation over to a new version of its script)");
  }
  edited.stamp = edit::stampOf(path);
  Expected<std::string> text = readFile(path);
  if (!text) {
    return fail(text.problem().describe());
  }
  Expected<TranslationFile> file = readTranslationFile(edited.format, *text);
  if (!file) {
    file.problem().where.file = edited.translationsName;
    return fail(file.problem().describe());
  }
  if (!file->readAs.empty()) {
    return fail(edited.translationsName + ": saved as " + file->readAs +
                " by a spreadsheet: save it as CSV UTF-8 to edit it here");
  }
  edited.file = std::move(*file);
  edited.comments = edited.format == TranslationFormat::Po || hasCommentColumn(*text);
  edited.text = std::move(*text);
  std::unordered_map<std::string, std::size_t> entryAt;
  for (std::size_t i = 0; i < edited.file.entries.size(); ++i) {
    if (!edited.file.entries[i].obsolete) {
      entryAt.emplace(edited.file.entries[i].offset, i);
    }
  }
  std::unordered_map<std::uint32_t, std::uint8_t> opcodeAt;
  for (const Instruction& instruction : listing) {
    if (instruction.kind() == OperandKind::String) {
      opcodeAt.emplace(instruction.listingOffset(), instruction.opcode());
    }
  }
  // The strings in the script's order, as extract takes them; one the file
  // has no entry for is not shown, having nowhere to be saved.
  (void)extractStringEntries(listing, edited.encoding, edited.path,
                             edited.format == TranslationFormat::Po,
                             [&](const TranslationEntry& entry) {
                               const auto found = entryAt.find(entry.offset);
                               if (found == entryAt.end()) {
                                 return;
                               }
                               edit::EditedLine line;
                               line.offset = translation::offsetOf(entry.offset);
                               line.opcode = opcodeAt[line.offset];
                               line.speakers = speakersOf(entry.comment);
                               line.entry = found->second;
                               edited.lines.push_back(std::move(line));
                             });
  return edited;
}

// Opens the address in the browser the system is set to; the address is
// printed all the same, for when none opens.
void openBrowser(const std::string& address) {
#ifdef _WIN32
  ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
#else
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  char* arguments[] = {program.data(), const_cast<char*>(address.c_str()), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "xdg-open", &actions, nullptr, arguments, environ) == 0) {
    // xdg-open hands the address over and ends; its end is not waited
    // for, but it is reaped when it comes.
    std::signal(SIGCHLD, SIG_IGN);
  }
  posix_spawn_file_actions_destroy(&actions);
#endif
}

}  // namespace

int runEdit(const Options& options) {
  std::optional<Substitutions> substitutions;
  if (!readSubstitutions(options, substitutions)) {
    return 1;
  }
  // The game's boxes, drawn and checked as html draws and lint checks them.
  const ProfileBoxes boxes(options);
  edit::Presentation presentation;
  presentation.fit = TextFit{substitutions ? &*substitutions : nullptr, 0, {}};
  if (!boxes.empty()) {
    presentation.fit.boxFor = [&boxes](std::uint8_t opcode) { return boxes.boxFor(opcode); };
  }
  const std::map<int, html::DrawnBox> drawn = drawnBoxes(boxes);
  if (!drawn.empty()) {
    presentation.boxFor = [&drawn](std::uint8_t opcode) { return drawnBoxFor(drawn, opcode); };
  }
  for (const auto& [key, box] : drawn) {
    presentation.boxes.push_back(&box);
  }
  presentation.similarity = options.similarity.value_or(0.75);
  std::optional<Glossary> glossary;
  if (!readGlossary(options, glossary)) {
    return 1;
  }
  presentation.glossary = glossary ? &*glossary : nullptr;

  const fs::path translations = pathFromUtf8(options.inputs[1]);
  std::error_code error;
  if (!fs::exists(translations, error)) {
    std::fprintf(stderr, "krscript: %s: no such file or folder\n", options.inputs[1].c_str());
    return 1;
  }
  Plan plan = planJobs(options, options.inputs[0],
                       [](const fs::path&) { return std::optional<fs::path>(fs::path()); });
  if (!plan.usageError.empty()) {
    return usageFailure(Command::Edit, plan.usageError);
  }
  if (const std::string twoFiles = declareTranslationFiles(plan, translations); !twoFiles.empty()) {
    std::fputs(twoFiles.c_str(), stderr);
    return 1;
  }
  std::fputs(plan.notes.c_str(), stderr);
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  std::vector<edit::EditedScript> scripts;
  for (const Job& job : plan.jobs) {
    scripts.push_back(
        loadScript(job, encoding, translationsFor(job, translations, plan.folder), plan.folder));
    if (!scripts.back().failure.empty()) {
      std::fprintf(stderr, "krscript: %s: %s\n", scripts.back().path.c_str(),
                   scripts.back().failure.c_str());
    }
  }
  // Each script that cannot be edited is said above, and listed in the
  // index; with none that can, there is nothing to serve.
  if (std::none_of(scripts.begin(), scripts.end(),
                   [](const edit::EditedScript& script) { return script.failure.empty(); })) {
    std::fprintf(stderr, "krscript: %s: no script to edit\n", options.inputs[0].c_str());
    return 1;
  }
  const Expected<std::string> token = edit::randomToken();
  if (!token) {
    std::fprintf(stderr, "krscript: %s\n", token.problem().describe().c_str());
    return 1;
  }
  edit::Editor editor(std::move(scripts), std::move(presentation), *token);
  Expected<std::unique_ptr<http::Server> > server = http::Server::listen(
      options.port, [&editor](const http::Request& request) { return editor.handle(request); });
  if (!server) {
    std::fprintf(stderr, "krscript: %s\n", server.problem().describe().c_str());
    return 1;
  }
  editor.servedOn((*server)->port());
  const std::string address =
      "http://127.0.0.1:" + std::to_string((*server)->port()) + "/?token=" + *token;
  std::fprintf(stderr, "krscript: editing %zu scripts at %s\n", editor.scriptCount(),
               address.c_str());
  std::fflush(stderr);
  if (options.open) {
    openBrowser(address);
  }
  (*server)->run();
  return 0;
}

#endif

}  // namespace krlist
