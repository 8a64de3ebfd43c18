#include "translate/Substitutions.h"

#include <unordered_map>

#include "text/Cells.h"
#include "text/Encoding.h"
#include "translate/TranslationFile.h"

namespace krlist {

Expected<Substitutions> Substitutions::read(std::string_view text, const std::string& fileName) {
  Substitutions table;
  table.fileName_ = fileName;
  std::unordered_map<char32_t, std::size_t> lineOf;
  const auto refuse = [&fileName](std::size_t line, std::string message) {
    return Problem{{fileName, line, 0, {}}, std::move(message)};
  };
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);  // a byte-order mark, as some editors save UTF-8
  }
  if (const std::size_t bad = findInvalidUtf8Text(text); bad != std::string_view::npos) {
    return refuse(translation::lineAt(text, bad), "invalid UTF-8");
  }
  std::size_t lineNumber = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end;
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty() || line[0] == '#') {
      continue;
    }
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) {
      return refuse(lineNumber, "no tab: a line is CHARACTER, a tab and its replacement");
    }
    std::size_t after = 0;
    const char32_t character = nextCharacter(line, after);
    if (after != tab) {
      std::string message = "\"";
      message.append(line.substr(0, tab));
      message += "\" is not one character: a line is CHARACTER, a tab and its replacement";
      return refuse(lineNumber, std::move(message));
    }
    const auto [first, added] = lineOf.try_emplace(character, lineNumber);
    if (!added) {
      return refuse(lineNumber, describeCharacter(character) + " again, first at line " +
                                    std::to_string(first->second));
    }
    table.replacements_.emplace(character,
                                Replacement{std::string(line.substr(tab + 1)), lineNumber});
  }
  return table;
}

std::string Substitutions::apply(std::string_view utf8) const {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t start = at;
    const auto found = replacements_.find(nextCharacter(utf8, at));
    if (found == replacements_.end()) {
      out.append(utf8.substr(start, at - start));
    } else {
      out += found->second.text;
    }
  }
  return out;
}

const Substitutions::Replacement* Substitutions::find(char32_t character) const {
  const auto found = replacements_.find(character);
  return found == replacements_.end() ? nullptr : &found->second;
}

std::string Substitutions::placeOf(const Replacement& replacement) const {
  return fileName_ + ":" + std::to_string(replacement.line);
}

}  // namespace krlist
