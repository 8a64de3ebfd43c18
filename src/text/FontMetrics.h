#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "io/Problem.h"

namespace krlist {

// The widths of characters as a game draws them: the advances of a TrueType
// or OpenType face, or a table of pixel widths for a game that draws its own
// bitmap font.
//
// A font's advances are its design units (the `hmtx` table: no kerning, no
// hinting), the same on every system whichever library reads them, so that
// a line measures the same everywhere. Widths are kept as whole units and a
// line's sum compared with exact integer arithmetic; pixels are only ever
// worked out at the end, rounded up. A character the face lacks adds nothing
// to a line and is listed (TextWidth::missing) for the checks to report.
class FontMetrics {
 public:
  FontMetrics() = default;
  FontMetrics(FontMetrics&&) = default;
  FontMetrics& operator=(FontMetrics&&) = default;
  virtual ~FontMetrics() = default;

  // The design units in an em. A widths table gives 1: its units are pixels.
  virtual std::uint32_t unitsPerEm() const = 0;
  // True for a widths table, whose pixels are those of the one size the game
  // draws, so that a box's `size` does not scale them.
  virtual bool fixedSize() const { return false; }

  // The advance of a character in design units; nullopt when the face has no
  // glyph for it (a font maps it to glyph 0, or a widths table neither lists
  // it nor has a default). Each character is read from the face once and
  // kept, so that every box and every size measured in the face shares what
  // was read. Not to be called from two threads at once.
  std::optional<std::uint32_t> advance(char32_t character);

 protected:
  // What advance() asks of the face, once a character.
  virtual std::optional<std::uint32_t> readAdvance(char32_t character) = 0;

 private:
  static constexpr std::int32_t kUnknown = -1;
  static constexpr std::int32_t kNoGlyph = -2;
  static constexpr std::size_t kPageBits = 8;
  using Page = std::array<std::int32_t, std::size_t{1} << kPageBits>;
  // The advances read so far, by code point, in pages made when first
  // needed: kUnknown for one not yet read, kNoGlyph for one the face lacks.
  std::vector<std::unique_ptr<Page>> pages_;
};

// The largest advance and `size`: what a font's 16-bit fields hold (and an em
// has at most 16384 units). With the sum of a line kept below 2^47 units,
// every product below stays inside 64 bits.
inline constexpr std::uint32_t kMaxAdvance = 0xFFFF;
inline constexpr std::uint32_t kMaxPixelsPerEm = 0xFFFF;

// Whether a file's first bytes are those of a TrueType or OpenType font or a
// collection of them: the only fonts both builds read alike.
bool startsLikeFont(std::string_view firstBytes);

// Opens face `faceIndex` of a TrueType font (.ttf), an OpenType font (.otf)
// or a collection of them (.ttc, .otc), with FreeType or with DirectWrite,
// whichever the build has. A file that cannot be read, is not such a font or
// has no face `faceIndex` is refused with its path and the reason.
Expected<std::unique_ptr<FontMetrics>> openFont(const std::filesystem::path& path,
                                                std::uint32_t faceIndex);

// The widths of a game's own bitmap font: UTF-8 text, one character a line,
//
//   CHARACTER<TAB>PIXELS
//
// with PIXELS a whole number from 0 to 65535. A line whose first character is
// not followed by a tab and that starts with '#' is a comment (so "#<TAB>7"
// gives '#' its width); empty lines are skipped. A character the table does
// not list takes `defaultWidth`, or has no glyph when there is none.
class WidthsTable final : public FontMetrics {
 public:
  // Reads a table; a line that is none of the above, or that gives a
  // character again, is refused with its line. `fileName` names the file in
  // the problem.
  static Expected<WidthsTable> read(std::string_view text, const std::string& fileName,
                                    std::optional<std::uint32_t> defaultWidth);

  std::uint32_t unitsPerEm() const override { return 1; }
  bool fixedSize() const override { return true; }

 protected:
  std::optional<std::uint32_t> readAdvance(char32_t character) override;

 private:
  std::unordered_map<char32_t, std::uint32_t> widths_;
  std::optional<std::uint32_t> default_;
};

// The width of a run of text in a face at one size.
struct TextWidth {
  std::uint64_t units = 0;  // the sum of the advances of the characters the face has
  // The characters the face has no glyph for, each once, in the order they
  // first come: they add nothing to `units`.
  std::vector<char32_t> missing;
};

// Measures text in one face at one size: cheap to make, one per box, since
// the face keeps what it has read.
class TextMeasure {
 public:
  // `pixelsPerEm` is a box's `size`, from 1 to kMaxPixelsPerEm; a widths
  // table, whose pixels are already its size's, takes no size.
  TextMeasure(std::shared_ptr<FontMetrics> face, std::uint32_t pixelsPerEm);
  explicit TextMeasure(std::shared_ptr<FontMetrics> face) : TextMeasure(std::move(face), 1) {}

  // The advance of one character in design units, or nullopt when the face
  // has none.
  std::optional<std::uint32_t> advance(char32_t character) { return face_->advance(character); }

  // The width of `utf8`, every character counted, line feeds too: the caller
  // splits lines. A byte that starts no character counts as U+FFFD.
  TextWidth measure(std::string_view utf8) const;

  // Whether a run of that width fits in `pixels`: units × size ≤ pixels ×
  // units per em, exactly.
  bool fits(const TextWidth& width, std::uint64_t pixels) const;
  // The width in pixels, rounded up to a whole pixel: a run fits in `pixels`
  // exactly when this is at most `pixels`.
  std::uint64_t pixels(const TextWidth& width) const;

 private:
  std::shared_ptr<FontMetrics> face_;
  std::uint64_t scale_;  // pixels per em, or 1 for a widths table
  std::uint64_t perEm_;  // design units per em
};

}  // namespace krlist
