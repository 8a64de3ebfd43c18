#include "krscript/Scripts.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "format/StringVote.h"
#include "io/Files.h"
#include "io/TextOutput.h"
#include "krscript/ProfileOptions.h"

namespace krlist {

namespace {

namespace fs = std::filesystem;

std::string hexByte(std::uint8_t value) {
  char digits[3] = {};
  TextOutput::putHexByte(digits, value);
  return std::string("0x") + digits;
}

}  // namespace

Plan planJobs(const Options& options, const std::string& input,
              const std::function<std::optional<fs::path>(const fs::path&)>& outputFor) {
  Plan plan;
  const fs::path inputPath = pathFromUtf8(input);
  const bool standardOutput = options.output && *options.output == "-";
  const std::optional<fs::path> output =
      options.output && !standardOutput ? std::optional<fs::path>(pathFromUtf8(*options.output))
                                        : std::nullopt;
  std::error_code error;
  if (fs::is_directory(inputPath, error)) {
    plan.folder = true;
    if (standardOutput) {
      plan.usageError = std::string(commandName(options.command)) +
                        " of a folder writes files, not standard output";
      return plan;
    }
    // check and lint read a folder and write nothing; edit writes only
    // into the translation files.
    if (!output && options.command != Command::Check && options.command != Command::Lint &&
        options.command != Command::Edit) {
      plan.usageError = std::string(commandName(options.command)) + " of a folder needs -o OUTDIR";
      return plan;
    }
    plan.jobs =
        listFolder(inputPath, output.value_or(fs::path()), outputFor,
                   PathFilter(options.include, options.exclude, options.patternBase), plan.notes);
  }
  // The game's profile and the files it names are read by the run, never
  // taken as its scripts, and never replaced by an output.
  for (const fs::path& file : profileFiles(options)) {
    if (plan.folder) {
      std::erase_if(plan.jobs, [&file](const Job& job) {
        std::error_code same;
        return fs::equivalent(job.input, file, same);
      });
    }
    plan.otherInputs.push_back(file);
  }
  if (plan.folder) {
    return plan;
  }
  Job job{inputPath, {}, pathToUtf8(inputPath), inputPath.filename()};
  if (output) {
    job.output = *output;
    if (fs::is_directory(*output, error)) {
      job.output /= outputFor(inputPath.filename()).value_or(inputPath.filename());
    }
  }
  plan.jobs.push_back(std::move(job));
  return plan;
}

bool guardOutputs(Plan& plan) {
  if (plan.guarded) {
    return false;
  }
  plan.guarded = true;
  std::vector<Job>& jobs = plan.jobs;
  if (plan.replacedWhole.empty() &&
      std::none_of(jobs.begin(), jobs.end(), [](const Job& job) { return !job.output.empty(); })) {
    return false;  // nothing is written but to standard output
  }
  InputFiles inputs;
  for (const Job& job : jobs) {
    inputs.add(job.input);
  }
  for (const fs::path& input : plan.otherInputs) {
    inputs.add(input);
  }
  std::vector<std::string> refusals = outputsOverInputs(jobs, inputs);
  if (!plan.replacedWhole.empty()) {
    if (const fs::path* lost = inputs.inside(plan.replacedWhole)) {
      // The folder goes whole: every job is refused, for none can be
      // written without the others.
      for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].failure.empty() && refusals[i].empty()) {
          refusals[i] = wouldReplace(jobs[i], plan.replacedWhole, *lost);
        }
      }
    }
  }
  bool refused = false;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (!refusals[i].empty()) {
      jobs[i].failure = std::move(refusals[i]);
      refused = true;
    }
  }
  return refused;
}

int usageFailure(Command command, const std::string& error) {
  std::fprintf(stderr, "krscript: %s\n%s", error.c_str(), usage(command).c_str());
  return 2;
}

int runPlan(Plan& plan, const Options& options,
            const std::function<JobResult(const Job&, std::size_t)>& run, RunCount* count) {
  if (!plan.usageError.empty()) {
    return usageFailure(options.command, plan.usageError);
  }
  std::fputs(plan.notes.c_str(), stderr);
  guardOutputs(plan);
  RunOptions runOptions;
  runOptions.jobs = options.jobs;
  runOptions.failFast = options.failFast;
  runOptions.summary = plan.folder || plan.jobs.size() > 1;
  runOptions.count = count;
  return runJobs(plan.jobs, run, runOptions);
}

Expected<void> decodeScriptFile(const Job& job, DecodedScript& script) {
  if (Expected<void> opened = openAndDecode(job.input, job.name, script); !opened) {
    return opened;
  }
  // Cut short while it was read, the file reads as zeros past its new end,
  // which decode as a stop that is not the file's.
  if (Expected<void> unchanged = script.bytes.unchanged(job.name); !unchanged) {
    return unchanged;
  }
  if (script.stop.reason == StopReason::ReadFailed) {
    Problem problem;
    problem.where.file = job.name;
    problem.message = "cannot read the file";
    return problem;
  }
  return {};
}

Expected<void> decodeWholeScript(const Job& job, DecodedScript& script) {
  if (Expected<void> decoded = decodeScriptFile(job, script); !decoded) {
    return decoded;
  }
  if (!script.stop.complete()) {
    return stopProblem(job, script.stop);
  }
  return {};
}

const char* const kEncodingGuessed =
    "krscript: no string tells utf-8 from cp932: taking cp932, the format's own "
    "(--encoding utf-8 to choose otherwise)\n";

RunEncoding chooseRunEncoding(const Plan& plan, const Options& options) {
  if (options.encoding) {
    return {*options.encoding, true, false};
  }
  if (!plan.usageError.empty()) {
    return {};
  }
  EncodingVote vote;
  std::mutex voteMutex;
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t index = next++; index < plan.jobs.size(); index = next++) {
      const Job& job = plan.jobs[index];
      if (!job.failure.empty()) {
        continue;
      }
      EncodingVote votes;
      try {
        DecodedScript script;
        if (openAndDecode(job.input, job.name, script)) {
          voteOnStrings(script.instructions(), votes);
        }
      } catch (const std::bad_alloc&) {
        continue;  // the job reports it when it runs
      }
      std::lock_guard<std::mutex> lock(voteMutex);
      vote.add(votes);
    }
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t workers =
      std::min<std::size_t>(options.jobs > 0 ? options.jobs : cores, plan.jobs.size());
  std::vector<std::thread> helpers;
  for (std::size_t i = 1; i < workers; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // as many as the system will start
    }
  }
  work();
  for (std::thread& helper : helpers) {
    helper.join();
  }
  return {vote.choice(), vote.told().has_value(), vote.guessed()};
}

std::string folderPath(const Job& job) {
  return slashedPathToUtf8(job.relative);
}

// What a script's translation file is named with, in a folder run: its
// path and one of these, in the order they are looked for.
constexpr const char* kTranslationSuffixes[] = {".po", ".csv", ".xlsx"};

fs::path translationsFor(const Job& job, const fs::path& translations, bool folder) {
  if (!folder) {
    return translations;
  }
  for (const char* suffix : kTranslationSuffixes) {
    fs::path candidate = translations / job.relative;
    candidate += suffix;
    std::error_code error;
    if (fs::exists(candidate, error)) {
      return candidate;
    }
  }
  fs::path missing = translations / job.relative;
  missing += ".po";
  return missing;
}

std::string twoTranslationFiles(const fs::path& first, const fs::path& second) {
  return pathToUtf8(first) + " and " + pathToUtf8(second) +
         ": two translation files for one script: keep one\n";
}

std::string declareTranslationFiles(Plan& plan, const fs::path& translations) {
  std::string refusals;
  for (const Job& job : plan.jobs) {
    plan.otherInputs.push_back(translationsFor(job, translations, plan.folder));
    if (!plan.folder || !job.failure.empty()) {
      continue;
    }
    std::vector<fs::path> found;
    for (const char* suffix : kTranslationSuffixes) {
      fs::path candidate = translations / job.relative;
      candidate += suffix;
      std::error_code error;
      if (fs::exists(candidate, error)) {
        found.push_back(std::move(candidate));
      }
    }
    for (std::size_t i = 1; i < found.size(); ++i) {
      plan.otherInputs.push_back(found[i]);
      refusals += twoTranslationFiles(found[0], found[i]);
    }
  }
  return refusals;
}

std::string describeStop(const DecodeStop& stop) {
  switch (stop.reason) {
    case StopReason::None:
      break;
    case StopReason::UnknownOpcode:
      return "unknown opcode " + hexByte(stop.value);
    case StopReason::MisplacedEndMarker:
      return "end marker 0x00 before the end of the file";
    case StopReason::Truncated:
      return "the file ends inside instruction " + hexByte(stop.value);
    case StopReason::ReadFailed:
      return "cannot read the file";
  }
  return "";
}

Problem stopProblem(const Job& job, const DecodeStop& stop) {
  // Offsets are shown in eight digits, as the listing shows them.
  return {{job.name, 0, 0, static_cast<std::uint32_t>(stop.offset)}, describeStop(stop)};
}

JobResult failure(const Problem& problem) {
  return {false, "", problem.describe() + "\n"};
}

}  // namespace krlist
