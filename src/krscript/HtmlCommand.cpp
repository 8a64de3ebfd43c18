#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include "batch/FolderRun.h"
#include "html/Site.h"
#include "io/Files.h"
#include "io/OutputFile.h"
#include "krscript/Commands.h"
#include "krscript/DrawnBoxes.h"
#include "krscript/ProfileOptions.h"
#include "krscript/Scripts.h"
#include "krscript/TranslationInput.h"
#include "translate/ScriptStrings.h"

namespace krlist {

namespace {

namespace fs = std::filesystem;

// What a failed job said, without the path it starts with and the line
// feed it ends with, for the index, which shows the path beside it.
std::string reasonOf(const Job& job, const std::string& line) {
  std::string reason = line;
  const std::string prefix = job.name + ": ";
  if (reason.rfind(prefix, 0) == 0) {
    reason.erase(0, prefix.size());
  }
  while (!reason.empty() && reason.back() == '\n') {
    reason.pop_back();
  }
  return reason;
}

// Reads a script's translation file into `translations` and checks it as
// inject does: every entry must name a string of the script and hold its
// text, and the file's X-Script-Encoding, when it has one, must be the
// run's when the strings told it, and otherwise sets `encoding`. Returns
// the message of the first refusal, "FILE:LINE: REASON" or "FILE: REASON";
// empty when the translations can be shown.
std::string checkTranslations(const fs::path& path, const InstructionList& listing, bool endMarker,
                              const RunEncoding& run, Encoding& encoding,
                              Translations& translations) {
  std::string note;
  const Expected<Encoding> read = readTranslations(path, run, translations, note);
  if (!read) {
    return read.problem().describe();
  }
  encoding = *read;
  // The checks of inject, whose script is thrown away.
  TextOutput discarded(nullptr);
  const InjectReport checked =
      injectStrings(listing, endMarker, translations, encoding, TextFit{}, discarded);
  if (checked.refused.empty()) {
    return {};
  }
  Problem refused = checked.refused.front().problem;
  refused.where.file = pathToUtf8(path);
  return refused.describe();
}

// The script whose later page a script's page would replace: "a/x.kr" for
// "a/x.kr~2", whose page a/x.kr~2.html is the name of x.kr's second page.
std::optional<std::string> pageOwner(const std::string& path,
                                     const std::set<std::string>& scripts) {
  const std::size_t tilde = path.rfind('~');
  if (tilde == std::string::npos || tilde + 1 == path.size() ||
      path.find_first_not_of("0123456789", tilde + 1) != std::string::npos) {
    return std::nullopt;
  }
  const std::string owner = path.substr(0, tilde);
  return scripts.count(owner) > 0 ? std::optional<std::string>(owner) : std::nullopt;
}

// Why a folder on the way to the script at `path` cannot be a folder of the
// site, where it would stand in the place of a file of the site: the
// index and the files beside it, or a page or the search data of a script
// of the folder (x.kr.html, x.kr~2.html, x.kr.strings.js, ...). Empty when
// none of them is.
std::string folderClash(const std::string& path, const std::set<std::string>& scripts) {
  for (std::size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (html::isSiteFile(folder)) {
      return "its folder " + folder + " would be the site's own " + folder;
    }
    for (const std::string_view suffix :
         {std::string_view(".html"), std::string_view(".strings.js")}) {
      if (!folder.ends_with(suffix)) {
        continue;
      }
      const std::string page = folder.substr(0, folder.size() - suffix.size());
      std::optional<std::string> owner =
          scripts.count(page) > 0 ? std::optional<std::string>(page) : pageOwner(page, scripts);
      if (owner) {
        return "its folder " + folder + " would be " +
               (suffix == ".html" ? "a page" : "the search data of a page") + " of " + *owner +
               ", a script of the folder";
      }
    }
  }
  return {};
}

JobResult writePages(const Job& job, const RunEncoding& run, const fs::path* translationsPath,
                     bool folder, const std::set<std::string>& scripts, const fs::path& site,
                     html::Review review, html::ScriptSummary& summary) {
  summary.path = folderPath(job);
  const auto fail = [&](const std::string& line) {
    summary.failure = reasonOf(job, line);
    return JobResult{false, "", line.back() == '\n' ? line : line + "\n"};
  };
  if (summary.path == "index") {
    return fail(job.name + ": its page would be the site's own index.html");
  }
  if (const std::optional<std::string> owner = pageOwner(summary.path, scripts)) {
    return fail(job.name + ": its page would be a page of " + *owner + ", a script of the folder");
  }
  if (const std::string clash = folderClash(summary.path, scripts); !clash.empty()) {
    return fail(job.name + ": " + clash);
  }
  DecodedScript script;
  // One that does not decode is listed in the index with where and why it
  // stops, with no page.
  if (Expected<void> decoded = decodeWholeScript(job, script); !decoded) {
    return fail(decoded.problem().describe());
  }
  const InstructionList& listing = script.instructions();
  Encoding encoding = run.encoding;
  Translations translations;
  bool translated = false;
  std::error_code ignored;
  // In a folder, a script without a translation file has its pages all the
  // same, without translations.
  if (translationsPath != nullptr && (!folder || fs::exists(*translationsPath, ignored))) {
    const std::string refusal = checkTranslations(*translationsPath, listing, script.stop.endMarker,
                                                  run, encoding, translations);
    if (!refusal.empty()) {
      // Cut short while read, the script has strings of zeros that its
      // translations do not match: the change is what to say.
      if (Expected<void> same = script.bytes.unchanged(job.name); !same) {
        return fail(same.problem().describe());
      }
      return fail(refusal);
    }
    translated = true;
  }
  // lint's problems, by string: those of a box as lint finds them, in its
  // font, and the rest as without a box.
  std::vector<EntryProblem> problems;
  if (translated) {
    (void)lintStrings(listing, translations, encoding, *review.fit, TextBox{}, problems);
    std::stable_sort(problems.begin(), problems.end(), [](const auto& a, const auto& b) {
      return a.problem.where.offset < b.problem.where.offset;
    });
    review.problems = &problems;
  }
  Expected<html::ScriptSummary> written = html::writeScriptPages(
      listing, encoding, translated ? &translations : nullptr, site, summary.path, review);
  if (!written) {
    return fail(job.name + ": " + written.problem().describe());
  }
  // The pages show the bytes as they were read, zeros past the end of a file
  // cut short meanwhile: such pages are taken back, once nothing reads the
  // bytes any more and before the site is put in place.
  if (Expected<void> same = script.bytes.unchanged(job.name); !same) {
    html::removeScriptPages(site, summary.path, written->pages);
    return fail(same.problem().describe());
  }
  summary = std::move(*written);
  return {};
}

void say(const std::string& line) {
  std::fprintf(stderr, "krscript: %s\n", line.c_str());
}

}  // namespace

std::map<int, html::DrawnBox> drawnBoxes(const ProfileBoxes& boxes) {
  std::map<int, html::DrawnBox> drawn;
  std::map<fs::path, std::size_t> fonts;
  for (const auto& [key, look] : boxes.looks()) {
    html::DrawnBox& box = drawn[key];
    box.fit = boxes.fitOf(key);
    box.width = look.width;
    box.size = look.size;
    box.font = look.font;
    box.placeholders = look.placeholders;
    box.number = drawn.size();
    if (!look.font.empty()) {
      box.fontNumber = fonts.emplace(look.font, fonts.size() + 1).first->second;
    }
  }
  return drawn;
}

const html::DrawnBox* drawnBoxFor(const std::map<int, html::DrawnBox>& boxes, std::uint8_t opcode) {
  auto found = boxes.find(opcode);
  if (found == boxes.end()) {
    found = boxes.find(-1);
  }
  return found != boxes.end() ? &found->second : nullptr;
}

int runHtml(const Options& options) {
  std::optional<Substitutions> substitutions;
  if (!readSubstitutions(options, substitutions)) {
    return 1;
  }
  // With the game's text boxes, each string is drawn in its box with the
  // lines inject would give it, and checked as lint checks it.
  const ProfileBoxes boxes(options);
  TextFit fit{substitutions ? &*substitutions : nullptr, 0, {}};
  if (!boxes.empty()) {
    fit.boxFor = [&boxes](std::uint8_t opcode) { return boxes.boxFor(opcode); };
  }
  const std::map<int, html::DrawnBox> drawn = drawnBoxes(boxes);
  html::Review review;
  review.fit = &fit;
  if (!drawn.empty()) {
    review.boxFor = [&drawn](std::uint8_t opcode) { return drawnBoxFor(drawn, opcode); };
  }
  std::vector<const html::DrawnBox*> siteBoxes;
  for (const auto& [key, box] : drawn) {
    siteBoxes.push_back(&box);
  }
  fs::path site = pathFromUtf8(*options.output);
  if (!site.has_filename()) {
    site = site.parent_path();
  }
  std::error_code error;
  const std::optional<fs::path> translations =
      options.inputs.size() > 1 ? std::optional<fs::path>(pathFromUtf8(options.inputs[1]))
                                : std::nullopt;
  if (translations && !fs::exists(*translations, error)) {
    say(options.inputs[1] + ": no such file or folder");
    return 1;
  }
  Plan plan = planJobs(options, options.inputs[0], [](const fs::path& relative) {
    fs::path output = relative;
    output += ".html";
    return std::optional<fs::path>(output);
  });
  if (!plan.usageError.empty()) {
    return usageFailure(Command::Html, plan.usageError);
  }
  if (translations) {
    if (const std::string twoFiles = declareTranslationFiles(plan, *translations);
        !twoFiles.empty()) {
      std::fputs(twoFiles.c_str(), stderr);
      return 1;
    }
  }
  // The site is replaced whole: an input in it would go with it, so that
  // no page is made then.
  plan.replacedWhole = site;
  if (guardOutputs(plan)) {
    for (const Job& job : plan.jobs) {
      std::fputs(job.failure.c_str(), stderr);
    }
    return 1;
  }
  // A site replaces the one a previous run made, and nothing else: never a
  // file that run did not write.
  if (const Expected<void> replaceable = html::replaceableSite(site); !replaceable) {
    say(replaceable.problem().describe() + ": not replaced");
    return 1;
  }
  // The site is made in a folder beside it and put in its place at the end,
  // so that an interrupted or failed run leaves the old site, or none.
  TemporaryFolder building;
  if (const Expected<void> created = building.create(site); !created) {
    say(created.problem().describe());
    return 1;
  }
  // As for inject, a translation file tells the encoding when the strings
  // do not, and nothing is said for the run then.
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  if (encoding.guessed && !translations) {
    plan.notes += kEncodingGuessed;
  }
  std::vector<html::ScriptSummary> summaries(plan.jobs.size());
  std::set<std::string> scripts;
  for (const Job& job : plan.jobs) {
    scripts.insert(folderPath(job));
  }
  const int status = runPlan(plan, options, [&](const Job& job, std::size_t index) {
    const fs::path path =
        translations ? translationsFor(job, *translations, plan.folder) : fs::path();
    return writePages(job, encoding, translations ? &path : nullptr, plan.folder, scripts,
                      building.path(), review, summaries[index]);
  });
  if (status != 0 && options.failFast) {
    return status;
  }
  // A folder that could not be read is a job that never ran.
  for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
    if (summaries[i].path.empty()) {
      summaries[i].path = folderPath(plan.jobs[i]);
      summaries[i].failure = reasonOf(plan.jobs[i], plan.jobs[i].failure);
    }
  }
  if (const Expected<void> written = html::writeSiteFiles(summaries, building.path(), siteBoxes);
      !written) {
    say(written.problem().describe());
    return 1;
  }
  if (const Expected<void> committed = building.commit(); !committed) {
    say(committed.problem().describe());
    return 1;
  }
  return status;
}

}  // namespace krlist
