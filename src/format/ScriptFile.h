#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "format/ScriptDecoder.h"
#include "io/Problem.h"
#include "io/ScriptBytes.h"

namespace krlist {

// A script file's bytes, decoded as far as they go. The instructions read the
// bytes where they lie, so the two stay together.
struct DecodedScript {
  DecodedScript() = default;
  DecodedScript(const DecodedScript&) = delete;
  DecodedScript& operator=(const DecodedScript&) = delete;

  ScriptBytes bytes;
  ScriptDecoder decoder;
  DecodeStop stop;

  const InstructionList& instructions() const { return decoder.instructions(); }
  // Every byte from where decoding stopped to the end; empty for a script
  // that decoded to its end.
  std::string_view rest() const {
    return stop.complete() ? std::string_view() : bytes.from(stop.offset);
  }
};

// Opens the script at `path` as raw bytes (so that 0x1A, carriage returns and
// line feeds are ordinary data), reads it whole into `script` and decodes it.
// A problem, naming the file as `name`, when it cannot be opened or is a
// folder. A read that fails part way is a stop like any other (a failed
// read), after the instructions that were read whole.
[[nodiscard]] Expected<void> openAndDecode(const std::filesystem::path& path,
                                           const std::string& name, DecodedScript& script);

}  // namespace krlist
