#pragma once

#include <string>
#include <string_view>

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
// encoding as X-Script-Encoding. A fuzzy entry gets "#, fuzzy" and, when it
// has one, its previous text as "#| msgid"; an obsolete entry is written as
// gettext writes one, every keyword line behind "#~ ". The offset is the msgctxt, which also keeps
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

// writePo in pieces, for a file written as its entries are made: the header
// of a file of strings in `scriptEncoding`, then each entry appended. The
// header has the fields of a file made afresh, or `fields` as read from an
// older file with its X-Script-Encoding set, and its Language too when
// `language` is given; and `comment` before it.
std::string poHeader(std::string_view scriptEncoding, std::string_view language = {},
                     std::string_view fields = {}, std::string_view comment = {});
void appendPoEntry(std::string& out, const TranslationEntry& entry);

// Reads what writePo writes and what the gettext tools and translators'
// editors make of it: comments in any order, flags ("#, fuzzy"), previous
// texts ("#| msgid") and obsolete entries ("#~", handed over marked
// obsolete, their offsets not checked), strings split
// over lines, CRLF line ends and a byte-order mark. Refuses, with the line,
// anything it cannot take back faithfully: bad syntax, invalid UTF-8, a
// charset other than UTF-8, plural forms, an entry without a msgctxt offset,
// the same offset twice.
Expected<TranslationFile> readPo(std::string_view text);

// readPo, handing each entry to `take` as it is read instead of keeping it:
// the file returned holds no entries. Entries before a refusal have been
// handed over by the time it is returned.
Expected<TranslationFile> readPoEntries(std::string_view text, const EntrySink& take);

// readPoEntries for a file taken as a memory of translations, from this
// program or any other: an entry's msgctxt need not be a script's offset, and
// is kept as it is.
Expected<TranslationFile> readPoMemoryEntries(std::string_view text, const EntrySink& take);

namespace translation {

// The pieces of an entry as writePo writes them, for an edit that writes one
// entry's lines anew (EntryEdit.h). Each line ends in a line feed, and no
// other line feed is in them: a string's control characters are escaped, a
// comment's become spaces.
//
// A keyword and its string ("msgstr", "#~ " before each line of an obsolete
// entry's), over one line of the file per line of the text.
void appendPoString(std::string& out, std::string_view keyword, std::string_view text,
                    std::string_view prefix = {});
// A comment behind `marker` ("#" for translators', "#." for the tool's).
void appendPoComment(std::string& out, std::string_view marker, std::string_view comment);

}  // namespace translation

}  // namespace krlist
