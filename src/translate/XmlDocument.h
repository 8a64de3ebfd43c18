#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/Problem.h"

#ifdef KRLIST_XML
// PropertyTree's XML parser, called directly rather than through read_xml:
// read_xml parses with fixed flags, which do not check that a closing tag
// names the element it closes, and throws away where each element lies,
// which messages name.
#include <boost/property_tree/detail/rapidxml.hpp>
#endif

namespace krlist {

// XML as translation files carry it: TMX memories and the parts of a
// workbook. Written by appending escaped text; read, where the build has
// the parser (KRLIST_XML), into a document whose elements know their line.

// XML 1.0's characters: no C0 control but tab, line feed and carriage
// return, and not U+FFFE or U+FFFF.
bool isXmlCharacter(char32_t character);

// Appends `text` escaped for an element's text or an attribute's value in
// double quotes; a carriage return as a reference (&#13;), which a reader's
// line-end normalization keeps.
void appendXmlEscaped(std::string& out, std::string_view text);

#ifdef KRLIST_XML

namespace rapidxml = boost::property_tree::detail::rapidxml;
using XmlNode = rapidxml::xml_node<char>;

class XmlDocument {
 public:
  // Parses `text`: UTF-8, a byte-order mark skipped. Refuses, with the line
  // (from 1) and no file, UTF-16 (told so), invalid UTF-8, elements nested
  // deeper than any of these files nests them (the parser descends by
  // recursion), and what is not well-formed XML: a closing tag that does
  // not match, a tag never closed.
  Expected<void> parse(std::string_view text);

  // The root element, or null.
  const XmlNode* root() const { return document_.first_node(); }

  // The line (from 1) an element starts on.
  std::size_t lineOf(const XmlNode& node) const;
  // The line of `offset` in the text parsed (line ends as read).
  std::size_t lineAt(std::size_t offset) const;

  // The element's name without a namespace prefix ("c" for "x:c").
  static std::string_view localName(const XmlNode& node);
  // The value of attribute `name` as written, prefix and all ("r:id").
  static std::optional<std::string_view> attribute(const XmlNode& node, std::string_view name);
  // The first child element and the next sibling element whose local name
  // is `name`, or null.
  static const XmlNode* child(const XmlNode& node, std::string_view name);
  static const XmlNode* nextSibling(const XmlNode& node, std::string_view name);
  // Appends the text an element holds: its text and CDATA nodes and those
  // of the elements within it, in document order.
  static void appendText(const XmlNode& node, std::string& out);

 private:
  std::vector<std::size_t> lineEnds_;  // where each line feed of buffer_ lies
  std::vector<char> buffer_;           // the parser works in place
  rapidxml::xml_document<char> document_;
};

#endif

}  // namespace krlist
