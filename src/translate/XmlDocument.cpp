#include "translate/XmlDocument.h"

#include <algorithm>

#include "text/Encoding.h"

namespace krlist {

bool isXmlCharacter(char32_t character) {
  if (character < 0x20) {
    return character == U'\t' || character == U'\n' || character == U'\r';
  }
  return character != 0xFFFE && character != 0xFFFF;
}

void appendXmlEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        out += c;
    }
  }
}

#ifdef KRLIST_XML

namespace {

constexpr auto npos = std::string_view::npos;

// Deeper than any of these files nests (a TMX's tmx, body, tu, tuv, seg and
// inline elements; a sheet's worksheet, sheetData, row, c, is, r, t), and
// shallow enough for the parser, which descends into an element by
// recursion, to stay well within a thread's stack.
constexpr std::size_t kDeepest = 64;

bool isXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Where elements nest deeper than kDeepest: the offset of the opening tag
// that goes too deep, or npos. Tags are read as the parser reads them, so
// that nothing hides a level from this count: comments, CDATA sections and
// processing instructions to their ends, a document type with its bracketed
// subset, any other "<!" to the next '>', and in an element's tag its name
// (to a space, '/', '>' or '?'), then attributes whose values are quoted
// after '='. A text malformed in a way that misleads this count is refused
// by the parser, which reads no further than where it goes wrong.
std::size_t tooDeep(std::string_view text) {
  std::size_t depth = 0;
  for (std::size_t at = text.find('<'); at != npos; at = text.find('<', at)) {
    const std::string_view rest = text.substr(at);
    const auto skipPast = [&](std::string_view end) {
      const std::size_t found = text.find(end, at + 1);
      at = found == npos ? text.size() : found + end.size();
    };
    if (rest.starts_with("<!--")) {
      skipPast("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skipPast("]]>");
    } else if (rest.starts_with("<?")) {
      skipPast("?>");
    } else if (rest.starts_with("<!DOCTYPE")) {
      std::size_t brackets = 0;
      for (++at; at < text.size() && (text[at] != '>' || brackets > 0); ++at) {
        brackets += text[at] == '[' ? 1 : 0;
        brackets -= text[at] == ']' && brackets > 0 ? 1 : 0;
      }
    } else if (rest.starts_with("<!")) {
      skipPast(">");
    } else if (rest.starts_with("</")) {
      depth -= depth > 0 ? 1 : 0;
      skipPast(">");
    } else {
      const std::size_t start = at;
      ++at;
      while (at < text.size() && !isXmlSpace(text[at]) && text[at] != '/' && text[at] != '>' &&
             text[at] != '?') {
        ++at;
      }
      bool closed = false;  // "/>": an element without content
      while (at < text.size() && text[at] != '>') {
        if (text[at] == '/' && at + 1 < text.size() && text[at + 1] == '>') {
          closed = true;
          ++at;
          break;
        }
        if (text[at] == '=') {
          // A value, quoted after any spaces; its quotes hide no tag.
          for (++at; at < text.size() && isXmlSpace(text[at]); ++at) {
          }
          if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
            const std::size_t end = text.find(text[at], at + 1);
            at = end == npos ? text.size() : end + 1;
          }
          continue;
        }
        ++at;
      }
      if (!closed && ++depth > kDeepest) {
        return start;
      }
    }
  }
  return npos;
}

Problem lineProblem(std::size_t line, std::string message) {
  Problem problem;
  problem.where.line = line;
  problem.message = std::move(message);
  return problem;
}

}  // namespace

Expected<void> XmlDocument::parse(std::string_view text) {
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    return lineProblem(1, "the file is UTF-16: save it as UTF-8");
  }
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  // XML reads every line end as a line feed; a carriage return in a text is
  // written as a reference (&#13;), which the parser then puts in.
  buffer_.clear();
  buffer_.reserve(text.size() + 1);
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\r') {
      buffer_.push_back(text[at]);
    } else if (at + 1 == text.size() || text[at + 1] != '\n') {
      buffer_.push_back('\n');
    }
  }
  const std::string_view normalized(buffer_.data(), buffer_.size());
  lineEnds_.clear();
  for (std::size_t at = normalized.find('\n'); at != npos; at = normalized.find('\n', at + 1)) {
    lineEnds_.push_back(at);
  }
  if (const std::size_t bad = findInvalidUtf8Text(normalized); bad != npos) {
    return lineProblem(lineAt(bad),
                       normalized[bad] == '\0' ? "U+0000 in the file" : "invalid UTF-8");
  }
  if (const std::size_t deep = tooDeep(normalized); deep != npos) {
    return lineProblem(lineAt(deep),
                       "elements nested deeper than " + std::to_string(kDeepest) + " levels");
  }
  // The parser ends each name and value it finds with a NUL, in place.
  buffer_.push_back('\0');
  try {
    document_.parse<rapidxml::parse_validate_closing_tags>(buffer_.data());
  } catch (const rapidxml::parse_error& error) {
    return lineProblem(lineAt(static_cast<std::size_t>(error.where<char>() - buffer_.data())),
                       std::string("not well-formed XML: ") + error.what());
  }
  return {};
}

std::size_t XmlDocument::lineAt(std::size_t offset) const {
  return 1 + static_cast<std::size_t>(std::lower_bound(lineEnds_.begin(), lineEnds_.end(), offset) -
                                      lineEnds_.begin());
}

std::size_t XmlDocument::lineOf(const XmlNode& node) const {
  // The parser keeps names in the buffer, where they were read.
  return lineAt(static_cast<std::size_t>(node.name() - buffer_.data()));
}

std::string_view XmlDocument::localName(const XmlNode& node) {
  const std::string_view name(node.name(), node.name_size());
  const std::size_t colon = name.find(':');
  return colon == npos ? name : name.substr(colon + 1);
}

std::optional<std::string_view> XmlDocument::attribute(const XmlNode& node, std::string_view name) {
  const auto* found = node.first_attribute(name.data(), name.size());
  if (found == nullptr) {
    return std::nullopt;
  }
  return std::string_view(found->value(), found->value_size());
}

namespace {

// `from` or the first sibling after it that is an element named `name`.
const XmlNode* elementFrom(const XmlNode* from, std::string_view name) {
  while (from != nullptr &&
         (from->type() != rapidxml::node_element || XmlDocument::localName(*from) != name)) {
    from = from->next_sibling();
  }
  return from;
}

}  // namespace

const XmlNode* XmlDocument::child(const XmlNode& node, std::string_view name) {
  return elementFrom(node.first_node(), name);
}

const XmlNode* XmlDocument::nextSibling(const XmlNode& node, std::string_view name) {
  return elementFrom(node.next_sibling(), name);
}

void XmlDocument::appendText(const XmlNode& node, std::string& out) {
  for (const XmlNode* child = node.first_node(); child != nullptr; child = child->next_sibling()) {
    if (child->type() == rapidxml::node_data || child->type() == rapidxml::node_cdata) {
      out.append(child->value(), child->value_size());
    } else if (child->type() == rapidxml::node_element) {
      appendText(*child, out);
    }
  }
}

#endif

}  // namespace krlist
