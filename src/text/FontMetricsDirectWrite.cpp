// A font's advances read with DirectWrite, in the font's own units: the same
// design units that FreeType gives elsewhere, so that both builds measure
// alike.

#include <windows.h>

#include <dwrite.h>

#include <cstdio>
#include <system_error>

#include "io/Files.h"
#include "text/FontMetrics.h"

namespace krlist {

namespace {

// Releases a COM interface when it goes.
template <class Interface>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (pointer_ != nullptr) {
      pointer_->Release();
    }
  }
  Interface** out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

class DirectWriteFace final : public FontMetrics {
 public:
  // Opens face `faceIndex` of the font at `path`; the reason when it cannot.
  std::optional<std::string> open(const std::filesystem::path& path, std::uint32_t faceIndex) {
    // An isolated factory shares no font cache with the rest of the process.
    if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_ISOLATED, __uuidof(IDWriteFactory),
                                   reinterpret_cast<IUnknown**>(factory_.out())))) {
      return "cannot start the font reader";
    }
    // DirectWrite takes a font's full path alone.
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(path, error);
    if (error) {
      full = path;
    }
    Com<IDWriteFontFile> file;
    if (FAILED(factory_->CreateFontFileReference(full.wstring().c_str(), nullptr, file.out()))) {
      return "cannot open the font";
    }
    BOOL supported = FALSE;
    DWRITE_FONT_FILE_TYPE fileType = DWRITE_FONT_FILE_TYPE_UNKNOWN;
    DWRITE_FONT_FACE_TYPE faceType = DWRITE_FONT_FACE_TYPE_UNKNOWN;
    UINT32 faces = 0;
    if (FAILED(file->Analyze(&supported, &fileType, &faceType, &faces)) || !supported ||
        (faceType != DWRITE_FONT_FACE_TYPE_TRUETYPE && faceType != DWRITE_FONT_FACE_TYPE_CFF &&
         faceType != DWRITE_FONT_FACE_TYPE_TRUETYPE_COLLECTION)) {
      return "a damaged font: its tables cannot be read";
    }
    if (faceIndex >= faces) {
      return "face " + std::to_string(faceIndex) + " is out of range: the file has " +
             std::to_string(faces) + (faces == 1 ? " face" : " faces");
    }
    IDWriteFontFile* files[] = {file.get()};
    if (FAILED(factory_->CreateFontFace(faceType, 1, files, faceIndex, DWRITE_FONT_SIMULATIONS_NONE,
                                        face_.out()))) {
      return "a damaged font: its tables cannot be read";
    }
    // A symbol font maps its glyphs to private code points rather than to
    // Unicode, which FreeType's reading refuses alike.
    if (face_->IsSymbolFont()) {
      return "the font has no Unicode character map";
    }
    DWRITE_FONT_METRICS metrics{};
    face_->GetMetrics(&metrics);
    unitsPerEm_ = metrics.designUnitsPerEm;
    if (unitsPerEm_ == 0) {
      return "a damaged font: no units per em";
    }
    return std::nullopt;
  }

  std::uint32_t unitsPerEm() const override { return unitsPerEm_; }

 protected:
  std::optional<std::uint32_t> readAdvance(char32_t character) override {
    const UINT32 codePoint = character;
    UINT16 glyph = 0;
    if (FAILED(face_->GetGlyphIndices(&codePoint, 1, &glyph)) || glyph == 0) {
      return std::nullopt;
    }
    // Design units, straight from `hmtx`: no size, no hinting.
    DWRITE_GLYPH_METRICS metrics{};
    if (FAILED(face_->GetDesignGlyphMetrics(&glyph, 1, &metrics, FALSE))) {
      return std::nullopt;
    }
    return static_cast<std::uint32_t>(metrics.advanceWidth);
  }

 private:
  Com<IDWriteFactory> factory_;
  Com<IDWriteFontFace> face_;
  std::uint32_t unitsPerEm_ = 0;
};

}  // namespace

Expected<std::unique_ptr<FontMetrics>> openFont(const std::filesystem::path& path,
                                                std::uint32_t faceIndex) {
  // The file is opened here first, so that a missing or unreadable font and
  // one that is no font at all are told as in the other build.
  Expected<std::FILE*> file = openInput(path);
  if (!file) {
    return file.problem();
  }
  char start[4] = {};
  const std::size_t got = std::fread(start, 1, sizeof start, *file);
  const bool read = std::ferror(*file) == 0;
  std::fclose(*file);
  if (!read) {
    return Problem::about(pathToUtf8(path), "cannot read the file");
  }
  if (!startsLikeFont(std::string_view(start, got))) {
    return Problem::about(pathToUtf8(path),
                          "not a TrueType or OpenType font, nor a collection of them");
  }
  auto face = std::make_unique<DirectWriteFace>();
  if (std::optional<std::string> reason = face->open(path, faceIndex)) {
    return Problem::about(pathToUtf8(path), std::move(*reason));
  }
  return std::unique_ptr<FontMetrics>(std::move(face));
}

}  // namespace krlist
