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

#include "system/Files.h"
#include "system/OutputFile.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace krlist {

namespace {

bool isInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
  std::error_code error;
  return std::filesystem::equivalent(path, folder, error);
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
    std::string& notes) {
  namespace fs = std::filesystem;
  std::vector<Job> jobs;
  std::error_code error;
  fs::recursive_directory_iterator entry(folder, fs::directory_options::none, error);
  if (error) {
    notes += pathToUtf8(folder) + ": cannot read the folder: " + error.message() + "\n";
    return jobs;
  }
  for (; entry != fs::recursive_directory_iterator(); entry.increment(error)) {
    const fs::path& path = entry->path();
    std::error_code statusError;
    if (entry->is_symlink(statusError) && entry->is_directory(statusError)) {
      notes += pathToUtf8(path) + ": skipped, a link to a folder\n";
      continue;
    }
    if (entry->is_directory(statusError)) {
      if (isInside(path, outputFolder)) {
        entry.disable_recursion_pending();
      }
      continue;
    }
    if (!entry->is_regular_file(statusError)) {
      continue;
    }
    const fs::path relative = path.lexically_relative(folder);
    if (std::optional<fs::path> output = outputFor(relative)) {
      jobs.push_back({path, outputFolder / *output, pathToUtf8(path), relative});
    }
  }
  if (error) {
    notes += pathToUtf8(folder) + ": cannot read the whole folder: " + error.message() + "\n";
  }
  std::sort(jobs.begin(), jobs.end(),
            [](const Job& a, const Job& b) { return a.input.native() < b.input.native(); });
  return jobs;
}

int runJobs(const std::vector<Job>& jobs, const std::function<JobResult(const Job&)>& run,
            const RunOptions& options) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t workers = std::clamp<std::size_t>(options.jobs > 0 ? options.jobs : cores, 1,
                                                      std::max<std::size_t>(jobs.size(), 1));

  std::vector<std::optional<JobResult>> results(jobs.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopping{false};
  std::size_t finishedWorkers = 0;
  std::mutex mutex;
  std::condition_variable changed;

  auto work = [&]() {
    for (;;) {
      const std::size_t index = next++;
      if (index >= jobs.size() || stopping) {
        break;
      }
      JobResult result;
      try {
        result = run(jobs[index]);
      } catch (const std::bad_alloc&) {
        result = {false, "", jobs[index].name + ": not enough memory\n"};
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
  for (std::size_t i = 0; i < workers; ++i) {
    threads.emplace_back(work);
  }

  // Results are written in the order of the jobs, each as soon as it and all
  // before it are done.
  Progress progress(jobs.size());
  std::size_t ok = 0;
  std::size_t failed = 0;
  for (std::size_t index = 0; index < jobs.size(); ++index) {
    JobResult result;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return results[index] || finishedWorkers == workers; });
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
  return ok == jobs.size() ? 0 : 1;
}

bool writeOutput(const Job& job, const std::function<bool(TextOutput&)>& write,
                 std::string& error) {
  if (job.output.empty()) {
    TextOutput out(stdout);
    const bool written = write(out);
    if (!out.flush()) {
      error = "cannot write to standard output";
      return false;
    }
    return written;
  }
  std::error_code ignored;
  if (std::filesystem::equivalent(job.input, job.output, ignored)) {
    error = "the output " + pathToUtf8(job.output) + " would replace the input";
    return false;
  }
  OutputFile file;
  if (!file.open(job.output, error)) {
    return false;
  }
  TextOutput out(file.stream());
  if (!write(out)) {
    return false;
  }
  if (!out.flush()) {
    error =
        "cannot write " + pathToUtf8(job.output) + ": " + std::generic_category().message(errno);
    return false;
  }
  return file.commit(error);
}

}  // namespace krlist
