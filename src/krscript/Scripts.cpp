#include "krscript/Scripts.h"

#include <cstdio>

#include "io/Files.h"
#include "io/TextOutput.h"

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
  const std::optional<fs::path> output =
      options.output ? std::optional<fs::path>(pathFromUtf8(*options.output)) : std::nullopt;
  std::error_code error;
  if (fs::is_directory(inputPath, error)) {
    plan.folder = true;
    if (!output && options.command != "check") {
      plan.usageError = options.command + " of a folder needs -o OUTDIR";
      return plan;
    }
    plan.jobs = listFolder(inputPath, output.value_or(fs::path()), outputFor, plan.notes);
    return plan;
  }
  Job job{inputPath, {}, input, inputPath.filename()};
  if (output && options.command != "check") {
    job.output = *output;
    if (fs::is_directory(*output, error)) {
      job.output /= outputFor(inputPath.filename()).value_or(inputPath.filename());
    }
  }
  plan.jobs.push_back(std::move(job));
  return plan;
}

int runPlan(const Plan& plan, const Options& options,
            const std::function<JobResult(const Job&)>& run) {
  if (!plan.usageError.empty()) {
    std::fprintf(stderr, "krscript: %s\n%s", plan.usageError.c_str(),
                 usage(options.command).c_str());
    return 2;
  }
  std::fputs(plan.notes.c_str(), stderr);
  RunOptions runOptions;
  runOptions.jobs = options.jobs;
  runOptions.failFast = options.failFast;
  runOptions.summary = plan.folder || plan.jobs.size() > 1;
  return runJobs(plan.jobs, run, runOptions);
}

Expected<void> decodeScriptFile(const Job& job, DecodedScript& script) {
  if (Expected<void> opened = openAndDecode(job.input, job.name, script); !opened) {
    return opened;
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
