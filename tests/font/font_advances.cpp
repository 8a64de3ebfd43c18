// Prints the advances of a font's characters as this build reads them:
//
//   font_advances FONT FACE RANGE...
//
// where each RANGE is a hex code point or FIRST-LAST. The first line is
// `units-per-em N`; then one line a code point, `U+XXXX ADVANCE`, or
// `U+XXXX none` when the face has no glyph for it. A font that cannot be
// opened prints its problem and exits with 1; bad arguments exit with 2.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/Files.h"
#include "text/FontMetrics.h"

namespace {

bool parseHex(const std::string& text, unsigned long& out) {
  char* end = nullptr;
  out = std::strtoul(text.c_str(), &end, 16);
  return !text.empty() && *end == '\0' && out <= 0x10FFFF;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: font_advances FONT FACE RANGE...\n");
    return 2;
  }
  unsigned long face = 0;
  char* end = nullptr;
  face = std::strtoul(argv[2], &end, 10);
  if (*end != '\0') {
    std::fprintf(stderr, "font_advances: the face is a whole number\n");
    return 2;
  }
  krlist::Expected<std::unique_ptr<krlist::FontMetrics>> font =
      krlist::openFont(krlist::pathFromUtf8(argv[1]), static_cast<std::uint32_t>(face));
  if (!font) {
    std::fprintf(stderr, "%s\n", font.problem().describe().c_str());
    return 1;
  }
  std::printf("units-per-em %u\n", static_cast<unsigned>((*font)->unitsPerEm()));
  for (int at = 3; at < argc; ++at) {
    const std::string range = argv[at];
    const std::size_t dash = range.find('-');
    unsigned long first = 0;
    unsigned long last = 0;
    if (!parseHex(range.substr(0, dash), first) ||
        !parseHex(dash == std::string::npos ? range : range.substr(dash + 1), last) ||
        last < first) {
      std::fprintf(stderr, "font_advances: %s is not a hex code point or FIRST-LAST\n",
                   range.c_str());
      return 2;
    }
    for (unsigned long code = first; code <= last; ++code) {
      const std::optional<std::uint32_t> advance = (*font)->advance(static_cast<char32_t>(code));
      if (advance) {
        std::printf("U+%04lX %u\n", code, static_cast<unsigned>(*advance));
      } else {
        std::printf("U+%04lX none\n", code);
      }
    }
  }
  return 0;
}
