#include "krscript/Drop.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "io/Files.h"
#include "krscript/Commands.h"
#include "krscript/ProfileOptions.h"

namespace krlist {

namespace {

namespace fs = std::filesystem;

// The command that a dropped path stands for, with its output beside it.
Options dropCommand(const std::string& dropped) {
  const fs::path input = pathFromUtf8(dropped);
  std::error_code error;
  fs::path output;
  Options options;
  options.inputs = {dropped};
  if (fs::is_directory(input, error)) {
    options.command = Command::Dump;
    // "DIR/" names the folder too, and its sibling is still DIR-json.
    output = input.has_filename() ? input : input.parent_path();
    output += "-json";
  } else if (input.extension() == ".json") {
    options.command = Command::Build;
    output = fs::path(input).replace_extension();
    if (fs::exists(output, error)) {
      fs::path name = output.stem();
      name += ".new";
      name += output.extension();
      output.replace_filename(name);
    }
  } else {
    options.command = Command::Dump;
    output = input;
    output += ".json";
  }
  options.output = pathToArgument(output);
  return options;
}

}  // namespace

int runDrop(const std::vector<std::string>& paths) {
  // Every path is planned before any runs, so that no output replaces a
  // path dropped with it: a script dropped with its own JSON form would
  // otherwise be dumped over the edits.
  std::vector<Options> commands;
  std::vector<PlannedCommand> planned;
  std::vector<fs::path> inputs;
  // A dropped path is the game's like one named on a command line: the
  // profile beside it or above it applies. One that cannot be read fails
  // that path alone, having said why.
  std::vector<bool> profileRead;
  for (const std::string& path : paths) {
    commands.push_back(dropCommand(path));
    profileRead.push_back(applyProfile(commands.back()));
    if (!profileRead.back()) {
      planned.emplace_back();
      continue;
    }
    planned.push_back(commands.back().command == Command::Build ? planBuild(commands.back())
                                                                : planDump(commands.back()));
    for (const Job& job : planned.back().plan.jobs) {
      inputs.push_back(job.input);
    }
  }
  int status = 0;
  RunCount total;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    planned[i].plan.otherInputs.insert(planned[i].plan.otherInputs.end(), inputs.begin(),
                                       inputs.end());
    bool ok = false;
    if (profileRead[i]) {
      ok = runPlan(planned[i].plan, commands[i], planned[i].run, &total) == 0;
    } else {
      ++total.failed;
    }
    // What went wrong with a file has been said on standard error already.
    std::printf("%s: %s -> %s\n", ok ? "ok" : "failed", paths[i].c_str(),
                commands[i].output->c_str());
    std::fflush(stdout);
    status = ok ? status : 1;
  }
  // One total for every file of every path, after the lines of each folder.
  std::fprintf(stderr, "total: %zu ok, %zu failed\n", total.ok, total.failed);
  // The report is what the window shows: a report that cannot be written
  // fails the run.
  if (std::ferror(stdout) != 0) {
    std::fputs("krscript: cannot write to standard output\n", stderr);
    status = 1;
  }
  // As krlist does: at the end of standard input nothing waits.
  std::fputs("Press enter to exit...", stderr);
  std::getchar();
  return status;
}

}  // namespace krlist
