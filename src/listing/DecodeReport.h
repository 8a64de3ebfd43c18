#pragma once

#include <string>

#include "format/ScriptDecoder.h"
#include "io/TextOutput.h"

namespace krlist {

// The line that opens a listing, before the script is even opened:
// "-= Decompiling NAME =-" between empty lines.
void writeBanner(const std::string& fileName, TextOutput& out);

// Reports a decode that stopped early, as the listing words it.
void reportStop(const DecodeStop& stop, const std::string& fileName, Console& console);

}  // namespace krlist
