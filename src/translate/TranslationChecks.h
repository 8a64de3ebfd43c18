#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/Problem.h"
#include "text/Encoding.h"
#include "translate/LineWrap.h"
#include "translate/Substitutions.h"

namespace krlist {

// What is checked of a translation, by `lint` and by `inject`, which refuses
// a file with any error.
enum class Check : std::uint8_t {
  Stale,        // error: the entry's source is not the script's text, or no string lies there
  Unencodable,  // error: the translation holds a character the script's encoding cannot hold
  Width,        // warning: a line is wider than the text box
  Lines,        // warning: more lines than the text box holds
  Markers,      // warning: the placeholders of source and translation differ
  Whitespace,   // warning: leading or trailing spaces differ
  Glyph,        // error: the box's font has no glyph for a character of the translation
  Spreadsheet,  // warning: the translation reads as a value a spreadsheet made of what was typed
};

// The check's short name, as lint prints it: "stale", "unencodable", ...
std::string_view checkName(Check check);
bool isError(Check check);

// One finding about one entry: its line in the translation file, and the
// offset of its string (the entry's offset field) in `where.offset`.
struct EntryProblem {
  Check check;
  Problem problem;
};

// What is done to a translation on its way into a script: characters
// replaced, then lines wrapped to `wrap` cells (0: not wrapped).
struct TextFit {
  const Substitutions* substitutions = nullptr;
  std::size_t wrap = 0;
  // The game's text box that strings of an opcode are drawn in, wrapped to
  // instead of `wrap` cells; null for none. Called from several threads.
  std::function<const BoxFit*(std::uint8_t opcode)> boxFor;
};

// A translation as it goes into a script, as a string of `opcode`.
std::string fitTranslation(std::string_view target, Encoding encoding, const TextFit& fit,
                           std::uint8_t opcode = 0);

// Puts the start of a translation before a message about it, quoted, so that
// the entry is known at a glance: its first line, up to 20 characters, and
// "…" when there is more. Nothing for an empty translation.
void quoteTranslation(std::string_view translation, std::string& message);

// A text quoted in a message: its first line, cut as quoteTranslation cuts,
// in quotes.
std::string quotedText(std::string_view text);

// lint's words for a translation `target` of `source` (a name's, with
// `name`) where the run translates it otherwise too: each of `others`, the
// translations of the source with the place of the first entry that gives
// each ("FILE:LINE"), in the run's order, named but `target` itself, the
// first three of them.
std::string inconsistencyMessage(
    bool name, std::string_view source, std::string_view target,
    const std::vector<std::pair<std::string_view, std::string>>& others);

// One problem for every character of `text` that `encoding` cannot hold,
// each time it occurs.
void checkEncodable(std::string_view text, Encoding encoding, const Location& where,
                    std::vector<EntryProblem>& problems);
// The same for a translation as `substitutions` (which may be null) put it
// into the script: a character that a replacement put in is named with the
// table's line that gives it, where it is to be mended.
void checkEncodable(std::string_view target, Encoding encoding, const Substitutions* substitutions,
                    const Location& where, std::vector<EntryProblem>& problems);

// The size of the game's text box, for the width and lines checks; 0 leaves
// a check out.
struct TextBox {
  std::size_t width = 0;
  std::size_t lines = 0;
};

// What a spreadsheet shows for a value it converted a cell to, when `text`
// reads as one: "a number" (7, -1.5, 1,234), "a percent" (100.00%), "an
// exponent" (1.00E+05), "a date" (01/02/26, 2026-03-01, 1-Mar) or "an error"
// (#NAME?, Err:501); empty otherwise.
std::string_view spreadsheetValue(std::string_view text);

// The most a spreadsheet cell holds, in UTF-16 units, as spreadsheets count:
// what is longer is cut there when the file is opened.
inline constexpr std::size_t kSpreadsheetCellUnits = 32767;

// The length of UTF-8 `text` in UTF-16 units: two for a character past
// U+FFFF, one for any other (and for a byte that starts no character).
std::size_t utf16Units(std::string_view text);

// Whether `cell`, a translation file's source cell that is not the script's
// text `script`, is what a spreadsheet that opened the file made of that
// text rather than the source of another version of the script: the text
// without its carriage returns, which a spreadsheet drops inside a cell; its
// start, when it is longer than a cell holds, cut at kSpreadsheetCellUnits
// (a pair of surrogates cut in two loses its first half too); or a value a
// spreadsheet renders (spreadsheetValue) where the script holds a formula
// ("=1+1" as "2", "=foo" as "#NAME?") or a text the spreadsheet took for a
// value ("007" as "7", "1e5" as "1.00E+05", "1/2" as a date). Of two
// numbers, only the same number written otherwise is the spreadsheet's
// doing: "7" for "8" is another version's.
bool spreadsheetChanged(std::string_view script, std::string_view cell);

// The warnings about a translation, as it goes into the script (`fitted`),
// against its source: width, lines, markers, whitespace, and a translation
// that reads as a spreadsheet's value where its source does not.
void checkPresentation(std::string_view source, std::string_view fitted, Encoding encoding,
                       const TextBox& box, const Location& where,
                       std::vector<EntryProblem>& problems);

// Checks a translation as it goes into a script against the game's text box
// it is drawn in: one Glyph error for each occurrence of a character the
// box's face does not draw (placeholders and line ends are not drawn), and,
// with `widthAndLines`, a Width warning for each line wider than the box's
// checkWidth pixels and a Lines warning past its lines. A line ends at a
// line feed or at the box's line break.
void checkBox(std::string_view fitted, const BoxFit& box, bool widthAndLines, const Location& where,
              std::vector<EntryProblem>& problems);

}  // namespace krlist
