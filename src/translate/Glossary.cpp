#include "translate/Glossary.h"

#include <algorithm>

#include "text/Utf8.h"
#include "translate/CsvFile.h"
#include "translate/TranslationChecks.h"

namespace krlist {

namespace {

constexpr auto npos = std::string_view::npos;

char32_t lower(char32_t c) {
  if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
      (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
    return c + 0x20;
  }
  if (c >= 0x400 && c <= 0x40F) {
    return c + 0x50;
  }
  // Latin Extended-A pairs each capital with the small letter after it,
  // shifted by one at U+0139 to U+0148 and U+0179 to U+017E.
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x178 && c != 0x17F) {
    const bool shifted = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return (c % 2 == (shifted ? 1 : 0)) ? c + 1 : c;
  }
  return c;
}

// A letter or digit of a script that puts spaces between words.
bool isWordCharacter(char32_t c) {
  return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') ||
         c == U'_' || (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) ||
         (c >= 0x370 && c <= 0x3FF) || (c >= 0x400 && c <= 0x4FF);
}

// The character that ends right before byte `end` of `text`.
char32_t characterBefore(std::string_view text, std::size_t end) {
  std::size_t start = end - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  return nextCharacter(text, start);
}

bool writtenInJapaneseOrChinese(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    if (isJapaneseOrChinese(nextCharacter(text, at))) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool isJapaneseOrChinese(char32_t c) {
  return (c >= 0x2E80 && c <= 0x2FDF) ||  // radicals
         (c >= 0x3000 && c <= 0x30FF) ||  // symbols and punctuation, hiragana, katakana
         (c >= 0x3190 && c <= 0x31FF) ||  // kanbun, strokes, katakana extensions
         (c >= 0x3400 && c <= 0x4DBF) ||  // ideographs, extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||  // ideographs
         (c >= 0xF900 && c <= 0xFAFF) ||  // compatibility ideographs
         (c >= 0xFF00 && c <= 0xFFEF) ||  // half- and full-width forms
         (c >= 0x20000 && c <= 0x3FFFF);  // ideographs of the supplementary planes
}

bool holdsWholeWord(std::string_view text, std::string_view word) {
  if (word.empty()) {
    return false;
  }
  for (std::size_t at = text.find(word); at != npos; at = text.find(word, at + 1)) {
    const std::size_t end = at + word.size();
    std::size_t after = end;
    if ((at == 0 || !isWordCharacter(characterBefore(text, at))) &&
        (end == text.size() || !isWordCharacter(nextCharacter(text, after)))) {
      return true;
    }
  }
  return false;
}

std::string foldCase(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const char32_t c = nextCharacter(text, at);
    const char32_t l = lower(c);
    if (l == c) {
      folded.append(text.substr(start, at - start));
    } else {
      appendUtf8(folded, l);
    }
  }
  return folded;
}

Expected<Glossary> Glossary::read(std::string_view text, const std::string& fileName) {
  const auto refuse = [&fileName](std::size_t line, std::string message) {
    Problem problem = Problem::about(fileName, std::move(message));
    problem.where.line = line;
    return problem;
  };
  CsvRows rows(text);
  if (Expected<void> started = rows.start(); !started) {
    return refuse(started.problem().where.line, started.problem().message);
  }
  std::vector<std::string> fields;
  std::size_t line = 0;
  if (!rows.next(fields, line)) {
    return refuse(rows.problem().where.line, rows.problem().message);
  }
  std::size_t columns[2] = {npos, npos};
  const char* const names[2] = {"source", "target"};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    for (std::size_t c = 0; c < 2; ++c) {
      if (isCsvColumnName(fields[i], names[c]) && columns[c] == npos) {
        columns[c] = i;
      }
    }
  }
  for (std::size_t c = 0; c < 2; ++c) {
    if (columns[c] == npos) {
      return refuse(line, std::string("no column \"") + names[c] +
                              "\" in the header row: a glossary has the columns source,target");
    }
  }
  const std::size_t width = fields.size();
  Glossary glossary;
  glossary.fileName_ = fileName;
  while (!rows.atEnd()) {
    if (!rows.next(fields, line)) {
      return refuse(rows.problem().where.line, rows.problem().message);
    }
    if (std::all_of(fields.begin(), fields.end(), [](const auto& f) { return f.empty(); })) {
      continue;
    }
    if (fields.size() != width) {
      return refuse(line, std::string(fields.size() < width ? "missing" : "extra") +
                              " column: the row has " + std::to_string(fields.size()) +
                              " fields, the header " + std::to_string(width));
    }
    GlossaryTerm term;
    term.source = std::move(fields[columns[0]]);
    term.target = std::move(fields[columns[1]]);
    if (term.source.empty() || term.target.empty()) {
      continue;
    }
    term.line = line;
    term.anywhere = writtenInJapaneseOrChinese(term.source);
    term.foldedTarget = foldCase(term.target);
    glossary.terms_.push_back(std::move(term));
  }
  return glossary;
}

std::vector<const GlossaryTerm*> Glossary::missing(std::string_view source,
                                                   std::string_view target) const {
  std::vector<const GlossaryTerm*> found;
  std::string folded;  // the target, folded once one term is in the source
  for (const GlossaryTerm& term : terms_) {
    const bool held =
        term.anywhere ? source.find(term.source) != npos : holdsWholeWord(source, term.source);
    if (!held) {
      continue;
    }
    if (folded.empty()) {
      folded = foldCase(target);
    }
    if (folded.find(term.foldedTarget) == npos) {
      found.push_back(&term);
    }
  }
  return found;
}

std::string Glossary::missingMessage(const GlossaryTerm& term, std::string_view target) const {
  std::string message = "the source holds " + quotedText(term.source) + ", which " + placeOf(term) +
                        " translates " + quotedText(term.target) + ", and the translation does not";
  quoteTranslation(target, message);
  return message;
}

std::string Glossary::placeOf(const GlossaryTerm& term) const {
  return fileName_ + ":" + std::to_string(term.line);
}

}  // namespace krlist
