#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "batch/PathFilter.h"
#include "io/Problem.h"
#include "io/TextOutput.h"

namespace krlist {

// One file of a run: where it is read and where its output goes.
struct Job {
  Job(std::filesystem::path input, std::filesystem::path output, std::string name,
      std::filesystem::path relative, std::string failure = {})
      : input(std::move(input)),
        output(std::move(output)),
        name(std::move(name)),
        relative(std::move(relative)),
        failure(std::move(failure)) {}

  std::filesystem::path input;
  std::filesystem::path output;  // empty when the output is standard output, or none
  std::string name;              // the input as messages name it
  // The input's path inside the folder of a folder run; its file name alone
  // for a single file.
  std::filesystem::path relative;
  // Set for a folder that could not be read, so that the files it hides
  // count against the run, and for a job refused before the run (its output
  // would replace an input): the job then fails with this line.
  std::string failure;
};

// How one job went, and what it has to say: whole lines, for standard output
// and standard error.
struct JobResult {
  bool ok = true;
  std::string out;
  std::string err;
};

// The files under `folder`, each with its output under `outputFolder`, in an
// order that does not depend on the system: by path, byte for byte. Links to
// folders are not followed (one may lead back up the tree), and the output
// folder, when it lies inside, is not entered, so that no output is ever read
// as an input. `filter` leaves files out, and folders it leaves out whole are
// not entered; what it leaves out is neither read nor said. `outputFor` gives
// a file's output path relative to the output folder, or nothing to leave the
// file out. What was passed over (links to
// folders, broken links, devices and pipes) is said in `notes`, one line
// each. A folder that cannot be read becomes a job that fails; the walk goes
// on with the others.
std::vector<Job> listFolder(
    const std::filesystem::path& folder, const std::filesystem::path& outputFolder,
    const std::function<std::optional<std::filesystem::path>(const std::filesystem::path&)>&
        outputFor,
    const PathFilter& filter, std::string& notes);

// The files a run reads, known as files rather than by name: a path of
// another spelling ("in/../in/a", a link, a hard link) to one of them is
// still it.
class InputFiles {
 public:
  void add(const std::filesystem::path& input);
  // The input that writing `output` would replace, or null.
  const std::filesystem::path* replacedBy(const std::filesystem::path& output) const;
  // The first input, in path order, that is `folder` or lies in it, or null:
  // what replacing the folder whole would take away.
  const std::filesystem::path* inside(const std::filesystem::path& folder) const;

 private:
  // By device and inode where the system gives them, and by the absolute
  // path with links and "." and ".." resolved.
  std::unordered_map<std::string, std::filesystem::path> byIdentity_;
  std::unordered_map<std::filesystem::path::string_type, std::filesystem::path> byPath_;
};

// Why `job` must fail before anything is written: its output `output`
// would replace `input`. "NAME: the output OUT would replace the input IN"
// and a line feed, IN left out when it is the job's own input.
std::string wouldReplace(const Job& job, const std::filesystem::path& output,
                         const std::filesystem::path& input);

// For each job, in order, why it must fail before anything is written,
// "NAME: the output OUT would replace the input IN" and a line feed, or
// nothing when its output is none of the inputs.
std::vector<std::string> outputsOverInputs(const std::vector<Job>& jobs, const InputFiles& inputs);

// How many jobs of a run succeeded and failed.
struct RunCount {
  std::size_t ok = 0;
  std::size_t failed = 0;
};

struct RunOptions {
  unsigned jobs = 0;  // files at once; 0 for one per core
  bool failFast = false;
  bool summary = false;       // end with "N ok, M failed"
  RunCount* count = nullptr;  // when set, the run's count is added to it
};

// Runs the jobs, several at once, each given its place in `jobs`, and
// writes what each says in the order of the jobs, whatever order they
// finish in. A job with a failure fails with it, without running. With `failFast` no job starts
// after one has failed. A progress line is kept on standard error while it is
// a terminal. Returns the exit status: 0 when every job ran and succeeded,
// otherwise 1.
int runJobs(const std::vector<Job>& jobs,
            const std::function<JobResult(const Job&, std::size_t)>& run,
            const RunOptions& options);

// Writes a job's output whole (io/OutputFile.h), or to standard output when
// the job has no output path. `write` returns a problem to throw the output
// away, and that problem is returned as it is. Otherwise the problem, named
// for the job, is that the output cannot be written. That it replaces no
// input of the run was made sure of before any job ran (outputsOverInputs).
Expected<void> writeOutput(const Job& job, const std::function<Expected<void>(TextOutput&)>& write);

}  // namespace krlist
