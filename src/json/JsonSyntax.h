#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/JsonSource.h"

namespace krlist {

// What may come after the last token the reader took: a value (at the start,
// after a colon or after a comma in an array), what follows "{" or "[", a
// colon after a key, what follows a value in an array or an object, a key
// after a comma, or only the end of the text after the document.
enum class JsonNext : std::uint8_t {
  Value,
  KeyOrEnd,
  ValueOrEnd,
  Colon,
  ArrayNext,
  ObjectNext,
  Key,
  End,
};

// A place where the text is not JSON, and what is wrong there, worded as
// the reader of this tool has always worded it: "syntax error while parsing
// CONTEXT - unexpected TOKEN; expected WHAT", or with what the token lacks
// and the text read of it.
struct JsonSyntaxError {
  std::string message;
  JsonPlace place;
  // Set when the error is a number too large for a double: `number` is its
  // text (up to a few hundred bytes), for the reader to word where a number
  // belongs.
  bool numberOverflow = false;
  std::string number;
};

// Reads on from where `source` stands, just after the last token taken, with
// `next` what may come, to the first place that is not JSON. `lastValue` is
// where the last string (a key or a value) or number started, 0 before any:
// a token that is neither is shown with all the text read since. Nothing when the
// tokens read are JSON after all.
std::optional<JsonSyntaxError> findSyntaxError(JsonSource& source, JsonNext next,
                                               std::uint64_t lastValue);

// True when the text of a JSON number is too large for a double (one too
// close to zero is read as zero).
bool overflowsDouble(std::string_view number);

}  // namespace krlist
