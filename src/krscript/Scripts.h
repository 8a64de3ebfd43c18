#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/FolderRun.h"
#include "format/ScriptFile.h"
#include "io/Problem.h"
#include "krscript/Options.h"
#include "text/Encoding.h"

namespace krlist {

// What every command of krscript shares: the files a command runs on, and a
// script read whole.

// The jobs of a command: one input file, or every file of a folder, and
// every other file the run reads.
struct Plan {
  std::vector<Job> jobs;
  std::string notes;       // what was passed over, one line each
  bool folder = false;     // the input was a folder
  std::string usageError;  // the command cannot run on this input as asked
  // Every file the run reads besides its jobs' inputs (translation files,
  // old translation files, tables, the other paths dropped with this one):
  // a command declares each here, for no output may replace any of them.
  std::vector<std::filesystem::path> otherInputs;
  // A folder the run replaces whole at its end (a site), or empty: no input
  // may lie in it.
  std::filesystem::path replacedWhole;
  bool guarded = false;  // guardOutputs has refused what it had to
};

// Plans a command on `input`. For a folder, `outputFor` names each file's
// output relative to the -o folder, or leaves the file out; for a single
// file whose -o is a folder, it names the output in it. "-o -" names
// standard output, for a single file.
Plan planJobs(
    const Options& options, const std::string& input,
    const std::function<std::optional<std::filesystem::path>(const std::filesystem::path&)>&
        outputFor);

// The one guard of every command that writes: a job whose output would
// replace an input of the run (its own, another job's, or one of
// `otherInputs`, by whatever spelling, link or hard link), and every job
// when an input lies in `replacedWhole`, fails with "NAME: the output OUT
// would replace the input IN" before any job runs. Returns whether any job
// was refused. Called again it does nothing more.
bool guardOutputs(Plan& plan);

// Says a usage error of `command` and its usage on standard error: 2, the
// exit status.
int usageFailure(Command command, const std::string& error);

// Runs the plan's jobs as the options say, each given its place in the
// plan, and returns the exit status: 2 for the plan's usage error. The
// outputs are guarded first (guardOutputs). With `count`, how the jobs went
// is added to it.
int runPlan(Plan& plan, const Options& options,
            const std::function<JobResult(const Job&, std::size_t)>& run,
            RunCount* count = nullptr);

// Opens, reads and decodes a job's input as far as it goes: a problem when
// the file cannot be opened or read.
Expected<void> decodeScriptFile(const Job& job, DecodedScript& script);

// The same for a script that must decode to its end (strings cannot be
// taken from or put into bytes that did not decode): a stop is a problem.
Expected<void> decodeWholeScript(const Job& job, DecodedScript& script);

// The encoding of the strings of a run's scripts.
struct RunEncoding {
  Encoding encoding = Encoding::Cp932;
  // Named by --encoding or told by the strings, as opposed to taken because
  // nothing told.
  bool told = false;
  // Strings were read, and told nothing.
  bool guessed = false;
};

// With --encoding, the encoding it names; otherwise the one the strings of
// every script of the plan tell together, or cp932 when they tell none (a
// game has one encoding, and a script of plain ASCII alone cannot tell it).
// Each script is read and decoded for this before the run, several at once;
// one that cannot be read tells nothing, and its job reports it.
RunEncoding chooseRunEncoding(const Plan& plan, const Options& options);

// What standard error says when no string told the encoding: a line.
extern const char* const kEncodingGuessed;

// A job's input as named in its folder, with forward slashes on every
// system: "a/x.kr".
std::string folderPath(const Job& job);

// The translation file of a job: the one named, or in a folder run the one at
// the script's path with ".po" (or else ".csv" or ".xlsx") added.
std::filesystem::path translationsFor(const Job& job, const std::filesystem::path& translations,
                                      bool folder);

// What is said of two translation files of one script (x.kr.po and
// x.kr.csv, or x.kr.xlsx), of which none can be taken over the other: a line.
std::string twoTranslationFiles(const std::filesystem::path& first,
                                const std::filesystem::path& second);

// Declares the translation file of each job (translationsFor) as an input
// of the run. Returns a line (twoTranslationFiles) for every script of a
// folder run that has two, empty when none has: the run must then not go on.
std::string declareTranslationFiles(Plan& plan, const std::filesystem::path& translations);

// Why a decode stopped, in words: "unknown opcode 0x01".
std::string describeStop(const DecodeStop& stop);
// A decode's stop as a problem: "PATH: 0xOFFSET: REASON".
Problem stopProblem(const Job& job, const DecodeStop& stop);
// A job that failed with `problem`, which it says on standard error.
JobResult failure(const Problem& problem);

}  // namespace krlist
