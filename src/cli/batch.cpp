// Many pictures in one run: the plan, the workers, the stop on a signal, the summary.
#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "cli/batch_jobs.h"
#include "dehazefile/batch_plan.h"
#include "cli/batch_progress.h"
#include "cli/batch_signals.h"
#include "dehazefile/memory_budget.h"
#include "cli/messages.h"
#include "cli/threads_variable.h"

namespace vantorel {

namespace {

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p.
bool MakeFolders(const std::string& path, std::string& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    error = path + ": not a folder";
    return false;
  }
  const std::string parent = ParentOf(path);
  if (parent != path && !MakeFolders(parent, error)) return false;
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    error = path + ": cannot make the folder: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Standard error as the batch's reports use it: a descriptor of their own, so that the
// capture of codec messages in a worker never swallows a progress line.
std::FILE* ReportStream() {
  const int fd = ::dup(STDERR_FILENO);
  std::FILE* stream = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
  return stream != nullptr ? stream : stderr;
}

// What the signal thread and the batch share.
struct Shared {
  std::atomic<int> stop_signal{0};
  std::mutex progress_mutex;
  BatchProgress* progress = nullptr;  // while the pictures are being dehazed
};

void DehazeOne(const CommandLine& line, const BatchItem& item, size_t index, BatchProgress& progress) {
  if (line.skip_existing && Exists(item.result)) {
    progress.Skipped(index, item.source, "the result exists");
    return;
  }
  progress.Started(index, item.source);
  std::string error;
  if (!MakeFolders(ParentOf(item.result), error)) {
    progress.Failed(index, item.result + ": " + error);
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  const Outcome outcome =
      DehazeFile(item.source, item.result, line.thickness, line.output, item.map, line.force, line.look);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  switch (outcome.status) {
    case Outcome::Status::kWritten:
      progress.Written(index, item.source, item.result, outcome.cols, outcome.rows, seconds, outcome.note);
      break;
    case Outcome::Status::kNothingToDo:
      progress.Skipped(index, item.source, "the thickness is below 0.1: nothing to do");
      break;
    case Outcome::Status::kWriteProtected:
      progress.Failed(index, outcome.error + " (--force replaces it)");
      break;
    case Outcome::Status::kUnreadable:
    case Outcome::Status::kNoSpace:
    case Outcome::Status::kFailed:
      progress.Failed(index, outcome.error);
      break;
  }
}

}  // namespace

int RunBatch(const CommandLine& line) {
  // Before any thread starts, so that all of them leave the signals to this one.
  auto shared = std::make_shared<Shared>();
  StopOnSignals([shared](int signal) {
    shared->stop_signal = signal;
    const std::lock_guard<std::mutex> lock(shared->progress_mutex);
    if (shared->progress != nullptr) {
      shared->progress->Message(SignalName(signal) + ": stopping once the pictures in progress are written; "
                        "a second signal stops at once");
    }
  });
  const int thread_budget = ThreadBudget();

  BatchRequest request;
  request.sources = line.sources;
  request.output_dir = line.output_dir;
  request.recursive = line.recursive;
  request.format = line.format;
  request.suffix = line.suffix;
  request.maps = line.maps;
  request.depth = line.output.depth;
  std::vector<BatchItem> items;
  std::vector<std::string> notes;
  std::string error;
  if (!PlanBatch(request, items, error, notes)) return Fail(error + "; nothing was done");
  if (items.empty()) return Fail("no pictures found in the sources given");
  if (!MakeFolders(line.output_dir, error)) return Fail(error);

  std::vector<uint64_t> pixels;
  for (const BatchItem& item : items) pixels.push_back(item.pixels);
  const int jobs = std::min<int>(line.jobs > 0 ? line.jobs
                                               : DefaultJobs(pixels, thread_budget, ReadMemoryLimits().Smallest(),
                                                             line.maps),
                                 static_cast<int>(items.size()));
  std::FILE* report = ReportStream();
  const BatchProgress::Style style = line.quiet                ? BatchProgress::Style::kQuiet
                                     : ::isatty(::fileno(report)) ? BatchProgress::Style::kTerminal
                                                                  : BatchProgress::Style::kLines;
  BatchProgress progress(report, style, pixels);
  for (const std::string& note : notes) progress.Message("note: " + note);
  {
    const std::lock_guard<std::mutex> lock(shared->progress_mutex);
    shared->progress = &progress;
  }
  ThreadShare share(thread_budget, jobs, static_cast<int>(items.size()));

  // The largest pictures first: the small ones left at the end even out the jobs' loads,
  // where a large one started last would run alone.
  std::vector<size_t> order(items.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return items[a].pixels > items[b].pixels; });
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t k = next++; k < order.size() && shared->stop_signal == 0; k = next++) {
      DehazeOne(line, items[order[k]], order[k], progress);
      share.PictureDone();
    }
  };
  std::vector<std::thread> workers;
  for (int j = 1; j < jobs; ++j) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();

  {
    const std::lock_guard<std::mutex> lock(shared->progress_mutex);
    shared->progress = nullptr;
  }
  const int stopped_by = shared->stop_signal;
  progress.Summary(stopped_by != 0 ? SignalName(stopped_by) : "");
  if (report != stderr) std::fclose(report);
  if (stopped_by != 0) return 128 + stopped_by;
  return progress.failed() > 0 ? kExitFailure : 0;
}

}  // namespace vantorel
