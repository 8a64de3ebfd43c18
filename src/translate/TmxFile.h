#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "io/Problem.h"

namespace krlist {

// Translation memories in TMX 1.4b, the XML form translation tools exchange
// them in: a <header> whose srclang names the language of the sources, and a
// <body> of translation units <tu>, each holding one variant <tuv xml:lang>
// per language with its text in a <seg>.

// One translation remembered: a source text and its translation, UTF-8.
struct MemoryUnit {
  std::string source;
  std::string target;
  // Where the unit lies in the file it was read from (its <tu>'s line, from
  // 1), for messages; 0 for units not read.
  std::size_t line = 0;
};

struct TmxLanguages {
  std::string source = "ja";
  std::string target;
};

// A memory as TMX, one <tu> per unit in the order given, with the two
// languages (as the TMX header and the xml:lang of each variant name them)
// and `toolVersion` as the header's creationtoolversion. XML 1.0 carries no
// control character but tab, line feed and carriage return, not even as a
// character reference: a unit holding another (a script's string may) is
// left out, and counted in `leftOut`. A carriage return is written as a
// character reference, so that a reader's line-end normalization keeps it.
std::string writeTmx(const std::vector<MemoryUnit>& units, const TmxLanguages& languages,
                     std::string_view toolVersion, std::size_t& leftOut);

// Whether `text` can be written in a TMX file (writeTmx).
bool fitsTmx(std::string_view text);

// Reads the units of a TMX file: what writeTmx writes and what other tools
// write. The source of a unit is its variant in the language of the <tu>'s
// srclang, or else the header's (matched by primary language, in any case:
// "ja" is "JA-JP"), or the first variant when none is in that language or
// srclang is "*all*"; its target the variant in `targetLanguage` when
// given, or else the first variant in another language. TMX 1.1's lang is taken as xml:lang. The
// inline elements of a <seg> (<ph>, <bpt>, <ept>, <it>, <hi>, <ut>, <sub>) are taken as the text
// they hold, in place: what a tool wrote as a placeholder's code stays in the text. <prop>, <note>
// and everything else outside the <seg>s is ignored; a unit with no source or no target, or with
// either empty, is passed over. Refuses, naming `name` and the line, a file that is not well-formed
// XML (a closing tag that does not match, a tag never closed), that is not UTF-8 (a UTF-16 one is
// told so), whose root is not <tmx>, that has no header srclang, or whose elements nest deeper than
// any TMX does.
Expected<std::vector<MemoryUnit>> readTmx(std::string_view text, const std::string& name,
                                          std::string_view targetLanguage = {});

}  // namespace krlist
