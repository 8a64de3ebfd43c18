#pragma once

#include <string>

#include "format/ScriptDecoder.h"
#include "io/TextOutput.h"

namespace krlist {

// The listing's account of a decode: writes the banner, reads the script
// into `script`, decodes it and reports why it stopped, if it did. Returns 0
// when the script decoded to its end, -1 otherwise.
[[nodiscard]] int decodeScript(ScriptDecoder& decoder, ScriptBytes& script,
                               const std::string& fileName, Console& console);

// Reports a decode that stopped early, as the listing words it.
void reportStop(const DecodeStop& stop, const std::string& fileName, Console& console);

}  // namespace krlist
