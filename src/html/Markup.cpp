#include "html/Markup.h"

#include <algorithm>

#include "text/Utf8.h"

namespace krlist::html {

namespace {

std::string_view referenceFor(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    case '\r':
      return "&#13;";
    default:
      return {};
  }
}

std::string number(std::uint64_t value) {
  return std::to_string(value);
}

// A share as a percentage with one decimal, in integers so that every system
// writes the same digits.
std::string percent(std::uint64_t part, std::uint64_t whole) {
  const std::uint64_t tenths = whole == 0 ? 0 : (part * 1000 + whole / 2) / whole;
  return number(tenths / 10) + "." + number(tenths % 10);
}

void writeJsString(TextOutput& out, std::string_view text) {
  std::string literal;
  appendJsString(literal, text);
  out.write(literal);
}

// How often each opcode occurs over the folder: one bar per opcode that
// does, longest for the most frequent.
void writeOpcodeChart(TextOutput& out, const std::vector<ScriptSummary>& scripts) {
  std::array<std::uint64_t, 256> counts{};
  for (const ScriptSummary& script : scripts) {
    for (std::size_t opcode = 0; opcode < counts.size(); ++opcode) {
      counts[opcode] += script.opcodes[opcode];
    }
  }
  const std::uint64_t most = *std::max_element(counts.begin(), counts.end());
  if (most == 0) {
    out.write("<p>No instructions.</p>\n");
    return;
  }
  const std::size_t shown = static_cast<std::size_t>(
      std::count_if(counts.begin(), counts.end(), [](std::uint64_t c) { return c > 0; }));
  constexpr std::uint64_t kWidth = 500;
  out.write("<svg class=\"chart\" role=\"img\" aria-label=\"Instructions by opcode\" width=\"" +
            number(kWidth + 200) + "\" height=\"" + number(shown * 20 + 4) + "\">\n");
  std::size_t row = 0;
  for (std::size_t opcode = 0; opcode < counts.size(); ++opcode) {
    if (counts[opcode] == 0) {
      continue;
    }
    const std::string y = number(row * 20 + 2);
    const std::uint64_t width = std::max<std::uint64_t>(1, counts[opcode] * kWidth / most);
    out.write("<text x=\"0\" y=\"" + number(row * 20 + 15) + "\">0x");
    out.writeHexByte(static_cast<std::uint8_t>(opcode));
    out.write("</text><rect x=\"44\" y=\"" + y + "\" width=\"" + number(width) +
              "\" height=\"16\" class=\"op\"/><text x=\"" + number(50 + width) + "\" y=\"" +
              number(row * 20 + 15) + "\">" + number(counts[opcode]) + "</text>\n");
    ++row;
  }
  out.write("</svg>\n");
}

// Translation progress per script: translated, fuzzy and untranslated
// strings as one bar each.
void writeTranslationChart(TextOutput& out, const std::vector<ScriptSummary>& scripts) {
  std::size_t shown = 0;
  for (const ScriptSummary& script : scripts) {
    shown += script.failure.empty() && script.hasTranslations && script.strings > 0;
  }
  if (shown == 0) {
    return;
  }
  constexpr std::uint64_t kWidth = 400;
  constexpr std::size_t kLabel = 300;
  out.write("<h2>Translation by script</h2>\n");
  out.write(
      "<svg class=\"chart\" role=\"img\" aria-label=\"Translation progress by script\" "
      "width=\"" +
      number(kLabel + kWidth + 80) + "\" height=\"" + number(shown * 20 + 4) + "\">\n");
  std::size_t row = 0;
  for (const ScriptSummary& script : scripts) {
    if (!script.failure.empty() || !script.hasTranslations || script.strings == 0) {
      continue;
    }
    const std::string y = number(row * 20 + 2);
    out.write("<text x=\"0\" y=\"" + number(row * 20 + 15) + "\">");
    // Long paths are cut at the front, where folders repeat.
    const std::size_t most = 40;
    std::string_view label = script.path;
    if (label.size() > most) {
      label = lastBetweenCharacters(label, most);
      out.write("\u2026");
    }
    writeEscaped(out, label);
    out.write("</text>");
    std::uint64_t x = kLabel;
    const std::pair<std::uint64_t, const char*> parts[] = {
        {script.translated, "done"}, {script.fuzzy, "fuzzy"}, {script.untranslated, "todo"}};
    for (const auto& [count, kind] : parts) {
      const std::uint64_t width = count * kWidth / script.strings;
      if (width > 0) {
        out.write("<rect x=\"" + number(x) + "\" y=\"" + y + "\" width=\"" + number(width) +
                  "\" height=\"16\" class=\"" + kind + "\"/>");
      }
      x += width;
    }
    out.write("<text x=\"" + number(kLabel + kWidth + 6) + "\" y=\"" + number(row * 20 + 15) +
              "\">" + percent(script.translated, script.strings) + "%</text>\n");
    ++row;
  }
  out.write("</svg>\n");
}

}  // namespace

void writeEscaped(TextOutput& out, std::string_view text) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::string_view reference = referenceFor(text[i]);
    if (!reference.empty()) {
      out.write(text.substr(start, i - start));
      out.write(reference);
      start = i + 1;
    }
  }
  out.write(text.substr(start));
}

std::size_t escapedLength(std::string_view text) {
  std::size_t length = text.size();
  for (char c : text) {
    const std::size_t size = referenceFor(c).size();
    length += size > 0 ? size - 1 : 0;
  }
  return length;
}

void writeMore(TextOutput& out, std::size_t count, std::string_view what) {
  if (count > 0) {
    out.write(" <span class=\"more\">\u2026 and ");
    out.write(number(count));
    out.write(' ');
    out.write(what);
    out.write(" more</span>");
  }
}

void writeUrlPath(TextOutput& out, std::string_view path) {
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out.write(c);
    } else {
      out.write('%');
      out.writeHexByte(byte);
    }
  }
}

std::string pageName(std::string_view path, std::size_t page, std::string_view suffix) {
  std::string name(path);
  if (page > 0) {
    name += '~';
    name += std::to_string(page + 1);
  }
  name += suffix;
  return name;
}

void appendJsString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20 || byte == '<' || byte == '>') {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else if (byte == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
               (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
      // U+2028 and U+2029 end a line in older JavaScript.
      out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(byte);
    }
  }
  out += '"';
}

void writeIndex(TextOutput& out, const std::vector<ScriptSummary>& scripts,
                std::string_view generator) {
  std::size_t failed = 0;
  bool translations = false;
  bool boxes = false;
  for (const ScriptSummary& script : scripts) {
    failed += !script.failure.empty();
    translations = translations || script.hasTranslations;
    boxes = boxes || script.hasBoxes;
  }
  out.write("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
  out.write(generator);
  out.write(
      "\n<title>Scripts</title>\n<link rel=\"stylesheet\" href=\"style.css\">\n</head>\n"
      "<body>\n<nav><b>" +
      number(scripts.size()) + (scripts.size() == 1 ? " script" : " scripts") + "</b>");
  if (failed > 0) {
    out.write(", " + number(failed) + " not decoded");
  }
  if (translations) {
    out.write(
        " <span class=\"show\">show <a href=\"index.html\">all</a>"
        " <a href=\"index.html?show=untranslated\">untranslated</a>"
        " <a href=\"index.html?show=fuzzy\">fuzzy</a>"
        " <a href=\"index.html?show=problems\">with problems</a></span>");
  }
  out.write(
      " <form action=\"index.html\"><input type=\"search\" name=\"q\" id=\"q\" "
      "placeholder=\"Search every string\"> <button>Search</button></form></nav>\n"
      "<div id=\"results\"></div>\n<h2>Scripts</h2>\n<table class=\"scripts\">\n<thead><tr>"
      "<th>Script</th><th>Instructions</th><th>Strings</th>");
  if (translations) {
    out.write(
        "<th>Translated</th><th>Fuzzy</th><th>Untranslated</th><th>Progress</th>"
        "<th>With problems</th>");
  }
  if (boxes) {
    out.write("<th>Over the box</th>");
  }
  out.write("</tr></thead>\n<tbody>\n");
  for (const ScriptSummary& script : scripts) {
    if (!script.failure.empty()) {
      out.write("<tr class=\"failed\"><td>");
      writeEscaped(out, script.path);
      out.write("</td><td colspan=\"" + number(2 + (translations ? 5 : 0) + (boxes ? 1 : 0)) +
                "\">");
      writeEscaped(out, script.failure);
      out.write("</td></tr>\n");
      continue;
    }
    // What the filters of ?show= pick: a script with such strings.
    std::string kinds;
    if (script.untranslated > 0) {
      kinds += " k-un";
    }
    if (script.fuzzy > 0) {
      kinds += " k-fz";
    }
    if (script.withProblems > 0) {
      kinds += " k-pr";
    }
    out.write(kinds.empty() ? "<tr><td><a href=\""
                            : "<tr class=\"" + kinds.substr(1) + "\"><td><a href=\"");
    writeUrlPath(out, pageName(script.path, 0));
    out.write("\">");
    writeEscaped(out, script.path);
    out.write("</a>");
    if (script.pages > 1) {
      out.write(" (" + number(script.pages) + " pages)");
    }
    out.write("</td><td>" + number(script.instructions) + "</td><td>" + number(script.strings) +
              "</td>");
    if (script.hasTranslations) {
      out.write("<td>" + number(script.translated) + "</td><td>" + number(script.fuzzy) +
                "</td><td>" + number(script.untranslated) + "</td><td><span class=\"bar\">");
      const std::uint64_t strings = std::max<std::uint64_t>(script.strings, 1);
      out.write("<span class=\"done\" style=\"width:" + percent(script.translated, strings) +
                "%\"></span><span class=\"fuzzy\" style=\"width:" + percent(script.fuzzy, strings) +
                "%\"></span></span> " + percent(script.translated, strings) + "%</td><td>" +
                number(script.withProblems) + "</td>");
    } else if (translations) {
      out.write("<td colspan=\"5\">no translations</td>");
    }
    if (boxes) {
      out.write("<td>" + (script.hasBoxes ? number(script.overflowing) : std::string()) + "</td>");
    }
    out.write("</tr>\n");
  }
  out.write("</tbody>\n</table>\n<h2>Instructions by opcode</h2>\n");
  writeOpcodeChart(out, scripts);
  writeTranslationChart(out, scripts);
  // The search data of every page, which search.js loads when the address
  // asks for a search.
  out.write("<script>\nvar krscriptData = [\n");
  for (const ScriptSummary& script : scripts) {
    for (std::size_t page = 0; script.failure.empty() && page < script.pages; ++page) {
      writeJsString(out, pageName(script.path, page, ".strings.js"));
      out.write(",\n");
    }
  }
  out.write(
      "];\n</script>\n<script src=\"search.js\"></script>\n<script src=\"filter.js\"></script>\n"
      "</body>\n</html>\n");
}

const std::string_view kStyleSheet = R"(body { font-family: sans-serif; margin: 0 1em 2em; }
nav { position: sticky; top: 0; background: #eef1f8; padding: .4em .6em; border-bottom: 1px solid #c8cede; }
nav form { display: inline; margin-left: 1em; }
.code { font-family: monospace; }
.code div { white-space: pre-wrap; overflow-wrap: anywhere; scroll-margin-top: 3em; }
.code div:target { background: #ffe08a; }
.code .b { margin-top: 1em; }
.code .a { margin-bottom: 1em; }
.s { color: #05612e; }
.x { color: #777; }
.t { margin-left: 1.5em; color: #1d3f8f; }
.t::before { content: "\2192  "; color: #999; }
.fz { background: #fde2b0; }
.un { color: #b00020; }
.t i { font-style: normal; font-size: 85%; border: 1px solid currentColor; border-radius: 3px; padding: 0 .2em; margin-right: .3em; }
.r { color: #666; margin-left: 1.5em; }
.more { color: #888; font-style: italic; }
table.scripts { border-collapse: collapse; }
table.scripts th, table.scripts td { padding: .15em .7em; border-bottom: 1px solid #ddd; text-align: right; }
table.scripts th:first-child, table.scripts td:first-child { text-align: left; }
tr.failed td { color: #b00020; text-align: left; }
.bar { display: inline-block; width: 8em; height: .8em; background: #ddd; vertical-align: middle; }
.bar span { display: block; float: left; height: 100%; }
.done { background: #2e9e48; fill: #2e9e48; }
.fuzzy { background: #e8a33c; fill: #e8a33c; }
.todo { fill: #ddd; }
.op { fill: #4a6fb5; }
.chart text { font-size: 12px; font-family: monospace; }
#results ol { font-family: monospace; }
#results li .t::before { content: "\2192  "; }
nav .show { margin-left: 1em; }
p.sum { margin: .4em 0; }
.code .rv { white-space: normal; font-family: sans-serif; font-size: 90%; margin: .15em 0 .7em 1.5em; }
.code .rv div { white-space: normal; margin: .1em 0; }
.rv i { font-style: normal; font-size: 85%; color: #666; margin-right: .3em; }
.rv .t { margin-left: .3em; }
.pr.e { color: #b00020; }
.pr.w { color: #8a5a00; }
.prev del { background: #f7c9c9; }
.prev ins { background: #c4efc8; text-decoration: none; }
.cm { color: #444; }
/* The game's text box: as wide as the game's, in its font at its size, each
   character at its advance: no kerning, no ligatures, no other shaping. */
.code div.box { margin: .3em 0; padding: 4px 0; background: #1f2433; color: #f3f3f3; outline: 2px solid #7a86a8; line-height: 1.3; font-kerning: none; font-variant-ligatures: none; font-feature-settings: "liga" 0, "clig" 0, "calt" 0, "kern" 0; letter-spacing: 0; word-spacing: 0; text-rendering: geometricPrecision; }
.code .box .line { display: block; width: max-content; min-width: 100%; white-space: pre; min-height: 1.3em; }
.box .line.over { background: #a3243b; }
.box .ph { color: #8fd0ff; }
)";

const std::string_view kSearchScript =
    R"(// The search of index.html?q=WORDS: every string and translation of the
// site, from the .js files beside the pages, which a page opened from disk
// may load with <script src> though it may not fetch them. A string matches
// when it or its translation holds every word, whatever the case.
"use strict";
var krscriptWords = [];
var krscriptFound = [];
function krscriptStrings(page, strings) {
  for (var i = 0; i < strings.length; i++) {
    var text = (strings[i][1] + "\n" + strings[i][2]).toLowerCase();
    if (krscriptWords.every(function (word) { return text.indexOf(word) >= 0; })) {
      krscriptFound.push([page, strings[i]]);
    }
  }
}
(function () {
  var query = new URLSearchParams(location.search).get("q");
  if (query === null || query.trim() === "") {
    return;
  }
  document.getElementById("q").value = query;
  krscriptWords = query.toLowerCase().split(/\s+/).filter(function (word) { return word !== ""; });
  var results = document.getElementById("results");
  var status = document.createElement("p");
  status.textContent = "Searching\u2026";
  results.appendChild(status);
  function url(path) {
    return path.split("/").map(encodeURIComponent).join("/");
  }
  function span(kind, text) {
    var element = document.createElement("span");
    element.className = kind;
    element.textContent = text;
    return element;
  }
  var shown = 1000;
  function show() {
    var count = krscriptFound.length;
    status.textContent = count + (count === 1 ? " match" : " matches") + " for \u201c" + query +
      "\u201d" + (count > shown ? ", the first " + shown + " shown" : "");
    var list = document.createElement("ol");
    krscriptFound.slice(0, shown).forEach(function (found) {
      var item = document.createElement("li");
      var link = document.createElement("a");
      var target = found[0] + "#" + found[1][0];
      link.href = url(found[0]) + "#" + found[1][0];
      link.textContent = target;
      item.appendChild(link);
      item.appendChild(document.createTextNode(" "));
      item.appendChild(span("s", found[1][1]));
      if (found[1][2] !== "") {
        item.appendChild(span(found[1][3] ? "t fz" : "t", found[1][2]));
      }
      list.appendChild(item);
    });
    results.appendChild(list);
  }
  // One file after another, so that the matches come in the order of the
  // scripts and their lines.
  var next = 0;
  function load() {
    if (next === krscriptData.length) {
      show();
      return;
    }
    var script = document.createElement("script");
    script.src = url(krscriptData[next++]);
    script.onload = script.onerror = load;
    document.body.appendChild(script);
  }
  load();
})();
)";

const std::string_view kFilterScript =
    R"(// The filters of a page or the index: ?show=untranslated, ?show=fuzzy or
// ?show=problems hides the strings (or scripts) that have none such, and
// keeps the filter in the links to the site's other pages.
"use strict";
(function () {
  var show = new URLSearchParams(location.search).get("show");
  var kinds = { untranslated: "k-un", fuzzy: "k-fz", problems: "k-pr" };
  if (!Object.prototype.hasOwnProperty.call(kinds, show)) {
    return;
  }
  var kind = kinds[show];
  document.querySelectorAll(".code > div, table.scripts tbody tr").forEach(function (item) {
    item.hidden = !item.classList.contains(kind);
  });
  // The filter's own links, "all" among them, say what they show.
  document.querySelectorAll("a[href]").forEach(function (link) {
    var parts = /^([^?#]*\.html)(#.*)?$/.exec(link.getAttribute("href"));
    if (parts && !link.closest(".show")) {
      link.setAttribute("href", parts[1] + "?show=" + show + (parts[2] || ""));
    }
  });
})();
)";

}  // namespace krlist::html
