#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "format/InstructionList.h"
#include "io/Problem.h"
#include "text/Encoding.h"
#include "translate/ScriptStrings.h"

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
  std::array<std::uint64_t, 256> opcodes{};  // instructions by opcode
};

// Writes the pages and search data of the script at `path` (as in
// ScriptSummary) into the site folder `site`. `translations`, when given,
// are the script's and match its strings (injectStrings accepts them).
Expected<ScriptSummary> writeScriptPages(const InstructionList& listing, Encoding encoding,
                                         const Translations* translations,
                                         const std::filesystem::path& site,
                                         const std::string& path);

// Removes the first `pages` pages of the script at `path` from `site`, and
// their search data: a script that fails has none.
void removeScriptPages(const std::filesystem::path& site, const std::string& path,
                       std::size_t pages);

// Writes SITE/index.html, its style sheet and its search script, for the
// scripts in the order given, and last the site's mark: the file
// SITE/.krscript-site, which names every file of the site, so that a later
// run can tell what it may replace.
Expected<void> writeSiteFiles(const std::vector<ScriptSummary>& scripts,
                              const std::filesystem::path& site);

// Whether `name` is that of a file at the top of every site: index.html, the
// files it loads and the site's mark.
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
