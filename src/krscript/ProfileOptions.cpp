#include "krscript/ProfileOptions.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <system_error>

#include "format/StringVote.h"
#include "io/Files.h"
#include "io/OutputFile.h"
#include "krscript/Scripts.h"
#ifdef KRLIST_PROFILES
#include "profile/Profile.h"
#else
#include <string_view>
#endif

namespace krlist {

namespace {

namespace fs = std::filesystem;

#ifndef KRLIST_PROFILES
constexpr std::string_view kProfileName = "krscript.toml";
#endif

bool takesProfile(Command command) {
  switch (command) {
    case Command::Dump:
    case Command::Check:
    case Command::Extract:
    case Command::Inject:
    case Command::Update:
    case Command::Fill:
    case Command::Lint:
    case Command::Html:
    case Command::Glossary:
    case Command::Memory:
    case Command::Edit:
      return true;
    default:
      return false;
  }
}

#ifdef KRLIST_PROFILES
// The folder whose profile governs `input`: the folder itself, or the
// folder a script lies in.
fs::path governedFolder(const std::string& input) {
  const fs::path path = pathFromUtf8(input);
  std::error_code error;
  if (fs::is_directory(path, error)) {
    return path;
  }
  const fs::path parent = path.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

// `folder` relative to `top` with '/' between names, when it lies below it;
// empty when it is `top` itself or elsewhere (a profile named by --profile
// from another place: its patterns are then read from the run's folder).
std::string folderBelow(const fs::path& top, const fs::path& folder) {
  std::error_code error;
  const fs::path from = fs::weakly_canonical(top.empty() ? fs::path(".") : top, error);
  const fs::path to = error ? fs::path() : fs::weakly_canonical(folder, error);
  if (error) {
    return {};
  }
  const fs::path relative = to.lexically_relative(from);
  if (relative.empty() || relative == "." || *relative.begin() == "..") {
    return {};
  }
  return slashedPathToUtf8(relative);
}
#endif

}  // namespace

#ifndef KRLIST_PROFILES

// A build without toml++ or without fonts reads no profile: one named is
// refused, one beside the scripts is not looked for.
bool applyProfile(Options& options) {
  if (takesProfile(options.command) && options.profileFile) {
    std::fprintf(stderr,
                 "krscript: %s: this build reads no profile (built without toml++ or fonts)\n",
                 options.profileFile->c_str());
    return false;
  }
  return true;
}

std::vector<fs::path> profileFiles(const Options&) {
  return {};
}

#else

bool applyProfile(Options& options) {
  if (!takesProfile(options.command) || options.inputs.empty()) {
    return true;
  }
  std::optional<fs::path> file;
  if (options.profileFile) {
    file = pathFromUtf8(*options.profileFile);
  } else {
    file = findProfile(governedFolder(options.inputs[0]));
    // Named as the command line names the scripts, relative to where the
    // command runs when it lies below it, in messages and in the paths the
    // profile gives.
    std::error_code error;
    const fs::path here = fs::current_path(error);
    if (file && !error) {
      const fs::path relative = file->lexically_relative(here);
      if (!relative.empty() && *relative.begin() != "..") {
        file = relative;
      }
    }
  }
  if (!file) {
    return true;
  }
  Expected<Profile> read = readProfile(*file);
  if (!read) {
    std::fprintf(stderr, "krscript: %s\n", read.problem().describe().c_str());
    return false;
  }
  auto profile = std::make_shared<Profile>(std::move(*read));
  if (!options.encoding) {
    options.encoding = profile->encoding;
  }
  if (options.language.empty() && profile->language) {
    options.language = *profile->language;
  }
  // The command line's patterns replace the profile's, rather than adding
  // to them: a run asked for one folder of the game takes that folder.
  if (options.include.empty() && options.exclude.empty()) {
    options.include = profile->include;
    options.exclude = profile->exclude;
    options.patternBase =
        folderBelow(profile->file.parent_path(), governedFolder(options.inputs[0]));
  }
  if (!options.substitute && profile->substitute &&
      (options.command == Command::Inject || options.command == Command::Lint ||
       options.command == Command::Html || options.command == Command::Edit)) {
    options.substitute = pathToUtf8(*profile->substitute);
  }
  if (!options.glossary && profile->glossary &&
      (options.command == Command::Lint || options.command == Command::Edit)) {
    options.glossary = pathToUtf8(*profile->glossary);
  }
  if (options.sourceLanguage.empty() && profile->sourceLanguage) {
    options.sourceLanguage = *profile->sourceLanguage;
  }
  options.profile = std::move(profile);
  return true;
}

std::vector<fs::path> profileFiles(const Options& options) {
  std::vector<fs::path> files;
  const Profile* profile = options.profile.get();
  if (profile == nullptr) {
    return files;
  }
  files.push_back(profile->file);
  if (profile->substitute) {
    files.push_back(*profile->substitute);
  }
  if (profile->glossary) {
    files.push_back(*profile->glossary);
  }
  const auto addBox = [&files](const TextBox& box) {
    for (const fs::path* face : {&box.font, &box.widths}) {
      if (!face->empty()) {
        files.push_back(*face);
      }
    }
  };
  if (profile->box) {
    addBox(*profile->box);
  }
  for (const auto& [opcode, box] : profile->opcodes) {
    addBox(box);
  }
  return files;
}
#endif

#ifdef KRLIST_PROFILES

// A box's face as wrapping measures it: the advances of each cluster's
// characters in design units, and of the text a placeholder stands for. The
// face keeps what it reads and is shared by the jobs' threads: one measure
// at a time.
struct ProfileBoxes::Box final : LineMeasure {
  explicit Box(const TextBox& box) : text(box.measure()), placeholders(box.placeholders) {}

  std::uint64_t clusterWidth(std::string_view cluster) const override {
    const std::lock_guard<std::mutex> lock(mutex);
    return text.measure(cluster).units;
  }
  std::uint64_t placeholderWidth(std::string_view placeholder) const override {
    const auto found = placeholders.find(std::string(placeholder));
    if (found == placeholders.end()) {
      return 0;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    return text.measure(found->second).units;
  }
  bool hasGlyph(char32_t character) const override {
    const std::lock_guard<std::mutex> lock(mutex);
    return text.advance(character).has_value();
  }
  std::uint64_t pixels(std::uint64_t units) const override {
    TextWidth width;
    width.units = units;
    return text.pixels(width);
  }

  mutable TextMeasure text;
  std::map<std::string, std::string> placeholders;
  mutable std::mutex mutex;
};

ProfileBoxes::ProfileBoxes(const Options& options) {
  const Profile* profile = options.profile.get();
  if (profile == nullptr) {
    return;
  }
  const auto add = [&](int opcode, const TextBox& box) {
    Box& measure = *boxes_.emplace_back(std::make_unique<Box>(box));
    // A line of U units fits in P pixels when U × size ≤ P × units per em,
    // that is when U is at most the floor of P × units per em / size: the
    // wrap compares whole units with that.
    const std::uint64_t pixels = options.wrap > 0 ? options.wrap : box.width;
    const bool fixed = box.face->fixedSize();
    const std::uint64_t perEm = fixed ? 1 : box.face->unitsPerEm();
    const std::uint64_t size = fixed ? 1 : std::max<std::uint64_t>(box.size, 1);
    BoxFit& fit = fits_[opcode];
    fit.measure = &measure;
    fit.width = pixels * perEm / size;
    fit.lineBreak = box.lineBreak;
    fit.wrap = !options.noWrap;
    fit.checkWidth = options.width > 0 ? options.width : box.width;
    fit.lines = options.lines > 0 ? options.lines : box.lines.value_or(0);
    Look& look = looks_[opcode];
    look.font = box.font;
    look.size = box.size;
    look.width = box.width;
    look.placeholders = box.placeholders;
  };
  if (profile->box) {
    add(-1, *profile->box);
  }
  for (const auto& [opcode, box] : profile->opcodes) {
    add(opcode, box);
  }
}

#else

// A build without profiles boxes nothing.
struct ProfileBoxes::Box {};

ProfileBoxes::ProfileBoxes(const Options&) {}

#endif

ProfileBoxes::~ProfileBoxes() = default;

const BoxFit* ProfileBoxes::boxFor(std::uint8_t opcode) const {
  if (const auto found = fits_.find(opcode); found != fits_.end()) {
    return &found->second;
  }
  const auto box = fits_.find(-1);
  return box != fits_.end() ? &box->second : nullptr;
}

namespace {

// A TOML basic string: the characters TOML escapes, escaped.
std::string tomlString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + '"';
}

// The pattern that names a script of the folder with others like it: every
// file with its suffix, or the file itself when it has none.
std::string patternFor(const fs::path& relative) {
  const std::string suffix = pathToUtf8(relative.extension());
  return suffix.empty() ? slashedPathToUtf8(relative) : "*" + suffix;
}

}  // namespace

int runInit(const Options& options) {
  const fs::path folder = pathFromUtf8(options.inputs[0]);
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    std::fprintf(stderr, "krscript: %s: not a folder\n", options.inputs[0].c_str());
    return 1;
  }
  const fs::path file = folder / fs::path(std::string(kProfileName));
  const std::string fileName = pathToUtf8(file);
  if (fs::exists(fs::symlink_status(file, error))) {
    std::fprintf(stderr, "krscript: %s: a profile is there already; init never replaces one\n",
                 fileName.c_str());
    return 1;
  }
  // The scripts are the files that decode to their end: those the folder
  // run would take among the rest of the game's files.
  std::string notes;
  const std::vector<Job> files = listFolder(
      folder, {}, [](const fs::path& relative) { return std::optional<fs::path>(relative); },
      PathFilter({}, {}), notes);
  EncodingVote vote;
  std::set<std::string> patterns;
  std::size_t scripts = 0;
  for (const Job& job : files) {
    DecodedScript script;
    if (!decodeWholeScript(job, script)) {
      continue;
    }
    ++scripts;
    voteOnStrings(script.instructions(), vote);
    patterns.insert(patternFor(job.relative));
  }
  std::string text =
      "# The game's profile: what krscript is to know of the scripts in this folder\n"
      "# and the folders below it that the scripts do not say. An option given on\n"
      "# the command line wins over a key here. Paths are relative to this file.\n\n";
  text += "# The scripts' text encoding: utf-8 or cp932";
  if (vote.told()) {
    text += " (the one their strings tell)\nencoding = " + tomlString(encodingName(vote.choice())) +
            "\n\n";
  } else {
    text += "; no string of the scripts tells it.\n# encoding = \"cp932\"\n\n";
  }
  text +=
      "# The language translated into, for the PO header's Language.\n"
      "# language = \"en\"\n\n"
      "# The language of the scripts' texts, for a translation memory (memory).\n"
      "# source-language = \"ja\"\n\n";
  text += "# The files of a folder run, as --include and --exclude take them.\n";
  if (!patterns.empty()) {
    text += "include = [";
    const char* separator = "";
    for (const std::string& pattern : patterns) {
      text += separator + tomlString(pattern);
      separator = ", ";
    }
    text += "]\n";
  } else {
    text += "# include = [\"*.kr\"]\n";
  }
  text +=
      "# exclude = [\"**/test_*\"]\n\n"
      "# A table of characters to replace in translations, as --substitute takes.\n"
      "# substitute = \"subst.txt\"\n\n"
      "# Terms lint checks the translations keep: a CSV with the columns source,target.\n"
      "# glossary = \"names.csv\"\n\n"
      "# The text box most strings are drawn in: inject wraps translations to it\n"
      "# and lint checks them against it.\n"
      "# [box]\n"
      "# font = \"fonts/game.ttf\"      # a TrueType or OpenType font or collection\n"
      "# font-index = 0               # the face in a collection\n"
      "# widths = \"widths.txt\"        # instead of a font: CHARACTER<TAB>PIXELS a line\n"
      "# default = 8                  # with widths: the width of a character not listed\n"
      "# size = 24                    # pixels per em\n"
      "# width = 600                  # pixels a line holds\n"
      "# lines = 3                    # lines a box holds\n"
      "# line-break = \"\\n\"          # the text the game takes as a line break\n\n"
      "# What a placeholder stands for when drawn, measured as that text.\n"
      "# [box.placeholders]\n"
      "# \"%name%\" = \"Alexander\"\n\n"
      "# The box of one opcode's strings: any key of [box], the rest from [box].\n"
      "# [box.opcode.1C]\n"
      "# width = 300\n";
  OutputFile output;
  if (Expected<void> opened = output.open(file); !opened) {
    std::fprintf(stderr, "krscript: %s\n", opened.problem().describe().c_str());
    return 1;
  }
  if (std::fwrite(text.data(), 1, text.size(), output.stream()) != text.size()) {
    std::fprintf(stderr, "krscript: %s: cannot write the file\n", fileName.c_str());
    return 1;
  }
  if (Expected<void> committed = output.commit(); !committed) {
    std::fprintf(stderr, "krscript: %s\n", committed.problem().describe().c_str());
    return 1;
  }
  std::fprintf(stderr, "%s: written, from %zu script%s\n", fileName.c_str(), scripts,
               scripts == 1 ? "" : "s");
  return 0;
}

}  // namespace krlist
