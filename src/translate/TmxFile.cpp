#include "translate/TmxFile.h"

#include <algorithm>
#include <optional>

#include "text/Encoding.h"
#include "text/Utf8.h"

#ifdef KRLIST_TMX
// PropertyTree's XML parser, called directly rather than through read_xml:
// read_xml parses with fixed flags, which do not check that a closing tag
// names the element it closes, and throws away where each element lies,
// which messages name.
#include <boost/property_tree/detail/rapidxml.hpp>
#endif

namespace krlist {

namespace {

constexpr auto npos = std::string_view::npos;

// XML 1.0's characters: no C0 control but tab, line feed and carriage
// return, and not U+FFFE or U+FFFF (U+0000 and surrogates are no UTF-8
// text at all).
bool isXmlCharacter(char32_t character) {
  if (character < 0x20) {
    return character == U'\t' || character == U'\n' || character == U'\r';
  }
  return character != 0xFFFE && character != 0xFFFF;
}

void appendEscaped(std::string& out, std::string_view text) {
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

void appendVariant(std::string& out, std::string_view language, std::string_view text) {
  out += "      <tuv xml:lang=\"";
  appendEscaped(out, language);
  out += "\"><seg>";
  appendEscaped(out, text);
  out += "</seg></tuv>\n";
}

}  // namespace

bool fitsTmx(std::string_view text) {
  if (findInvalidUtf8Text(text) != npos) {
    return false;
  }
  for (std::size_t at = 0; at < text.size();) {
    if (!isXmlCharacter(nextCharacter(text, at))) {
      return false;
    }
  }
  return true;
}

std::string writeTmx(const std::vector<MemoryUnit>& units, const TmxLanguages& languages,
                     std::string_view toolVersion, std::size_t& leftOut) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE tmx SYSTEM \"tmx14.dtd\">\n"
      "<tmx version=\"1.4\">\n"
      "  <header creationtool=\"krscript\" creationtoolversion=\"";
  appendEscaped(out, toolVersion);
  out +=
      "\" segtype=\"block\" o-tmf=\"krscript\" adminlang=\"en\" datatype=\"plaintext\" "
      "srclang=\"";
  appendEscaped(out, languages.source);
  out += "\"/>\n  <body>\n";
  leftOut = 0;
  for (const MemoryUnit& unit : units) {
    if (!fitsTmx(unit.source) || !fitsTmx(unit.target)) {
      ++leftOut;
      continue;
    }
    out += "    <tu>\n";
    appendVariant(out, languages.source, unit.source);
    appendVariant(out, languages.target, unit.target);
    out += "    </tu>\n";
  }
  out += "  </body>\n</tmx>\n";
  return out;
}

#ifndef KRLIST_TMX

Expected<std::vector<MemoryUnit>> readTmx(std::string_view, const std::string& name,
                                          std::string_view) {
  return Problem::about(name, "this build reads no TMX (built without Boost.PropertyTree)");
}

#else

namespace {

namespace xml = boost::property_tree::detail::rapidxml;
using Node = xml::xml_node<char>;

// Deeper than any TMX nests (tmx, body, tu, tuv, seg and inline elements
// within one another), and shallow enough for the parser, which descends
// into an element by recursion, to stay well within a thread's stack.
constexpr std::size_t kDeepest = 64;

// Where elements nest deeper than kDeepest: the offset of the opening tag
// that goes too deep, or npos. Tags are found as the parser finds them,
// past comments, CDATA sections, processing instructions, the document type
// and quoted attribute values, so that nothing hides a level from this
// count; a file malformed in a way that misleads it is refused by the parser.
std::size_t tooDeep(std::string_view text) {
  std::size_t depth = 0;
  for (std::size_t at = text.find('<'); at != npos; at = text.find('<', at)) {
    const std::string_view rest = text.substr(at);
    const auto skipPast = [&](std::string_view end) {
      const std::size_t found = text.find(end, at);
      at = found == npos ? text.size() : found + end.size();
    };
    if (rest.starts_with("<!--")) {
      skipPast("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skipPast("]]>");
    } else if (rest.starts_with("<?")) {
      skipPast("?>");
    } else if (rest.starts_with("<!")) {
      // A document type, whose internal subset is bracketed.
      std::size_t brackets = 0;
      for (++at; at < text.size() && (text[at] != '>' || brackets > 0); ++at) {
        brackets += text[at] == '[' ? 1 : 0;
        brackets -= text[at] == ']' && brackets > 0 ? 1 : 0;
      }
    } else if (rest.starts_with("</")) {
      depth -= depth > 0 ? 1 : 0;
      skipPast(">");
    } else {
      const std::size_t start = at;
      char quote = 0;
      for (++at; at < text.size() && (quote != 0 || text[at] != '>'); ++at) {
        if (quote == 0 && (text[at] == '"' || text[at] == '\'')) {
          quote = text[at];
        } else if (text[at] == quote) {
          quote = 0;
        }
      }
      if (at < text.size() && text[at - 1] != '/' && ++depth > kDeepest) {
        return start;
      }
    }
  }
  return npos;
}

class TmxReader {
 public:
  TmxReader(std::string_view text, const std::string& name, std::string_view target)
      : text_(text), name_(name), target_(target) {}

  Expected<std::vector<MemoryUnit>> read() {
    if (text_.starts_with("\xFF\xFE") || text_.starts_with("\xFE\xFF")) {
      return problem(1, "the file is UTF-16: save the memory as UTF-8");
    }
    if (text_.starts_with("\xEF\xBB\xBF")) {
      text_.remove_prefix(3);
    }
    // XML reads every line end as a line feed; a carriage return in a text
    // is written as a reference (&#13;), which the parser then puts in. The
    // parser works in a copy of this text; this one, which it leaves whole,
    // keeps the lines for messages.
    normalized_.reserve(text_.size());
    for (std::size_t at = 0; at < text_.size(); ++at) {
      if (text_[at] != '\r') {
        normalized_ += text_[at];
      } else if (at + 1 == text_.size() || text_[at + 1] != '\n') {
        normalized_ += '\n';
      }
    }
    for (std::size_t at = normalized_.find('\n'); at != npos; at = normalized_.find('\n', at + 1)) {
      lineEnds_.push_back(at);
    }
    if (const std::size_t bad = findInvalidUtf8Text(normalized_); bad != npos) {
      return problem(lineAt(bad),
                     normalized_[bad] == '\0' ? "U+0000 in the file" : "invalid UTF-8");
    }
    if (const std::size_t deep = tooDeep(normalized_); deep != npos) {
      return problem(lineAt(deep), "elements nested deeper than " + std::to_string(kDeepest) +
                                       " levels: this is no TMX file");
    }
    // The parser works in place, ending each name and value with a NUL.
    buffer_.assign(normalized_.begin(), normalized_.end());
    buffer_.push_back('\0');
    xml::xml_document<char> document;
    try {
      document.parse<xml::parse_validate_closing_tags>(buffer_.data());
    } catch (const xml::parse_error& error) {
      return problem(lineAt(static_cast<std::size_t>(error.where<char>() - buffer_.data())),
                     std::string("not well-formed XML: ") + error.what());
    }
    const Node* root = document.first_node();
    if (root == nullptr || nameOf(*root) != "tmx") {
      return problem(root == nullptr ? 1 : lineOf(*root),
                     "not a TMX file: its root element is not <tmx>");
    }
    const Node* header = root->first_node("header");
    const std::optional<std::string_view> language =
        header != nullptr ? attribute(*header, "srclang") : std::nullopt;
    if (!language || language->empty()) {
      return problem(header != nullptr ? lineOf(*header) : lineOf(*root),
                     "the TMX header gives no srclang, the language of the sources");
    }
    std::vector<MemoryUnit> units;
    for (const Node* body = root->first_node("body"); body != nullptr;
         body = body->next_sibling("body")) {
      for (const Node* unit = body->first_node("tu"); unit != nullptr;
           unit = unit->next_sibling("tu")) {
        Expected<void> read = readUnit(*unit, *language, units);
        if (!read) {
          return read.problem();
        }
      }
    }
    return units;
  }

 private:
  Problem problem(std::size_t line, std::string message) const {
    Problem problem = Problem::about(name_, std::move(message));
    problem.where.line = line;
    return problem;
  }

  // The line feeds before `offset`, found among those of the file: a file of
  // many units names the line of each.
  std::size_t lineAt(std::size_t offset) const {
    return 1 +
           static_cast<std::size_t>(std::lower_bound(lineEnds_.begin(), lineEnds_.end(), offset) -
                                    lineEnds_.begin());
  }

  // The parser keeps names in the buffer, where they were read.
  std::size_t lineOf(const Node& node) const {
    return lineAt(static_cast<std::size_t>(node.name() - buffer_.data()));
  }

  static std::string_view nameOf(const Node& node) { return {node.name(), node.name_size()}; }

  static std::optional<std::string_view> attribute(const Node& node, const char* name) {
    const auto* found = node.first_attribute(name);
    if (found == nullptr) {
      return std::nullopt;
    }
    return std::string_view(found->value(), found->value_size());
  }

  // A variant's language: xml:lang, or TMX 1.1's lang.
  static std::optional<std::string_view> languageOf(const Node& variant) {
    std::optional<std::string_view> language = attribute(variant, "xml:lang");
    return language ? language : attribute(variant, "lang");
  }

  // Whether two language codes name one language: "ja", "ja-JP" and "JA_jp"
  // alike. A memory is matched by language, whatever region wrote it.
  static bool sameLanguage(std::string_view a, std::string_view b) {
    const auto primary = [](std::string_view code) {
      return code.substr(0, code.find_first_of("-_"));
    };
    a = primary(a);
    b = primary(b);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
      };
      return lower(x) == lower(y);
    });
  }

  // The text of a <seg>, inline elements taken as the text they hold.
  // Its text nodes, white space alone among them, in document order.
  static void appendText(const Node& node, std::string& out) {
    for (const Node* child = node.first_node(); child != nullptr; child = child->next_sibling()) {
      if (child->type() == xml::node_data || child->type() == xml::node_cdata) {
        out.append(child->value(), child->value_size());
      } else if (child->type() == xml::node_element) {
        appendText(*child, out);
      }
    }
  }

  Expected<void> readUnit(const Node& unit, std::string_view headerLanguage,
                          std::vector<MemoryUnit>& units) const {
    const std::string_view sourceLanguage = attribute(unit, "srclang").value_or(headerLanguage);
    const bool anySource = sourceLanguage == "*all*";
    std::vector<const Node*> variants;
    for (const Node* variant = unit.first_node("tuv"); variant != nullptr;
         variant = variant->next_sibling("tuv")) {
      variants.push_back(variant);
    }
    if (variants.empty()) {
      return {};
    }
    // Tools write the source first, and some name another source language
    // in the header than their units have (po2tmx writes "en" whatever it
    // is told): with no variant in the language named, the first is taken.
    const auto language = [](const Node* variant) { return languageOf(*variant).value_or(""); };
    const Node* source = variants.front();
    if (!anySource) {
      const auto named = std::find_if(variants.begin(), variants.end(), [&](const Node* variant) {
        return sameLanguage(language(variant), sourceLanguage);
      });
      source = named != variants.end() ? *named : source;
    }
    const Node* target = nullptr;
    for (const Node* variant : variants) {
      if (variant != source && (target_.empty() ? !sameLanguage(language(variant), language(source))
                                                : sameLanguage(language(variant), target_))) {
        target = variant;
        break;
      }
    }
    if (target == nullptr) {
      return {};
    }
    MemoryUnit read;
    read.line = lineOf(unit);
    for (const auto& [variant, text] : {std::pair{source, &read.source}, {target, &read.target}}) {
      if (const Node* segment = variant->first_node("seg")) {
        appendText(*segment, *text);
      }
      if (const std::size_t bad = findInvalidUtf8Text(*text); bad != npos) {
        return problem(lineOf(*variant),
                       "a character reference makes " +
                           std::string((*text)[bad] == '\0' ? "U+0000" : "a surrogate") +
                           ", which no text holds");
      }
    }
    if (!read.source.empty() && !read.target.empty()) {
      units.push_back(std::move(read));
    }
    return {};
  }

  std::string_view text_;
  const std::string& name_;
  std::string_view target_;
  std::string normalized_;
  std::vector<std::size_t> lineEnds_;  // where each line feed of normalized_ lies
  std::vector<char> buffer_;
};

}  // namespace

Expected<std::vector<MemoryUnit>> readTmx(std::string_view text, const std::string& name,
                                          std::string_view targetLanguage) {
  return TmxReader(text, name, targetLanguage).read();
}

#endif

}  // namespace krlist
