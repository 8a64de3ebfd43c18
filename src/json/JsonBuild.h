#pragma once

#include "io/Problem.h"
#include "io/TextOutput.h"
#include "json/JsonSource.h"

namespace krlist {

// Reads the JSON form of a script from `source`, once from its start, and
// writes the script it describes to `script` as it reads. The fields that
// are there for reading only ("at", "names", the "rest"'s "at" and "reason")
// are checked for their type and otherwise ignored. A problem names the line
// and column (in characters) where the text goes wrong, with no file: the
// caller names it. On a problem `script` holds part of a script, which the
// caller throws away. A large regular file that `source` can read again is
// read on two cores, with the same result.
[[nodiscard]] Expected<void> buildScript(JsonSource& source, TextOutput& script);

}  // namespace krlist
