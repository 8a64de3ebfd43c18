#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "batch/FolderRun.h"
#include "io/Problem.h"
#include "krscript/Options.h"
#include "krscript/Scripts.h"
#include "text/Encoding.h"
#include "translate/ScriptStrings.h"
#include "translate/Substitutions.h"

namespace krlist {

// What inject and lint read beside the scripts.

// Reads the translation file at `path` into `translations`, and the
// encoding of its script's strings: the one the file records, which must be
// the run's when the scripts told it, or else the run's (with a line in
// `note` when nothing told it); the problem when the file cannot be read or
// is not a translation file.
Expected<Encoding> readTranslations(const std::filesystem::path& path, const RunEncoding& run,
                                    Translations& translations, std::string& note);

// Reads the table of --substitute, when given, into `table`. False, with the
// problem printed, when it cannot be read or is not a table.
bool readSubstitutions(const Options& options, std::optional<Substitutions>& table);

}  // namespace krlist
