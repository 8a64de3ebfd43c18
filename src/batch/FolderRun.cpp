#include "batch/FolderRun.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "io/Files.h"
#include "io/OutputFile.h"

#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#endif

namespace krlist {

namespace {

// The two paths name one existing file or folder, however each is spelt.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error);
}

// A path in the folder as a pattern sees it: '/' between names on every
// system.
std::string filterPath(const std::filesystem::path& relative) {
  std::string text = pathToUtf8(relative);
#ifdef _WIN32
  std::replace(text.begin(), text.end(), '\\', '/');
#endif
  return text;
}

void writeAll(std::FILE* stream, const std::string& text) {
  if (!text.empty()) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
  }
}

// The progress line, rewritten in place: "12/200".
class Progress {
 public:
  Progress(std::size_t total) : total_(total), shown_(isatty(fileno(stderr)) != 0) {}
  void show(std::size_t done) {
    if (shown_) {
      std::fprintf(stderr, "\r%zu/%zu", done, total_);
      std::fflush(stderr);
    }
  }
  void clear() {
    if (shown_) {
      std::fprintf(stderr, "\r%*s\r", 24, "");
    }
  }

 private:
  std::size_t total_;
  bool shown_;
};

}  // namespace

std::vector<Job> listFolder(
    const std::filesystem::path& folder, const std::filesystem::path& outputFolder,
    const std::function<std::optional<std::filesystem::path>(const std::filesystem::path&)>&
        outputFor,
    const PathFilter& filter, std::string& notes) {
  namespace fs = std::filesystem;
  std::vector<Job> jobs;
  // Said in path order, as the jobs run, whatever order the folders are read in.
  std::vector<std::pair<fs::path, std::string>> skipped;
  auto unreadable = [&](const fs::path& path, const char* what, const std::error_code& error) {
    const std::string name = pathToUtf8(path);
    jobs.push_back({path,
                    {},
                    name,
                    path.lexically_relative(folder),
                    name + ": " + what + ": " + error.message() + "\n"});
  };
  // Folder by folder rather than with a recursive iterator, which gives up
  // the whole walk at the first folder it cannot read.
  std::vector<fs::path> pending{folder};
  while (!pending.empty()) {
    const fs::path current = std::move(pending.back());
    pending.pop_back();
    std::error_code error;
    fs::directory_iterator entry(current, error);
    if (error) {
      unreadable(current, "cannot read the folder", error);
      continue;
    }
    for (; entry != fs::directory_iterator(); entry.increment(error)) {
      const fs::path& path = entry->path();
      const fs::path relative = path.lexically_relative(folder);
      const std::string filtered = filterPath(relative);
      std::error_code statusError;
      const bool link = entry->is_symlink(statusError);
      if (entry->is_directory(statusError)) {
        if (filter.leavesOutFolder(filtered)) {
          continue;
        }
        if (link) {
          skipped.emplace_back(path, "a link to a folder");
        } else if (!sameFile(path, outputFolder)) {
          pending.push_back(path);
        }
        continue;
      }
      if (!filter.takes(filtered)) {
        continue;
      }
      if (!entry->is_regular_file(statusError)) {
        skipped.emplace_back(
            path, link && !entry->exists(statusError) ? "a link to nothing" : "not a regular file");
        continue;
      }
      if (std::optional<fs::path> output = outputFor(relative)) {
        jobs.push_back({path, outputFolder / *output, pathToUtf8(path), relative});
      }
    }
    if (error) {
      unreadable(current, "cannot read the whole folder", error);
    }
  }
  std::sort(skipped.begin(), skipped.end(),
            [](const auto& a, const auto& b) { return a.first.native() < b.first.native(); });
  for (const auto& [path, what] : skipped) {
    notes += pathToUtf8(path) + ": skipped, " + what + "\n";
  }
  std::sort(jobs.begin(), jobs.end(),
            [](const Job& a, const Job& b) { return a.input.native() < b.input.native(); });
  return jobs;
}

namespace {

// "DEVICE:INODE" of an existing file, empty when there is none (or the
// system gives none).
std::string identityOf(const std::filesystem::path& path) {
#ifdef _WIN32
  (void)path;
  return {};
#else
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return {};
  }
  return std::to_string(status.st_dev) + ':' + std::to_string(status.st_ino);
#endif
}

std::filesystem::path::string_type normalised(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) {
    absolute = path;
  }
  std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
  if (error) {
    resolved = absolute.lexically_normal();
  }
  // "DIR/" and "DIR" are one folder.
  std::filesystem::path::string_type text = resolved.native();
  while (text.size() > 1 && resolved.has_relative_path() &&
         (text.back() == '/' || text.back() == std::filesystem::path::preferred_separator)) {
    text.pop_back();
  }
  return text;
}

}  // namespace

void InputFiles::add(const std::filesystem::path& input) {
  if (std::string identity = identityOf(input); !identity.empty()) {
    byIdentity_.emplace(std::move(identity), input);
  }
  byPath_.emplace(normalised(input), input);
}

const std::filesystem::path* InputFiles::inside(const std::filesystem::path& folder) const {
  const std::filesystem::path::string_type root = normalised(folder);
  const std::filesystem::path* first = nullptr;
  for (const auto& [path, input] : byPath_) {
    const bool under = path.size() == root.size() ||
                       (path.size() > root.size() &&
                        (path[root.size()] == '/' ||
                         path[root.size()] == std::filesystem::path::preferred_separator));
    // The first in path order, so that the message does not depend on the
    // order of a hash table.
    if (under && path.compare(0, root.size(), root) == 0 &&
        (first == nullptr || input.native() < first->native())) {
      first = &input;
    }
  }
  return first;
}

const std::filesystem::path* InputFiles::replacedBy(const std::filesystem::path& output) const {
  if (const std::string identity = identityOf(output); !identity.empty()) {
    if (const auto found = byIdentity_.find(identity); found != byIdentity_.end()) {
      return &found->second;
    }
  }
  if (const auto found = byPath_.find(normalised(output)); found != byPath_.end()) {
    return &found->second;
  }
  return nullptr;
}

std::string wouldReplace(const Job& job, const std::filesystem::path& output,
                         const std::filesystem::path& input) {
  std::string failure = job.name;
  failure += ": the output ";
  failure += pathToUtf8(output);
  failure += " would replace the input";
  if (input != job.input) {
    failure += ' ';
    failure += pathToUtf8(input);
  }
  failure += '\n';
  return failure;
}

std::vector<std::string> outputsOverInputs(const std::vector<Job>& jobs, const InputFiles& inputs) {
  std::vector<std::string> refusals(jobs.size());
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const Job& job = jobs[i];
    if (job.output.empty() || !job.failure.empty()) {
      continue;
    }
    if (const std::filesystem::path* input = inputs.replacedBy(job.output)) {
      refusals[i] = wouldReplace(job, job.output, *input);
    }
  }
  return refusals;
}

int runJobs(const std::vector<Job>& jobs,
            const std::function<JobResult(const Job&, std::size_t)>& run,
            const RunOptions& options) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  // Never more workers than temporary files can be kept track of at once.
  const std::size_t workers =
      std::clamp<std::size_t>(options.jobs > 0 ? options.jobs : cores, 1,
                              std::clamp<std::size_t>(jobs.size(), 1, kMostOpenOutputs));

  std::vector<std::optional<JobResult>> results(jobs.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopping{false};
  std::size_t finishedWorkers = 0;
  std::mutex mutex;
  std::condition_variable changed;

  auto work = [&](bool ownThread) {
    // Signals from outside go to the main thread, which writes no file: the
    // handler that removes the temporary files then never interrupts one
    // being created.
    if (ownThread) {
      blockExitSignals();
    }
    for (;;) {
      const std::size_t index = next++;
      if (index >= jobs.size() || stopping) {
        break;
      }
      JobResult result;
      try {
        result = jobs[index].failure.empty() ? run(jobs[index], index)
                                             : JobResult{false, "", jobs[index].failure};
      } catch (const std::bad_alloc&) {
        result = {false, "", jobs[index].name + ": not enough memory\n"};
      } catch (const std::exception& error) {
        // A thread the job could not start, when memory runs short, say.
        result = {false, "", jobs[index].name + ": " + error.what() + "\n"};
      }
      std::lock_guard<std::mutex> lock(mutex);
      if (!result.ok && options.failFast) {
        stopping = true;
      }
      results[index] = std::move(result);
      changed.notify_one();
    }
    std::lock_guard<std::mutex> lock(mutex);
    ++finishedWorkers;
    changed.notify_one();
  };
  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) {
    try {
      threads.emplace_back(work, true);
    } catch (const std::system_error&) {
      break;  // as many as the system will start
    }
  }
  if (threads.empty()) {
    work(false);  // not even one: the jobs run here, one after another
  }
  const std::size_t started = std::max<std::size_t>(threads.size(), 1);

  // Results are written in the order of the jobs, each as soon as it and all
  // before it are done.
  Progress progress(jobs.size());
  std::size_t ok = 0;
  std::size_t failed = 0;
  for (std::size_t index = 0; index < jobs.size(); ++index) {
    JobResult result;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return results[index] || finishedWorkers == started; });
      if (!results[index]) {
        break;  // never started: a job failed with --fail-fast
      }
      result = std::move(*results[index]);
    }
    progress.clear();
    writeAll(stdout, result.out);
    writeAll(stderr, result.err);
    ++(result.ok ? ok : failed);
    progress.show(index + 1);
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  progress.clear();
  if (options.summary) {
    std::fprintf(stderr, "%zu ok, %zu failed\n", ok, failed);
  }
  if (options.count != nullptr) {
    options.count->ok += ok;
    options.count->failed += failed;
  }
  return ok == jobs.size() ? 0 : 1;
}

Expected<void> writeOutput(const Job& job,
                           const std::function<Expected<void>(TextOutput&)>& write) {
  if (job.output.empty()) {
    TextOutput out(stdout);
    Expected<void> written = write(out);
    if (!out.flush()) {
      return Problem::about(job.name, "cannot write to standard output");
    }
    return written;
  }
  OutputFile file;
  const auto named = [&job](Problem problem) {
    problem.where.file = job.name;
    return problem;
  };
  if (Expected<void> opened = file.open(job.output); !opened) {
    return named(opened.problem());
  }
  TextOutput out(file.stream());
  if (Expected<void> written = write(out); !written) {
    return written;
  }
  if (!out.flush()) {
    return Problem::about(job.name, "cannot write " + pathToUtf8(job.output) + ": " +
                                        std::generic_category().message(errno));
  }
  if (Expected<void> committed = file.commit(); !committed) {
    return named(committed.problem());
  }
  return {};
}

}  // namespace krlist
