#include "krscript/Commands.h"

#include <cstdio>

#include "batch/FolderRun.h"
#include "format/ScriptDecoder.h"
#include "io/Files.h"
#include "json/JsonBuild.h"
#include "json/JsonDump.h"
#include "krscript/Scripts.h"

namespace krlist {

namespace {

namespace fs = std::filesystem;

std::optional<fs::path> withSuffix(const fs::path& relative, const char* suffix) {
  fs::path output = relative;
  output += suffix;
  return output;
}

// "x.kr.json" names the script "x.kr"; other files are not JSON forms.
std::optional<fs::path> withoutJsonSuffix(const fs::path& relative) {
  if (relative.extension() != ".json") {
    return std::nullopt;
  }
  return fs::path(relative).replace_extension();
}

JobResult dumpScript(const Job& job, Encoding encoding) {
  DecodedScript script;
  if (Expected<void> decoded = decodeScriptFile(job, script); !decoded) {
    return failure(decoded.problem());
  }
  const std::string reason = describeStop(script.stop);
  const ScriptEnd end{script.stop, reason, script.rest()};
  const Expected<void> written = writeOutput(job, [&](TextOutput& out) -> Expected<void> {
    writeJson(script.instructions(), encoding, end, out);
    return script.bytes.unchanged(job.name);
  });
  if (!written) {
    return failure(written.problem());
  }
  // A script that does not decode is still written whole, with the bytes
  // that did not decode kept as they are, but the run says so.
  if (!script.stop.complete()) {
    return failure(stopProblem(job, script.stop));
  }
  return {};
}

JobResult buildScriptFile(const Job& job) {
  const Expected<std::FILE*> file = openInput(job.input);
  if (!file) {
    return failure(file.problem());
  }
  JsonSource source(*file, job.input);
  const Expected<void> written = writeOutput(job, [&](TextOutput& script) -> Expected<void> {
    Expected<void> built = buildScript(source, script);
    if (!built) {
      built.problem().where.file = job.name;
    }
    return built;
  });
  std::fclose(*file);
  if (!written) {
    return failure(written.problem());
  }
  return {};
}

JobResult checkScript(const Job& job) {
  DecodedScript script;
  if (Expected<void> decoded = decodeScriptFile(job, script); !decoded) {
    return failure(decoded.problem());
  }
  // The scripts that do not decode are what check reports, on standard output.
  if (!script.stop.complete()) {
    return {false, stopProblem(job, script.stop).describe() + "\n", ""};
  }
  return {};
}

}  // namespace

PlannedCommand planDump(const Options& options) {
  Plan plan = planJobs(options, options.inputs[0],
                       [](const fs::path& relative) { return withSuffix(relative, ".json"); });
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  if (encoding.guessed) {
    plan.notes += kEncodingGuessed;
  }
  const Encoding chosen = encoding.encoding;
  return {std::move(plan),
          [chosen](const Job& job, std::size_t) { return dumpScript(job, chosen); }};
}

PlannedCommand planBuild(const Options& options) {
  return {planJobs(options, options.inputs[0], withoutJsonSuffix),
          [](const Job& job, std::size_t) { return buildScriptFile(job); }};
}

int runDump(const Options& options) {
  PlannedCommand dump = planDump(options);
  return runPlan(dump.plan, options, dump.run);
}

int runBuild(const Options& options) {
  PlannedCommand build = planBuild(options);
  return runPlan(build.plan, options, build.run);
}

int runCheck(const Options& options) {
  Plan plan;
  for (const std::string& input : options.inputs) {
    // Every file is checked; none has an output.
    Plan more = planJobs(options, input,
                         [](const fs::path&) { return std::optional<fs::path>(fs::path()); });
    plan.jobs.insert(plan.jobs.end(), more.jobs.begin(), more.jobs.end());
    plan.notes += more.notes;
    plan.folder = plan.folder || more.folder;
  }
  return runPlan(plan, options, [](const Job& job, std::size_t) { return checkScript(job); });
}

}  // namespace krlist
