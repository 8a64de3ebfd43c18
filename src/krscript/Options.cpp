#include "krscript/Options.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#include "io/Files.h"

namespace krlist {

namespace {

constexpr std::size_t kAny = SIZE_MAX;

// The options a command may take, one bit each. --help and --version go
// with every command.
enum Option : unsigned {
  kOutput = 1u << 0,
  kEncoding = 1u << 1,
  kFileFormat = 1u << 2,    // --format po|csv|xlsx, the kind of translation file
  kReportFormat = 1u << 3,  // --format text|json, the kind of report
  kWidth = 1u << 4,
  kLines = 1u << 5,
  kWrap = 1u << 6,
  kSubstitute = 1u << 7,
  kLanguage = 1u << 8,
  kSimilarity = 1u << 9,
  kJobs = 1u << 10,
  kFailFast = 1u << 11,
  kInclude = 1u << 12,
  kExclude = 1u << 13,
  kProfile = 1u << 15,
  kNoWrap = 1u << 16,
  kKeepGoing = 1u << 20,
  kGlossary = 1u << 17,
  kSourceLanguage = 1u << 18,
  kMemory = 1u << 21,
  kFill = 1u << 22,
  kPort = 1u << 23,
  kNoOpen = 1u << 24,
  kEveryCommand = 1u << 14,  // --help, --version
};

// What a run over a folder takes, whatever it does with the files.
// Every command that takes a SCRIPT|DIR takes the game's profile too.
constexpr unsigned kFolderRun = kJobs | kFailFast | kInclude | kExclude;
constexpr unsigned kScriptRun = kFolderRun | kProfile;

// A command: its name, how many input paths it takes, whether it needs -o,
// the options it takes (any other is a usage error), whether "-o -" writes
// to standard output (otherwise it is a usage error), and its usage for
// `krscript COMMAND --help`.
struct CommandInfo {
  Command command;
  const char* name;
  std::size_t fewestInputs;
  std::size_t mostInputs;
  bool needsOutput;
  unsigned takes;
  bool standardOutput;
  const char* inputsError;  // when the count of inputs is wrong
  const char* usage;
};

constexpr CommandInfo kCommands[] = {
    {Command::Dump, "dump", 1, 1, false, kOutput | kEncoding | kScriptRun, true,
     "dump takes one input path",
     "Usage: krscript dump SCRIPT|DIR [-o OUT] [--encoding auto|utf-8|cp932] [-j N] "
     "[--fail-fast]\n"
     "                [--include GLOB] [--exclude GLOB]\n"
     "Writes a script as JSON that can be edited and built back into the same bytes: to\n"
     "standard output, to OUT, or for a folder to OUT/<path>.json for every file in it.\n"
     "A string is \"text\" when it reads back exactly in the encoding (auto: the one\n"
     "that holds the most string bytes of all the run's scripts together, cp932 when\n"
     "none tells), otherwise \"bytes\" in hexadecimal.\n"},
    {Command::Build, "build", 1, 1, true, kOutput | kFolderRun, false, "build takes one input path",
     "Usage: krscript build JSON|DIR -o OUT [-j N] [--fail-fast] [--include GLOB] "
     "[--exclude GLOB]\n"
     "Writes the script a JSON form describes; for a folder, OUT/x.kr for every x.kr.json\n"
     "in it. A JSON form that is not valid is reported with its line and column, and\n"
     "nothing is written for it.\n"},
    {Command::Check, "check", 1, kAny, false, kScriptRun, false,
     "check takes one or more input path",
     "Usage: krscript check SCRIPT|DIR... [-j N] [--fail-fast] [--include GLOB] "
     "[--exclude GLOB]\n"
     "Decodes scripts and prints one line for each that does not decode:\n"
     "PATH: 0xOFFSET: REASON.\n"},
    {Command::Extract, "extract", 1, 1, true,
     kOutput | kFileFormat | kEncoding | kLanguage | kScriptRun, false,
     "extract takes one input path",
     "Usage: krscript extract SCRIPT|DIR -o OUT [--format po|csv|xlsx] [--encoding "
     "auto|utf-8|cp932] [--language LL] [-j N]\n"
     "                [--fail-fast] [--include GLOB] [--exclude GLOB]\n"
     "Writes every string of a script into a translation file (x.kr gives x.kr.po,\n"
     "x.kr.csv or x.kr.xlsx), for translators to fill in; --language fills the PO header's\n"
     "Language. A workbook (xlsx) keeps every cell as text, whatever a spreadsheet would\n"
     "make of it. Without --format, a single script's OUT named .csv or .xlsx takes that\n"
     "format.\n"},
    {Command::Inject, "inject", 2, 2, true,
     kOutput | kWrap | kNoWrap | kSubstitute | kEncoding | kKeepGoing | kScriptRun, false,
     "inject takes a script or folder and its translations",
     "Usage: krscript inject SCRIPT|DIR TRANSLATIONS -o OUT [--wrap N|--no-wrap] "
     "[--substitute TABLE] [--keep-going] [-j N] [--fail-fast]\n"
     "                [--encoding auto|utf-8|cp932] [--include GLOB] [--exclude GLOB] "
     "[--profile FILE]\n"
     "Writes each script with the translated strings of its translation file put in;\n"
     "untranslated and fuzzy entries keep the original bytes. A file with stale entries\n"
     "or characters the encoding cannot hold (or the box's font has no glyph for) is\n"
     "refused, every such entry named. The translations are encoded as the file records;\n"
     "--encoding is for a CSV file that records none.\n"
     "--substitute TABLE replaces characters first (a UTF-8 file, CHARACTER<TAB>REPLACEMENT\n"
     "a line, # for comments); --wrap N then breaks lines wider than N cells, or N pixels\n"
     "when the profile's [box] gives a font. With a [box], every translation is wrapped\n"
     "to it; --no-wrap keeps the translator's own line breaks.\n"
     "--keep-going puts in every entry it can: a refused entry keeps the script's bytes,\n"
     "the script is written, and the run still fails.\n"},
    {Command::Update, "update", 2, 2, true,
     kOutput | kSimilarity | kLanguage | kEncoding | kFill | kMemory | kScriptRun, false,
     "update takes a script or folder and its old translations",
     "Usage: krscript update SCRIPT|DIR OLD -o OUT [--similarity 0.6] [--language LL] "
     "[--encoding auto|utf-8|cp932] [-j N] [--fail-fast]\n"
     "                [--include GLOB] [--exclude GLOB] [--fill [--memory FILE|DIR]...]\n"
     "Carries the translations of OLD, the translation file or folder of the previous\n"
     "version, over to the new scripts: OUT gets what extract would write, with each\n"
     "translation at its text's new place, wherever it moved. An edited text keeps its\n"
     "old translation marked fuzzy, with the old text, when it is at least as similar\n"
     "as --similarity (in characters, 0 to 1); a translation whose text went away is\n"
     "kept as obsolete. Says per script how many were kept, moved, fuzzy, new and\n"
     "obsolete. Nothing is written unless every old file and script can be read.\n"
     "--fill then fills the lines left untranslated from the translations of OLD and of\n"
     "--memory, as fill does, at the same --similarity.\n"},
    {Command::Fill, "fill", 2, 2, true,
     kOutput | kSimilarity | kMemory | kLanguage | kEncoding | kScriptRun, false,
     "fill takes a script or folder and its translations",
     "Usage: krscript fill SCRIPT|DIR TRANSLATIONS -o OUT [--memory FILE|DIR]... "
     "[--similarity 0.75] [--language LL]\n"
     "                [--encoding auto|utf-8|cp932] [-j N] [--fail-fast] [--include GLOB] "
     "[--exclude GLOB]\n"
     "Writes what update writes for the same scripts and files, with every untranslated\n"
     "entry filled from the game's memory: the translated entries (not fuzzy, not\n"
     "obsolete) of TRANSLATIONS and of each --memory (a PO, CSV or TMX file, or a folder\n"
     "of them). The same source translated one way gives its translation; translated\n"
     "several ways, the one given most often, fuzzy, with the others in a comment.\n"
     "Otherwise the most similar source at least --similarity alike (in characters,\n"
     "0 to 1) gives its translation, fuzzy, with that source as the previous msgid.\n"
     "Names (0x2B) are entries like the others. Says per script how many were filled\n"
     "exactly, filled fuzzy and left empty; a second run on OUT changes nothing.\n"},
    {Command::Lint, "lint", 2, 2, false,
     kWidth | kWrap | kNoWrap | kLines | kSubstitute | kReportFormat | kEncoding | kJobs |
         kInclude | kExclude | kProfile | kGlossary,
     false, "lint takes a script or folder and its translations",
     "Usage: krscript lint SCRIPT|DIR TRANSLATIONS [--width N] [--wrap N|--no-wrap] "
     "[--lines N] [--substitute TABLE] [--format text|json] [-j N]\n"
     "                [--glossary FILE] [--encoding auto|utf-8|cp932] [--include GLOB] "
     "[--exclude GLOB] [--profile FILE]\n"
     "Checks translations against their scripts and writes nothing. Errors: stale (the\n"
     "source is not the script's text), unencodable (a character the encoding cannot\n"
     "hold), glyph (one the box's font has none for). Warnings: width (a line wider than\n"
     "--width cells, or the box's width in pixels), lines (more than --lines lines or the\n"
     "box's, after --wrap), markers (placeholders differ), whitespace (leading or\n"
     "trailing spaces differ), spreadsheet (a translation that reads as a number, date,\n"
     "percent or error code a spreadsheet made of it), inconsistent (the same source\n"
     "translated otherwise elsewhere in the run, each other translation named with a\n"
     "FILE:LINE), glossary (the source holds a term of --glossary FILE, a CSV with the\n"
     "columns source,target, and the translation lacks its target, in any case; a term\n"
     "in Japanese or Chinese characters is found anywhere, any other as a whole word).\n"
     "Exit status 1 when there is an error.\n"},
    {Command::Html, "html", 1, 2, true, kOutput | kEncoding | kScriptRun, false,
     "html takes a script or folder and, if any, its translations",
     "Usage: krscript html SCRIPT|DIR [TRANSLATIONS] -o SITE [--encoding auto|utf-8|cp932] "
     "[-j N] [--fail-fast]\n"
     "                [--include GLOB] [--exclude GLOB]\n"
     "Writes a site to open in a browser from disk: SITE/index.html lists the scripts,\n"
     "and SITE/<path>.html shows each instruction as krlist lists it, references linked\n"
     "to their names and back, with each string's translation beside it when\n"
     "TRANSLATIONS (a PO or CSV file, or a folder of them as extract writes) is given.\n"
     "index.html?q=WORDS searches every string and translation; ?show=untranslated,\n"
     "?show=fuzzy and ?show=problems show only such strings, with lint's problems,\n"
     "the previous source, the translator's comment and who speaks beside each.\n"
     "With the profile's [box], each string is drawn in a box as the game draws it:\n"
     "its font and width, the lines inject makes, overflowing lines marked.\n"},
    {Command::Glossary, "glossary", 1, 2, true, kOutput | kEncoding | kScriptRun, false,
     "glossary takes a script or folder and, if any, its translations",
     "Usage: krscript glossary SCRIPT|DIR [TRANSLATIONS] -o names.csv [--encoding "
     "auto|utf-8|cp932] [-j N]\n"
     "                [--include GLOB] [--exclude GLOB]\n"
     "Starts a glossary, for lint --glossary: a CSV with the columns source,target,references\n"
     "holding every distinct name the scripts define, its translation where TRANSLATIONS\n"
     "gives one (the one given most often), and how many references the scripts make to\n"
     "it, most referred first.\n"},
    {Command::Memory, "memory", 2, 2, true, kOutput | kLanguage | kSourceLanguage | kScriptRun,
     false, "memory takes a script or folder and its translations",
     "Usage: krscript memory SCRIPT|DIR TRANSLATIONS -o game.tmx [--source-language ja] "
     "[--language LL] [-j N]\n"
     "                [--include GLOB] [--exclude GLOB]\n"
     "Writes the translations as a translation memory, TMX 1.4b, for other translation\n"
     "tools: one unit for each distinct source and translation of the translated entries\n"
     "(not fuzzy, not obsolete). The sources are in --source-language (default ja); the\n"
     "translations in the files' Language, or --language when they give none. A text with\n"
     "a control character XML cannot carry is left out, and said.\n"},
    {Command::Edit, "edit", 2, 2, false,
     kPort | kNoOpen | kEncoding | kSimilarity | kGlossary | kInclude | kExclude | kProfile, false,
     "edit takes a script or folder and its translations",
     "Usage: krscript edit SCRIPT|DIR TRANSLATIONS [--port 8470] [--no-open] [--similarity "
     "0.75] [--glossary FILE]\n"
     "                [--encoding auto|utf-8|cp932] [--include GLOB] [--exclude GLOB] "
     "[--profile FILE]\n"
     "Serves an editor of the translations on this machine and opens it in the browser:\n"
     "each script's strings in order with who speaks, each translation typed with the\n"
     "game's box drawn as inject fills it, lint's problems (the terms of --glossary FILE\n"
     "too) and the memory's suggestions (sources at least --similarity alike) as one\n"
     "types. Ctrl+Enter saves the entry into its PO or CSV file, every other byte as it\n"
     "was, and goes on to the next that needs work; Alt+Up and Alt+Down move. An entry\n"
     "another program changed meanwhile is not saved over. Serves on 127.0.0.1 only, to\n"
     "the address printed with its key, until Ctrl+C.\n"},
    {Command::Init, "init", 1, 1, false, 0, false, "init takes one folder",
     "Usage: krscript init DIR\n"
     "Writes DIR/krscript.toml, the game's profile, with what the scripts in DIR tell\n"
     "(the encoding their strings vote for, patterns that match them) and every other\n"
     "key commented out with its meaning. An existing profile is never replaced.\n"},
};

const CommandInfo* findCommand(Command command) {
  for (const CommandInfo& info : kCommands) {
    if (info.command == command) {
      return &info;
    }
  }
  return nullptr;
}

const CommandInfo* findCommand(const std::string& name) {
  for (const CommandInfo& info : kCommands) {
    if (name == info.name) {
      return &info;
    }
  }
  return nullptr;
}

// The message of a value an option does not take; nothing when it is taken.
using Setter = std::optional<std::string> (*)(Options&, const std::string& word,
                                              const std::string& value);

enum class Takes {
  Nothing,  // a switch: --fail-fast
  Value,    // one value, given once: -o OUT
  Values,   // a value each time it is given: --include GLOB
};

// An option: its long name, its short one (or none), its bit in the
// options of a command, what it takes, what a missing value should have
// been ("a path": "-o needs a path"), and how its value is set. A short
// option that takes a value may have the value attached, "-j1" as "-j 1"; a
// long one after '=', "--jobs=1". One name may stand for options of
// different commands (--format): each command takes the one of its own.
struct OptionInfo {
  const char* longName;
  const char* shortName;
  Option option;
  Takes takes;
  const char* needs;
  Setter set;
};

std::optional<std::string> setOutput(Options& options, const std::string& word,
                                     const std::string& value) {
  // An empty path names no file; taken for standard output it would write
  // where nobody asked.
  if (value.empty()) {
    return word + " needs a path, not an empty one";
  }
  options.output = value;
  return std::nullopt;
}

std::optional<std::string> setEncoding(Options& options, const std::string&,
                                       const std::string& value) {
  if (value != "auto") {
    options.encoding = encodingFromName(value);
    if (!options.encoding) {
      return "unknown encoding '" + value + "' (auto, utf-8 or cp932)";
    }
  }
  return std::nullopt;
}

std::optional<std::string> setFileFormat(Options& options, const std::string& word,
                                         const std::string& value) {
  const std::optional<TranslationFormat> format =
      value.find('.') == std::string::npos ? formatOfPath("x." + value) : std::nullopt;
  if (!format) {
    return word + " needs po, csv or xlsx";
  }
  options.format = *format;
  return std::nullopt;
}

std::optional<std::string> setReportFormat(Options& options, const std::string& word,
                                           const std::string& value) {
  if (value != "text" && value != "json") {
    return "lint " + word + " needs text or json";
  }
  options.report = value == "text" ? ReportFormat::Text : ReportFormat::Json;
  return std::nullopt;
}

// A count of cells or lines for --width, --lines and --wrap.
std::optional<std::string> setCount(std::size_t& count, const std::string& word,
                                    const std::string& value) {
  if (value.empty() ||
      std::from_chars(value.data(), value.data() + value.size(), count).ptr !=
          value.data() + value.size() ||
      count < 1 || count > 100000) {
    return word + (word == "--lines" ? " needs a number of lines" : " needs a number of cells") +
           ", 1 to 100000";
  }
  return std::nullopt;
}

std::optional<std::string> setLanguage(Options& options, const std::string&,
                                       const std::string& value) {
  // A language code, as the PO header's Language holds one ("es", "pt_BR").
  if (value.empty() || value.find_first_not_of(
                           "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_@-0123456789") !=
                           std::string::npos) {
    return "--language needs a language code such as es or pt_BR";
  }
  options.language = value;
  return std::nullopt;
}

std::optional<std::string> setSimilarity(Options& options, const std::string&,
                                         const std::string& value) {
  double similarity = -1;
  if (std::from_chars(value.data(), value.data() + value.size(), similarity).ptr !=
          value.data() + value.size() ||
      !(similarity >= 0 && similarity <= 1)) {
    return "--similarity needs a number from 0 to 1";
  }
  options.similarity = similarity;
  return std::nullopt;
}

std::optional<std::string> setJobs(Options& options, const std::string& word,
                                   const std::string& value) {
  unsigned jobs = 0;
  if (std::from_chars(value.data(), value.data() + value.size(), jobs).ptr !=
          value.data() + value.size() ||
      jobs == 0 || jobs > 256) {
    return word + " needs a number of files at once, 1 to 256";
  }
  options.jobs = jobs;
  return std::nullopt;
}

std::optional<std::string> addPattern(std::vector<std::string>& patterns, const std::string& word,
                                      const std::string& value) {
  if (value.empty()) {
    return word + " needs a pattern, not an empty one";
  }
  patterns.push_back(value);
  return std::nullopt;
}

constexpr OptionInfo kOptions[] = {
    {"--output", "-o", kOutput, Takes::Value, "a path", setOutput},
    {"--encoding", nullptr, kEncoding, Takes::Value, "auto, utf-8 or cp932", setEncoding},
    {"--format", nullptr, kFileFormat, Takes::Value, "po, csv or xlsx", setFileFormat},
    {"--format", nullptr, kReportFormat, Takes::Value, "text or json", setReportFormat},
    {"--width", nullptr, kWidth, Takes::Value, "a number of cells, 1 to 100000",
     [](Options& options, const std::string& word, const std::string& value) {
       return setCount(options.width, word, value);
     }},
    {"--lines", nullptr, kLines, Takes::Value, "a number of lines, 1 to 100000",
     [](Options& options, const std::string& word, const std::string& value) {
       return setCount(options.lines, word, value);
     }},
    {"--wrap", nullptr, kWrap, Takes::Value, "a number of cells, 1 to 100000",
     [](Options& options, const std::string& word, const std::string& value) {
       return setCount(options.wrap, word, value);
     }},
    {"--substitute", nullptr, kSubstitute, Takes::Value, "a table",
     [](Options& options, const std::string&,
        const std::string& value) -> std::optional<std::string> {
       options.substitute = value;
       return std::nullopt;
     }},
    {"--language", nullptr, kLanguage, Takes::Value, "a language code such as es or pt_BR",
     setLanguage},
    {"--source-language", nullptr, kSourceLanguage, Takes::Value,
     "a language code such as ja or zh_TW",
     [](Options& options, const std::string& word, const std::string& value) {
       Options parsed;
       std::optional<std::string> error = setLanguage(parsed, word, value);
       options.sourceLanguage = parsed.language;
       return error ? std::optional<std::string>(word + " needs a language code such as ja")
                    : error;
     }},
    {"--glossary", nullptr, kGlossary, Takes::Value, "a CSV file",
     [](Options& options, const std::string& word,
        const std::string& value) -> std::optional<std::string> {
       if (value.empty()) {
         return word + " needs a path, not an empty one";
       }
       options.glossary = value;
       return std::nullopt;
     }},
    {"--similarity", nullptr, kSimilarity, Takes::Value, "a number from 0 to 1", setSimilarity},
    {"--jobs", "-j", kJobs, Takes::Value, "a number of files at once, 1 to 256", setJobs},
    {"--fail-fast", nullptr, kFailFast, Takes::Nothing, nullptr,
     [](Options& options, const std::string&, const std::string&) -> std::optional<std::string> {
       options.failFast = true;
       return std::nullopt;
     }},
    {"--include", nullptr, kInclude, Takes::Values, "a pattern",
     [](Options& options, const std::string& word, const std::string& value) {
       return addPattern(options.include, word, value);
     }},
    {"--exclude", nullptr, kExclude, Takes::Values, "a pattern",
     [](Options& options, const std::string& word, const std::string& value) {
       return addPattern(options.exclude, word, value);
     }},
    {"--profile", nullptr, kProfile, Takes::Value, "a path",
     [](Options& options, const std::string& word,
        const std::string& value) -> std::optional<std::string> {
       if (value.empty()) {
         return word + " needs a path, not an empty one";
       }
       options.profileFile = value;
       return std::nullopt;
     }},
    {"--port", nullptr, kPort, Takes::Value, "a port number, 0 to 65535",
     [](Options& options, const std::string& word,
        const std::string& value) -> std::optional<std::string> {
       unsigned port = 0;
       if (std::from_chars(value.data(), value.data() + value.size(), port).ptr !=
               value.data() + value.size() ||
           value.empty() || port > 65535) {
         return word + " needs a port number, 0 to 65535";
       }
       options.port = static_cast<std::uint16_t>(port);
       return std::nullopt;
     }},
    {"--no-open", nullptr, kNoOpen, Takes::Nothing, nullptr,
     [](Options& options, const std::string&, const std::string&) -> std::optional<std::string> {
       options.open = false;
       return std::nullopt;
     }},
    {"--memory", nullptr, kMemory, Takes::Values, "a translation file or folder",
     [](Options& options, const std::string& word,
        const std::string& value) -> std::optional<std::string> {
       if (value.empty()) {
         return word + " needs a path, not an empty one";
       }
       options.memory.push_back(value);
       return std::nullopt;
     }},
    {"--fill", nullptr, kFill, Takes::Nothing, nullptr,
     [](Options& options, const std::string&, const std::string&) -> std::optional<std::string> {
       options.fill = true;
       return std::nullopt;
     }},
    {"--no-wrap", nullptr, kNoWrap, Takes::Nothing, nullptr,
     [](Options& options, const std::string&, const std::string&) -> std::optional<std::string> {
       options.noWrap = true;
       return std::nullopt;
     }},
    {"--keep-going", nullptr, kKeepGoing, Takes::Nothing, nullptr,
     [](Options& options, const std::string&, const std::string&) -> std::optional<std::string> {
       options.keepGoing = true;
       return std::nullopt;
     }},
    {"--help", "-h", kEveryCommand, Takes::Nothing, nullptr,
     [](Options& options, const std::string&, const std::string&) -> std::optional<std::string> {
       options.help = true;
       return std::nullopt;
     }},
    {"--version", nullptr, kEveryCommand, Takes::Nothing, nullptr,
     [](Options& options, const std::string&, const std::string&) -> std::optional<std::string> {
       options.version = true;
       return std::nullopt;
     }},
};

// The first option a word names, with the value attached to it if any.
const OptionInfo* findOption(std::string& word, std::optional<std::string>& attached) {
  if (word.rfind("--", 0) == 0) {
    const std::size_t equals = word.find('=');
    if (equals != std::string::npos) {
      attached = word.substr(equals + 1);
      word.resize(equals);
    }
  }
  for (const OptionInfo& option : kOptions) {
    if (word == option.longName || (option.shortName != nullptr && word == option.shortName)) {
      return &option;
    }
    if (option.shortName != nullptr && option.takes != Takes::Nothing && word.size() > 2 &&
        word.compare(0, 2, option.shortName) == 0) {
      attached = word.substr(2);
      word.resize(2);
      return &option;
    }
  }
  return nullptr;
}

// Of the options named as `found` is, the one `command` takes (any, with no
// command); null when it takes none of them.
const OptionInfo* optionFor(const CommandInfo* command, const OptionInfo& found) {
  for (const OptionInfo& option : kOptions) {
    if (std::string_view(option.longName) == found.longName &&
        (command == nullptr || option.option == kEveryCommand ||
         (command->takes & option.option) != 0)) {
      return &option;
    }
  }
  return nullptr;
}

Problem usageError(std::string message) {
  return Problem{{}, std::move(message)};
}

// An option as the command line gives it: the word that names it and its
// value, before the command it goes with is known.
struct GivenOption {
  const OptionInfo* named;
  std::string word;
  std::optional<std::string> value;
  bool attached = false;
};

}  // namespace

Expected<Options> parseOptions(const std::vector<std::string>& arguments) {
  Options options;
  const CommandInfo* command = nullptr;
  std::vector<GivenOption> given;
  bool helpOrVersion = false;
  bool optionsEnded = false;
  // First the words are sorted out, options and their values from the
  // command and its inputs: an option may come before its command.
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string word = arguments[i];
    if (optionsEnded || word.empty() || word[0] != '-' || word == "-") {
      if (command != nullptr || helpOrVersion) {
        options.inputs.push_back(word);
        continue;
      }
      command = findCommand(word);
      if (command == nullptr) {
        // Paths dropped onto the program in a file manager come with no
        // command: every argument is then a path, for drop mode.
        std::error_code error;
        if (i == 0 && std::filesystem::exists(pathFromUtf8(word), error)) {
          options.command = Command::Drop;
          options.inputs = arguments;
          return options;
        }
        return usageError("unknown command '" + word + "'");
      }
      options.command = command->command;
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    std::optional<std::string> attached;
    const OptionInfo* option = findOption(word, attached);
    if (option == nullptr) {
      return usageError("unknown option '" + word + "'");
    }
    helpOrVersion = helpOrVersion || option->option == kEveryCommand;
    GivenOption& added =
        given.emplace_back(GivenOption{option, word, attached, attached.has_value()});
    if (option->takes != Takes::Nothing && !attached && i + 1 < arguments.size()) {
      added.value = arguments[++i];
    }
  }
  // Then each option is taken as its command takes it, in the order given.
  std::set<const OptionInfo*> set;
  for (const GivenOption& item : given) {
    const OptionInfo* option = optionFor(command, *item.named);
    if (option == nullptr) {
      return usageError(std::string(command->name) + " does not take " + item.word);
    }
    if (option->takes == Takes::Nothing) {
      if (item.attached) {
        return usageError(item.word + " takes no value");
      }
    } else if (!item.value) {
      return usageError(item.word + " needs " + option->needs);
    }
    if (option->takes == Takes::Value && !set.insert(option).second) {
      return usageError(item.word + " is given twice");
    }
    if (option->option == kOutput && *item.value == "-" && command != nullptr &&
        !command->standardOutput) {
      return usageError(std::string(command->name) + " writes files, not standard output");
    }
    if (std::optional<std::string> error =
            option->set(options, item.word, item.value.value_or(std::string()))) {
      return usageError(*error);
    }
  }
  if (options.help || options.version) {
    return options;
  }
  if (command == nullptr) {
    return usageError("no command given");
  }
  if (options.inputs.size() < command->fewestInputs ||
      options.inputs.size() > command->mostInputs) {
    return usageError(command->inputsError);
  }
  if (!options.output && command->needsOutput) {
    return usageError(std::string(command->name) + " needs -o OUT");
  }
  return options;
}

const char* commandName(Command command) {
  const CommandInfo* info = findCommand(command);
  return info != nullptr ? info->name : "";
}

std::string usage(Command command) {
  if (const CommandInfo* info = findCommand(command)) {
    return info->usage;
  }
  return "Usage: krscript COMMAND [OPTIONS]\n"
         "       krscript PATH...\n"
         "  dump SCRIPT|DIR [-o OUT] [--encoding auto|utf-8|cp932]  script to JSON\n"
         "  build JSON|DIR -o OUT                                   JSON to script\n"
         "  check SCRIPT|DIR...                                     report scripts that do "
         "not decode\n"
         "  extract SCRIPT|DIR -o OUT [--format po|csv|xlsx]        strings to translate\n"
         "  inject SCRIPT|DIR TRANSLATIONS -o OUT                   translations put back\n"
         "  update SCRIPT|DIR OLD -o OUT [--similarity 0.6]         translations carried over\n"
         "                                                          to new scripts\n"
         "  fill SCRIPT|DIR TRANSLATIONS -o OUT [--memory M]...     untranslated entries\n"
         "                                                          filled from the memory\n"
         "  lint SCRIPT|DIR TRANSLATIONS [--width N]                translations checked\n"
         "  html SCRIPT|DIR [TRANSLATIONS] -o SITE                  pages for a browser\n"
         "  init DIR                                                a profile, krscript.toml\n"
         "  glossary SCRIPT|DIR [TRANSLATIONS] -o names.csv         the names, for a glossary\n"
         "  memory SCRIPT|DIR TRANSLATIONS -o game.tmx              a translation memory (TMX)\n"
         "PATH... with no command, as when files are dropped onto the program: each output\n"
         "goes beside its path (x.kr to x.kr.json, DIR to DIR-json, x.kr.json to x.kr, or\n"
         "to x.new.kr when x.kr exists), and the program waits for Enter at the end.\n"
         "Folders: every file under DIR, or those --include GLOB names and no --exclude GLOB\n"
         "names (as in .gitignore), -j N at once (default: one per core), --fail-fast to\n"
         "stop at the first failure. Exit status: 0 all done, 1 a file failed, 2 usage.\n"
         "The game's profile, the krscript.toml beside the scripts or above them (or\n"
         "--profile FILE), gives options the command line does not.\n"
         "krscript COMMAND --help for more; krscript --version.\n";
}

}  // namespace krlist
