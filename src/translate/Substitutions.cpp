#include "translate/Substitutions.h"

#include <unordered_map>

#include "io/TableLines.h"
#include "text/Encoding.h"
#include "text/Utf8.h"

namespace krlist {

Expected<Substitutions> Substitutions::read(std::string_view text, const std::string& fileName) {
  Substitutions table;
  table.fileName_ = fileName;
  std::unordered_map<char32_t, std::size_t> lineOf;
  Expected<void> read = readTableLines(
      text, fileName,
      [&table, &lineOf](std::size_t number, std::string_view line) -> std::optional<std::string> {
        if (line[0] == '#') {
          return std::nullopt;
        }
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) {
          return "no tab: a line is CHARACTER, a tab and its replacement";
        }
        std::size_t after = 0;
        const char32_t character = nextCharacter(line, after);
        if (after != tab) {
          std::string message = "\"";
          message.append(line.substr(0, tab));
          message += "\" is not one character: a line is CHARACTER, a tab and its replacement";
          return message;
        }
        const auto [first, added] = lineOf.try_emplace(character, number);
        if (!added) {
          return describeCharacter(character) + " again, first at line " +
                 std::to_string(first->second);
        }
        table.replacements_.emplace(character,
                                    Replacement{std::string(line.substr(tab + 1)), number});
        return std::nullopt;
      });
  if (!read) {
    return read.problem();
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
