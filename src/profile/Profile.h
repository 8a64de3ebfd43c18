#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/Problem.h"
#include "text/Encoding.h"
#include "text/FontMetrics.h"

namespace krlist {

// A game's profile: what krscript is to know of a game's scripts that the
// scripts do not say, kept in a file `krscript.toml` in the scripts' folder
// or the nearest folder above it.
//
//   encoding = "cp932"            # the scripts' text encoding
//   language = "en"               # the language translated into
//   include = ["scenario/**"]     # the files of a folder run (patterns as
//   exclude = ["**/test_*"]       #   the command line's --include, --exclude)
//   substitute = "subst.txt"      # a table of characters to replace
//   glossary = "names.csv"        # terms lint checks translations keep
//   source-language = "ja"        # the language of the scripts' texts
//
//   [box]                         # the text box most strings are drawn in
//   font = "fonts/game.ttf"       # a TrueType or OpenType font or collection,
//   font-index = 0                #   and its face in a collection
//   size = 24                     # pixels per em
//   width = 600                   # pixels a line holds
//   lines = 3                     # lines a box holds
//   line-break = "\n"             # the text the game takes as a line break
//
//   [box.placeholders]            # what a placeholder stands for when drawn,
//   "%name%" = "Alexander"        #   measured as that text
//
//   [box.opcode.1C]               # strings of opcode 1C, drawn elsewhere:
//   width = 300                   #   any key of [box], the rest from [box]
//
// A box may give `widths = "FILE"` instead of a font, for a game that draws
// its own bitmap font (text/FontMetrics.h's WidthsTable), with `default = N`
// for the characters the file does not list.
//
// Paths are relative to the profile's own folder. Every key is checked: one
// the profile does not know, a value of the wrong type or out of range, and a
// font or widths table that cannot be read are refused.

// One text box, with what an opcode's box does not give taken from [box].
struct TextBox {
  // The face: a font file and the face in it, or a widths table.
  std::filesystem::path font;  // empty when the box has a widths table
  std::uint32_t fontIndex = 0;
  std::filesystem::path widths;               // empty when the box has a font
  std::optional<std::uint32_t> defaultWidth;  // with a widths table only
  std::uint32_t size = 0;                     // pixels per em; 0 with a widths table
  std::uint32_t width = 0;                    // pixels
  std::optional<std::uint32_t> lines;         // none: as many as the text has
  std::string lineBreak = "\n";
  // Each placeholder and the text it stands for, those of [box] with an
  // opcode's own added or put in their place.
  std::map<std::string, std::string> placeholders;

  // The face, opened when the profile is read; boxes with the same face share
  // it. A TextMeasure made from it measures in this box's size.
  std::shared_ptr<FontMetrics> face;
  TextMeasure measure() const { return TextMeasure(face, size); }
};

struct Profile {
  std::filesystem::path file;  // the profile itself
  std::optional<Encoding> encoding;
  std::optional<std::string> language;
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  std::optional<std::filesystem::path> substitute;
  std::optional<std::filesystem::path> glossary;
  std::optional<std::string> sourceLanguage;
  std::optional<TextBox> box;               // [box]
  std::map<std::uint8_t, TextBox> opcodes;  // [box.opcode.XX], by opcode

  // The box that strings of `opcode` are drawn in: its own, or [box]; none
  // when the profile has no box.
  const TextBox* boxFor(std::uint8_t opcode) const;
};

// Reads the profile in `text`, which was read from `file`: its paths are
// taken relative to `file`'s folder. A problem that TOML places is told as
// FILE:LINE:COLUMN; one with a font or widths table names that file.
Expected<Profile> parseProfile(std::string_view text, const std::filesystem::path& file);

// Reads the profile at `file`.
Expected<Profile> readProfile(const std::filesystem::path& file);

// The profile that governs the scripts in `folder`: `krscript.toml` there or
// in the nearest folder above it, up to the root; nullopt when there is none.
// `folder` is made absolute first, so that a relative one looks above too.
std::optional<std::filesystem::path> findProfile(const std::filesystem::path& folder);

inline constexpr std::string_view kProfileName = "krscript.toml";

}  // namespace krlist
