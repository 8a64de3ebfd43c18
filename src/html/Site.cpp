#include "html/Site.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "html/Markup.h"
#include "io/Files.h"
#include "io/OutputFile.h"
#include "io/TextOutput.h"
#include "listing/ListingPrinter.h"
#include "text/Utf8.h"
#include "translate/Placeholders.h"

namespace krlist::html {

namespace {

namespace fs = std::filesystem;

// A page ends before the instruction that could take it, or its search
// data, past this many bytes; each instruction's share is counted
// generously (see lineBound), so that pages stay well under
// kMostPageBytes, and quick to open.
constexpr std::size_t kPageBudget = std::size_t{4} << 20;
// The rest is room for a page's head and end and its navigation, twice,
// which links to every other page of the script.
static_assert(2 * kPageBudget <= kMostPageBytes);
// A string, a translation or a name is shown up to this many bytes, and the
// rest counted, so that one instruction cannot outgrow a page.
constexpr std::size_t kShownText = std::size_t{1} << 16;
constexpr std::size_t kShownName = 256;
// Links shown on one line, to the definitions of a key or to the references
// to a definition; the rest are counted.
constexpr std::size_t kShownLinks = 100;
// Of a box, the lines drawn, and of a string, the problems listed; the rest
// are counted. A problem's message is cut at kShownMessage bytes.
constexpr std::size_t kShownLines = 100;
constexpr std::size_t kShownProblems = 50;
constexpr std::size_t kShownMessage = 1024;
constexpr std::size_t kShownSpeakers = 8;
// A previous source is compared with the source character by character
// while the two are at most this many characters apart in product; past
// that it is shown as removed whole and the source as added.
constexpr std::size_t kMostCompared = std::size_t{1} << 22;

constexpr std::string_view kGenerator = R"(<meta name="generator" content="krscript html">)";

std::uint32_t keyOf(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::string hexOffset(std::uint32_t offset) {
  std::string digits(8, '0');
  TextOutput::putHexOffset(digits.data(), offset);
  return digits;
}

Problem problemIn(std::string file, std::string message) {
  Problem problem;
  problem.where.file = std::move(file);
  problem.message = std::move(message);
  return problem;
}

// Writes one file of the site whole, through a temporary file.
Expected<void> writeFile(const fs::path& path, const std::function<void(TextOutput&)>& write) {
  OutputFile file;
  if (Expected<void> opened = file.open(path); !opened) {
    return opened;
  }
  TextOutput out(file.stream());
  write(out);
  if (!out.flush()) {
    return problemIn(pathToUtf8(path), "cannot write: " + std::generic_category().message(errno));
  }
  return file.commit();
}

// "../" for each folder between a page at `path` and the site's top.
std::string upToTop(std::string_view path) {
  std::string up;
  for (char c : path) {
    if (c == '/') {
      up += "../";
    }
  }
  return up;
}

std::string_view lastPart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// One script's pages: its instructions split into pages, the definitions of
// every key and the references to every defined key, and its translations
// by offset.
class ScriptPages {
 public:
  ScriptPages(const InstructionList& listing, Encoding encoding, const Translations* translations,
              std::string path, const Review& review)
      : listing_(listing),
        encoding_(encoding),
        translations_(translations),
        review_(review),
        path_(std::move(path)),
        top_(upToTop(path_)),
        // The first instruction lies at the script's first byte.
        base_(listing.empty()
                  ? nullptr
                  : reinterpret_cast<const std::uint8_t*>(listing.begin()->bytes().data())) {}

  Expected<ScriptSummary> write(const fs::path& site);

 private:
  // A definition or a reference: its key and where it lies in the file.
  struct Place {
    std::uint32_t key;
    std::uint64_t offset;
    bool operator<(const Place& other) const {
      return key != other.key ? key < other.key : offset < other.offset;
    }
  };

  void indexNames(ScriptSummary& summary);
  void splitPages();
  struct Bound {
    std::size_t page = 0;
    std::size_t data = 0;
  };
  // `speakers`: the bytes of the names the string's review shows, and their
  // translations. Its box is bounded apart (boxBound).
  Bound lineBound(const Instruction& instruction, std::size_t speakers) const;
  static std::size_t boxBound(std::string_view drawn, const DrawnBox& box);
  std::size_t pageOf(std::uint64_t offset) const {
    return static_cast<std::size_t>(
        std::upper_bound(pageStarts_.begin(), pageStarts_.end(), offset) - pageStarts_.begin() - 1);
  }
  const Translations::Entry* translationAt(std::uint32_t offset) const;
  // lint's problems with the entry of the string at `offset`.
  std::pair<const EntryProblem*, const EntryProblem*> problemsAt(std::uint32_t offset) const;
  // The box a string is drawn in, with the text it shows in `drawn_`: its
  // translation as inject puts it in, or, untranslated, its source as it
  // is; null when the string has no box or no text.
  const DrawnBox* drawnText(const Instruction& instruction, const Translations::Entry* entry,
                            bool text);
  // Whether a line of `drawn_` is wider than its box or past its lines.
  static bool overflows(std::string_view drawn, const DrawnBox& box);
  void writeBox(TextOutput& out, const DrawnBox& box) const;
  void writeReview(TextOutput& out, const Instruction& instruction,
                   const Translations::Entry* entry, bool text);
  // The definitions of a key, or the references to it: a run of `places`.
  static std::pair<const Place*, const Place*> placesOf(const std::vector<Place>& places,
                                                        std::uint32_t key);

  void writeHead(TextOutput& out, std::size_t page) const;
  void writeNavigation(TextOutput& out, std::size_t page) const;
  void writeCounts(TextOutput& out, const ScriptSummary& summary) const;
  void writeLine(TextOutput& out, const Instruction& instruction, std::size_t page,
                 std::string& strings);
  void writeLink(TextOutput& out, std::uint64_t offset, std::size_t page) const;
  // The text of a string as the page shows it: escaped text in the script's
  // encoding, or its bytes in hexadecimal, at most `most` bytes of it.
  // Returns whether it was text, with the text in `decoded_`.
  bool writeString(TextOutput& out, std::string_view bytes, std::size_t most);

  const InstructionList& listing_;
  Encoding encoding_;
  const Translations* translations_;
  Review review_;
  std::string path_;
  std::string top_;           // from a page up to the site's top
  const std::uint8_t* base_;  // the script's bytes
  std::vector<Place> definitions_;
  std::vector<Place> references_;          // only those to a defined key
  std::vector<std::size_t> nameLengths_;   // each definition's name as a link shows it
  std::vector<std::uint64_t> pageStarts_;  // the offset of each page's first instruction
  std::vector<std::size_t> pageSizes_;     // instructions on each page
  std::vector<const Translations::Entry*> byOffset_;
  std::string decoded_;
  std::string drawn_;
  std::vector<std::uint32_t> speakers_;  // keys referenced since the last string
  std::uint64_t overflowing_ = 0;
};

std::pair<const ScriptPages::Place*, const ScriptPages::Place*> ScriptPages::placesOf(
    const std::vector<Place>& places, std::uint32_t key) {
  const auto range = std::equal_range(places.begin(), places.end(), Place{key, 0},
                                      [](const Place& a, const Place& b) { return a.key < b.key; });
  return {places.data() + (range.first - places.begin()),
          places.data() + (range.second - places.begin())};
}

const Translations::Entry* ScriptPages::translationAt(std::uint32_t offset) const {
  const auto found = std::lower_bound(
      byOffset_.begin(), byOffset_.end(), offset,
      [](const Translations::Entry* entry, std::uint32_t at) { return entry->offset < at; });
  return found != byOffset_.end() && (*found)->offset == offset ? *found : nullptr;
}

std::pair<const EntryProblem*, const EntryProblem*> ScriptPages::problemsAt(
    std::uint32_t offset) const {
  if (review_.problems == nullptr) {
    return {nullptr, nullptr};
  }
  const std::vector<EntryProblem>& problems = *review_.problems;
  const auto first = std::lower_bound(
      problems.begin(), problems.end(), offset,
      [](const EntryProblem& found, std::uint32_t at) { return found.problem.where.offset < at; });
  const auto last = std::upper_bound(
      first, problems.end(), offset,
      [](std::uint32_t at, const EntryProblem& found) { return at < found.problem.where.offset; });
  return {problems.data() + (first - problems.begin()),
          problems.data() + (last - problems.begin())};
}

const DrawnBox* ScriptPages::drawnText(const Instruction& instruction,
                                       const Translations::Entry* entry, bool text) {
  const DrawnBox* box = review_.boxFor ? review_.boxFor(instruction.opcode()) : nullptr;
  if (box == nullptr) {
    return nullptr;
  }
  if (entry != nullptr && entry->targetSize > 0) {
    drawn_ = review_.fit != nullptr ? fitTranslation(translations_->target(*entry), encoding_,
                                                     *review_.fit, instruction.opcode())
                                    : std::string(translations_->target(*entry));
    return box;
  }
  drawn_.clear();
  if (!text || !decodeExactText(encoding_, instruction.textView(), drawn_)) {
    return nullptr;
  }
  return box;
}

bool ScriptPages::overflows(std::string_view drawn, const DrawnBox& box) {
  const BoxFit& fit = *box.fit;
  std::size_t lines = 0;
  bool over = false;
  forEachBoxLine(drawn, fit.lineBreak, [&](std::string_view line) {
    ++lines;
    over = over || (fit.lines > 0 && lines > fit.lines) ||
           fit.measure->pixels(lineWidth(line, *fit.measure)) > box.width;
  });
  return over;
}

void ScriptPages::indexNames(ScriptSummary& summary) {
  for (std::size_t i = 0; i < listing_.definitionCount(); ++i) {
    const Instruction definition = listing_.definition(i);
    definitions_.push_back({keyOf(definition.data()), definition.fileOffset()});
  }
  std::stable_sort(definitions_.begin(), definitions_.end());
  for (const Instruction& instruction : listing_) {
    ++summary.opcodes[instruction.opcode()];
    if (instruction.kind() == OperandKind::String) {
      ++summary.strings;
    }
    if (instruction.opcode() == kNameReference) {
      const std::uint32_t key = keyOf(instruction.data());
      const auto [first, last] = placesOf(definitions_, key);
      if (first != last) {
        references_.push_back({key, instruction.fileOffset()});
      }
    }
  }
  std::stable_sort(references_.begin(), references_.end());
  // Each definition's name as a link shows it, in file order of the
  // definitions sorted by key.
  for (const Place& place : definitions_) {
    const std::string_view name = Instruction(base_, place.offset).textView();
    decoded_.clear();
    nameLengths_.push_back(decodeExactText(encoding_, name, decoded_)
                               ? escapedLength(cutBetweenCharacters(decoded_, kShownName))
                               : 2 * std::min(name.size(), kShownName));
  }
  if (translations_ != nullptr) {
    for (const Translations::Entry& entry : translations_->entries) {
      byOffset_.push_back(&entry);
    }
    std::stable_sort(byOffset_.begin(), byOffset_.end(),
                     [](const Translations::Entry* a, const Translations::Entry* b) {
                       return a->offset < b->offset;
                     });
  }
}

// More than the bytes an instruction's line can take, and its string in
// the search data, without writing them: the markup and numbers of a line,
// the text of a string and of its translation, and the links of a reference
// or a definition with the longest page name the script can have.
ScriptPages::Bound ScriptPages::lineBound(const Instruction& instruction,
                                          std::size_t speakers) const {
  // '<div id="OFFSET" class="b">', the line up to its operand, "</div>".
  Bound bound{80, 0};
  const std::size_t extra = static_cast<std::size_t>(instruction.extraLength);
  bound.page += 2 * extra + (extra > 0 ? 3 * TextOutput::kLongestFloat + 16 : 0);
  const DataMeaning meaning = kOpcodeTable[instruction.opcode()].meaning;
  if (meaning == DataMeaning::Integer || meaning == DataMeaning::Float) {
    bound.page += 3 + TextOutput::kLongestFloat;
  }
  if (instruction.kind() == OperandKind::String) {
    // In UTF-8 a string that is text is shown as its own bytes, and in code
    // page 932 each byte becomes at most three, of which only ASCII is
    // escaped; a string that is not text is shown as two digits a byte.
    // In the search data a character is at most six bytes ("\u001f").
    const std::string_view text = instruction.textView();
    const std::size_t shown = std::min(text.size(), kShownText + 4);
    const std::size_t escaped =
        escapedLength(text.substr(0, shown)) + (encoding_ == Encoding::Cp932 ? 2 * shown : 0);
    // The rest: the markup around the string and its translation, the
    // marks of a fuzzy or missing translation, what was left out of each.
    bound.page += 256 + std::max(escaped, 2 * shown);
    bound.data += 32 + 6 * std::min((encoding_ == Encoding::Cp932 ? 3 : 1) * shown, kShownText + 4);
    const Translations::Entry* entry =
        translations_ != nullptr ? translationAt(instruction.listingOffset()) : nullptr;
    if (entry != nullptr) {
      const std::size_t target = std::min(entry->targetSize, kShownText + 4);
      bound.page += 6 * target;
      bound.data += 6 * target;
      // The translator's comment, and the previous source beside the
      // source: both texts escaped, each character in a <del> or <ins> of
      // its own at worst.
      bound.page += 128 + 6 * std::min(entry->commentSize, kShownText + 4);
      if (entry->previousSize > 0) {
        bound.page += 64 + 17 * (std::min(entry->previousSize, kShownText + 4) + 3 * shown);
      }
    }
    const auto [first, last] = problemsAt(instruction.listingOffset());
    bound.page += std::min<std::size_t>(static_cast<std::size_t>(last - first), kShownProblems) *
                  (6 * kShownMessage + 64);
    // Who speaks: the names and their translations.
    bound.page += 64 + speakers;
  }
  // A link: '<a href="', the page's name percent-encoded, "~N.html#OFFSET\">",
  // "</a>" and what stands between two.
  const std::size_t linkRoom = 3 * lastPart(path_).size() + 48;
  if (instruction.opcode() == kNameReference) {
    const auto [first, last] = placesOf(definitions_, keyOf(instruction.data()));
    const Place* end =
        first + std::min<std::size_t>(static_cast<std::size_t>(last - first), kShownLinks);
    for (const Place* place = first; place != end; ++place) {
      bound.page += linkRoom + nameLengths_[static_cast<std::size_t>(place - definitions_.data())];
    }
    bound.page += 64;
  } else if (instruction.opcode() == kNameDefinition) {
    const auto [first, last] = placesOf(references_, keyOf(instruction.data()));
    bound.page += 128 + std::min<std::size_t>(static_cast<std::size_t>(last - first), kShownLinks) *
                            (linkRoom + 8);
  }
  return bound;
}

// The markup of a box that draws `drawn`: each line's, each placeholder's
// name and text (cut at kShownName), and the text, each byte at most six
// escaped.
std::size_t ScriptPages::boxBound(std::string_view drawn, const DrawnBox& box) {
  std::size_t placeholders = 0;
  for (std::size_t at = 0; at < drawn.size();) {
    const std::size_t length = placeholderAt(drawn, at);
    placeholders += length > 0;
    at += std::max<std::size_t>(length, 1);
  }
  std::size_t lines = 0;
  forEachBoxLine(drawn, box.fit->lineBreak, [&lines](std::string_view) { ++lines; });
  return 256 + 64 * std::min(lines, kShownLines + 1) + 6 * drawn.size() +
         placeholders * (48 + 6 * kShownName);
}

void ScriptPages::splitPages() {
  Bound used{kPageBudget, kPageBudget};
  // The names referenced since the last string, and the bytes that show them.
  struct {
    std::size_t names = 0;
    std::size_t bytes = 0;
  } speakers;
  for (const Instruction& instruction : listing_) {
    if (instruction.opcode() == kNameReference) {
      const auto [first, last] = placesOf(definitions_, keyOf(instruction.data()));
      for (const Place* place = first; place != last && speakers.names < kShownSpeakers;
           ++place, ++speakers.names) {
        // The name as a link shows it, and its translation.
        const Translations::Entry* translated =
            translations_ != nullptr ? translationAt(static_cast<std::uint32_t>(place->offset))
                                     : nullptr;
        speakers.bytes +=
            64 + nameLengths_[static_cast<std::size_t>(place - definitions_.data())] +
            6 * std::min(translated != nullptr ? translated->targetSize : 0, kShownName + 4);
      }
    }
    Bound bound = lineBound(instruction, speakers.bytes);
    if (instruction.kind() == OperandKind::String) {
      speakers = {};
    }
    // The strings that overflow their box, which the script's pages count
    // before they show them.
    if (review_.boxFor && instruction.kind() == OperandKind::String) {
      decoded_.clear();
      const bool text = decodeExactText(encoding_, instruction.textView(), decoded_);
      const Translations::Entry* entry =
          translations_ != nullptr ? translationAt(instruction.listingOffset()) : nullptr;
      if (const DrawnBox* box = drawnText(instruction, entry, text)) {
        overflowing_ += overflows(drawn_, *box);
        bound.page += boxBound(drawn_, *box);
      }
    }
    if ((used.page + bound.page > kPageBudget || used.data + bound.data > kPageBudget) &&
        (pageSizes_.empty() || pageSizes_.back() > 0)) {
      pageStarts_.push_back(instruction.fileOffset());
      pageSizes_.push_back(0);
      used = {};
    }
    used.page += bound.page;
    used.data += bound.data;
    ++pageSizes_.back();
  }
  if (pageStarts_.empty()) {
    // A script with no instructions still has its page, an empty one.
    pageStarts_.push_back(0);
    pageSizes_.push_back(0);
  }
}

void ScriptPages::writeHead(TextOutput& out, std::size_t page) const {
  out.write("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
  out.write(kGenerator);
  out.write("\n<title>");
  writeEscaped(out, path_);
  if (pageStarts_.size() > 1) {
    out.write(" (page " + std::to_string(page + 1) + " of " + std::to_string(pageStarts_.size()) +
              ")");
  }
  out.write("</title>\n<link rel=\"stylesheet\" href=\"");
  out.write(top_);
  out.write("style.css\">\n</head>\n<body>\n");
}

void ScriptPages::writeNavigation(TextOutput& out, std::size_t page) const {
  out.write("<nav><a href=\"");
  out.write(top_);
  out.write("index.html\">All scripts</a> <b>");
  writeEscaped(out, path_);
  out.write("</b>");
  const std::size_t pages = pageStarts_.size();
  if (pages > 1) {
    out.write(" page");
    for (std::size_t other = 0; other < pages; ++other) {
      out.write(' ');
      if (other == page) {
        out.write("<b>");
        out.write(std::to_string(other + 1));
        out.write("</b>");
        continue;
      }
      out.write("<a href=\"");
      writeUrlPath(out, pageName(lastPart(path_), other));
      out.write("\"");
      if (other + 1 == page) {
        out.write(" rel=\"prev\"");
      } else if (other == page + 1) {
        out.write(" rel=\"next\"");
      }
      out.write('>');
      out.write(std::to_string(other + 1));
      out.write("</a>");
    }
  }
  if (translations_ != nullptr) {
    // The filters, which filter.js applies: this page again with ?show=.
    const std::string self = pageName(lastPart(path_), page);
    out.write(" <span class=\"show\">show <a href=\"");
    writeUrlPath(out, self);
    out.write("\">all</a>");
    for (const std::string_view kind : {"untranslated", "fuzzy", "problems"}) {
      out.write(" <a href=\"");
      writeUrlPath(out, self);
      out.write("?show=");
      out.write(kind);
      out.write("\">");
      out.write(kind == "problems" ? "with problems" : kind);
      out.write("</a>");
    }
    out.write("</span>");
  }
  out.write(" <form action=\"");
  out.write(top_);
  out.write(
      "index.html\"><input type=\"search\" name=\"q\" placeholder=\"Search every string\">"
      " <button>Search</button></form></nav>\n");
}

// What a reviewer looks for first: how many strings overflow their box and
// how many lint finds problems with.
void ScriptPages::writeCounts(TextOutput& out, const ScriptSummary& summary) const {
  const auto strings = [](std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " string" : " strings");
  };
  if (summary.hasBoxes) {
    out.write("<p class=\"sum\">" + strings(summary.overflowing) + " of " +
              std::to_string(summary.strings) + " overflow" +
              (summary.overflowing == 1 ? "s" : "") + " the box</p>\n");
  }
  if (translations_ != nullptr) {
    out.write("<p class=\"sum\">" + strings(summary.withProblems) + " with problems</p>\n");
  }
}

void ScriptPages::writeLink(TextOutput& out, std::uint64_t offset, std::size_t page) const {
  out.write("<a href=\"");
  const std::size_t target = pageOf(offset);
  if (target != page) {
    writeUrlPath(out, pageName(lastPart(path_), target));
  }
  out.write('#');
  out.writeHexOffset(static_cast<std::uint32_t>(offset));  // as the listing shows it
  out.write("\">");
}

bool ScriptPages::writeString(TextOutput& out, std::string_view bytes, std::size_t most) {
  decoded_.clear();
  if (decodeExactText(encoding_, bytes, decoded_)) {
    out.write("<span class=\"s\">");
    writeEscaped(out, cutBetweenCharacters(decoded_, most));
    out.write("</span>");
    writeMore(out, decoded_.size() - cutBetweenCharacters(decoded_, most).size());
    return true;
  }
  out.write("<span class=\"x\">");
  const std::string_view shown = bytes.substr(0, most);
  for (char c : shown) {
    out.writeHexByte(static_cast<std::uint8_t>(c));
  }
  out.write("</span>");
  writeMore(out, bytes.size() - shown.size());
  return false;
}

namespace {

// `after` as changed from `before` (forEachChange), what `before` had and
// `after` lacks in <del>, what `after` adds in <ins>.
void writeChanges(TextOutput& out, std::string_view before, std::string_view after) {
  forEachChange(before, after, [&out](std::string_view kind, std::string_view text) {
    if (text.empty()) {
      return;
    }
    if (!kind.empty()) {
      out.write("<" + std::string(kind) + ">");
    }
    writeEscaped(out, text);
    if (!kind.empty()) {
      out.write("</" + std::string(kind) + ">");
    }
  });
}

}  // namespace

void ScriptPages::writeBox(TextOutput& out, const DrawnBox& box) const {
  const BoxFit& fit = *box.fit;
  out.write("<div class=\"box box" + std::to_string(box.number) + "\">");
  std::size_t lines = 0;
  std::size_t written = 0;  // bytes of text drawn
  forEachBoxLine(drawn_, fit.lineBreak, [&](std::string_view line) {
    ++lines;
    if (lines > kShownLines || written >= kShownText) {
      return;
    }
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const bool over = (fit.lines > 0 && lines > fit.lines) ||
                      fit.measure->pixels(lineWidth(line, *fit.measure)) > box.width;
    const std::string_view shown = cutBetweenCharacters(line, kShownText - written);
    // The width of what is drawn, for those who check the page against it.
    out.write(over ? "<span class=\"line over\" data-width=\""
                   : "<span class=\"line\" data-width=\"");
    out.write(std::to_string(fit.measure->pixels(lineWidth(shown, *fit.measure))));
    out.write("\">");
    std::size_t text = 0;  // the start of the text before the next placeholder
    for (std::size_t at = 0; at < shown.size();) {
      const std::size_t length = placeholderAt(shown, at);
      if (length == 0) {
        (void)nextCharacter(shown, at);
        continue;
      }
      writeEscaped(out, shown.substr(text, at - text));
      // Drawn as the text it stands for, which its width is; one not told
      // takes no room, and shows only as its mark.
      const std::string placeholder(shown.substr(at, length));
      const auto found = box.placeholders.find(placeholder);
      out.write("<span class=\"ph\" title=\"");
      writeEscaped(out, placeholder);
      out.write("\">");
      if (found != box.placeholders.end()) {
        writeEscaped(out, cutBetweenCharacters(found->second, kShownName));
        written += std::min(found->second.size(), kShownName);
      }
      out.write("</span>");
      at += length;
      text = at;
    }
    writeEscaped(out, shown.substr(text));
    written += shown.size();
    out.write("</span>");
  });
  if (lines > kShownLines) {
    writeMore(out, lines - kShownLines, "lines");
  }
  out.write("</div>");
}

void ScriptPages::writeReview(TextOutput& out, const Instruction& instruction,
                              const Translations::Entry* entry, bool text) {
  std::vector<std::uint32_t> speakers;
  speakers.swap(speakers_);  // each string has its own
  const auto [first, last] = problemsAt(instruction.listingOffset());
  const std::string_view comment =
      entry != nullptr ? translations_->translatorComment(*entry) : std::string_view();
  const std::string_view previous =
      entry != nullptr ? translations_->previousSource(*entry) : std::string_view();
  const DrawnBox* box = drawnText(instruction, entry, text);
  if (speakers.empty() && first == last && comment.empty() && previous.empty() && box == nullptr) {
    return;
  }
  out.write("<div class=\"rv\">");
  // Who speaks, as the references before the string name them, with each
  // name's translation.
  std::size_t names = 0;
  std::size_t more = 0;
  std::string name;
  for (const std::uint32_t key : speakers) {
    const auto [definition, end] = placesOf(definitions_, key);
    for (const Place* place = definition; place != end; ++place) {
      if (names == kShownSpeakers) {
        ++more;
        continue;
      }
      out.write(names++ == 0 ? "<div class=\"who\"><i>speaks</i> " : ", ");
      name.clear();
      const std::string_view bytes = Instruction(base_, place->offset).textView();
      if (decodeExactText(encoding_, bytes, name)) {
        writeEscaped(out, cutBetweenCharacters(name, kShownName));
      } else {
        for (char c : bytes.substr(0, kShownName)) {
          out.writeHexByte(static_cast<std::uint8_t>(c));
        }
      }
      const Translations::Entry* translated =
          translations_ != nullptr ? translationAt(static_cast<std::uint32_t>(place->offset))
                                   : nullptr;
      if (translated != nullptr && translated->targetSize > 0) {
        out.write(translated->fuzzy ? " <span class=\"t fz\">" : " <span class=\"t\">");
        writeEscaped(out, cutBetweenCharacters(translations_->target(*translated), kShownName));
        out.write("</span>");
      }
    }
  }
  if (names > 0) {
    writeMore(out, more, "names");
    out.write("</div>");
  }
  // lint's problems, in its words.
  for (const EntryProblem* found = first; found != last; ++found) {
    if (static_cast<std::size_t>(found - first) == kShownProblems) {
      writeMore(out, static_cast<std::size_t>(last - found), "problems");
      break;
    }
    const bool error = isError(found->check);
    out.write(error ? "<div class=\"pr e\">error: " : "<div class=\"pr w\">warning: ");
    out.write(checkName(found->check));
    out.write(": ");
    const std::string_view message = found->problem.message;
    writeEscaped(out, cutBetweenCharacters(message, kShownMessage));
    writeMore(out, message.size() - cutBetweenCharacters(message, kShownMessage).size());
    out.write("</div>");
  }
  if (!previous.empty() && entry != nullptr) {
    out.write("<div class=\"prev\"><i>source was</i> ");
    writeChanges(out, cutBetweenCharacters(previous, kShownText),
                 cutBetweenCharacters(translations_->source(*entry), kShownText));
    out.write("</div>");
  }
  if (!comment.empty()) {
    out.write("<div class=\"cm\"><i>comment</i> ");
    writeEscaped(out, cutBetweenCharacters(comment, kShownText));
    writeMore(out, comment.size() - cutBetweenCharacters(comment, kShownText).size());
    out.write("</div>");
  }
  if (box != nullptr) {
    writeBox(out, *box);
  }
  out.write("</div>");
}

void ScriptPages::writeLine(TextOutput& out, const Instruction& instruction, std::size_t page,
                            std::string& strings) {
  constexpr std::uint8_t kBlankLineBefore = 0x02;
  constexpr std::uint8_t kBlankLineAfter = 0x04;
  const std::uint8_t opcode = instruction.opcode();
  out.write("<div id=\"");
  out.writeHexOffset(instruction.listingOffset());
  // What the filters of ?show= pick: a string untranslated, fuzzy or with
  // problems.
  std::string classes = opcode == kBlankLineBefore ? "b" : opcode == kBlankLineAfter ? "a" : "";
  if (instruction.kind() == OperandKind::String) {
    const Translations::Entry* entry =
        translations_ != nullptr ? translationAt(instruction.listingOffset()) : nullptr;
    decoded_.clear();
    if (translations_ != nullptr && (entry == nullptr || entry->targetSize == 0) &&
        decodeExactText(encoding_, instruction.textView(), decoded_)) {
      classes += " k-un";
    } else if (entry != nullptr && entry->fuzzy && entry->targetSize > 0) {
      classes += " k-fz";
    }
    if (const auto [first, last] = problemsAt(instruction.listingOffset()); first != last) {
      classes += " k-pr";
    }
  }
  if (!classes.empty() && classes[0] == ' ') {
    classes.erase(0, 1);
  }
  if (classes.empty()) {
    out.write("\">");
  } else {
    out.write("\" class=\"");
    out.write(classes);
    out.write("\">");
  }
  // The line as krlist lists it, up to its operand.
  char* line = out.reserve(16 + 12 + kOperandRoom);
  line = TextOutput::putHexOffset(line, instruction.listingOffset());
  *line++ = ':';
  line = TextOutput::putHexByte(line, opcode);
  *line++ = ' ';
  *line++ = ' ';
  for (std::int32_t i = 0; i < instruction.dataLength; ++i) {
    line = TextOutput::putHexByte(line, instruction.dataByte(i));
    *line++ = ' ';
  }
  out.commit(putOperand(line, instruction));

  // What is shown of a string for its review, after the rest of its line.
  std::optional<std::pair<const Translations::Entry*, bool>> review;
  if (instruction.kind() == OperandKind::String) {
    out.write(":: ");
    const bool text = writeString(out, instruction.textView(), kShownText);
    const Translations::Entry* entry =
        translations_ != nullptr ? translationAt(instruction.listingOffset()) : nullptr;
    std::string_view target;
    if (entry != nullptr && entry->targetSize > 0) {
      target = translations_->target(*entry);
      out.write(entry->fuzzy ? "<span class=\"t fz\"><i>fuzzy</i> " : "<span class=\"t\">");
      const std::string_view shown = cutBetweenCharacters(target, kShownText);
      writeEscaped(out, shown);
      writeMore(out, target.size() - shown.size());
      out.write("</span>");
    } else if (translations_ != nullptr && text) {
      out.write("<span class=\"t un\"><i>untranslated</i></span>");
    }
    // The search data takes the text as shown: kept before the review
    // decodes anything else.
    const std::string shownText =
        text ? std::string(cutBetweenCharacters(decoded_, kShownText)) : std::string();
    review = {entry, text};
    if (text || !target.empty()) {
      // [offset, text, translation, 1 when fuzzy]
      strings += "[\"";
      strings += hexOffset(instruction.listingOffset());
      strings += "\",";
      appendJsString(strings, shownText);
      strings += ',';
      appendJsString(strings, cutBetweenCharacters(target, kShownText));
      strings += entry != nullptr && entry->fuzzy ? ",1],\n" : ",0],\n";
    }
  }
  if (opcode == kNameReference) {
    speakers_.push_back(keyOf(instruction.data()));
    // Every definition of the key, in file order, as krlist lists the names.
    const auto [first, last] = placesOf(definitions_, keyOf(instruction.data()));
    for (const Place* place = first; place != last; ++place) {
      if (static_cast<std::size_t>(place - first) == kShownLinks) {
        writeMore(out, static_cast<std::size_t>(last - place), "names");
        break;
      }
      out.write(place == first ? "-> " : " -> ");
      writeLink(out, place->offset, page);
      const Instruction definition(base_, place->offset);
      const std::string_view name = definition.textView();
      decoded_.clear();
      if (decodeExactText(encoding_, name, decoded_)) {
        writeEscaped(out, cutBetweenCharacters(decoded_, kShownName));
      } else {
        for (char c : name.substr(0, kShownName)) {
          out.writeHexByte(static_cast<std::uint8_t>(c));
        }
      }
      out.write("</a>");
    }
  } else if (opcode == kNameDefinition) {
    const auto [first, last] = placesOf(references_, keyOf(instruction.data()));
    if (first != last) {
      out.write(" <span class=\"r\">used at");
      for (const Place* place = first; place != last; ++place) {
        if (static_cast<std::size_t>(place - first) == kShownLinks) {
          writeMore(out, static_cast<std::size_t>(last - place), "references");
          break;
        }
        out.write(' ');
        writeLink(out, place->offset, page);
        out.writeHexOffset(static_cast<std::uint32_t>(place->offset));
        out.write("</a>");
      }
      out.write("</span>");
    }
  }
  if (review) {
    writeReview(out, instruction, review->first, review->second);
  }
  out.write("</div>\n");
}

Expected<ScriptSummary> ScriptPages::write(const fs::path& site) {
  ScriptSummary summary;
  summary.path = path_;
  summary.instructions = listing_.size();
  summary.hasTranslations = translations_ != nullptr;
  indexNames(summary);
  splitPages();
  summary.pages = pageStarts_.size();
  summary.hasBoxes = static_cast<bool>(review_.boxFor);
  summary.overflowing = overflowing_;
  if (review_.problems != nullptr) {
    const std::vector<EntryProblem>& problems = *review_.problems;
    for (std::size_t i = 0; i < problems.size(); ++i) {
      summary.withProblems +=
          i == 0 || problems[i].problem.where.offset != problems[i - 1].problem.where.offset;
    }
  }

  if (translations_ != nullptr) {
    for (const Translations::Entry& entry : translations_->entries) {
      if (entry.targetSize > 0) {
        ++(entry.fuzzy ? summary.fuzzy : summary.translated);
      }
    }
    summary.untranslated =
        summary.strings - std::min(summary.strings, summary.translated + summary.fuzzy);
  }

  InstructionList::const_iterator next = listing_.begin();
  std::string strings;
  for (std::size_t page = 0; page < pageStarts_.size(); ++page) {
    strings = "krscriptStrings(";
    appendJsString(strings, pageName(path_, page));
    strings += ",[\n";
    Expected<void> written =
        writeFile(site / pathFromUtf8(pageName(path_, page)), [&](TextOutput& out) {
          writeHead(out, page);
          writeNavigation(out, page);
          writeCounts(out, summary);
          out.write("<div class=\"code\">\n");
          for (std::size_t i = 0; i < pageSizes_[page]; ++i, ++next) {
            writeLine(out, *next, page, strings);
          }
          out.write("</div>\n");
          writeNavigation(out, page);
          out.write("<script src=\"");
          out.write(top_);
          out.write("filter.js\"></script>\n</body>\n</html>\n");
        });
    if (!written) {
      removeScriptPages(site, path_, page);
      return written.problem();
    }
    strings += "]);\n";
    written = writeFile(site / pathFromUtf8(pageName(path_, page, ".strings.js")),
                        [&](TextOutput& out) { out.write(strings); });
    if (!written) {
      removeScriptPages(site, path_, page + 1);
      return written.problem();
    }
  }
  return summary;
}

}  // namespace

Expected<ScriptSummary> writeScriptPages(const InstructionList& listing, Encoding encoding,
                                         const Translations* translations,
                                         const std::filesystem::path& site, const std::string& path,
                                         const Review& review) {
  ScriptPages pages(listing, encoding, translations, path, review);
  return pages.write(site);
}

void removeScriptPages(const std::filesystem::path& site, const std::string& path,
                       std::size_t pages) {
  std::error_code ignored;
  for (std::size_t page = 0; page < pages; ++page) {
    fs::remove(site / pathFromUtf8(pageName(path, page)), ignored);
    fs::remove(site / pathFromUtf8(pageName(path, page, ".strings.js")), ignored);
  }
}

namespace {

// The fonts of a site's boxes: krscript-font-1.ttf, ...
constexpr std::string_view kFontPrefix = "krscript-font-";

// The site's mark, and the line it starts with.
constexpr std::string_view kMarkName = ".krscript-site";
constexpr std::string_view kMarkTitle = "krscript html: the files of this site\n";

// A path in a site as the mark names it: its parts joined by '/', a
// backslash and a line feed escaped, so that each takes one line of its own.
std::string markLine(const fs::path& relative) {
  std::string line;
  for (const char c : pathToUtf8(relative.generic_string())) {
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  return line;
}

// What is under `folder`, by its line in the mark; a folder that
// `descend` declines is not looked into.
struct TreeEntry {
  std::string line;
  fs::path path;
  bool folder = false;  // a folder, not a link to one
  bool file = false;    // a regular file, not a link to one
  bool hidden = false;  // its name starts with '.'
};

Expected<void> walkTree(const fs::path& folder,
                        const std::function<bool(const TreeEntry&)>& descend) {
  std::error_code error;
  fs::recursive_directory_iterator entry(folder, error);
  for (const fs::recursive_directory_iterator end; !error && entry != end; entry.increment(error)) {
    std::error_code ignored;
    const fs::file_status status = entry->symlink_status(ignored);
    TreeEntry found;
    found.path = entry->path();
    found.line = markLine(entry->path().lexically_relative(folder));
    found.folder = fs::is_directory(status);
    found.file = fs::is_regular_file(status);
    found.hidden = pathToUtf8(entry->path().filename()).starts_with('.');
    if (!descend(found) && found.folder) {
      entry.disable_recursion_pending();
    }
  }
  if (error) {
    return problemIn(pathToUtf8(folder), "cannot read it: " + error.message());
  }
  return {};
}

bool namedAsSiteFile(const TreeEntry& entry) {
  const std::string_view line = entry.line;
  return !entry.hidden && entry.file &&
         (line.ends_with(".html") || line.ends_with(".strings.js") || line == "style.css" ||
          line == "search.js");
}

}  // namespace

bool isSiteFile(std::string_view name) {
  return name == "index.html" || name == "style.css" || name == "search.js" ||
         name == "filter.js" || name == kMarkName || name.starts_with(kFontPrefix);
}

std::string fontFileName(std::size_t number, const std::filesystem::path& font) {
  std::string suffix;
  for (const char c : pathToUtf8(font.extension())) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.') {
      suffix += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
  }
  return std::string(kFontPrefix) + std::to_string(number) + (suffix.size() > 1 ? suffix : "");
}

Expected<void> replaceableSite(const std::filesystem::path& folder) {
  const std::string shown = pathToUtf8(folder);
  std::error_code error;
  const fs::file_status status = fs::symlink_status(folder, error);
  if (!fs::exists(status)) {
    return {};
  }
  if (!fs::is_directory(status)) {
    return problemIn(shown, "exists and is not a site made by krscript html");
  }
  if (fs::is_empty(folder, error) && !error) {
    return {};
  }
  // What the mark names, and the folders on the way to it.
  std::set<std::string> written;
  std::set<std::string> folders;
  const Expected<std::string> mark = readFile(folder / pathFromUtf8(kMarkName));
  const bool marked = mark && mark->starts_with(kMarkTitle);
  if (marked) {
    std::string_view rest = std::string_view(*mark).substr(kMarkTitle.size());
    while (!rest.empty()) {
      const std::size_t end = std::min(rest.find('\n'), rest.size());
      const std::string line(rest.substr(0, end));
      rest.remove_prefix(std::min(end + 1, rest.size()));
      for (std::size_t slash = line.find('/'); slash != std::string::npos;
           slash = line.find('/', slash + 1)) {
        folders.insert(line.substr(0, slash));
      }
      written.insert(line);
    }
  } else {
    // A site made before sites had their mark: its index says html made it.
    const Expected<std::string> index = readFile(folder / "index.html");
    if (!index || index->find(kGenerator) == std::string::npos) {
      return problemIn(shown, "exists and is not a site made by krscript html");
    }
  }
  std::set<std::string> others;
  Expected<void> walked = walkTree(folder, [&](const TreeEntry& entry) {
    const bool ours = marked ? entry.line == kMarkName ||
                                   (entry.folder ? folders.count(entry.line) > 0
                                                 : entry.file && written.count(entry.line) > 0)
                             : (entry.folder && !entry.hidden) || namedAsSiteFile(entry);
    if (!ours) {
      others.insert(pathToUtf8(entry.path));
    }
    return ours;
  });
  if (!walked) {
    return walked;
  }
  if (!others.empty()) {
    return problemIn(shown, "holds " + *others.begin() + ", which krscript html did not write");
  }
  return {};
}

std::string boxStyles(const std::vector<const DrawnBox*>& boxes) {
  std::string styles;
  std::set<std::size_t> fonts;
  for (const DrawnBox* box : boxes) {
    std::string family;
    if (!box->font.empty()) {
      const std::string name = fontFileName(box->fontNumber, box->font);
      family = name.substr(0, name.find('.'));
      if (fonts.insert(box->fontNumber).second) {
        styles += "@font-face { font-family: \"" + family + "\"; src: url(\"" + name + "\"); }\n";
      }
    }
    styles +=
        ".box" + std::to_string(box->number) + " { width: " + std::to_string(box->width) + "px;";
    if (!family.empty()) {
      styles += " font-family: \"" + family + "\"; font-size: " + std::to_string(box->size) + "px;";
    }
    styles += " }\n";
  }
  return styles;
}

Expected<void> writeSiteFiles(const std::vector<ScriptSummary>& scripts,
                              const std::filesystem::path& site,
                              const std::vector<const DrawnBox*>& boxes) {
  Expected<void> written = writeFile(
      site / "index.html", [&](TextOutput& out) { writeIndex(out, scripts, kGenerator); });
  if (!written) {
    return written;
  }
  // Each box's font is copied in once and loaded from beside the style
  // sheet, so that the site still opens from disk.
  std::set<std::size_t> fonts;
  for (const DrawnBox* box : boxes) {
    if (!box->font.empty() && fonts.insert(box->fontNumber).second) {
      const Expected<std::string> bytes = readFile(box->font);
      if (!bytes) {
        return bytes.problem();
      }
      written = writeFile(site / pathFromUtf8(fontFileName(box->fontNumber, box->font)),
                          [&](TextOutput& out) { out.write(*bytes); });
      if (!written) {
        return written;
      }
    }
  }
  const std::string styles = boxStyles(boxes);
  written = writeFile(site / "style.css", [&](TextOutput& out) {
    out.write(kStyleSheet);
    out.write(styles);
  });
  if (!written) {
    return written;
  }
  written = writeFile(site / "filter.js", [](TextOutput& out) { out.write(kFilterScript); });
  if (!written) {
    return written;
  }
  written = writeFile(site / "search.js", [](TextOutput& out) { out.write(kSearchScript); });
  if (!written) {
    return written;
  }
  // Every file there is one this run wrote, in the order of their names, so
  // that the same site has the same mark.
  std::vector<std::string> files;
  written = walkTree(site, [&](const TreeEntry& entry) {
    if (entry.file) {
      files.push_back(entry.line);
    }
    return true;
  });
  if (!written) {
    return written;
  }
  std::sort(files.begin(), files.end());
  return writeFile(site / pathFromUtf8(kMarkName), [&](TextOutput& out) {
    out.write(kMarkTitle);
    for (const std::string& file : files) {
      out.write(file);
      out.write('\n');
    }
  });
}

void forEachChange(std::string_view before, std::string_view after,
                   const std::function<void(std::string_view kind, std::string_view text)>& run) {
  const auto characters = [](std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < text.size(); (void)nextCharacter(text, at)) {
      starts.push_back(at);
    }
    starts.push_back(text.size());
    return starts;
  };
  const std::vector<std::size_t> a = characters(before);
  const std::vector<std::size_t> b = characters(after);
  const std::size_t n = a.size() - 1;
  const std::size_t m = b.size() - 1;
  const auto piece = [](std::string_view text, const std::vector<std::size_t>& starts,
                        std::size_t from, std::size_t to) {
    return text.substr(starts[from], starts[to] - starts[from]);
  };
  if ((n + 1) * (m + 1) > kMostCompared) {
    run("del", before);
    run("ins", after);
    return;
  }
  // common[i * (m + 1) + j]: how many characters a[i..] and b[j..] have in
  // common, in order.
  std::vector<std::uint32_t> common((n + 1) * (m + 1), 0);
  const auto same = [&](std::size_t i, std::size_t j) {
    return piece(before, a, i, i + 1) == piece(after, b, j, j + 1);
  };
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t j = m; j-- > 0;) {
      common[i * (m + 1) + j] =
          same(i, j) ? common[(i + 1) * (m + 1) + j + 1] + 1
                     : std::max(common[(i + 1) * (m + 1) + j], common[i * (m + 1) + j + 1]);
    }
  }
  // Runs of one kind are written whole: 0 kept, 1 removed, 2 added.
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < n || j < m) {
    const std::size_t fromI = i;
    const std::size_t fromJ = j;
    if (i < n && j < m && same(i, j)) {
      while (i < n && j < m && same(i, j)) {
        ++i;
        ++j;
      }
      run("", piece(before, a, fromI, i));
    } else if (j == m || (i < n && common[(i + 1) * (m + 1) + j] >= common[i * (m + 1) + j + 1])) {
      while (i < n && (j == m || (!same(i, j) &&
                                  common[(i + 1) * (m + 1) + j] >= common[i * (m + 1) + j + 1]))) {
        ++i;
      }
      run("del", piece(before, a, fromI, i));
    } else {
      while (j < m && (i == n || (!same(i, j) &&
                                  common[(i + 1) * (m + 1) + j] < common[i * (m + 1) + j + 1]))) {
        ++j;
      }
      run("ins", piece(after, b, fromJ, j));
    }
  }
}

}  // namespace krlist::html
