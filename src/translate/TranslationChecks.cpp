#include "translate/TranslationChecks.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "text/Cells.h"
#include "text/Utf8.h"
#include "translate/LineWrap.h"
#include "translate/Placeholders.h"

namespace krlist {

namespace {

bool isSpace(char32_t character) {
  return character == U' ' || character == U'\t' || character == U'\u3000';
}

// The white space characters at the start of `text`, and at its end.
std::size_t leadingSpaces(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size() && isSpace(nextCharacter(text, at));) {
    ++count;
  }
  return count;
}

std::size_t trailingSpaces(std::string_view text) {
  std::size_t count = 0;
  std::size_t end = text.size();
  while (end > 0) {
    std::size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    std::size_t at = start;
    if (!isSpace(nextCharacter(text, at))) {
      break;
    }
    ++count;
    end = start;
  }
  return count;
}

// The placeholders of `from` that `other` lacks, each as often as it lacks
// it, quoted and in order.
std::string missingFrom(std::vector<std::string_view> from, std::vector<std::string_view> other) {
  std::string listed;
  for (const std::string_view placeholder : from) {
    const auto found = std::find(other.begin(), other.end(), placeholder);
    if (found != other.end()) {
      other.erase(found);
      continue;
    }
    listed += (listed.empty() ? "\"" : ", \"") + std::string(placeholder) + "\"";
  }
  return listed;
}

Problem at(const Location& where, std::string message) {
  return Problem{where, std::move(message)};
}

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string_view checkName(Check check) {
  switch (check) {
    case Check::Stale:
      return "stale";
    case Check::Unencodable:
      return "unencodable";
    case Check::Width:
      return "width";
    case Check::Lines:
      return "lines";
    case Check::Markers:
      return "markers";
    case Check::Spreadsheet:
      return "spreadsheet";
    case Check::Whitespace:
      return "whitespace";
    case Check::Glyph:
      return "glyph";
  }
  return "";
}

bool isError(Check check) {
  return check == Check::Stale || check == Check::Unencodable || check == Check::Glyph;
}

std::string fitTranslation(std::string_view target, Encoding encoding, const TextFit& fit,
                           std::uint8_t opcode) {
  std::string text = fit.substitutions != nullptr && !fit.substitutions->empty()
                         ? fit.substitutions->apply(target)
                         : std::string(target);
  if (const BoxFit* box = fit.boxFor ? fit.boxFor(opcode) : nullptr; box != nullptr && box->wrap) {
    text = wrapText(text, *box->measure, box->width, box->lineBreak);
  } else if (fit.wrap > 0) {
    text = wrapText(text, fit.wrap, encoding);
  }
  return text;
}

void quoteTranslation(std::string_view translation, std::string& message) {
  if (translation.empty()) {
    return;
  }
  constexpr std::size_t kShown = 20;  // grapheme clusters
  const std::size_t lineEnd = std::min(translation.find('\n'), translation.size());
  std::size_t end = 0;
  for (std::size_t shown = 0; end < lineEnd && shown < kShown; ++shown) {
    end = std::min(clusterEnd(translation, end), lineEnd);
  }
  std::string quoted = "\"";
  quoted.append(translation.substr(0, end));
  quoted += end < translation.size() ? "\u2026\": " : "\": ";
  message.insert(0, quoted);
}

std::string quotedText(std::string_view text) {
  std::string quote;
  quoteTranslation(text, quote);
  return quote.empty() ? "\"\"" : quote.substr(0, quote.size() - 2);
}

std::string inconsistencyMessage(
    bool name, std::string_view source, std::string_view target,
    const std::vector<std::pair<std::string_view, std::string>>& others) {
  constexpr std::size_t kNamed = 3;
  std::string message = std::string(name ? "name " : "") + quotedText(source) + " is translated " +
                        quotedText(target) + " here, and elsewhere";
  std::size_t named = 0;
  for (const auto& [other, place] : others) {
    if (other == target || ++named > kNamed) {
      continue;
    }
    message += (named == 1 ? " " : ", ") + quotedText(other) + " (" + place + ")";
  }
  if (named > kNamed) {
    message += " and " + std::to_string(named - kNamed) + " more";
  }
  return message;
}

namespace {

// Hands `visit` each character of `text` that `encoding` cannot hold, in
// order: encodeText stops at the first, so each search goes on after it.
template <typename Visit>
void forEachUnencodable(std::string_view text, Encoding encoding, Visit visit) {
  std::string encoded;
  for (std::size_t from = 0; from < text.size();) {
    encoded.clear();
    const auto bad = encodeText(encoding, text.substr(from), encoded);
    if (!bad) {
      return;
    }
    visit(bad->character);
    from += bad->offset;
    (void)nextCharacter(text, from);
  }
}

}  // namespace

void checkEncodable(std::string_view target, Encoding encoding, const Substitutions* substitutions,
                    const Location& where, std::vector<EntryProblem>& problems) {
  if (substitutions == nullptr || substitutions->empty()) {
    checkEncodable(target, encoding, where, problems);
    return;
  }
  std::string encoded;
  if (!encodeText(encoding, substitutions->apply(target), encoded)) {
    return;
  }
  // Character by character, to tell the translation's own characters from
  // those the table put in.
  for (std::size_t next = 0; next < target.size();) {
    const std::size_t start = next;
    const char32_t character = nextCharacter(target, next);
    const Substitutions::Replacement* replacement = substitutions->find(character);
    if (replacement == nullptr) {
      checkEncodable(target.substr(start, next - start), encoding, where, problems);
      continue;
    }
    forEachUnencodable(replacement->text, encoding, [&](char32_t bad) {
      problems.push_back(
          {Check::Unencodable,
           at(where, "the substitution table's line " + substitutions->placeOf(*replacement) +
                         " puts " + describeCharacter(bad) + " in place of " +
                         describeCharacter(character) + ", which " +
                         std::string(encodingName(encoding)) + " cannot hold")});
    });
  }
}

void checkEncodable(std::string_view text, Encoding encoding, const Location& where,
                    std::vector<EntryProblem>& problems) {
  forEachUnencodable(text, encoding, [&](char32_t bad) {
    problems.push_back({Check::Unencodable,
                        at(where, "the translation holds " + describeCharacter(bad) + ", which " +
                                      std::string(encodingName(encoding)) + " cannot hold")});
  });
}

namespace {

// Reading what a spreadsheet shows of a value, one piece after another.
class ValueText {
 public:
  explicit ValueText(std::string_view text) : text_(text) {}

  bool atEnd() const { return at_ == text_.size(); }
  bool take(char c) {
    return takeIf([c](char d) { return d == c; });
  }
  bool takeAny(std::string_view chars) {
    return takeIf([chars](char d) { return chars.find(d) != std::string_view::npos; });
  }
  // From `least` to `most` digits; false, taking none, for fewer.
  bool digits(std::size_t least = 1, std::size_t most = std::string_view::npos) {
    std::size_t count = 0;
    while (count < most && at_ + count < text_.size() && isDigit(text_[at_ + count])) {
      ++count;
    }
    if (count < least) {
      return false;
    }
    at_ += count;
    return true;
  }
  // One of the month's abbreviations, in any case.
  bool month() {
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text_.size() - at_ < 3) {
      return false;
    }
    std::string word(text_.substr(at_, 3));
    for (char& c : word) {
      c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    }
    if (std::find(std::begin(kMonths), std::end(kMonths), word) == std::end(kMonths)) {
      return false;
    }
    at_ += 3;
    return true;
  }
  bool word(std::string_view w) {
    if (!text_.substr(at_).starts_with(w)) {
      return false;
    }
    at_ += w.size();
    return true;
  }
  // Tries `read` from here, and goes back when it fails.
  template <class Read>
  bool attempt(Read read) {
    const std::size_t from = at_;
    if (read()) {
      return true;
    }
    at_ = from;
    return false;
  }

 private:
  static bool isDigit(char c) { return c >= '0' && c <= '9'; }
  template <class Test>
  bool takeIf(Test test) {
    if (at_ < text_.size() && test(text_[at_])) {
      ++at_;
      return true;
    }
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// Whether all of `text` is read by `read`.
template <class Read>
bool readsAs(std::string_view text, Read read) {
  ValueText value(text);
  return read(value) && value.atEnd();
}

// Digits with a decimal part or none: 7, 0.50, 1,5.
bool decimal(ValueText& v) {
  return v.digits() && (v.attempt([&] { return v.takeAny(".,") && v.digits(); }) || true);
}

bool isNumber(std::string_view text) {
  // 1,234 in groups of three, or digits with a decimal part.
  const auto grouped = [](ValueText& v) {
    v.takeAny("+-");
    if (!v.digits(1, 3) || !v.attempt([&] { return v.take(',') && v.digits(3, 3); })) {
      return false;
    }
    while (v.attempt([&] { return v.take(',') && v.digits(3, 3); })) {
    }
    v.attempt([&] { return v.takeAny(".,") && v.digits(); });
    return true;
  };
  return readsAs(text, grouped) || readsAs(text, [](ValueText& v) {
           v.takeAny("+-");
           return decimal(v);
         });
}

bool isPercent(std::string_view text) {
  return readsAs(text, [](ValueText& v) {
    v.takeAny("+-");
    return decimal(v) && (v.take(' ') || true) && v.take('%');
  });
}

bool isExponent(std::string_view text) {
  return readsAs(text, [](ValueText& v) {
    v.takeAny("+-");
    return decimal(v) && v.takeAny("Ee") && (v.takeAny("+-") || true) && v.digits();
  });
}

bool isDate(std::string_view text) {
  // 01/02/26, 2026-03-01, 1.2.2026; 1-Mar, 1 Mar 2026; Mar 1.
  const auto numeric = [](ValueText& v) {
    return v.digits(1, 4) && v.takeAny("-/.") && v.digits(1, 2) && v.takeAny("-/.") &&
           v.digits(1, 4);
  };
  const auto dayFirst = [](ValueText& v) {
    return v.digits(1, 2) && v.takeAny("- ") && v.month() &&
           (v.attempt([&] { return v.takeAny("- ") && v.digits(2, 4); }) || true);
  };
  const auto monthFirst = [](ValueText& v) {
    return v.month() && v.takeAny("- ") && v.digits(1, 2);
  };
  return readsAs(text, numeric) || readsAs(text, dayFirst) || readsAs(text, monthFirst);
}

bool isError(std::string_view text) {
  static constexpr std::string_view kErrors[] = {"#NAME?", "#VALUE!", "#REF!", "#DIV/0!",
                                                 "#N/A",   "#NUM!",   "#NULL!"};
  return std::find(std::begin(kErrors), std::end(kErrors), text) != std::end(kErrors) ||
         readsAs(text, [](ValueText& v) { return v.word("Err:") && v.digits(3, 3); });
}

}  // namespace

std::string_view spreadsheetValue(std::string_view text) {
  // What a spreadsheet shows is short; a translation of a sentence is never
  // taken for one.
  if (text.size() > 32) {
    return {};
  }
  if (isNumber(text)) {
    return "a number";
  }
  if (isPercent(text)) {
    return "a percent";
  }
  if (isExponent(text)) {
    return "an exponent";
  }
  if (isDate(text)) {
    return "a date";
  }
  if (isError(text)) {
    return "an error";
  }
  return {};
}

std::size_t utf16Units(std::string_view text) {
  std::size_t units = 0;
  for (std::size_t next = 0; next < text.size();) {
    units += nextCharacter(text, next) > 0xFFFF ? 2 : 1;
  }
  return units;
}

bool spreadsheetChanged(std::string_view script, std::string_view cell) {
  if (script == cell) {
    return false;
  }
  if (script.find('\r') != std::string_view::npos) {
    std::string withoutReturns(script);
    std::erase(withoutReturns, '\r');
    if (withoutReturns == cell) {
      return true;
    }
  }
  // Cut where the cell is full: the cell is the script's start, and the
  // script goes on past what a cell holds.
  if (script.starts_with(cell) && script.size() > cell.size()) {
    const std::size_t units = utf16Units(cell);
    if (units == kSpreadsheetCellUnits) {
      return true;
    }
    std::size_t next = cell.size();
    if (units == kSpreadsheetCellUnits - 1 && nextCharacter(script, next) > 0xFFFF) {
      return true;
    }
  }
  if (spreadsheetValue(cell).empty()) {
    return false;
  }
  // A number shown otherwise is the same number ("007" as "7", "1,234" as
  // "1234", "0.50" as "0.5"); another number is another version's.
  if (isNumber(script) && isNumber(cell)) {
    const auto valueOf = [](std::string_view number) {
      std::string digits(number);
      std::erase(digits, ',');
      return std::strtod(digits.c_str(), nullptr);
    };
    return valueOf(script) == valueOf(cell);
  }
  // What a spreadsheet takes for a value as it reads a cell goes beyond what
  // it shows of one: a day and a month ("1/2", "3-4") become a date.
  return script.starts_with('=') || !spreadsheetValue(script).empty() ||
         readsAs(script,
                 [](ValueText& v) { return v.digits(1, 2) && v.takeAny("-/") && v.digits(1, 2); });
}

void checkPresentation(std::string_view source, std::string_view fitted, Encoding encoding,
                       const TextBox& box, const Location& where,
                       std::vector<EntryProblem>& problems) {
  if (box.width > 0) {
    std::size_t line = 1;
    for (std::size_t start = 0; start <= fitted.size(); ++line) {
      const std::size_t end = std::min(fitted.find('\n', start), fitted.size());
      const std::size_t cells = lineCells(fitted.substr(start, end - start), encoding);
      if (cells > box.width) {
        problems.push_back(
            {Check::Width, at(where, "line " + std::to_string(line) + " of the translation is " +
                                         plural(cells, "cell", "cells") + " wide, more than " +
                                         std::to_string(box.width))});
      }
      start = end + 1;
    }
  }
  if (box.lines > 0) {
    const std::size_t lines = measureText(fitted, encoding).lines;
    if (lines > box.lines) {
      problems.push_back(
          {Check::Lines, at(where, "the translation has " + std::to_string(lines) +
                                       " lines, more than " + std::to_string(box.lines))});
    }
  }
  const std::vector<std::string_view> sourceMarkers = findPlaceholders(source);
  const std::vector<std::string_view> targetMarkers = findPlaceholders(fitted);
  const std::string missing = missingFrom(sourceMarkers, targetMarkers);
  const std::string extra = missingFrom(targetMarkers, sourceMarkers);
  if (!missing.empty() || !extra.empty()) {
    std::string message = "the placeholders differ from the source's:";
    if (!missing.empty()) {
      message += " the translation lacks " + missing;
    }
    if (!extra.empty()) {
      message += std::string(missing.empty() ? "" : ";") + " the translation adds " + extra;
    }
    problems.push_back({Check::Markers, at(where, message)});
  }
  const std::size_t sourceLeading = leadingSpaces(source);
  const std::size_t targetLeading = leadingSpaces(fitted);
  if (sourceLeading != targetLeading) {
    problems.push_back(
        {Check::Whitespace,
         at(where, "the source starts with " + plural(sourceLeading, "space", "spaces") +
                       ", the translation with " + std::to_string(targetLeading))});
  }
  const std::size_t sourceTrailing = trailingSpaces(source);
  const std::size_t targetTrailing = trailingSpaces(fitted);
  if (sourceTrailing != targetTrailing) {
    problems.push_back(
        {Check::Whitespace,
         at(where, "the source ends with " + plural(sourceTrailing, "space", "spaces") +
                       ", the translation with " + std::to_string(targetTrailing))});
  }
  // A spreadsheet that took a typed cell for a value shows it as one, and
  // saves what it shows: "007" comes back as "7", "1/2" as a date.
  if (const std::string_view value = spreadsheetValue(fitted);
      !value.empty() && spreadsheetValue(source).empty()) {
    problems.push_back(
        {Check::Spreadsheet,
         at(where, "the translation reads as a spreadsheet's rendering of " + std::string(value) +
                       ", which the source is not: a spreadsheet may have converted what was "
                       "typed (keep the column as text)")});
  }
}

void checkBox(std::string_view fitted, const BoxFit& box, bool widthAndLines, const Location& where,
              std::vector<EntryProblem>& problems) {
  for (std::size_t next = 0; next < fitted.size();) {
    if (const std::size_t length = placeholderAt(fitted, next)) {
      next += length;
      continue;
    }
    const char32_t character = nextCharacter(fitted, next);
    if (character != U'\n' && character != U'\r' && !box.measure->hasGlyph(character)) {
      problems.push_back(
          {Check::Glyph, at(where, "the font has no glyph for " + describeCharacter(character) +
                                       ": the game would draw a blank or a box")});
    }
  }
  if (!widthAndLines) {
    return;
  }
  // The lines as the game breaks them: at a line feed, or at its own break.
  std::size_t lines = 0;
  forEachBoxLine(fitted, box.lineBreak, [&](std::string_view line) {
    ++lines;
    const std::uint64_t pixels = box.measure->pixels(lineWidth(line, *box.measure));
    if (box.checkWidth > 0 && pixels > box.checkWidth) {
      problems.push_back(
          {Check::Width,
           at(where, "line " + std::to_string(lines) + " is " + std::to_string(pixels) +
                         " px wide, more than " + std::to_string(box.checkWidth))});
    }
  });
  if (box.lines > 0 && lines > box.lines) {
    problems.push_back(
        {Check::Lines, at(where, "the translation has " + std::to_string(lines) +
                                     " lines, more than " + std::to_string(box.lines))});
  }
}

}  // namespace krlist
