#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "html/Site.h"
#include "io/TextOutput.h"

namespace krlist::html {

// Text from a script or a translation file as markup can carry it: every
// character that could start or end markup or an attribute value ("&", "<",
// ">", '"', "'") as a character reference, and a carriage return as one too,
// which a page would otherwise read as a line feed.
void writeEscaped(TextOutput& out, std::string_view text);
// The bytes writeEscaped writes for `text`.
std::size_t escapedLength(std::string_view text);

// " … and N more WHAT" after text or links shown in part; nothing for 0.
void writeMore(TextOutput& out, std::size_t count, std::string_view what = "bytes");

// A path inside the site as a relative URL: every byte but letters, digits,
// "-._~" and the "/" between folders percent-encoded, so that a name with
// "#", "?", "%", spaces or any other character still names its file.
void writeUrlPath(TextOutput& out, std::string_view path);

// The name of page `page` (from 0) of the script at `path`, or of its
// search data with the suffix ".strings.js": REL.html, REL~2.html, ...
std::string pageName(std::string_view path, std::size_t page, std::string_view suffix = ".html");

// A JavaScript string literal of UTF-8 `text`, for the data files: quotes,
// backslashes, controls, "<" and ">" (so that no "</script>" can end an
// inline script) and the line and paragraph separators escaped.
void appendJsString(std::string& out, std::string_view text);

// The site's index page: the scripts, their counts, translation progress and
// failures, the charts, and the search box and results.
void writeIndex(TextOutput& out, const std::vector<ScriptSummary>& scripts,
                std::string_view generator);

extern const std::string_view kStyleSheet;
extern const std::string_view kSearchScript;
// filter.js, which every page and the index load: ?show=untranslated,
// ?show=fuzzy or ?show=problems shows only the strings, or the scripts, that
// have such.
extern const std::string_view kFilterScript;

}  // namespace krlist::html
