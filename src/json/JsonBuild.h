#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "io/TextOutput.h"
#include "json/JsonSource.h"

namespace krlist {

// Why a JSON document does not describe a script.
struct BuildError {
  std::uint64_t offset = 0;  // the byte of the JSON text where the problem lies
  std::string message;
};

// Reads the JSON form of a script from `source` and writes the script it
// describes to `script`, as it reads. The fields that are there for reading
// only ("at", "names", the "rest"'s "at" and "reason") are checked for their
// type and otherwise ignored. On an error `script` holds part of a script,
// which the caller throws away.
//
// A document laid out as dump writes it is read in pieces on several cores;
// `quickly` false reads it the usual way, for tests to compare the two.
[[nodiscard]] std::optional<BuildError> buildScript(JsonSource& source, TextOutput& script,
                                                    bool quickly = true);

}  // namespace krlist
