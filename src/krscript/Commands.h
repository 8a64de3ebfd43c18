#pragma once

#include <functional>

#include "krscript/Options.h"
#include "krscript/Scripts.h"

namespace krlist {

// The commands, each returning the exit status: 0 when every file went well,
// 1 when any failed.
int runDump(const Options& options);
int runBuild(const Options& options);
int runCheck(const Options& options);
int runExtract(const Options& options);
int runInject(const Options& options);
int runUpdate(const Options& options);
int runFill(const Options& options);
// 1 when any translation has an error, 0 otherwise.
int runLint(const Options& options);
int runHtml(const Options& options);
int runGlossary(const Options& options);
int runMemory(const Options& options);
// Serves the editor until the process is ended; 1 when it cannot start.
int runEdit(const Options& options);

// A command's jobs and how each runs, for drop mode, which plans every
// dropped path before it runs any (runPlan runs them).
struct PlannedCommand {
  Plan plan;
  std::function<JobResult(const Job&, std::size_t)> run;
};
PlannedCommand planDump(const Options& options);
PlannedCommand planBuild(const Options& options);

}  // namespace krlist
