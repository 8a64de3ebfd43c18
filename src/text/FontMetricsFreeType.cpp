// A font's advances read with FreeType, in the font's own units.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H

#include "io/Files.h"
#include "text/FontMetrics.h"

namespace krlist {

namespace {

class FreeTypeFace final : public FontMetrics {
 public:
  FreeTypeFace() = default;
  FreeTypeFace(const FreeTypeFace&) = delete;
  FreeTypeFace& operator=(const FreeTypeFace&) = delete;
  ~FreeTypeFace() override {
    if (face_ != nullptr) {
      FT_Done_Face(face_);
    }
    if (library_ != nullptr) {
      FT_Done_FreeType(library_);
    }
  }

  // Opens face `faceIndex` of the font in `bytes`; the reason when it cannot.
  std::optional<std::string> open(std::string bytes, std::uint32_t faceIndex) {
    bytes_ = std::move(bytes);
    if (!startsLikeFont(bytes_)) {
      return "not a TrueType or OpenType font, nor a collection of them";
    }
    // Each face has a library of its own, so that faces never share state.
    if (FT_Init_FreeType(&library_) != 0) {
      library_ = nullptr;
      return "cannot start the font reader";
    }
    const auto* data = reinterpret_cast<const FT_Byte*>(bytes_.data());
    const auto size = static_cast<FT_Long>(bytes_.size());
    // Face -1 opens nothing but tells how many faces the file has.
    FT_Face probe = nullptr;
    if (FT_New_Memory_Face(library_, data, size, -1, &probe) != 0) {
      return "a damaged font: its tables cannot be read";
    }
    const FT_Long faces = probe->num_faces;
    FT_Done_Face(probe);
    if (faceIndex >= static_cast<std::uint64_t>(faces)) {
      return "face " + std::to_string(faceIndex) + " is out of range: the file has " +
             std::to_string(faces) + (faces == 1 ? " face" : " faces");
    }
    if (FT_New_Memory_Face(library_, data, size, static_cast<FT_Long>(faceIndex), &face_) != 0) {
      face_ = nullptr;
      return "a damaged font: its tables cannot be read";
    }
    if (!FT_IS_SFNT(face_)) {
      return "not a TrueType or OpenType font, nor a collection of them";
    }
    if (FT_Select_Charmap(face_, FT_ENCODING_UNICODE) != 0) {
      return "the font has no Unicode character map";
    }
    if (face_->units_per_EM == 0) {
      return "a damaged font: no units per em";
    }
    return std::nullopt;
  }

  std::uint32_t unitsPerEm() const override { return face_->units_per_EM; }

 protected:
  std::optional<std::uint32_t> readAdvance(char32_t character) override {
    const FT_UInt glyph = FT_Get_Char_Index(face_, character);
    if (glyph == 0) {
      return std::nullopt;
    }
    // Unscaled, the advance is the font's design units from `hmtx`, with no
    // hinting to change it.
    FT_Fixed units = 0;
    if (FT_Get_Advance(face_, glyph, FT_LOAD_NO_SCALE, &units) != 0 || units < 0) {
      return std::nullopt;
    }
    return static_cast<std::uint32_t>(units);
  }

 private:
  std::string bytes_;  // the font file, which FreeType reads in place
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
};

}  // namespace

Expected<std::unique_ptr<FontMetrics>> openFont(const std::filesystem::path& path,
                                                std::uint32_t faceIndex) {
  Expected<std::string> bytes = readFile(path);
  if (!bytes) {
    return bytes.problem();
  }
  auto face = std::make_unique<FreeTypeFace>();
  if (std::optional<std::string> reason = face->open(std::move(*bytes), faceIndex)) {
    return Problem::about(pathToUtf8(path), std::move(*reason));
  }
  return std::unique_ptr<FontMetrics>(std::move(face));
}

}  // namespace krlist
