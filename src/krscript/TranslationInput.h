#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "batch/FolderRun.h"
#include "io/Problem.h"
#include "krscript/Options.h"
#include "krscript/Scripts.h"
#include "text/Encoding.h"
#include "translate/Glossary.h"
#include "translate/ScriptStrings.h"
#include "translate/Substitutions.h"

namespace krlist {

// What inject and lint read beside the scripts.

// Reads the translation file at `path` into `translations`, and the
// encoding of its script's strings: the one the file records, which must be
// the run's when the scripts told it, or else the run's (with a line in
// `note` when nothing told it); the problem when the file cannot be read or
// is not a translation file.
// The script a translation file is read for, by inject.
struct ScriptOfTranslations {
  std::string name;     // its path in the folder, or its file name alone
  bool byPath = false;  // the file comes from a folder, and names the path
  // Set, instead of refusing the file, when the file records another
  // encoding than the one the scripts told: for inject to say when the file
  // does not fit the script in the encoding it records.
  std::optional<Problem> otherThanTold;
};

// With `script`, a CSV row whose location names another script is refused
// too, and an encoding other than the scripts' is told in `script`.
Expected<Encoding> readTranslations(const std::filesystem::path& path, const RunEncoding& run,
                                    Translations& translations, std::string& note,
                                    ScriptOfTranslations* script = nullptr);

// Reads the table of --substitute, when given, into `table`. False, with the
// problem printed, when it cannot be read or is not a table.
bool readSubstitutions(const Options& options, std::optional<Substitutions>& table);

// Reads the glossary of --glossary (or the profile's), when given, into
// `glossary`. False, with the problem printed, when it cannot be read or is
// not a glossary.
bool readGlossary(const Options& options, std::optional<Glossary>& glossary);

}  // namespace krlist
