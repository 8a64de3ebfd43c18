#include "translate/TmxFile.h"

#include <algorithm>
#include <optional>

#include "text/Encoding.h"
#include "text/Utf8.h"
#include "translate/XmlDocument.h"

namespace krlist {

namespace {

constexpr auto npos = std::string_view::npos;

void appendVariant(std::string& out, std::string_view language, std::string_view text) {
  out += "      <tuv xml:lang=\"";
  appendXmlEscaped(out, language);
  out += "\"><seg>";
  appendXmlEscaped(out, text);
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
  appendXmlEscaped(out, toolVersion);
  out +=
      "\" segtype=\"block\" o-tmf=\"krscript\" adminlang=\"en\" datatype=\"plaintext\" "
      "srclang=\"";
  appendXmlEscaped(out, languages.source);
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

#ifndef KRLIST_XML

Expected<std::vector<MemoryUnit>> readTmx(std::string_view, const std::string& name,
                                          std::string_view) {
  return Problem::about(name, "this build reads no TMX (built without Boost.PropertyTree)");
}

#else

namespace {

using Node = XmlNode;

class TmxReader {
 public:
  TmxReader(std::string_view text, const std::string& name, std::string_view target)
      : text_(text), name_(name), target_(target) {}

  Expected<std::vector<MemoryUnit>> read() {
    if (text_.starts_with("\xFF\xFE") || text_.starts_with("\xFE\xFF")) {
      return problem(1, "the file is UTF-16: save the memory as UTF-8");
    }
    if (Expected<void> parsed = document_.parse(text_); !parsed) {
      std::string message = std::move(parsed.problem().message);
      if (message.starts_with("elements nested")) {
        message += ": this is no TMX file";
      }
      return problem(parsed.problem().where.line, std::move(message));
    }
    const Node* root = document_.root();
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

  std::size_t lineOf(const Node& node) const { return document_.lineOf(node); }

  static std::string_view nameOf(const Node& node) { return XmlDocument::localName(node); }

  static std::optional<std::string_view> attribute(const Node& node, std::string_view name) {
    return XmlDocument::attribute(node, name);
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
  static void appendText(const Node& node, std::string& out) { XmlDocument::appendText(node, out); }

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
  XmlDocument document_;
};

}  // namespace

Expected<std::vector<MemoryUnit>> readTmx(std::string_view text, const std::string& name,
                                          std::string_view targetLanguage) {
  return TmxReader(text, name, targetLanguage).read();
}

#endif

}  // namespace krlist
