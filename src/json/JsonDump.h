#pragma once

#include <string_view>

#include "format/InstructionList.h"
#include "format/ScriptDecoder.h"
#include "io/TextOutput.h"
#include "text/Encoding.h"

namespace krlist {

// What follows the decoded instructions of a script.
struct ScriptEnd {
  DecodeStop stop;
  std::string_view reason;  // the stop in words, when decoding stopped early
  std::string_view rest;    // every byte from the stop's offset to the end of the file
};

// Writes the JSON form of a script: one instruction per line, every field a
// build needs to give back the same bytes, and a "rest" holding the bytes
// that did not decode.
void writeJson(const InstructionList& listing, Encoding encoding, const ScriptEnd& end,
               TextOutput& out);

}  // namespace krlist
