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
#include "dehazefile/dehaze_clip.h"
#include "dehazefile/batch_plan.h"
#include "cli/batch_progress.h"
#include "cli/batch_signals.h"
#include "dehazefile/memory_budget.h"
#include "dehazefile/picture_parts.h"
#include "cli/messages.h"
#include "cli/threads_variable.h"

namespace vantorel {

namespace {

// A thread's stack as glibc maps it by default.
constexpr uint64_t kThreadStackBytes = 8ull << 20;

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

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
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
  std::atomic<bool> disk_full{false};
  std::atomic<bool> stopping{false};  // clips in progress stop at once: they may run for long
  std::mutex progress_mutex;
  BatchProgress* progress = nullptr;  // while the pictures are being dehazed
  MemoryGate* gate = nullptr;         // likewise
  std::shared_ptr<WorkerInterrupter> interrupter = WorkerInterrupter::Make();
};

// Returns the outcome's status.
Outcome::Status DehazeOne(const BatchRun& run, const BatchItem& item, size_t index, BatchProgress& progress,
                          const std::atomic<bool>& stopping) {
  if (run.skip_existing && Exists(item.result)) {
    progress.Skipped(index, item.source, "the result exists");
    return Outcome::Status::kNothingToDo;
  }
  progress.Started(index, item.source);
  std::string error;
  if (!MakeFolders(ParentOf(item.result), error)) {
    progress.Failed(index, item.result + ": " + error);
    return Outcome::Status::kFailed;
  }
  const auto start = std::chrono::steady_clock::now();
  const Outcome outcome =
      item.clip ? DehazeClipFile(item.source, item.result, run.thickness, run.clip, run.force, run.look, {}, &stopping)
                : DehazeFile(item.source, item.result, run.thickness, run.output, item.map, run.force, run.look);
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
  return outcome.status;
}

}  // namespace

int RunBatch(const BatchRun& run) {
  // Before any thread starts, so that all of them leave the signals to this one.
  auto shared = std::make_shared<Shared>();
  StopOnSignals([shared](int signal) {
    shared->stop_signal = signal;
    shared->stopping = true;
    const std::lock_guard<std::mutex> lock(shared->progress_mutex);
    if (shared->progress != nullptr) {
      shared->progress->Message(SignalName(signal) + ": stopping once the pictures in progress are written "
                                "(clips in progress stop now, leaving nothing); a second signal stops at once");
    }
    if (shared->gate != nullptr) shared->gate->Stop();
    shared->interrupter->InterruptAll();
  });
  const int thread_budget = ThreadBudget();

  std::vector<BatchItem> items;
  std::vector<std::string> notes;
  std::string error;
  {
    // A source that blocks its reader (a FIFO) must not hold the planning against a stop.
    const InterruptibleScope interruptible(*shared->interrupter);
    if (!PlanBatch(run.plan, items, error, notes)) return Fail(error + "; nothing was done");
  }
  if (items.empty()) {
    for (const std::string& source : run.plan.sources) {
      if (SameFile(source, run.plan.output_dir)) {
        return Fail("the output folder " + run.plan.output_dir + " is also a source and was left out of the "
                    "sources, as results are never read as pictures: choose another folder for -o");
      }
    }
    return Fail("no pictures found in the sources given");
  }
  if (!MakeFolders(run.plan.output_dir, error)) return Fail(error);
  if (items.size() > 1) KeepWorkingMemoryForMorePictures();

  std::vector<uint64_t> pixels;
  for (const BatchItem& item : items) pixels.push_back(item.pixels);
  const uint64_t usable = ReadMemoryLimits().Smallest();
  const std::vector<uint64_t> estimated = EstimatedPixels(pixels);
  // More workers than the smallest pictures allow at once would only wait, and under an
  // address-space limit their stacks and arenas take what a picture needs.
  const uint64_t smallest_bytes = PictureBytes(*std::min_element(estimated.begin(), estimated.end()), run.plan.maps);
  const int jobs = std::min<int>({run.jobs > 0 ? run.jobs : DefaultJobs(pixels, thread_budget, usable, run.plan.maps),
                                  static_cast<int>(items.size()),
                                  static_cast<int>(std::clamp<uint64_t>(usable / std::max<uint64_t>(smallest_bytes, 1),
                                                                        1, items.size()))});
  std::FILE* report = ReportStream();
  const BatchProgress::Style style = run.quiet                  ? BatchProgress::Style::kQuiet
                                     : ::isatty(::fileno(report)) ? BatchProgress::Style::kTerminal
                                                                  : BatchProgress::Style::kLines;
  BatchProgress progress(report, style, pixels);
  for (const std::string& note : notes) progress.Message("note: " + note);
  // The largest pictures first: the small ones left at the end even out the jobs' loads,
  // where a large one started last would run alone.
  std::vector<size_t> order(items.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return items[a].pixels > items[b].pixels; });

  std::unique_ptr<MemoryGate> gate;
  std::unique_ptr<ThreadShare> share;
  const auto once_started = [&](int workers) {
    // Measured now that the workers' stacks and arenas exist, less the stacks of the
    // threads the dehazer starts for each step.
    const uint64_t headroom = ReadMemoryLimits().Smallest();
    const uint64_t stacks = static_cast<uint64_t>(thread_budget) * kThreadStackBytes;
    gate = std::make_unique<MemoryGate>(headroom > stacks ? headroom - stacks : 0);
    const std::lock_guard<std::mutex> lock(shared->progress_mutex);
    shared->progress = &progress;
    shared->gate = gate.get();
    if (shared->stop_signal != 0) gate->Stop();
    // Fewer workers than asked for when the system would not start more.
    share = std::make_unique<ThreadShare>(thread_budget, workers, static_cast<int>(items.size()));
  };
  std::atomic<size_t> next{0};
  const auto work = [&] {
    const InterruptibleScope interruptible(*shared->interrupter);
    for (size_t k = next++; k < order.size() && shared->stop_signal == 0 && !shared->disk_full; k = next++) {
      const size_t index = order[k];
      const uint64_t bytes = PictureBytes(estimated[index], run.plan.maps);
      if (!gate->Enter(bytes)) break;
      const Outcome::Status status = DehazeOne(run, items[index], index, progress, shared->stopping);
      gate->Leave(bytes);
      share->PictureDone();
      // Every later write would fail as well: the pictures not started are left for a
      // later run rather than dehazed for nothing.
      if (status == Outcome::Status::kNoSpace && !shared->disk_full.exchange(true)) {
        gate->Stop();
        progress.Message("the disk is full: no more pictures are started");
      }
    }
  };
  RunOnWorkers(jobs, once_started, work);

  {
    const std::lock_guard<std::mutex> lock(shared->progress_mutex);
    shared->progress = nullptr;
    shared->gate = nullptr;
  }
  const int stopped_by = shared->stop_signal;
  progress.Summary(stopped_by != 0 ? SignalName(stopped_by) : "");
  if (report != stderr) std::fclose(report);
  if (stopped_by != 0) return 128 + stopped_by;
  return progress.failed() > 0 ? kExitFailure : 0;
}

}  // namespace vantorel
