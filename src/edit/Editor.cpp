// rand_s, the system's secure random numbers on Windows, is declared only
// for units that ask for it before the C library's headers come in.
#ifdef _WIN32
#define _CRT_RAND_S
#endif

#include "edit/Editor.h"

#include <rapidjson/reader.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "edit/EditorAssets.h"
#include "io/Files.h"
#include "io/OutputFile.h"
#include "text/Utf8.h"
#include "translate/EntryEdit.h"
#include "translate/Glossary.h"
#include "translate/LineWrap.h"
#include "translate/Placeholders.h"
#include "translate/ScriptStrings.h"
#include "translate/XmlDocument.h"

#ifdef _WIN32
#include <stdlib.h>  // rand_s
#else
#include <sys/random.h>
#endif

namespace krlist::edit {

namespace {

// JSON written as it is made, member after member.
class JsonWriter {
 public:
  void startObject() { open('{'); }
  void endObject() { close('}'); }
  void startArray() { open('['); }
  void endArray() { close(']'); }
  void key(std::string_view name) {
    value();
    appendJsonString(text_, name);
    text_ += ':';
    afterKey_ = true;
  }
  void string(std::string_view text) {
    value();
    appendJsonString(text_, text);
  }
  void boolean(bool truth) {
    value();
    text_ += truth ? "true" : "false";
  }
  void number(std::uint64_t count) {
    value();
    text_ += std::to_string(count);
  }
  void fraction(double number) {
    value();
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.4f", number);
    text_ += digits;
  }
  void null() {
    value();
    text_ += "null";
  }
  const std::string& text() const { return text_; }
  // The members of the object written, without its braces, for another's.
  std::string_view members() const { return std::string_view(text_).substr(1, text_.size() - 2); }

 private:
  // Before a value: the comma after the one before it in its object or
  // array.
  void value() {
    if (afterKey_) {
      afterKey_ = false;
    } else if (!first_.empty()) {
      if (!first_.back()) {
        text_ += ',';
      }
      first_.back() = false;
    }
  }
  void open(char bracket) {
    value();
    text_ += bracket;
    first_.push_back(true);
  }
  void close(char bracket) {
    text_ += bracket;
    first_.pop_back();
  }

  std::string text_;
  std::vector<bool> first_;  // of each object and array open: nothing in it yet
  bool afterKey_ = false;
};

// A script's lines are sent a few at a time: a script of hundreds of
// thousands of strings opens as fast as one of ten.
constexpr std::size_t kLinesAtOnce = 100;
// Before the line asked for by its offset, so that what leads to it shows.
constexpr std::size_t kLinesBefore = 5;
constexpr std::size_t kMostFound = 100;
constexpr std::size_t kMostSuggestions = 5;

// Every page and answer may load only what this server serves: no inline
// script, no other origin, no frame around it.
constexpr const char* kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; font-src 'self'; "
    "connect-src 'self'; img-src 'self'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";
constexpr std::string_view kCookie = "krscript-edit";
// A name's definition, whose translation is the name's wherever it speaks.
constexpr std::uint8_t kNameDefinition = 0x2B;

http::Response answer(unsigned status, std::string contentType, std::string body) {
  http::Response response;
  response.status = status;
  response.contentType = std::move(contentType);
  response.body = std::move(body);
  return response;
}

http::Response jsonAnswer(unsigned status, const JsonWriter& json) {
  return answer(status, "application/json; charset=utf-8", json.text());
}

http::Response refusal(unsigned status, std::string message) {
  JsonWriter out;
  out.startObject();
  out.key("error");
  out.string(message);
  out.endObject();
  return jsonAnswer(status, out);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// `text` with its %XX escapes undone, as the page escapes with
// encodeURIComponent; none when an escape is broken or what it gives is not
// UTF-8 or holds U+0000.
std::optional<std::string> unescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() + 0 || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) {
      return std::nullopt;
    }
    out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
    i += 2;
  }
  if (out.find('\0') != std::string::npos || findInvalidUtf8(out) != std::string::npos) {
    return std::nullopt;
  }
  return out;
}

// The value of `name` in a query ("a=1&b=2"), unescaped; none when it is
// not there or does not unescape.
std::optional<std::string> queryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::size_t end = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, end);
    const std::size_t equals = pair.find('=');
    if (pair.substr(0, equals) == name) {
      return equals == std::string_view::npos ? std::string() : unescaped(pair.substr(equals + 1));
    }
    query.remove_prefix(std::min(end + 1, query.size()));
  }
  return std::nullopt;
}

// The value of cookie `name` in a Cookie header ("a=1; b=2").
std::string_view cookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const std::size_t end = std::min(header.find(';'), header.size());
    std::string_view pair = header.substr(0, end);
    while (!pair.empty() && pair.front() == ' ') {
      pair.remove_prefix(1);
    }
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
      return pair.substr(equals + 1);
    }
    header.remove_prefix(std::min(end + 1, header.size()));
  }
  return {};
}

// Compares a secret in a time that tells nothing of where they differ.
bool sameSecret(std::string_view given, std::string_view secret) {
  if (given.size() != secret.size()) {
    return false;
  }
  unsigned char differ = 0;
  for (std::size_t i = 0; i < secret.size(); ++i) {
    differ |= static_cast<unsigned char>(given[i] ^ secret[i]);
  }
  return differ == 0;
}

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower;
}

// A page: its data in attributes of <body>, everything else made by the
// editor's script from what it asks for.
std::string page(std::string_view title, std::string_view script) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
  appendXmlEscaped(out, title);
  out +=
      "</title>\n<link rel=\"stylesheet\" href=\"/editor.css\">\n"
      "<script src=\"/editor.js\" defer></script>\n</head>\n<body";
  if (!script.empty()) {
    out += " data-script=\"";
    appendXmlEscaped(out, script);
    out += '"';
  }
  out += ">\n<noscript>The editor needs JavaScript.</noscript>\n</body>\n</html>\n";
  return out;
}

std::string offsetName(std::uint32_t offset) {
  char name[9];
  std::snprintf(name, sizeof name, "%08X", offset);
  return name;
}

// What the editor reads of a request's JSON: an object whose members are
// strings, booleans, or objects of those, one level down ("base"), found by
// their names ("target", "base.target"). Read in place, in the request's
// own text, and handed over as the parser meets each member; anything
// deeper, or an array, which no request of the page's holds, ends the
// reading, so that no nesting can run the parser's recursion deep.
class RequestFields : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, RequestFields> {
 public:
  // Reads `body`; false when it is not such an object.
  bool read(std::string body) {
    // The parser would stop at a NUL, taking it for the end; and its own
    // check of UTF-8 reads on past the end of a text cut inside a
    // character, so the text is checked whole first.
    if (body.find('\0') != std::string::npos || findInvalidUtf8(body) != std::string::npos) {
      return false;
    }
    text_ = std::move(body);
    rapidjson::Reader reader;
    rapidjson::InsituStringStream stream(text_.data());
    return !reader.Parse<rapidjson::kParseInsituFlag>(stream, *this).IsError() && sawObject_;
  }
  std::optional<std::string_view> string(const std::string& name) const {
    const auto found = strings_.find(name);
    return found == strings_.end() ? std::nullopt : std::optional<std::string_view>(found->second);
  }
  std::optional<bool> boolean(const std::string& name) const {
    const auto found = booleans_.find(name);
    return found == booleans_.end() ? std::nullopt : std::optional<bool>(found->second);
  }

  // The parser's calls.
  bool Default() { return depth_ > 0; }  // a number or null: not read
  bool String(const char* text, rapidjson::SizeType size, bool) {
    if (depth_ == 0) {
      return false;
    }
    strings_[name()] = std::string_view(text, size);
    return true;
  }
  bool Bool(bool truth) {
    if (depth_ == 0) {
      return false;
    }
    booleans_[name()] = truth;
    return true;
  }
  bool StartObject() {
    sawObject_ = true;
    return ++depth_ <= 2;
  }
  bool Key(const char* text, rapidjson::SizeType size, bool) {
    (depth_ == 1 ? outer_ : inner_).assign(text, size);
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    --depth_;
    return true;
  }
  bool StartArray() { return false; }

 private:
  std::string name() const { return depth_ == 1 ? outer_ : outer_ + "." + inner_; }

  std::string text_;
  std::unordered_map<std::string, std::string_view> strings_;  // into text_
  std::unordered_map<std::string, bool> booleans_;
  std::string outer_;
  std::string inner_;
  int depth_ = 0;
  bool sawObject_ = false;
};

}  // namespace

FileStamp stampOf(const std::filesystem::path& path) {
  std::error_code error;
  FileStamp stamp;
  stamp.time = std::filesystem::last_write_time(path, error);
  stamp.size = error ? 0 : std::filesystem::file_size(path, error);
  return stamp;
}

Expected<std::string> randomToken() {
  unsigned char bytes[16];
#ifdef _WIN32
  for (std::size_t i = 0; i < sizeof bytes; i += 4) {
    unsigned int value = 0;
    if (rand_s(&value) != 0) {
      return Problem::about({}, "the system gives no secure random numbers");
    }
    for (std::size_t k = 0; k < 4; ++k) {
      bytes[i + k] = static_cast<unsigned char>(value >> (8 * k));
    }
  }
#else
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t read = getrandom(bytes + got, sizeof bytes - got, 0);
    if (read <= 0) {
      return Problem::about({}, "the system gives no secure random numbers");
    }
    got += static_cast<std::size_t>(read);
  }
#endif
  std::string token;
  for (const unsigned char byte : bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    token += kDigits[byte >> 4];
    token += kDigits[byte & 15];
  }
  return token;
}

Editor::Editor(std::vector<EditedScript> scripts, Presentation presentation, std::string token)
    : scripts_(std::move(scripts)),
      presentation_(std::move(presentation)),
      token_(std::move(token)) {
  for (std::size_t i = 0; i < scripts_.size(); ++i) {
    scriptAt_.emplace(scripts_[i].path, i);
    for (std::size_t l = 0; l < scripts_[i].lines.size(); ++l) {
      const EditedLine& line = scripts_[i].lines[l];
      sameSource_[scripts_[i].file.entries[line.entry].source].emplace_back(i, l);
    }
  }
  for (EditedScript& script : scripts_) {
    for (EditedLine& line : script.lines) {
      recheck(script, line);
      const TranslationEntry& entry = script.file.entries[line.entry];
      if (line.opcode == kNameDefinition && !entry.target.empty() && !entry.fuzzy) {
        nameTranslations_.emplace(entry.source, entry.target);
      }
    }
  }
}

Editor::~Editor() = default;

void Editor::servedOn(std::uint16_t port) {
  port_ = port;
}

EditedScript* Editor::scriptNamed(std::string_view path) {
  const auto found = scriptAt_.find(std::string(path));
  return found == scriptAt_.end() ? nullptr : &scripts_[found->second];
}

const EditedScript* Editor::scriptNamed(std::string_view path) const {
  return const_cast<Editor*>(this)->scriptNamed(path);
}

http::Response Editor::handle(const http::Request& request) {
  // The server listens on the loopback address, where any page the browser
  // opens may send it requests: a request that names another host is a page
  // that had its own name resolve here; one without the token, any page; a
  // write from another origin, a form of another page.
  const std::string port = std::to_string(port_);
  const std::string host = lowerAscii(request.host);
  if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
    return answer(403, "text/plain; charset=utf-8", "");
  }
  const std::string_view target = request.target;
  const std::size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  const std::optional<std::string> given = path == "/" ? queryValue(query, "token") : std::nullopt;
  http::Response response;
  if (given && sameSecret(*given, token_)) {
    // The address printed carries the token once; the cookie carries it
    // from then on, out of the address bar and out of reach of scripts.
    response = answer(303, "text/plain; charset=utf-8", "");
    response.headers.emplace_back("Location", "/");
    response.headers.emplace_back(
        "Set-Cookie", std::string(kCookie) + "=" + token_ + "; HttpOnly; SameSite=Strict; Path=/");
  } else if (!sameSecret(cookieValue(request.cookie, kCookie), token_)) {
    return answer(403, "text/plain; charset=utf-8", "");
  } else if (request.method == "POST") {
    if (request.origin != "http://127.0.0.1:" + port &&
        request.origin != "http://localhost:" + port) {
      return answer(403, "text/plain; charset=utf-8", "");
    }
    response = route(request, path, query);
  } else if (request.method == "GET") {
    response = route(request, path, query);
  } else {
    response = answer(405, "text/plain; charset=utf-8", "Only GET and POST are served.\n");
    response.headers.emplace_back("Allow", "GET, POST");
  }
  response.headers.emplace_back("Content-Security-Policy", kPolicy);
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.headers.emplace_back("Referrer-Policy", "no-referrer");
  response.headers.emplace_back("Cache-Control", "no-store");
  return response;
}

http::Response Editor::route(const http::Request& request, std::string_view path,
                             std::string_view query) {
  const bool post = request.method == "POST";
  if (post) {
    if (path == "/api/check") {
      return check(request);
    }
    if (path == "/api/save") {
      return save(request);
    }
    return refusal(404, "no such request");
  }
  if (path == "/") {
    return answer(200, "text/html; charset=utf-8", page("krscript edit", ""));
  }
  if (path == "/editor.js") {
    return answer(200, "text/javascript; charset=utf-8", std::string(kEditorScript));
  }
  if (path == "/editor.css") {
    return answer(200, "text/css; charset=utf-8",
                  std::string(kEditorStyle) + html::boxStyles(presentation_.boxes));
  }
  if (path == "/api/scripts") {
    return scriptList();
  }
  if (path == "/api/search") {
    return search(query);
  }
  if (path == "/api/lines") {
    return lines(query);
  }
  if (path == "/api/suggest") {
    return suggest(query);
  }
  // A font of the boxes, by the name the style sheet gives it.
  for (const html::DrawnBox* box : presentation_.boxes) {
    if (!box->font.empty() && path.substr(1) == html::fontFileName(box->fontNumber, box->font)) {
      return font(*box);
    }
  }
  // A script's page: its path in the folder, the only names of files a
  // request can give, looked up among the run's.
  if (path.size() > 6 && path.ends_with(".html")) {
    const std::optional<std::string> name = unescaped(path.substr(1, path.size() - 6));
    if (name && scriptNamed(*name) != nullptr) {
      return answer(200, "text/html; charset=utf-8", page(*name + " - krscript edit", *name));
    }
  }
  return answer(404, "text/plain; charset=utf-8", "Not found.\n");
}

http::Response Editor::font(const html::DrawnBox& box) const {
  const Expected<std::string> bytes = readFile(box.font);
  if (!bytes) {
    return answer(500, "text/plain; charset=utf-8", bytes.problem().describe());
  }
  const std::string name = html::fontFileName(box.fontNumber, box.font);
  std::string type = "font/ttf";
  for (const char* suffix : {".otf", ".woff2", ".woff"}) {
    if (name.ends_with(suffix)) {
      type = std::string("font/") + (suffix + 1);
    }
  }
  return answer(200, type, *bytes);
}

std::vector<Editor::ShownProblem> Editor::problemsOf(const EditedScript& script,
                                                     const EditedLine& line,
                                                     std::string_view target) const {
  std::vector<ShownProblem> shown;
  if (target.empty()) {
    return shown;
  }
  const TranslationEntry& entry = script.file.entries[line.entry];
  std::vector<EntryProblem> problems;
  checkTranslation(entry.source, target, line.opcode, script.encoding, presentation_.fit,
                   presentation_.box, Location{}, problems);
  for (EntryProblem& problem : problems) {
    shown.push_back({isError(problem.check), std::string(checkName(problem.check)),
                     std::move(problem.problem.message)});
  }
  // The checks lint makes across the run: the same source translated
  // otherwise elsewhere, each other translation with its first place, and
  // the glossary's terms.
  std::vector<std::pair<std::string_view, std::string>> others;
  bool otherwise = false;
  const auto same = sameSource_.find(entry.source);
  for (const auto& [s, l] : same->second) {  // every line is filed under its source
    const EditedScript& there = scripts_[s];
    if (&there.lines[l] == &line) {
      continue;
    }
    const TranslationEntry& other = there.file.entries[there.lines[l].entry];
    if (other.target.empty() || other.fuzzy ||
        std::any_of(others.begin(), others.end(),
                    [&](const auto& given) { return given.first == other.target; })) {
      continue;
    }
    others.emplace_back(other.target,
                        there.translationsName + ":" + std::to_string(other.targetLine));
    otherwise = otherwise || other.target != target;
  }
  if (otherwise) {
    shown.push_back(
        {false, "inconsistent",
         inconsistencyMessage(line.opcode == kNameDefinition, entry.source, target, others)});
  }
  if (presentation_.glossary != nullptr) {
    for (const GlossaryTerm* term : presentation_.glossary->missing(entry.source, target)) {
      shown.push_back({false, "glossary", presentation_.glossary->missingMessage(*term, target)});
    }
  }
  return shown;
}

void Editor::recheck(EditedScript& script, EditedLine& line) const {
  const TranslationEntry& entry = script.file.entries[line.entry];
  line.problem = false;
  line.over = false;
  if (entry.target.empty()) {
    return;
  }
  line.problem = !problemsOf(script, line, entry.target).empty();
  const html::DrawnBox* box = presentation_.boxFor ? presentation_.boxFor(line.opcode) : nullptr;
  if (box != nullptr) {
    const BoxFit& fit = *box->fit;
    std::size_t count = 0;
    forEachBoxLine(fitTranslation(entry.target, script.encoding, presentation_.fit, line.opcode),
                   fit.lineBreak, [&](std::string_view drawn) {
                     ++count;
                     line.over = line.over || (fit.lines > 0 && count > fit.lines) ||
                                 fit.measure->pixels(lineWidth(drawn, *fit.measure)) > box->width;
                   });
  }
}

http::Response Editor::scriptList() const {
  JsonWriter out;
  out.startObject();
  out.key("scripts");
  out.startArray();
  for (const EditedScript& script : scripts_) {
    out.startObject();
    out.key("path");
    out.string(script.path);
    out.key("translations");
    out.string(script.translationsName);
    if (!script.failure.empty()) {
      out.key("failure");
      out.string(script.failure);
    }
    std::size_t translated = 0;
    std::size_t fuzzy = 0;
    std::size_t untranslated = 0;
    std::size_t over = 0;
    std::size_t problems = 0;
    for (const EditedLine& line : script.lines) {
      const TranslationEntry& entry = script.file.entries[line.entry];
      ++(entry.target.empty() ? untranslated : entry.fuzzy ? fuzzy : translated);
      over += line.over;
      problems += line.problem;
    }
    out.key("strings");
    out.number(script.lines.size());
    out.key("translated");
    out.number(translated);
    out.key("fuzzy");
    out.number(fuzzy);
    out.key("untranslated");
    out.number(untranslated);
    out.key("over");
    out.number(over);
    out.key("problems");
    out.number(problems);
    out.endObject();
  }
  out.endArray();
  out.endObject();
  return jsonAnswer(200, out);
}

http::Response Editor::search(std::string_view query) const {
  const std::optional<std::string> words = queryValue(query, "q");
  if (!words || words->empty()) {
    return refusal(400, "nothing to search for");
  }
  // Letters of the Latin alphabet are found in either case; every other
  // character as it is.
  const std::string sought = lowerAscii(*words);
  JsonWriter out;
  out.startObject();
  out.key("found");
  out.startArray();
  std::size_t found = 0;
  for (const EditedScript& script : scripts_) {
    for (const EditedLine& line : script.lines) {
      const TranslationEntry& entry = script.file.entries[line.entry];
      if (lowerAscii(entry.source).find(sought) == std::string::npos &&
          lowerAscii(entry.target).find(sought) == std::string::npos) {
        continue;
      }
      if (++found > kMostFound) {
        continue;
      }
      out.startObject();
      out.key("script");
      out.string(script.path);
      out.key("offset");
      out.string(offsetName(line.offset));
      out.key("source");
      out.string(entry.source);
      out.key("target");
      out.string(entry.target);
      out.endObject();
    }
  }
  out.endArray();
  out.key("total");
  out.number(found);
  out.endObject();
  return jsonAnswer(200, out);
}

void Editor::writeFit(std::string& out, const EditedScript& script, const EditedLine& line,
                      std::string_view target) const {
  JsonWriter json;
  json.startObject();
  const html::DrawnBox* box = presentation_.boxFor ? presentation_.boxFor(line.opcode) : nullptr;
  json.key("box");
  if (box == nullptr) {
    json.null();
  } else {
    // The lines the game shows, as inject fills the box: each with its
    // width in pixels, over when wider than the box or past its lines, its
    // placeholders apart with the text they stand for.
    const BoxFit& fit = *box->fit;
    json.startObject();
    json.key("number");
    json.number(box->number);
    json.key("lines");
    json.startArray();
    std::size_t count = 0;
    const std::string fitted =
        fitTranslation(target, script.encoding, presentation_.fit, line.opcode);
    forEachBoxLine(fitted, fit.lineBreak, [&](std::string_view drawn) {
      if (!drawn.empty() && drawn.back() == '\r') {
        drawn.remove_suffix(1);
      }
      ++count;
      const std::uint64_t width = fit.measure->pixels(lineWidth(drawn, *fit.measure));
      json.startObject();
      json.key("over");
      json.boolean((fit.lines > 0 && count > fit.lines) || width > box->width);
      json.key("width");
      json.number(width);
      json.key("pieces");
      json.startArray();
      std::size_t text = 0;
      for (std::size_t at = 0; at < drawn.size();) {
        const std::size_t length = placeholderAt(drawn, at);
        if (length == 0) {
          (void)nextCharacter(drawn, at);
          continue;
        }
        if (at > text) {
          json.startObject();
          json.key("text");
          json.string(drawn.substr(text, at - text));
          json.endObject();
        }
        const std::string placeholder(drawn.substr(at, length));
        json.startObject();
        json.key("placeholder");
        json.string(placeholder);
        const auto shows = box->placeholders.find(placeholder);
        json.key("shows");
        json.string(shows != box->placeholders.end() ? std::string_view(shows->second) : "");
        json.endObject();
        at += length;
        text = at;
      }
      if (text < drawn.size()) {
        json.startObject();
        json.key("text");
        json.string(drawn.substr(text));
        json.endObject();
      }
      json.endArray();
      json.endObject();
    });
    json.endArray();
    json.endObject();
  }
  json.key("problems");
  json.startArray();
  for (const ShownProblem& problem : problemsOf(script, line, target)) {
    json.startObject();
    json.key("severity");
    json.string(problem.error ? "error" : "warning");
    json.key("check");
    json.string(problem.check);
    json.key("message");
    json.string(problem.message);
    json.endObject();
  }
  json.endArray();
  json.endObject();
  // The members, without the object's braces, for the caller's object.
  out.append(json.members());
}

void Editor::writeLine(std::string& out, const EditedScript& script, const EditedLine& line) const {
  const TranslationEntry& entry = script.file.entries[line.entry];
  JsonWriter json;
  json.startObject();
  json.key("offset");
  json.string(offsetName(line.offset));
  json.key("name");
  json.boolean(line.opcode == kNameDefinition);
  json.key("who");
  json.startArray();
  for (const std::string& name : line.speakers) {
    json.startObject();
    json.key("name");
    json.string(name);
    const auto translated = nameTranslations_.find(name);
    if (translated != nameTranslations_.end()) {
      json.key("translation");
      json.string(translated->second);
    }
    json.endObject();
  }
  json.endArray();
  json.key("source");
  json.string(entry.source);
  json.key("target");
  json.string(entry.target);
  json.key("fuzzy");
  json.boolean(entry.fuzzy);
  json.key("comment");
  json.string(entry.translatorComment);
  if (!entry.previousSource.empty()) {
    // What changed in the source since the translation was made.
    json.key("changes");
    json.startArray();
    html::forEachChange(entry.previousSource, entry.source,
                        [&json](std::string_view kind, std::string_view text) {
                          if (text.empty()) {
                            return;
                          }
                          json.startArray();
                          json.string(kind);
                          json.string(text);
                          json.endArray();
                        });
    json.endArray();
  }
  json.key("needsWork");
  json.boolean(entry.target.empty() || entry.fuzzy || line.problem);
  json.endObject();
  out.append(json.text(), 0, json.text().size() - 1);  // open for the fit's members
  out += ',';
  writeFit(out, script, line, entry.target);
  out += '}';
}

http::Response Editor::lines(std::string_view query) {
  const std::optional<std::string> name = queryValue(query, "script");
  EditedScript* script = name ? scriptNamed(*name) : nullptr;
  if (script == nullptr) {
    return refusal(404, "no such script");
  }
  // A page shows the file as it is: one that another program saved since
  // it was read is read again.
  if (script->failure.empty() && stampOf(script->translationsPath) != script->stamp) {
    Expected<std::string> now = readFile(script->translationsPath);
    std::string problem;
    if (!now) {
      return refusal(500, now.problem().describe());
    }
    if (*now != script->text && !reread(*script, std::move(*now), problem)) {
      return refusal(409, problem);
    }
    script->stamp = stampOf(script->translationsPath);
  }
  std::size_t from = 0;
  std::optional<std::size_t> focus;
  if (const std::optional<std::string> at = queryValue(query, "at")) {
    const EditedLine* found = lineAt(*script, *at);
    if (found == nullptr) {
      return refusal(404, "no string of the script is at " + *at);
    }
    focus = static_cast<std::size_t>(found - script->lines.data());
  } else if (const std::optional<std::string> after = queryValue(query, "next")) {
    // The next string that needs work after the one at `after`: none
    // translated, fuzzy, or with a problem.
    const EditedLine* found = lineAt(*script, *after);
    if (found == nullptr) {
      return refusal(404, "no string of the script is at " + *after);
    }
    for (std::size_t i = static_cast<std::size_t>(found - script->lines.data()) + 1;
         i < script->lines.size(); ++i) {
      const EditedLine& line = script->lines[i];
      const TranslationEntry& entry = script->file.entries[line.entry];
      if (entry.target.empty() || entry.fuzzy || line.problem) {
        focus = i;
        break;
      }
    }
    if (!focus) {
      return answer(200, "application/json; charset=utf-8", "{\"focus\":null}");
    }
  } else if (const std::optional<std::string> first = queryValue(query, "from")) {
    for (const char c : *first) {
      if (c < '0' || c > '9' || from > script->lines.size()) {
        return refusal(400, "from is a line's number");
      }
      from = from * 10 + static_cast<std::size_t>(c - '0');
    }
  }
  if (focus) {
    from = *focus - std::min(*focus, kLinesBefore);
  }
  from = std::min(from, script->lines.size());
  const std::size_t to = std::min(from + kLinesAtOnce, script->lines.size());
  JsonWriter json;
  json.startObject();
  json.key("script");
  json.string(script->path);
  json.key("translations");
  json.string(script->translationsName);
  if (!script->failure.empty()) {
    json.key("failure");
    json.string(script->failure);
  }
  json.key("canComment");
  json.boolean(script->comments);
  json.key("total");
  json.number(script->lines.size());
  json.key("from");
  json.number(from);
  if (focus) {
    json.key("focus");
    json.string(offsetName(script->lines[*focus].offset));
  }
  json.endObject();
  std::string body(json.text(), 0, json.text().size() - 1);
  body += ",\"lines\":[";
  for (std::size_t i = from; i < to; ++i) {
    if (i > from) {
      body += ',';
    }
    writeLine(body, *script, script->lines[i]);
  }
  body += "]}";
  return answer(200, "application/json; charset=utf-8", std::move(body));
}

void Editor::rebuildMemory() {
  memorySearch_.reset();
  memory_ = std::make_unique<TranslationMemory>();
  for (const EditedScript& script : scripts_) {
    EntryList entries;
    for (const TranslationEntry& entry : script.file.entries) {
      entries.add(entry);
    }
    memory_->add(entries);
  }
  memory_->index(presentation_.similarity);
  memorySearch_ = std::make_unique<MemorySearch>(*memory_);
  memoryStale_ = false;
}

http::Response Editor::suggest(std::string_view query) {
  const std::optional<std::string> name = queryValue(query, "script");
  const std::optional<std::string> offset = queryValue(query, "offset");
  const EditedScript* script = name ? scriptNamed(*name) : nullptr;
  const EditedLine* line = script != nullptr && offset ? lineAt(*script, *offset) : nullptr;
  if (line == nullptr) {
    return refusal(404, "no such string");
  }
  // The memory is made again after saves, when next asked: what was saved
  // is then in it.
  if (memoryStale_) {
    rebuildMemory();
  }
  const std::string source = script->file.entries[line->entry].source;
  JsonWriter json;
  json.startObject();
  json.key("suggestions");
  json.startArray();
  for (const Suggestion& suggestion : memorySearch_->suggest(source, kMostSuggestions)) {
    json.startObject();
    json.key("source");
    json.string(suggestion.source);
    json.key("target");
    json.string(suggestion.target);
    json.key("score");
    json.fraction(suggestion.score);
    json.key("count");
    json.number(suggestion.count);
    json.endObject();
  }
  json.endArray();
  json.endObject();
  return jsonAnswer(200, json);
}

const EditedLine* Editor::lineAt(const EditedScript& script, std::string_view offset) const {
  if (!translation::isOffsetContext(offset)) {
    return nullptr;
  }
  const std::uint32_t value = translation::offsetOf(offset);
  const auto found =
      std::lower_bound(script.lines.begin(), script.lines.end(), value,
                       [](const EditedLine& line, std::uint32_t at) { return line.offset < at; });
  return found != script.lines.end() && found->offset == value ? &*found : nullptr;
}

http::Response Editor::check(const http::Request& request) const {
  RequestFields body;
  if (!body.read(request.body)) {
    return refusal(400, "the request is not a JSON object");
  }
  const std::optional<std::string_view> name = body.string("script");
  const std::optional<std::string_view> offset = body.string("offset");
  const std::optional<std::string_view> target = body.string("target");
  const EditedScript* script = name ? scriptNamed(*name) : nullptr;
  const EditedLine* line = script != nullptr && offset ? lineAt(*script, *offset) : nullptr;
  if (line == nullptr || !target) {
    return refusal(404, "no such string");
  }
  std::string out = "{";
  writeFit(out, *script, *line, *target);
  out += '}';
  return answer(200, "application/json; charset=utf-8", std::move(out));
}

namespace {

void writeEntryState(JsonWriter& json, const TranslationEntry& entry) {
  json.startObject();
  json.key("target");
  json.string(entry.target);
  json.key("comment");
  json.string(entry.translatorComment);
  json.key("fuzzy");
  json.boolean(entry.fuzzy);
  json.endObject();
}

}  // namespace

bool Editor::reread(EditedScript& script, std::string text, std::string& problem) {
  Expected<TranslationFile> read = readTranslationFile(script.format, text);
  if (!read) {
    read.problem().where.file = script.translationsName;
    problem = read.problem().describe();
    return false;
  }
  std::unordered_map<std::string, std::size_t> entryAt;
  for (std::size_t i = 0; i < read->entries.size(); ++i) {
    if (!read->entries[i].obsolete) {
      entryAt.emplace(read->entries[i].offset, i);
    }
  }
  for (const EditedLine& line : script.lines) {
    const auto found = entryAt.find(offsetName(line.offset));
    if (found == entryAt.end() ||
        read->entries[found->second].source != script.file.entries[line.entry].source) {
      problem = script.translationsName + ": another program changed the file, and its entry " +
                offsetName(line.offset) + " is no longer the script's string: reopen the editor";
      return false;
    }
  }
  for (EditedLine& line : script.lines) {
    line.entry = entryAt[offsetName(line.offset)];
  }
  script.file = std::move(*read);
  script.text = std::move(text);
  for (EditedLine& line : script.lines) {
    recheck(script, line);
  }
  memoryStale_ = true;
  return true;
}

http::Response Editor::save(const http::Request& request) {
  RequestFields body;
  if (!body.read(request.body)) {
    return refusal(400, "the request is not a JSON object");
  }
  const std::optional<std::string_view> name = body.string("script");
  const std::optional<std::string_view> offset = body.string("offset");
  const std::optional<std::string_view> target = body.string("target");
  const std::optional<std::string_view> comment = body.string("comment");
  // What the page showed of the entry before the translator typed.
  const std::optional<std::string_view> baseTarget = body.string("base.target");
  const std::optional<std::string_view> baseComment = body.string("base.comment");
  const std::optional<bool> baseFuzzy = body.boolean("base.fuzzy");
  EditedScript* script = name ? scriptNamed(*name) : nullptr;
  const EditedLine* found = script != nullptr && offset ? lineAt(*script, *offset) : nullptr;
  if (found == nullptr || !target || !comment || !baseTarget || !baseComment || !baseFuzzy) {
    return refusal(400, "a save names a string, its target, its comment and what it was");
  }
  if (!script->failure.empty()) {
    return refusal(409, script->failure);
  }
  if (target->find('\0') != std::string_view::npos ||
      comment->find('\0') != std::string_view::npos) {
    return refusal(422, "a translation file cannot hold the character U+0000");
  }
  EditedLine& line = script->lines[static_cast<std::size_t>(found - script->lines.data())];
  // The file as it is now: another program may have saved it since it was
  // read (a translators' editor, a pull of the files).
  Expected<std::string> now = readFile(script->translationsPath);
  if (!now) {
    return refusal(500, now.problem().describe());
  }
  if (*now != script->text) {
    std::string problem;
    if (!reread(*script, std::move(*now), problem)) {
      return refusal(409, problem);
    }
  }
  script->stamp = stampOf(script->translationsPath);
  const TranslationEntry& entry = script->file.entries[line.entry];
  const bool done = entry.target == *target && entry.translatorComment == *comment && !entry.fuzzy;
  // What the page started from must be what the file holds: otherwise the
  // entry was changed elsewhere meanwhile, and neither text is to be lost.
  // A save of what the file already holds (sent again after an answer that
  // did not arrive) has nothing to lose.
  if (!done && (entry.target != *baseTarget || entry.translatorComment != *baseComment ||
                entry.fuzzy != *baseFuzzy)) {
    JsonWriter json;
    json.startObject();
    json.key("error");
    json.string(script->translationsName + ": the entry " + offsetName(line.offset) +
                " was changed by another program since the page showed it");
    json.key("conflict");
    writeEntryState(json, entry);
    json.endObject();
    return jsonAnswer(409, json);
  }
  const EntryChange change{std::string(*target), std::string(*comment)};
  const Expected<std::string> edited = script->format == TranslationFormat::Po
                                           ? editPoEntry(script->text, entry.offset, change)
                                           : editCsvEntry(script->text, entry.offset, change);
  if (!edited) {
    Problem named = edited.problem();
    named.where.file = script->translationsName;
    return refusal(422, named.describe());
  }
  OutputFile output;
  Expected<void> written = output.open(script->translationsPath);
  if (written &&
      std::fwrite(edited->data(), 1, edited->size(), output.stream()) != edited->size()) {
    written = Problem::about(script->translationsName, "cannot write the file");
  }
  if (written) {
    written = output.commit();
  }
  if (!written) {
    return refusal(500, written.problem().describe());
  }
  script->text = *edited;
  script->stamp = stampOf(script->translationsPath);
  TranslationEntry& saved = script->file.entries[line.entry];
  saved.target = change.target;
  saved.translatorComment = change.translatorComment;
  saved.fuzzy = false;
  saved.previousSource.clear();
  if (line.opcode == kNameDefinition) {
    if (saved.target.empty()) {
      nameTranslations_.erase(saved.source);
    } else {
      nameTranslations_[saved.source] = saved.target;
    }
  }
  // Where the entries now lie, for the places messages name: the lines of
  // the saved entry may have come or gone.
  if (Expected<TranslationFile> lines = readTranslationFile(script->format, script->text);
      lines && lines->entries.size() == script->file.entries.size()) {
    for (std::size_t i = 0; i < lines->entries.size(); ++i) {
      script->file.entries[i].line = lines->entries[i].line;
      script->file.entries[i].targetLine = lines->entries[i].targetLine;
    }
  }
  // The entry, and every other of its source, whose consistency it changes.
  for (const auto& [s, l] : sameSource_[saved.source]) {
    recheck(scripts_[s], scripts_[s].lines[l]);
  }
  memoryStale_ = true;
  std::string out = "{\"line\":";
  writeLine(out, *script, line);
  out += '}';
  return answer(200, "application/json; charset=utf-8", std::move(out));
}

}  // namespace krlist::edit
