#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "format/InstructionList.h"
#include "io/Problem.h"
#include "text/Encoding.h"
#include "translate/LineWrap.h"
#include "translate/ScriptStrings.h"
#include "translate/TranslationChecks.h"

namespace krlist::html {

// A folder of scripts as a static site that a browser opens from disk: no
// server, nothing loaded from elsewhere, and no fetch, which browsers refuse
// for files on disk; what a page's script needs is in .js files it loads
// with <script src>.
//
// Each script at REL in the folder has its pages at SITE/REL.html,
// SITE/REL~2.html, ... (one page unless it is long), each instruction as
// krlist lists it in an element whose id is its offset in eight uppercase
// hexadecimal digits, and the text of its strings, for the search, in
// SITE/REL.strings.js, SITE/REL~2.strings.js, ... SITE/index.html lists the
// scripts and searches them.

// What the index shows of one script.
struct ScriptSummary {
  // The script's path in the folder, parts joined by '/', in UTF-8.
  std::string path;
  // Why the script has no pages ("0xOFFSET: REASON" for one that does not
  // decode); empty when it has.
  std::string failure;
  std::size_t pages = 0;
  std::uint64_t instructions = 0;
  std::uint64_t strings = 0;
  bool hasTranslations = false;
  std::uint64_t translated = 0;
  std::uint64_t fuzzy = 0;
  std::uint64_t untranslated = 0;            // strings neither translated nor fuzzy
  std::uint64_t withProblems = 0;            // strings lint finds a problem with
  bool hasBoxes = false;                     // drawn in the game's text boxes
  std::uint64_t overflowing = 0;             // strings with a line over their box
  std::array<std::uint64_t, 256> opcodes{};  // instructions by opcode
};

// A game's text box as a page draws it: as wide as the box in CSS pixels,
// in the game's font at its size, with the lines inject makes.
struct DrawnBox {
  // How inject wraps a translation in the box and lint checks it: its
  // measure, width, line break and lines.
  const BoxFit* fit = nullptr;
  std::uint32_t width = 0;  // pixels
  std::uint32_t size = 0;   // pixels per em; 0 for a widths table
  // The font, copied into the site; empty for a game's bitmap font, which
  // the page cannot draw: its lines are measured by its widths table and
  // shown in the page's own font.
  std::filesystem::path font;
  // What each placeholder stands for when drawn: shown as that text.
  std::map<std::string, std::string> placeholders;
  std::size_t number = 0;      // from 1: its style, box1, box2...
  std::size_t fontNumber = 0;  // from 1: its font's, shared by boxes of one font
};

// What a script's pages show beside each string for a reviewer, besides
// the translation.
struct Review {
  // lint's problems with the script's translations, in the order of their
  // offsets (Problem::where.offset), and for one offset of their lines.
  const std::vector<EntryProblem>* problems = nullptr;
  // How inject fits a translation into the script (its substitutions and
  // the boxes' wrap), for the lines a box shows.
  const TextFit* fit = nullptr;
  // The box the strings of an opcode are drawn in; none when not given or
  // null.
  std::function<const DrawnBox*(std::uint8_t opcode)> boxFor;
};

// Writes the pages and search data of the script at `path` (as in
// ScriptSummary) into the site folder `site`. `translations`, when given,
// are the script's and match its strings (injectStrings accepts them).
Expected<ScriptSummary> writeScriptPages(const InstructionList& listing, Encoding encoding,
                                         const Translations* translations,
                                         const std::filesystem::path& site, const std::string& path,
                                         const Review& review = {});

// Removes the first `pages` pages of the script at `path` from `site`, and
// their search data: a script that fails has none.
void removeScriptPages(const std::filesystem::path& site, const std::string& path,
                       std::size_t pages);

// Writes SITE/index.html, its style sheet, its search script and the
// filter script of every page, for the scripts in the order given; the fonts
// of `boxes`, as SITE/krscript-font-N.EXT, and their styles; and last the
// site's mark: the file SITE/.krscript-site, which names every file of the
// site, so that a later run can tell what it may replace.
Expected<void> writeSiteFiles(const std::vector<ScriptSummary>& scripts,
                              const std::filesystem::path& site,
                              const std::vector<const DrawnBox*>& boxes = {});

// `after` as changed from `before`, character by character, along a longest
// common run of characters: `run` is called with each piece in order, its
// kind "" for a piece both have, "del" for one `before` has and `after`
// lacks, "ins" for one `after` adds. Texts too long to compare give
// `before` removed whole and `after` added.
void forEachChange(std::string_view before, std::string_view after,
                   const std::function<void(std::string_view kind, std::string_view text)>& run);

// The styles of `boxes`: each box (.box1, .box2...) as wide as the game's, in
// its font at its size, each font loaded from fontFileName beside the style
// sheet.
std::string boxStyles(const std::vector<const DrawnBox*>& boxes);

// The name of font `number` (from 1) of a site, whose file is `font`:
// krscript-font-N with the file's suffix in lowercase.
std::string fontFileName(std::size_t number, const std::filesystem::path& font);

// Whether `name` is that of a file at the top of every site: index.html, the
// files it loads, a font of its boxes and the site's mark.
bool isSiteFile(std::string_view name);

// Nothing when a new site may take the place of what is at `folder`:
// nothing, an empty folder, or a site made before that holds only what its
// run wrote. A site with the mark holds the files the mark names and the
// folders on their way; one made before sites had it, only an index made
// by html and files named as html names them (pages, search data, the
// style sheet and the search script), none hidden. Otherwise the problem
// names what is in the way: "FOLDER: holds FILE, which krscript html did not
// write", or "FOLDER: exists and is not a site made by krscript html".
Expected<void> replaceableSite(const std::filesystem::path& folder);

// No page is larger than this many bytes, nor any file of search data.
inline constexpr std::size_t kMostPageBytes = std::size_t{8} << 20;

}  // namespace krlist::html
