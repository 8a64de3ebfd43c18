#pragma once

#include <string>
#include <string_view>

#include "io/Problem.h"

namespace krlist {

// One entry of a translation file saved in place, as an editor saves each
// entry the translator types: the file's other bytes, whoever wrote them
// (this program, the gettext tools, a translators' editor, a spreadsheet),
// stay as they are, so that a file kept under version control changes by the
// lines of that entry alone.

// What the editor saves of one entry: its translation and its translators'
// comment. A saved entry is no longer fuzzy: the translator reviewed it.
struct EntryChange {
  std::string target;             // UTF-8
  std::string translatorComment;  // UTF-8; lines joined by '\n', as TranslationEntry has it
};

// `text`, a translation file as readPo reads it, with the entry whose offset
// (msgctxt, eight uppercase hex digits, as TranslationEntry::offset) is `offset`
// changed: its msgstr, its translators' comment lines ("# "), and, when it was
// fuzzy, "fuzzy" taken out of its flags (the "#," line gone when nothing else is
// left on it) and its previous source ("#|" lines) gone. Every byte before and
// after that entry's lines is as it was; the lines written use the file's line
// ends (CRLF when the entry's lines end so). A problem naming the line when the
// text does not read (readPo's refusal) and "no entry has the offset 0000001A"
// (or is only obsolete) when none does.
//
// When only an obsolete entry has the offset, the message says so after
// that: "... 0000001A (only an obsolete one, whose string is gone from the
// script)". The previous source goes whether or not the entry was fuzzy: it is what the
// translation was made for, and the translator has just made it for the
// source. A msgstr or a comment whose text does not change keeps its lines as
// they were, however they were wrapped.
Expected<std::string> editPoEntry(std::string_view text, std::string_view offset,
                                  const EntryChange& change);

// The same for a CSV file as readCsv reads it (UTF-8, with or without the
// byte-order mark; any separator it takes; quoted or bare fields): the row of
// the entry whose location ends with that offset gets the target, the translator
// comments cell and an empty fuzzy cell (when the file has those columns); every
// other cell of the row and every other byte of the file as it was. A changed
// cell is written quoted (as writeCsv quotes), with the row's line ends inside
// it as the text has them. Refused, with the line: a file readCsv refuses; a file
// that a spreadsheet saved as UTF-16 or CP932 (TranslationFile::readAs non-empty):
// "saved as UTF-16 by a spreadsheet: save it as CSV UTF-8 to edit it here" (or
// CP932); a translators' comment to save where the file has no "translator
// comments" column: "the file has no column for translators' comments".
//
// As in a PO file, the previous source cell is emptied too, and a cell whose
// text does not change keeps its bytes.
Expected<std::string> editCsvEntry(std::string_view text, std::string_view offset,
                                   const EntryChange& change);

}  // namespace krlist
