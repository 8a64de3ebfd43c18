#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "io/Problem.h"

namespace krlist {

// A game's glossary: terms and the translation each must keep, as a CSV
// table with the columns `source` and `target` (found by name in the header
// row; more columns, such as a note, are ignored), which is how translation
// platforms export glossaries. A row with an empty source or target (a term
// not translated yet) is passed over.
struct GlossaryTerm {
  std::string source;
  std::string target;
  std::size_t line = 0;  // of its row
  // Written in Japanese or Chinese characters, which put no spaces between
  // words: found anywhere in a source. Any other term is found as a whole
  // word only ("art" is not in "start").
  bool anywhere = false;
  std::string foldedTarget;  // the target in lower case, as translations are searched
};

class Glossary {
 public:
  // Reads a glossary; a table that is not CSV, or lacks a column, is
  // refused with its line. `fileName` names the file in problems and places.
  static Expected<Glossary> read(std::string_view text, const std::string& fileName);

  // The terms that `source` holds and whose target `target` does not hold,
  // in any case, in the glossary's order.
  std::vector<const GlossaryTerm*> missing(std::string_view source, std::string_view target) const;
  // "FILE:LINE" of a term's row.
  std::string placeOf(const GlossaryTerm& term) const;
  // lint's words for a translation `target` that lacks `term`'s target,
  // quoting the translation.
  std::string missingMessage(const GlossaryTerm& term, std::string_view target) const;

  const std::vector<GlossaryTerm>& terms() const { return terms_; }

 private:
  std::string fileName_;
  std::vector<GlossaryTerm> terms_;
};

// Whether a character is written in Japanese or Chinese: kana, the CJK
// ideographs, their symbols and punctuation, and the half- and full-width
// forms.
bool isJapaneseOrChinese(char32_t character);

// Whether `text` holds `word` with no letter or digit of a spaced script
// (Latin, Greek, Cyrillic) right before or after it.
bool holdsWholeWord(std::string_view text, std::string_view word);

// `text` in lower case, for matching that ignores case: the letters of
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
std::string foldCase(std::string_view text);

}  // namespace krlist
