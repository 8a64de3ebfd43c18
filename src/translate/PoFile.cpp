#include "translate/PoFile.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "text/Encoding.h"

namespace krlist {
namespace {

using translation::excerpt;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr auto npos = std::string_view::npos;

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view lastWord(std::string_view text) {
  const std::size_t space = text.rfind(' ');
  return space == std::string_view::npos ? text : text.substr(space + 1);
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

// The characters with escapes of their own, and the letters of the escapes.
constexpr std::string_view kEscaped = "\"\\\a\b\f\n\r\t\v";
constexpr std::string_view kEscapeLetters = "\"\\abfnrtv";

// The escapes are those gettext reads. \a, \b, \f, \v and \r make msgfmt
// warn that messages should not hold them, but it accepts them, and a script
// string is what it is. Other control characters go in octal, always three
// digits so that a digit after them stays a digit; gettext itself writes them
// as raw bytes, which the reader accepts as well.
void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  std::size_t plain = 0;  // the start of the characters not yet appended
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '"' && c != '\\' && !isControl(c)) {
      continue;
    }
    out.append(text, plain, i - plain);
    plain = i + 1;
    out += '\\';
    if (const std::size_t named = kEscaped.find(c); named != npos) {
      out += kEscapeLetters[named];
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += static_cast<char>('0' + (byte >> 6));
      out += static_cast<char>('0' + ((byte >> 3) & 7));
      out += static_cast<char>('0' + (byte & 7));
    }
  }
  out.append(text, plain);
  out += '"';
}

std::string quoted(std::string_view text) {
  std::string out;
  appendQuoted(out, text);
  return out;
}

// As gettext lays strings out: a text with a line feed before its end starts
// on the next line, one line of the text per line of the file. Every line
// starts with `prefix`: "#~ " in an obsolete entry, "#| " for a previous text.
void appendString(std::string& out, std::string_view keyword, std::string_view text,
                  std::string_view prefix = {}) {
  out += prefix;
  out += keyword;
  out += ' ';
  const std::size_t firstBreak = text.find('\n');
  if (firstBreak == npos || firstBreak + 1 == text.size()) {
    appendQuoted(out, text);
    out += '\n';
    return;
  }
  out += "\"\"\n";
  while (!text.empty()) {
    const std::size_t lineFeed = text.find('\n');
    const std::size_t length = lineFeed == npos ? text.size() : lineFeed + 1;
    out += prefix;
    appendQuoted(out, text.substr(0, length));
    out += '\n';
    text.remove_prefix(length);
  }
}

// A comment, one line of the file per line of it, each behind `marker`:
// "#." for what the tool says of a string, "#" for what translators say.
void appendComment(std::string& out, std::string_view marker, std::string_view comment) {
  for (;;) {
    const std::size_t lineFeed = comment.find('\n');
    const std::string_view line = comment.substr(0, lineFeed);
    out += marker;
    if (!line.empty()) {
      out += ' ';
      for (const char c : line) {
        out += isControl(c) && c != '\t' ? ' ' : c;
      }
    }
    out += '\n';
    if (lineFeed == npos) {
      return;
    }
    comment.remove_prefix(lineFeed + 1);
  }
}

void appendReference(std::string& out, std::string_view reference) {
  const std::size_t start = out.size();
  out += "#: ";
  const std::size_t words = out.size();
  bool space = false;
  for (const char c : reference) {
    if (c == ' ' || isControl(c)) {
      space = true;
      continue;
    }
    if (space && out.size() > words) {
      out += ' ';
    }
    space = false;
    out += c;
  }
  if (out.size() == words) {
    out.resize(start);
  } else {
    out += '\n';
  }
}

// A reference is written as gettext keeps one, "FILE:26", the offset in
// decimal: gettext reads "FILE:0000001A" as a file and a line number, and
// msgmerge rewrites "FILE:00000031" to "FILE:31". The offset is the msgctxt,
// so a reference read back in either form, or in the form of earlier
// versions, gets the offset back as eight hexadecimal digits.
void restoreOffset(std::string& reference, std::string_view context) {
  const std::size_t colon = reference.rfind(':');
  if (colon == npos) {
    return;
  }
  const std::string_view digits = std::string_view(reference).substr(colon + 1);
  bool asDecimal =
      !digits.empty() && digits.size() <= 10 && digits.find_first_not_of("0123456789") == npos;
  if (asDecimal) {
    std::uint64_t offset = 0;
    for (const char digit : digits) {
      offset = offset * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    asDecimal = offset == translation::offsetOf(context);
  }
  const bool hexAsDecimal =
      !digits.empty() && digits.size() <= context.size() &&
      digits.find_first_not_of("0123456789") == npos &&
      context.substr(0, context.size() - digits.size()).find_first_not_of('0') == npos &&
      context.ends_with(digits);
  if (asDecimal || hexAsDecimal) {
    reference.replace(colon + 1, npos, context);
  }
}

std::string decimalReference(std::string_view reference, std::string_view context) {
  if (!translation::isOffsetContext(context) || !reference.ends_with(context) ||
      reference.size() == context.size() || reference[reference.size() - 9] != ':') {
    return std::string(reference);
  }
  return std::string(reference.substr(0, reference.size() - 8)) +
         std::to_string(translation::offsetOf(context));
}

// One entry as it is being read: its comments, then its keywords. Its
// buffers are kept from one entry to the next.
struct PendingEntry {
  TranslationEntry entry;  // its source and target are the msgid and msgstr
  bool hasComment = false;
  bool hasTranslatorComment = false;
  bool hasContext = false;
  bool hasId = false;
  bool hasStr = false;
  std::size_t contextLine = 0;
  std::size_t idLine = 0;
  std::size_t strLine = 0;
  // Whether an escape in one of its strings made a byte past 0x7F.
  bool escapedHighByte = false;

  bool hasKeyword() const { return hasContext || hasId || hasStr; }

  void clear() {
    entry.offset.clear();
    entry.comment.clear();
    entry.translatorComment.clear();
    entry.reference.clear();
    entry.source.clear();
    entry.target.clear();
    entry.fuzzy = false;
    entry.previousSource.clear();
    entry.obsolete = false;
    entry.line = 0;
    hasComment = hasTranslatorComment = hasContext = hasId = hasStr = escapedHighByte = false;
    contextLine = idLine = strLine = 0;
  }
};

// Reads line by line. An entry ends where the next one starts: at a comment
// or msgctxt after its msgid, or at a msgid after its msgstr. Blank lines
// mean nothing, as in gettext.
class PoReader {
 public:
  // `anyContext`: entries need not name a string of a script, as those of a
  // memory made by other tools do not; their msgctxt is kept as it is.
  PoReader(std::string_view text, const EntrySink& take, bool anyContext = false)
      : text_(text), take_(take), anyContext_(anyContext) {}

  Expected<TranslationFile> read() {
    if (text_.starts_with(kByteOrderMark)) {
      text_.remove_prefix(kByteOrderMark.size());
    }
    if (const std::size_t bad = findInvalidUtf8Text(text_); bad != npos) {
      return translation::lineProblem(translation::lineAt(text_, bad),
                                      text_[bad] == '\0' ? "U+0000 in the file" : "invalid UTF-8");
    }
    std::size_t position = 0;
    while (position < text_.size()) {
      std::size_t end = text_.find('\n', position);
      if (end == npos) {
        end = text_.size();
      }
      std::string_view line = text_.substr(position, end - position);
      if (line.ends_with('\r')) {
        line.remove_suffix(1);
      }
      ++lineNumber_;
      if (!readLine(line)) {
        return std::move(error_);
      }
      position = end + 1;
    }
    if (pending_.hasKeyword() && !finishEntry()) {
      return std::move(error_);
    }
    return std::move(file_);
  }

 private:
  enum class Field { none, context, id, str };

  bool fail(std::size_t line, std::string message) {
    error_ = translation::lineProblem(line, std::move(message));
    return false;
  }

  std::string& fieldText() {
    return field_ == Field::context ? pending_.entry.offset
           : field_ == Field::id    ? pending_.entry.source
                                    : pending_.entry.target;
  }

  bool readLine(std::string_view line) {
    while (!line.empty() && isSpace(line.front())) {
      line.remove_prefix(1);
    }
    if (line.empty()) {
      return true;
    }
    if (line.front() == '#') {
      return readComment(line);
    }
    if (line.front() == '"') {
      if (field_ == Field::none) {
        return fail(lineNumber_, "a string without a keyword before it");
      }
      return readString(line, fieldText());
    }
    std::size_t length = 0;
    while (length < line.size() && !isSpace(line[length]) && line[length] != '"') {
      ++length;
    }
    const std::string_view keyword = line.substr(0, length);
    if (keyword == "msgctxt") {
      if (pending_.hasId) {
        if (!finishEntry()) {
          return false;
        }
      } else if (pending_.hasContext) {
        return fail(pending_.contextLine, "msgctxt without msgid");
      }
      pending_.hasContext = true;
      pending_.contextLine = lineNumber_;
      field_ = Field::context;
    } else if (keyword == "msgid") {
      if (pending_.hasStr) {
        if (!finishEntry()) {
          return false;
        }
      } else if (pending_.hasId) {
        return fail(pending_.idLine, "msgid without msgstr");
      }
      pending_.hasId = true;
      pending_.idLine = lineNumber_;
      field_ = Field::id;
    } else if (keyword == "msgstr") {
      if (!pending_.hasId || pending_.hasStr) {
        return fail(lineNumber_, "msgstr without msgid");
      }
      pending_.hasStr = true;
      pending_.strLine = lineNumber_;
      field_ = Field::str;
    } else if (keyword == "msgid_plural" || keyword.starts_with("msgstr[")) {
      return fail(lineNumber_, std::string(keyword) +
                                   ": plural forms are not supported, each script string is "
                                   "translated on its own");
    } else {
      return fail(lineNumber_, "unknown keyword " + quoted(excerpt(keyword)));
    }
    if (pending_.entry.line == 0) {
      pending_.entry.line = lineNumber_;
    }
    const std::string_view rest = trim(line.substr(length));
    if (rest.empty() || rest.front() != '"') {
      return fail(lineNumber_, "a string must follow " + std::string(keyword));
    }
    return readString(rest, fieldText());
  }

  bool readComment(std::string_view line) {
    if (line.starts_with("#~")) {
      // An obsolete entry: a translation whose string went away, kept for
      // reuse. Its lines are those of an entry behind "#~", and the comments
      // just before it are its own.
      line.remove_prefix(2);
      const bool previous = line.starts_with('|');
      if ((previous || !pending_.entry.obsolete) && pending_.hasKeyword() && !finishEntry()) {
        return false;
      }
      if (pending_.entry.line == 0) {
        pending_.entry.line = lineNumber_;
      }
      pending_.entry.obsolete = true;
      if (previous) {
        return readPrevious(line.substr(1));
      }
      if (!readLine(line)) {
        return false;
      }
      pending_.entry.obsolete = true;  // also when the line started the next one
      return true;
    }
    field_ = Field::none;
    if (pending_.hasKeyword() && !finishEntry()) {
      return false;
    }
    if (pending_.entry.line == 0) {
      pending_.entry.line = lineNumber_;
    }
    if (line.starts_with("#|")) {
      return readPrevious(line.substr(2));
    }
    previous_ = nullptr;
    if (line.starts_with("#.")) {
      addCommentLine(pending_.entry.comment, pending_.hasComment, line.substr(2));
    } else if (line.starts_with("#:")) {
      // gettext splits references at white space and wraps them over as many
      // lines as it likes.
      line.remove_prefix(2);
      for (;;) {
        line = trim(line);
        if (line.empty()) {
          break;
        }
        std::size_t length = 0;
        while (length < line.size() && !isSpace(line[length])) {
          ++length;
        }
        if (!pending_.entry.reference.empty()) {
          pending_.entry.reference += ' ';
        }
        pending_.entry.reference += line.substr(0, length);
        line.remove_prefix(length);
      }
    } else if (line.starts_with("#,")) {
      line.remove_prefix(2);
      for (;;) {
        const std::size_t comma = line.find(',');
        if (trim(line.substr(0, comma)) == "fuzzy") {
          pending_.entry.fuzzy = true;
        }
        if (comma == npos) {
          break;
        }
        line.remove_prefix(comma + 1);
      }
    } else {
      // A translator comment: "#", a space and the text, as gettext writes
      // it and reads any other line that starts with "#".
      addCommentLine(pending_.entry.translatorComment, pending_.hasTranslatorComment,
                     line.substr(1));
    }
    return true;
  }

  // Adds a comment line, its text after the marker and one space, to
  // `comment`, which `started` says already holds a line.
  static void addCommentLine(std::string& comment, bool& started, std::string_view text) {
    if (text.starts_with(' ')) {
      text.remove_prefix(1);
    }
    if (started) {
      comment += '\n';
    }
    comment += text;
    started = true;
  }

  // A line of the text an entry had when it was translated ("#| msgid"),
  // which gettext writes before the entry's own keywords; its previous
  // msgctxt is not kept.
  bool readPrevious(std::string_view line) {
    line = trim(line);
    if (line.starts_with('"')) {
      return previous_ == nullptr || readString(line, *previous_);
    }
    previous_ = nullptr;
    scratch_.clear();
    if (line.starts_with("msgid ") || line.starts_with("msgid\"")) {
      previous_ = &pending_.entry.previousSource;
      previous_->clear();
      line.remove_prefix(5);
    } else if (line.starts_with("msgctxt ") || line.starts_with("msgctxt\"")) {
      previous_ = &scratch_;
      line.remove_prefix(7);
    } else {
      return true;  // a previous plural form, which no entry here has
    }
    line = trim(line);
    if (line.empty() || line.front() != '"') {
      return fail(lineNumber_, "a string must follow the previous text's keyword");
    }
    return readString(line, *previous_);
  }

  bool readString(std::string_view line, std::string& out) {
    for (;;) {
      std::size_t i = 1;  // after the opening quote
      for (;;) {
        // A plain loop: find_first_of calls memchr on its set for every
        // character, which made this scan most of the cost of a large file.
        std::size_t stop = i;
        while (stop < line.size() && line[stop] != '"' && line[stop] != '\\') {
          ++stop;
        }
        if (stop == line.size()) {
          return fail(lineNumber_, "unterminated string");
        }
        out.append(line.substr(i, stop - i));
        if (line[stop] == '"') {
          i = stop + 1;
          break;
        }
        if (stop + 1 == line.size()) {
          return fail(lineNumber_, "unterminated string");
        }
        const char escape = line[stop + 1];
        i = stop + 2;
        unsigned value = 0;
        if (const std::size_t named = kEscapeLetters.find(escape); named != npos) {
          value = static_cast<unsigned char>(kEscaped[named]);
        } else if (escape == 'x') {
          // As in C, every hexadecimal digit that follows belongs to it.
          const std::size_t start = i;
          for (; i < line.size(); ++i) {
            const char c = line[i];
            const char lower = static_cast<char>(c | 0x20);
            unsigned digit = 0;
            if (c >= '0' && c <= '9') {
              digit = static_cast<unsigned>(c - '0');
            } else if (lower >= 'a' && lower <= 'f') {
              digit = static_cast<unsigned>(lower - 'a' + 10);
            } else {
              break;
            }
            value = std::min(value * 16 + digit, 0x100u);
          }
          if (i == start) {
            return fail(lineNumber_, "\\x without hexadecimal digits");
          }
        } else if (escape >= '0' && escape <= '7') {
          i = stop + 1;
          for (int digits = 0; digits < 3 && i < line.size() && line[i] >= '0' && line[i] <= '7';
               ++digits, ++i) {
            value = value * 8 + static_cast<unsigned>(line[i] - '0');
          }
        } else if (escape > ' ' && escape < 0x7F) {
          return fail(lineNumber_, std::string("unknown escape \\") + escape);
        } else {
          return fail(lineNumber_,
                      "unknown escape: a backslash before a space, a control or a non-ASCII "
                      "character");
        }
        if (value > 0xFF) {
          return fail(lineNumber_, "escape for a value past 0xFF");
        }
        if (value == 0) {
          return fail(lineNumber_, "U+0000 in a string");
        }
        pending_.escapedHighByte |= value >= 0x80;
        out += static_cast<char>(value);
      }
      // gettext takes strings one after another on a line as one, as C does.
      while (i < line.size() && isSpace(line[i])) {
        ++i;
      }
      if (i < line.size() && line[i] == '"') {
        line.remove_prefix(i);
        continue;
      }
      if (i < line.size()) {
        return fail(lineNumber_, "text after the closing quote");
      }
      return true;
    }
  }

  bool checkText(const std::string& text, std::size_t line, std::string_view keyword) {
    // Escapes can make bytes that are not UTF-8. Without an escape of a byte
    // past 0x7F, the strings are pieces of the file (valid UTF-8, checked
    // whole) cut at ASCII quotes and backslashes, joined with ASCII bytes:
    // UTF-8 too, so the check is skipped.
    if (pending_.escapedHighByte && findInvalidUtf8Text(text) != npos) {
      return fail(line, std::string(keyword) + " is not valid UTF-8");
    }
    if (text.find('\x04') != npos) {
      return fail(line, std::string(keyword) +
                            " holds U+0004, which gettext reserves to separate msgctxt from msgid");
    }
    return true;
  }

  bool finishEntry() {
    field_ = Field::none;
    previous_ = nullptr;
    if (!takePending()) {
      return false;
    }
    pending_.clear();
    return true;
  }

  // Checks the entry read and hands it over, or reads it as the header.
  bool takePending() {
    const PendingEntry& pending = pending_;
    TranslationEntry& entry = pending_.entry;
    if (!pending.hasId) {
      return fail(pending.contextLine, "msgctxt without msgid");
    }
    if (!pending.hasStr) {
      return fail(pending.idLine, "msgid without msgstr");
    }
    entry.targetLine = pending.strLine;
    if ((pending.hasContext && !checkText(entry.offset, pending.contextLine, "msgctxt")) ||
        !checkText(entry.source, pending.idLine, "msgid") ||
        !checkText(entry.target, pending.strLine, "msgstr")) {
      return false;
    }
    if (entry.obsolete) {
      // An obsolete entry names no string, so its offset, when it has one,
      // may come again.
      if (!checkText(entry.previousSource, pending.idLine, "the previous msgid")) {
        return false;
      }
      if (translation::isOffsetContext(entry.offset)) {
        translation::toUpperAscii(entry.offset);
        restoreOffset(entry.reference, entry.offset);
      }
      take_(entry);
      return true;
    }
    if (!checkText(entry.previousSource, pending.idLine, "the previous msgid")) {
      return false;
    }
    if (!pending.hasContext && entry.source.empty()) {
      return readHeader(pending);
    }
    if (anyContext_) {
      take_(entry);
      return true;
    }
    // Tools that make PO files from a spreadsheet write the location as the
    // reference, and as msgctxt only where a text comes twice ("a.kr:26").
    if (!translation::isOffsetContext(entry.offset)) {
      std::string offset = translation::offsetAfterColon(
          pending.hasContext ? std::string_view(entry.offset) : lastWord(entry.reference));
      if (!offset.empty()) {
        entry.offset = std::move(offset);
      } else if (!pending.hasContext) {
        return fail(pending.idLine,
                    "entry without msgctxt, and no offset at the end of its reference");
      }
    }
    if (!translation::isOffsetContext(entry.offset)) {
      return fail(pending.contextLine, "msgctxt " + quoted(excerpt(entry.offset)) +
                                           " is not a script offset (eight hexadecimal digits)");
    }
    translation::toUpperAscii(entry.offset);
    restoreOffset(entry.reference, entry.offset);
    // Without msgctxt the offset came from the reference: the entry's msgid
    // line stands for it.
    const std::size_t offsetLine = pending.hasContext ? pending.contextLine : pending.idLine;
    if (const std::size_t first = lines_.firstLine(entry.offset, offsetLine)) {
      return fail(offsetLine, std::string(pending.hasContext ? "msgctxt " : "offset ") +
                                  quoted(entry.offset) + " again, first at line " +
                                  std::to_string(first));
    }
    take_(entry);
    return true;
  }

  // The header is the entry without msgctxt whose msgid is empty; its msgstr
  // holds "Name: value" lines.
  bool readHeader(const PendingEntry& header) {
    if (headerLine_ != 0) {
      return fail(header.idLine,
                  "a second header (msgid \"\" without msgctxt), the first at line " +
                      std::to_string(headerLine_));
    }
    headerLine_ = header.idLine;
    file_.headerFields = header.entry.target;
    file_.headerComment = header.entry.translatorComment;
    std::string_view fields = header.entry.target;
    while (!fields.empty()) {
      const std::size_t lineFeed = fields.find('\n');
      const std::string_view field = fields.substr(0, lineFeed);
      fields.remove_prefix(lineFeed == npos ? fields.size() : lineFeed + 1);
      const std::size_t colon = field.find(':');
      if (colon == npos) {
        continue;
      }
      const std::string_view name = trim(field.substr(0, colon));
      const std::string_view value = trim(field.substr(colon + 1));
      if (equalsIgnoringCase(name, "X-Script-Encoding")) {
        file_.scriptEncoding = value;
        file_.scriptEncodingLine = header.strLine;
      } else if (equalsIgnoringCase(name, "Language")) {
        file_.language = value;
      } else if (equalsIgnoringCase(name, "Content-Type")) {
        for (std::size_t at = 0; at + 8 <= value.size(); ++at) {
          if (!equalsIgnoringCase(value.substr(at, 8), "charset=")) {
            continue;
          }
          std::string_view charset = value.substr(at + 8);
          charset = charset.substr(0, charset.find_first_of("; \t"));
          if (!equalsIgnoringCase(charset, "UTF-8")) {
            return fail(header.strLine, "the header gives charset " + quoted(excerpt(charset)) +
                                            ": the file must be UTF-8");
          }
          break;
        }
      }
    }
    return true;
  }

  std::string_view text_;
  const EntrySink& take_;
  std::size_t lineNumber_ = 0;
  PendingEntry pending_;
  Field field_ = Field::none;
  std::size_t headerLine_ = 0;
  bool anyContext_ = false;
  std::string* previous_ = nullptr;  // the previous text a "#| \"...\"" line goes on
  std::string scratch_;              // a previous msgctxt, read and dropped
  translation::OffsetLines lines_;   // of each msgctxt read
  TranslationFile file_;             // without its entries, handed to `take_`
  Problem error_;
};

// `fields` with the value of each field called `name` set to `value`, and
// the field added at the end when there is none.
std::string withField(std::string_view fields, std::string_view name, std::string_view value) {
  std::string out;
  bool found = false;
  while (!fields.empty()) {
    const std::size_t lineFeed = fields.find('\n');
    const std::string_view field = fields.substr(0, lineFeed);
    fields.remove_prefix(lineFeed == npos ? fields.size() : lineFeed + 1);
    const std::size_t colon = field.find(':');
    if (colon != npos && equalsIgnoringCase(trim(field.substr(0, colon)), name)) {
      found = true;
      out.append(name).append(": ").append(value) += '\n';
    } else {
      out.append(field) += '\n';
    }
  }
  if (!found) {
    out.append(name).append(": ").append(value) += '\n';
  }
  return out;
}

}  // namespace

std::string poHeader(std::string_view scriptEncoding, std::string_view language,
                     std::string_view fields, std::string_view comment) {
  std::string out;
  if (!comment.empty()) {
    appendComment(out, "#", comment);
  }
  out += "msgid \"\"\n";
  if (!fields.empty()) {
    std::string kept(fields);
    if (!scriptEncoding.empty()) {
      kept = withField(kept, "X-Script-Encoding", scriptEncoding);
    }
    if (!language.empty()) {
      kept = withField(kept, "Language", language);
    }
    appendString(out, "msgstr", kept);
    return out;
  }
  // Empty revision, translator and team fields keep msgfmt --check from
  // warning that they are missing; editors fill them in.
  std::string header =
      "Project-Id-Version: krscript\n"
      "PO-Revision-Date: \n"
      "Last-Translator: \n"
      "Language-Team: \n"
      "Language: " +
      std::string(language) +
      "\n"
      "MIME-Version: 1.0\n"
      "Content-Type: text/plain; charset=UTF-8\n"
      "Content-Transfer-Encoding: 8bit\n";
  if (!scriptEncoding.empty()) {
    header += "X-Script-Encoding: " + std::string(scriptEncoding) + "\n";
  }
  appendString(out, "msgstr", header);
  return out;
}

void appendPoEntry(std::string& out, const TranslationEntry& entry) {
  out += '\n';
  if (!entry.translatorComment.empty()) {
    appendComment(out, "#", entry.translatorComment);
  }
  if (!entry.comment.empty()) {
    appendComment(out, "#.", entry.comment);
  }
  appendReference(out, decimalReference(entry.reference, entry.offset));
  if (entry.fuzzy) {
    out += "#, fuzzy\n";
  }
  const std::string_view prefix = entry.obsolete ? "#~ " : "";
  if (!entry.previousSource.empty()) {
    appendString(out, "msgid", entry.previousSource, entry.obsolete ? "#~| " : "#| ");
  }
  if (!entry.obsolete || !entry.offset.empty()) {
    appendString(out, "msgctxt", entry.offset, prefix);
  }
  appendString(out, "msgid", entry.source, prefix);
  appendString(out, "msgstr", entry.target, prefix);
}

std::string writePo(const TranslationFile& file) {
  std::string out =
      poHeader(file.scriptEncoding, file.language, file.headerFields, file.headerComment);
  for (const TranslationEntry& entry : file.entries) {
    appendPoEntry(out, entry);
  }
  return out;
}

Expected<TranslationFile> readPoEntries(std::string_view text, const EntrySink& take) {
  // Even a script without strings has a header: a file with nothing in it
  // was cut short or never written.
  std::string_view content = text;
  if (content.substr(0, 3) == "\xEF\xBB\xBF") {
    content.remove_prefix(3);
  }
  if (content.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    return translation::lineProblem(1, "the file is empty");
  }
  return PoReader(text, take).read();
}

Expected<TranslationFile> readPoMemoryEntries(std::string_view text, const EntrySink& take) {
  return PoReader(text, take, true).read();
}

Expected<TranslationFile> readPo(std::string_view text) {
  return readAllEntries(text, readPoEntries);
}

void translation::appendPoString(std::string& out, std::string_view keyword, std::string_view text,
                                 std::string_view prefix) {
  appendString(out, keyword, text, prefix);
}

void translation::appendPoComment(std::string& out, std::string_view marker,
                                  std::string_view comment) {
  appendComment(out, marker, comment);
}

}  // namespace krlist
