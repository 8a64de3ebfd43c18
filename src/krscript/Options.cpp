#include "krscript/Options.h"

#include <charconv>
#include <filesystem>
#include <system_error>

#include "io/Files.h"

namespace krlist {

namespace {

constexpr const char* kCommands[] = {"dump",   "build",  "check", "extract",
                                     "inject", "update", "lint"};

bool isCommand(const std::string& word) {
  for (const char* command : kCommands) {
    if (word == command) {
      return true;
    }
  }
  return false;
}

// A count of cells or lines, 1 to 100000.
bool readCount(const std::string& text, std::size_t& count) {
  return std::from_chars(text.data(), text.data() + text.size(), count).ptr ==
             text.data() + text.size() &&
         count >= 1 && count <= 100000 && !text.empty();
}

}  // namespace

std::variant<Options, std::string> parseOptions(const std::vector<std::string>& arguments) {
  Options options;
  bool optionsEnded = false;
  std::optional<std::string> format;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string word = arguments[i];
    std::optional<std::string> attached;  // the value in --name=value
    if (!optionsEnded && word.rfind("--", 0) == 0 && word.find('=') != std::string::npos) {
      attached = word.substr(word.find('=') + 1);
      word = word.substr(0, word.find('='));
    }
    auto value = [&](std::string& into) -> bool {
      if (attached) {
        into = *attached;
        return true;
      }
      if (i + 1 >= arguments.size()) {
        return false;
      }
      into = arguments[++i];
      return true;
    };
    std::string text;
    if (optionsEnded || word.empty() || word[0] != '-' || word == "-") {
      if (options.command.empty() && !options.help && !options.version) {
        if (!isCommand(word)) {
          // Paths dropped onto the program in a file manager come with no
          // command: every argument is then a path, for drop mode.
          std::error_code error;
          if (i == 0 && std::filesystem::exists(pathFromUtf8(word), error)) {
            options.command = "drop";
            options.inputs = arguments;
            return options;
          }
          return "unknown command '" + word + "'";
        }
        options.command = word;
      } else {
        options.inputs.push_back(arguments[i]);
      }
    } else if (word == "--") {
      optionsEnded = true;
    } else if (word == "-h" || word == "--help") {
      options.help = true;
    } else if (word == "--version") {
      options.version = true;
    } else if (word == "--fail-fast") {
      options.failFast = true;
    } else if (word == "-o" || word == "--output") {
      if (!value(text)) {
        return word + " needs a path";
      }
      options.output = text;
    } else if (word == "--encoding") {
      if (!value(text)) {
        return "--encoding needs auto, utf-8 or cp932";
      }
      if (text != "auto") {
        options.encoding = encodingFromName(text);
        if (!options.encoding) {
          return "unknown encoding '" + text + "' (auto, utf-8 or cp932)";
        }
      }
    } else if (word == "--format") {
      if (!value(text)) {
        return "--format needs po or csv (extract), text or json (lint)";
      }
      format = text;
    } else if (word == "--language") {
      // A language code, as the PO header's Language holds one ("es", "pt_BR").
      if (!value(text) || text.empty() ||
          text.find_first_not_of(
              "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_@-0123456789") !=
              std::string::npos) {
        return "--language needs a language code such as es or pt_BR";
      }
      options.language = text;
    } else if (word == "--similarity") {
      double similarity = -1;
      if (!value(text) ||
          std::from_chars(text.data(), text.data() + text.size(), similarity).ptr !=
              text.data() + text.size() ||
          !(similarity >= 0 && similarity <= 1)) {
        return "--similarity needs a number from 0 to 1";
      }
      options.similarity = similarity;
    } else if (word == "--width" || word == "--lines" || word == "--wrap") {
      std::size_t& count = word == "--width"   ? options.width
                           : word == "--lines" ? options.lines
                                               : options.wrap;
      if (!value(text) || !readCount(text, count)) {
        return word +
               (word == "--lines" ? " needs a number of lines" : " needs a number of cells") +
               ", 1 to 100000";
      }
    } else if (word == "--substitute") {
      if (!value(text)) {
        return "--substitute needs a table";
      }
      options.substitute = text;
    } else if (word == "-j" || word == "--jobs") {
      unsigned jobs = 0;
      if (!value(text) ||
          std::from_chars(text.data(), text.data() + text.size(), jobs).ptr !=
              text.data() + text.size() ||
          jobs == 0 || jobs > 256) {
        return word + " needs a number of files at once, 1 to 256";
      }
      options.jobs = jobs;
    } else {
      return "unknown option '" + word + "'";
    }
  }
  if (options.help || options.version) {
    return options;
  }
  if (options.command.empty()) {
    return "no command given";
  }
  if (options.command == "lint") {
    options.report = format.value_or("text");
    if (options.report != "text" && options.report != "json") {
      return "lint --format needs text or json";
    }
  } else if (format) {
    if (*format != "po" && *format != "csv") {
      return "--format needs po or csv";
    }
    options.format = *format;
  }
  if (options.command != "lint" && (options.width != 0 || options.lines != 0)) {
    return "--width and --lines are for lint";
  }
  if (options.command != "lint" && options.command != "inject" &&
      (options.wrap != 0 || options.substitute)) {
    return "--wrap and --substitute are for inject and lint";
  }
  const bool paired =
      options.command == "inject" || options.command == "lint" || options.command == "update";
  const std::size_t wanted = paired ? 2 : 1;
  if (options.inputs.size() < wanted ||
      (options.command != "check" && options.inputs.size() > wanted)) {
    return options.command == "update" ? "update takes a script or folder and its old translations"
           : paired ? options.command + " takes a script or folder and its translations"
                    : options.command + " takes " +
                          (options.command == "check" ? "one or more" : "one") + " input path";
  }
  if (!options.output && (options.command == "build" || options.command == "extract" ||
                          options.command == "inject" || options.command == "update")) {
    return options.command + " needs -o OUT";
  }
  return options;
}

std::string usage(const std::string& command) {
  if (command == "dump") {
    return "Usage: krscript dump SCRIPT|DIR [-o OUT] [--encoding auto|utf-8|cp932] [-j N] "
           "[--fail-fast]\n"
           "Writes a script as JSON that can be edited and built back into the same bytes: to\n"
           "standard output, to OUT, or for a folder to OUT/<path>.json for every file in it.\n"
           "A string is \"text\" when it reads back exactly in the encoding (auto: the one\n"
           "that holds the most string bytes), otherwise \"bytes\" in hexadecimal.\n";
  }
  if (command == "build") {
    return "Usage: krscript build JSON|DIR -o OUT [-j N] [--fail-fast]\n"
           "Writes the script a JSON form describes; for a folder, OUT/x.kr for every x.kr.json\n"
           "in it. A JSON form that is not valid is reported with its line and column, and\n"
           "nothing is written for it.\n";
  }
  if (command == "check") {
    return "Usage: krscript check SCRIPT|DIR... [-j N] [--fail-fast]\n"
           "Decodes scripts and prints one line for each that does not decode:\n"
           "PATH: 0xOFFSET: REASON.\n";
  }
  if (command == "extract") {
    return "Usage: krscript extract SCRIPT|DIR -o OUT [--format po|csv] [--encoding "
           "auto|utf-8|cp932] [--language LL] [-j N] [--fail-fast]\n"
           "Writes every string of a script into a translation file (x.kr gives x.kr.po or\n"
           "x.kr.csv), for translators to fill in; --language fills the PO header's Language.\n";
  }
  if (command == "inject") {
    return "Usage: krscript inject SCRIPT|DIR TRANSLATIONS -o OUT [--wrap N] [--substitute "
           "TABLE] [-j N] [--fail-fast]\n"
           "Writes each script with the translated strings of its translation file put in;\n"
           "untranslated and fuzzy entries keep the original bytes. A file with stale entries\n"
           "or characters the encoding cannot hold is refused, every such entry named.\n"
           "--substitute TABLE replaces characters first (a UTF-8 file, CHARACTER<TAB>REPLACEMENT\n"
           "a line, # for comments); --wrap N then breaks lines wider than N cells.\n";
  }
  if (command == "lint") {
    return "Usage: krscript lint SCRIPT|DIR TRANSLATIONS [--width N] [--wrap N] [--lines N] "
           "[--substitute TABLE] [--format text|json] [-j N]\n"
           "Checks translations against their scripts and writes nothing. Errors: stale (the\n"
           "source is not the script's text), unencodable (a character the encoding cannot\n"
           "hold). Warnings: width (a line wider than --width cells), lines (more than --lines\n"
           "lines, after --wrap), markers (placeholders differ), whitespace (leading or\n"
           "trailing spaces differ). Exit status 1 when there is an error.\n";
  }
  if (command == "update") {
    return "Usage: krscript update SCRIPT|DIR OLD -o OUT [--similarity 0.6] [--language LL] "
           "[--encoding auto|utf-8|cp932] [-j N] [--fail-fast]\n"
           "Carries the translations of OLD, the translation file or folder of the previous\n"
           "version, over to the new scripts: OUT gets what extract would write, with each\n"
           "translation at its text's new place, wherever it moved. An edited text keeps its\n"
           "old translation marked fuzzy, with the old text, when it is at least as similar\n"
           "as --similarity (in characters, 0 to 1); a translation whose text went away is\n"
           "kept as obsolete. Says per script how many were kept, moved, fuzzy, new and\n"
           "obsolete. Nothing is written unless every old file and script can be read.\n";
  }
  return "Usage: krscript COMMAND [OPTIONS]\n"
         "       krscript PATH...\n"
         "  dump SCRIPT|DIR [-o OUT] [--encoding auto|utf-8|cp932]  script to JSON\n"
         "  build JSON|DIR -o OUT                                   JSON to script\n"
         "  check SCRIPT|DIR...                                     report scripts that do "
         "not decode\n"
         "  extract SCRIPT|DIR -o OUT [--format po|csv]             strings to translate\n"
         "  inject SCRIPT|DIR TRANSLATIONS -o OUT                   translations put back\n"
         "  update SCRIPT|DIR OLD -o OUT [--similarity 0.6]         translations carried over\n"
         "                                                          to new scripts\n"
         "  lint SCRIPT|DIR TRANSLATIONS [--width N]                translations checked\n"
         "PATH... with no command, as when files are dropped onto the program: each output\n"
         "goes beside its path (x.kr to x.kr.json, DIR to DIR-json, x.kr.json to x.kr, or\n"
         "to x.new.kr when x.kr exists), and the program waits for Enter at the end.\n"
         "Folders: every file under DIR, -j N at once (default: one per core), --fail-fast to\n"
         "stop at the first failure. Exit status: 0 all done, 1 a file failed, 2 usage.\n"
         "krscript COMMAND --help for more; krscript --version.\n";
}

}  // namespace krlist
