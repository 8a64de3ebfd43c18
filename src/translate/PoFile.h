#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "translate/TranslationFile.h"

namespace krlist {

// Translation files in the gettext PO format, which translators' editors and
// the gettext tools read and write.
//
// Each entry is written as
//
//   #. COMMENT
//   #: REFERENCE
//   msgctxt "0000001A"
//   msgid "SOURCE"
//   msgstr "TARGET"
//
// after a header entry (msgid "") that declares UTF-8 and keeps the script's
// encoding as X-Script-Encoding. The offset is the msgctxt, which also keeps
// equal texts apart: gettext merges entries whose msgctxt and msgid agree.
//
// PO strings cannot hold U+0000, and gettext refuses U+0004 (its separator
// between msgctxt and msgid) anywhere in them: a text holding either is
// written, but neither gettext nor readPo will read it.
//
// Comment lines cannot hold control characters: a line feed in a comment
// starts a new "#." line, and other control characters but tabs become
// spaces. gettext splits "#:" lines at white space, so white space in a
// reference is written as single spaces and read back that way.
std::string writePo(const TranslationFile& file);

// Reads what writePo writes and what the gettext tools and translators'
// editors make of it: comments in any order, flags ("#, fuzzy"), previous
// texts ("#|") and obsolete entries ("#~"), which are ignored, strings split
// over lines, CRLF line ends and a byte-order mark. Refuses, with the line,
// anything it cannot take back faithfully: bad syntax, invalid UTF-8, a
// charset other than UTF-8, plural forms, an entry without a msgctxt offset,
// the same offset twice.
std::variant<TranslationFile, TranslationError> readPo(std::string_view text);

}  // namespace krlist
