#include "io/TableLines.h"

#include <algorithm>

#include "text/Encoding.h"

namespace krlist {

Expected<void> readTableLines(
    std::string_view text, const std::string& fileName,
    const std::function<std::optional<std::string>(std::size_t number, std::string_view line)>&
        take) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  if (const std::size_t bad = findInvalidUtf8Text(text); bad != std::string_view::npos) {
    const auto line =
        1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + bad, '\n'));
    return Problem{{fileName, line, 0, {}}, "invalid UTF-8"};
  }
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end;
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty()) {
      continue;
    }
    if (std::optional<std::string> message = take(number, line)) {
      return Problem{{fileName, number, 0, {}}, std::move(*message)};
    }
  }
  return {};
}

}  // namespace krlist
