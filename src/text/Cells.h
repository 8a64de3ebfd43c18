#pragma once

#include <cstddef>
#include <string_view>

#include "text/Encoding.h"
#include "text/Utf8.h"

namespace krlist {

// How wide text is on a game's screen, in cells: the width of a half-width
// character. A text box of monospace text holds so many cells a line.

// Whether a character is two cells wide by its East Asian Width: Wide (W) or
// Fullwidth (F), as ideographs, kana, fullwidth forms and most emoji are.
bool isWide(char32_t character);

// Whether a character joins the one before it into one grapheme cluster
// and takes no cell of its own: a combining mark (general category Mn, Me or
// Mc, variation selectors among them), the zero-width joiner U+200D, or an
// emoji modifier (a skin tone).
bool isZeroWidth(char32_t character);

// The end of the grapheme cluster of UTF-8 text that starts at `at`: the
// character there, every zero-width character after it, and after a
// zero-width joiner the character it joins (an emoji of several, as a
// family). A line end is never joined. What a text box draws as one
// character is one cluster: it is measured and broken whole.
std::size_t clusterEnd(std::string_view utf8, std::size_t at);

// The cells of a cluster: those of its first character (zero when that is
// itself a mark with nothing to join).
std::size_t clusterCells(std::string_view cluster, Encoding encoding);

// The cells of a character in a script of `encoding`. A CP932 game draws one
// cell per byte (its half-width characters are its one-byte codes), so a
// character takes as many cells as its code has bytes; a UTF-8 game draws
// East Asian wide characters two cells wide and the others one. A character
// CP932 cannot hold is measured as in UTF-8.
std::size_t characterCells(char32_t character, Encoding encoding);

// The cells of a line of UTF-8 text, each grapheme cluster counted with
// clusterCells.
std::size_t textCells(std::string_view utf8, Encoding encoding);

}  // namespace krlist
