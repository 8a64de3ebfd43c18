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
  std::string error;
  if (!writeOutput(
          job,
          [&](TextOutput& out) {
            writeJson(script.instructions(), encoding, end, out);
            return true;
          },
          error)) {
    return {false, "", job.name + ": " + error + "\n"};
  }
  // A script that does not decode is still written whole, with the bytes
  // that did not decode kept as they are, but the run says so.
  if (!script.stop.complete()) {
    return failure(stopProblem(job, script.stop));
  }
  return {};
}

JobResult buildScriptFile(const Job& job) {
  std::string error;
  std::FILE* file = openInput(job.input, error);
  if (file == nullptr) {
    return {false, "", job.name + ": " + error + "\n"};
  }
  JsonSource source(file);
  std::string message;
  const bool written = writeOutput(
      job,
      [&](TextOutput& script) {
        Expected<void> built = buildScript(source, script);
        if (built) {
          return true;
        }
        built.problem().where.file = job.name;
        message = built.problem().describe() + "\n";
        return false;
      },
      error);
  std::fclose(file);
  if (!written) {
    return {false, "", message.empty() ? job.name + ": " + error + "\n" : message};
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

int runDump(const Options& options) {
  Plan plan = planJobs(options, options.inputs[0],
                       [](const fs::path& relative) { return withSuffix(relative, ".json"); });
  const RunEncoding encoding = chooseRunEncoding(plan, options);
  if (encoding.guessed) {
    plan.notes += kEncodingGuessed;
  }
  return runPlan(plan, options,
                 [&encoding](const Job& job) { return dumpScript(job, encoding.encoding); });
}

int runBuild(const Options& options) {
  const Plan plan = planJobs(options, options.inputs[0], withoutJsonSuffix);
  return runPlan(plan, options, buildScriptFile);
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
  return runPlan(plan, options, checkScript);
}

}  // namespace krlist
