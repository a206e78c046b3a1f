// The persistent workers: every task runs once, several callers at once and loops inside
// tasks finish, a failure comes back after all tasks ran, a call's thread count reaches
// the tasks, tasks sharing the threads each get their share, and a forked child runs
// loops without the parent's workers.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "filters/parallel_for.h"
#include "filters/schedule.h"
#include "filters/worker_pool.h"

namespace vantorel {
namespace {

// Each task adds its number plus one to its own slot: a task run twice or never shows.
bool EachTaskRanOnce(const std::vector<std::atomic<int>>& runs) {
  for (size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].load() != static_cast<int>(i) + 1) return false;
  }
  return true;
}

TEST(WorkerPool, EveryTaskOnceForAnyCountsOfTasksAndThreads) {
  for (const int threads : {1, 2, 3, 8}) {
    for (const int count : {0, 1, 2, 7, 100}) {
      std::vector<std::atomic<int>> runs(count);
      RunOnWorkers(count, threads, [&](int i) { runs[i] += i + 1; });
      EXPECT_TRUE(EachTaskRanOnce(runs)) << count << " tasks, " << threads << " threads";
    }
  }
}

// Every row in exactly one band and the step beside run once, on any thread count, for
// pictures shorter than a band, of one row and of none.
TEST(WorkerPool, BandsBesideAStepCoverEveryRowOnceAndRunTheStepOnce) {
  for (const int threads : {1, 2, 3}) {
    for (const int rows : {0, 1, 7, 100}) {
      for (const size_t band_rows : {size_t{1}, size_t{3}, size_t{1000}}) {
        const ScopedThreadCount count(threads);
        std::vector<std::atomic<int>> covered(rows);
        std::atomic<int> beside_runs{0};
        ParallelForRowBandsBeside(rows, band_rows, [&] { ++beside_runs; }, [&](int first, int end) {
          EXPECT_LE(end - first, static_cast<int>(band_rows));
          for (int y = first; y < end; ++y) ++covered[y];
        });
        EXPECT_EQ(beside_runs.load(), 1) << rows << " rows, " << threads << " threads";
        for (int y = 0; y < rows; ++y) EXPECT_EQ(covered[y].load(), 1) << "row " << y;
      }
    }
  }
}

// Bottom up, every row is still in exactly one band; on one thread the bands come from the
// last up (the first down without the setting, and again once it ends), and the setting
// is the setting thread's own: a loop started from another thread goes down.
TEST(WorkerPool, BottomUpBandsCoverEveryRowOnceFromTheLastUp) {
  for (const int threads : {1, 2, 3}) {
    for (const int rows : {0, 1, 7, 100}) {
      for (const size_t band_rows : {size_t{1}, size_t{3}, size_t{1000}}) {
        const ScopedThreadCount count(threads);
        const ScopedBottomUpBands bottom_up(true);
        std::vector<std::atomic<int>> covered(rows);
        ParallelForRowBands(rows, band_rows, [&](int first, int end) {
          EXPECT_LE(end - first, static_cast<int>(band_rows));
          for (int y = first; y < end; ++y) ++covered[y];
        });
        for (int y = 0; y < rows; ++y) EXPECT_EQ(covered[y].load(), 1) << "row " << y << ", " << threads << " threads";
      }
    }
  }
  const ScopedThreadCount one(1);
  const auto firsts = [] {
    std::vector<int> seen;
    ParallelForRowBands(10, 3, [&](int first, int) { seen.push_back(first); });
    return seen;
  };
  EXPECT_EQ(firsts(), (std::vector<int>{0, 3, 6, 9}));
  {
    const ScopedBottomUpBands bottom_up(true);
    EXPECT_EQ(firsts(), (std::vector<int>{9, 6, 3, 0}));
    std::vector<int> elsewhere;
    std::thread other([&] {
      const ScopedThreadCount own(1);
      elsewhere = firsts();
    });
    other.join();
    EXPECT_EQ(elsewhere, (std::vector<int>{0, 3, 6, 9}));
  }
  EXPECT_EQ(firsts(), (std::vector<int>{0, 3, 6, 9}));
}

// On two threads the bands go on while the step beside runs: the step waits for the last
// band, which would never come if the bands waited for it.
TEST(WorkerPool, OnTwoThreadsTheBandsRunWhileTheStepBesideDoes) {
  const ScopedThreadCount count(2);
  constexpr int kRows = 40;
  std::atomic<int> rows_done{0};
  bool saw_every_row = false;
  ParallelForRowBandsBeside(kRows, 4, [&] {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (rows_done.load() < kRows && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
    saw_every_row = rows_done.load() == kRows;
  }, [&](int first, int end) { rows_done += end - first; });
  EXPECT_TRUE(saw_every_row);
}

TEST(WorkerPool, SeveralCallersAndLoopsInsideTasksAllFinish) {
  constexpr int kCallers = 4, kOuter = 6, kInner = 50;
  std::vector<std::vector<std::atomic<int>>> runs(kCallers);
  for (auto& caller_runs : runs) caller_runs = std::vector<std::atomic<int>>(kOuter * kInner);
  std::vector<std::thread> callers;
  for (int c = 0; c < kCallers; ++c) {
    callers.emplace_back([&, c] {
      for (int round = 0; round < 20; ++round) {
        RunOnWorkers(kOuter, 3, [&](int outer) {
          ParallelFor(kInner, [&](int inner) { runs[c][outer * kInner + inner] += 1; });
        });
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (int c = 0; c < kCallers; ++c) {
    for (const std::atomic<int>& count : runs[c]) ASSERT_EQ(count.load(), 20) << "caller " << c;
  }
}

// A worker done with a loop watches for the next one for a while before it sleeps: loops
// that follow at once, within that while and after it must each run every task once (and,
// under the sanitizers, no helper may touch a loop's state after its caller has returned).
TEST(WorkerPool, LoopsAfterShortAndLongPausesRunEveryTaskOnce) {
  for (const int pause_us : {0, 20, 100, 1000}) {
    for (int round = 0; round < 30; ++round) {
      std::vector<std::atomic<int>> runs(8);
      RunOnWorkers(8, 2, [&](int i) {
        std::this_thread::sleep_for(std::chrono::microseconds(i % 2 == 0 ? 0 : 30));
        runs[i] += i + 1;
      });
      ASSERT_TRUE(EachTaskRanOnce(runs)) << "pause " << pause_us << " us, round " << round;
      std::this_thread::sleep_for(std::chrono::microseconds(pause_us));
    }
  }
}

TEST(WorkerPool, FirstFailureRethrownAfterEveryTaskRan) {
  for (const int threads : {1, 4}) {
    std::atomic<int> ran{0};
    EXPECT_THROW(RunOnWorkers(40, threads,
                              [&](int i) {
                                ++ran;
                                if (i % 7 == 3) throw std::runtime_error("task failed");
                              }),
                 std::runtime_error);
    // On one thread the loop stops at the first failure, as a plain loop would.
    EXPECT_EQ(ran.load(), threads == 1 ? 4 : 40) << threads << " threads";
  }
  // The pool still works after failures.
  std::vector<std::atomic<int>> runs(30);
  RunOnWorkers(30, 4, [&](int i) { runs[i] += i + 1; });
  EXPECT_TRUE(EachTaskRanOnce(runs));
}

TEST(WorkerPool, CallThreadCountReachesTasksAndEndsWithTheCall) {
  const int process_count = WorkerCount();
  {
    const ScopedThreadCount one_call(3);
    EXPECT_EQ(WorkerCount(), 3);
    std::vector<std::atomic<int>> seen(12);
    ParallelFor(12, [&](int i) { seen[i] = WorkerCount(); });
    for (const std::atomic<int>& count : seen) EXPECT_EQ(count.load(), 3);
    {
      const ScopedThreadCount unchanged(0);
      EXPECT_EQ(WorkerCount(), 3);
    }
    EXPECT_EQ(WorkerCount(), 3);
  }
  EXPECT_EQ(WorkerCount(), process_count);
}

TEST(WorkerPool, TasksSharingThreadsEachRunOnceWithTheirShareAndTheirLoopsFinish) {
  const struct {
    int threads, tasks;
    std::vector<int> shares;
  } cases[] = {{1, 2, {1, 1}}, {2, 2, {1, 1}}, {3, 2, {2, 1}}, {4, 2, {2, 2}},
               {5, 3, {2, 2, 1}}, {2, 5, {1, 1, 1, 1, 1}}, {4, 1, {4}}};
  constexpr int kInner = 40;
  for (const auto& c : cases) {
    const ScopedThreadCount call(c.threads);
    std::vector<std::atomic<int>> runs(c.tasks), shares(c.tasks), inner(c.tasks * kInner);
    for (int round = 0; round < 10; ++round) {
      ParallelTasksSharingThreads(c.tasks, [&](int task) {
        runs[task] += task + 1;
        shares[task] = WorkerCount();
        // A loop of the task's own, posted from whichever thread runs the task.
        ParallelFor(kInner, [&](int i) { inner[task * kInner + i] += 1; });
      });
    }
    const std::string name = std::to_string(c.tasks) + " tasks on " + std::to_string(c.threads) + " threads";
    for (int task = 0; task < c.tasks; ++task) {
      EXPECT_EQ(runs[task].load(), 10 * (task + 1)) << name << ", task " << task;
      EXPECT_EQ(shares[task].load(), c.shares[task]) << name << ", task " << task;
    }
    for (const std::atomic<int>& count : inner) ASSERT_EQ(count.load(), 10) << name;
    EXPECT_EQ(WorkerCount(), c.threads) << name;  // the shares end with the tasks
  }
}

TEST(WorkerPool, ForkedChildRunsLoopsWithoutTheParentsWorkers) {
  std::atomic<int> warm{0};
  RunOnWorkers(16, 4, [&](int) { ++warm; });  // the parent's workers exist
  ASSERT_EQ(warm.load(), 16);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::vector<std::atomic<int>> runs(64);
    RunOnWorkers(64, 4, [&](int i) { runs[i] += i + 1; });
    _exit(EachTaskRanOnce(runs) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace vantorel
