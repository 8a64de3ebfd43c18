#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "edit/HttpServer.h"
#include "html/Site.h"
#include "text/Encoding.h"
#include "translate/Glossary.h"
#include "translate/Memory.h"
#include "translate/TranslationChecks.h"
#include "translate/TranslationFile.h"
#include "translate/TranslationFormat.h"

namespace krlist::edit {

// The editor of a game's translations in the browser: a server on the
// translator's own machine (HttpServer.h) answers its pages and what they
// ask, here, where the scripts and their translation files are held.
//
// Pages: / lists the scripts with their progress and searches them; /REL.html
// is the script at REL in the folder, its strings in order, each with its
// translation to type, the game's box drawn as inject would fill it, lint's
// problems and the memory's suggestions, all asked for as the translator
// types. What a page asks is JSON, under /api/:
//
//   GET  /api/scripts                    every script and its progress
//   GET  /api/search?q=TEXT              strings whose source or translation holds TEXT
//   GET  /api/lines?script=REL&from=N    a script's strings from the Nth, a few at a time
//   GET  /api/lines?script=REL&at=OFFSET the same, around the string at OFFSET
//   GET  /api/lines?script=REL&next=OFFSET  around the next string after it that needs work
//   GET  /api/suggest?script=REL&offset=OFFSET   the memory's suggestions for a string
//   POST /api/check   {script, offset, target}   the box and problems of a text as typed
//   POST /api/save    {script, offset, target, comment, base}   saves an entry
//
// Each save goes into the script's translation file at once, that entry
// alone changed (translate/EntryEdit.h), unless the file changed on disk
// since and that entry with it: the save is then refused as a conflict, with
// what the file holds now.

// One string of a script, as the editor shows it.
struct EditedLine {
  std::uint32_t offset = 0;
  std::uint8_t opcode = 0;
  // What the names referenced before the string say, who speaks: "Alice".
  std::vector<std::string> speakers;
  std::size_t entry = 0;  // its entry in the script's translation file
  // As last checked: lint finds a problem with its translation; a line of
  // it is over its box.
  bool problem = false;
  bool over = false;
};

// When a file was last written and its size, to tell whether another
// program wrote it since.
struct FileStamp {
  std::filesystem::file_time_type time{};
  std::uintmax_t size = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp stampOf(const std::filesystem::path& path);

struct EditedScript {
  // Its path in the folder, '/' between names: "a/x.kr". Its page is
  // /a/x.kr.html.
  std::string path;
  // Why it cannot be edited ("x.kr.po:12: the entry's source..."); empty
  // when it can.
  std::string failure;
  std::filesystem::path translationsPath;
  std::string translationsName;  // as messages name it
  TranslationFormat format = TranslationFormat::Po;
  Encoding encoding = Encoding::Utf8;
  std::vector<EditedLine> lines;  // in script order, which is the order of their offsets
  // The file has room for translators' comments: a PO file, or a CSV file
  // with their column.
  bool comments = true;
  // The translation file as last read or saved, and what it reads as.
  std::string text;
  TranslationFile file;
  FileStamp stamp;  // of the file when `text` was read or saved
};

// How the game draws and checks its texts.
struct Presentation {
  TextFit fit;  // as inject puts a translation in
  TextBox box;  // lint's width and lines, without a box of the profile
  // The box strings of an opcode are drawn in; null for none.
  std::function<const html::DrawnBox*(std::uint8_t opcode)> boxFor;
  std::vector<const html::DrawnBox*> boxes;  // every box, for their styles and fonts
  double similarity = 0.75;                  // of the memory's suggestions
  const Glossary* glossary = nullptr;        // lint's glossary, when given
};

class Editor {
 public:
  // `token` is the secret every request must carry (at least 128 random
  // bits, in hexadecimal).
  Editor(std::vector<EditedScript> scripts, Presentation presentation, std::string token);
  ~Editor();

  // The port the server listens on, which requests must name as their Host.
  void servedOn(std::uint16_t port);
  http::Response handle(const http::Request& request);

  std::size_t scriptCount() const { return scripts_.size(); }

 private:
  http::Response route(const http::Request& request, std::string_view path, std::string_view query);
  http::Response scriptList() const;
  http::Response search(std::string_view query) const;
  http::Response lines(std::string_view query);
  http::Response suggest(std::string_view query);
  http::Response check(const http::Request& request) const;
  http::Response save(const http::Request& request);
  http::Response font(const html::DrawnBox& box) const;

  // The line of the string at `offset` (eight hexadecimal digits), or null.
  const EditedLine* lineAt(const EditedScript& script, std::string_view offset) const;
  // Takes `text` as what the script's translation file now holds, another
  // program having changed it: false, with the problem, when it no longer
  // reads or no longer holds an entry for each of the script's strings.
  bool reread(EditedScript& script, std::string text, std::string& problem);
  // The script named REL, or null.
  EditedScript* scriptNamed(std::string_view path);
  const EditedScript* scriptNamed(std::string_view path) const;
  // Reads the flags of a line from its entry's translation.
  void recheck(EditedScript& script, EditedLine& line) const;
  // A problem the page shows, from lint's checks and in its words.
  struct ShownProblem {
    bool error = false;
    std::string check;  // "width", "inconsistent", ...
    std::string message;
  };
  // The problems of `target` as the translation of `line`.
  std::vector<ShownProblem> problemsOf(const EditedScript& script, const EditedLine& line,
                                       std::string_view target) const;
  // A line as the page shows it, JSON.
  void writeLine(std::string& out, const EditedScript& script, const EditedLine& line) const;
  // The box and problems of `target` as a translation of `line`, JSON members.
  void writeFit(std::string& out, const EditedScript& script, const EditedLine& line,
                std::string_view target) const;
  void rebuildMemory();

  std::vector<EditedScript> scripts_;
  std::unordered_map<std::string, std::size_t> scriptAt_;
  // Every line of the run by its source, as (script, line): for lint's
  // check of a source translated otherwise elsewhere.
  std::unordered_map<std::string, std::vector<std::pair<std::size_t, std::size_t>>> sameSource_;
  // The translations of names, by the name: who speaks, translated.
  std::unordered_map<std::string, std::string> nameTranslations_;
  Presentation presentation_;
  std::string token_;
  std::uint16_t port_ = 0;
  std::unique_ptr<TranslationMemory> memory_;
  std::unique_ptr<MemorySearch> memorySearch_;
  bool memoryStale_ = true;
};

// 128 bits from the system's secure random source, as 32 hexadecimal
// digits; a problem when there is none to be had.
Expected<std::string> randomToken();

}  // namespace krlist::edit
