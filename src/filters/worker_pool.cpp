// The process's worker threads.
//
// A loop is posted as a Job on the caller's stack. Idle workers join it while it wants
// helpers; every thread in it, caller included, takes the next task number until none
// are left. The caller then withdraws the job so that no worker joins late, and waits
// until the workers that did join have left it: only then may the job go out of scope.
// Workers are started when a loop first asks for more than there are, and never stopped;
// a child process made by fork() starts with no workers and a fresh pool.
//
// Waking a sleeping thread costs tens of microseconds on a virtual machine, and a dehaze
// runs a few dozen loops with short serial steps between them: a worker done with a loop
// first watches for the next one for a short while, and a caller done with its tasks
// watches its helpers leave, before either goes to sleep.
#include "filters/worker_pool.h"

#include <emmintrin.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

#include "filters/schedule.h"

namespace vantorel {

namespace {

constexpr int kMostWorkers = 255;  // SetThreadCount's ceiling, less the caller

// How long a thread watches before it sleeps: longer than most serial steps between two
// loops of a dehaze, short against the loops themselves.
constexpr std::chrono::microseconds kWatch(200);

// Calls `done` until it is true or kWatch has passed; true when it became true. Every
// few polls it offers the core to any other thread that is ready to run (an encoder's, a
// second picture's), so that watching never holds work up where there are more threads
// than cores.
template <typename Done>
bool WatchFor(const Done& done) {
  const auto until = std::chrono::steady_clock::now() + kWatch;
  for (int polls = 1;; ++polls) {
    if (done()) return true;
    _mm_pause();
    if (polls % 64 == 0) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::yield();
    }
  }
}

struct Job {
  const std::function<void(int)>* task = nullptr;
  int count = 0;
  int threads = 1;
  int helpers_wanted = 0;  // the pool's lock guards this and helpers_in
  std::atomic<int> helpers_in{0};  // read without the lock only to watch it fall to 0
  std::atomic<int> next{0};
  std::mutex failure_lock;
  std::exception_ptr failure;

  // Takes task numbers until none are left.
  void Work() {
    for (int i = next++; i < count; i = next++) {
      try {
        (*task)(i);
      } catch (...) {
        const std::lock_guard<std::mutex> hold(failure_lock);
        if (!failure) failure = std::current_exception();
      }
    }
  }
};

class WorkerPool {
 public:
  void Run(int count, int threads, const std::function<void(int)>& task) {
    Job job;
    job.task = &task;
    job.count = count;
    job.threads = threads;
    job.helpers_wanted = std::min(threads, count) - 1;
    {
      std::unique_lock<std::mutex> hold(lock_);
      StartWorkers(job.helpers_wanted);
      open_.push_back(&job);
      open_count_.store(static_cast<int>(open_.size()));
    }
    for (int i = 0; i < job.helpers_wanted; ++i) work_posted_.notify_one();
    job.Work();
    {
      std::unique_lock<std::mutex> hold(lock_);
      open_.remove(&job);
      open_count_.store(static_cast<int>(open_.size()));
    }
    if (!WatchFor([&] { return job.helpers_in.load() == 0; })) {
      std::unique_lock<std::mutex> hold(lock_);
      helper_left_.wait(hold, [&] { return job.helpers_in.load() == 0; });
    }
    if (job.failure) std::rethrow_exception(job.failure);
  }

  // fork() copies only the thread that calls it: the child must not wait for the
  // parent's workers, nor find the pool's lock held by one of them.
  static WorkerPool& Instance() {
    static const bool registered = [] {
      pthread_atfork([] { Current().lock_.lock(); }, [] { Current().lock_.unlock(); },
                     [] { Pointer() = new WorkerPool; });  // the old pool's lock stays held; it is never used
      return true;
    }();
    (void)registered;
    return Current();
  }

 private:
  // Never destroyed: detached workers may still wait on it while the process exits.
  static WorkerPool*& Pointer() {
    static WorkerPool* pool = new WorkerPool;
    return pool;
  }
  static WorkerPool& Current() { return *Pointer(); }

  // Called with the lock held.
  void StartWorkers(int wanted) {
    wanted = std::min(wanted, kMostWorkers);
    while (started_ < wanted) {
      try {
        std::thread(&WorkerPool::WorkerLoop, this).detach();
      } catch (const std::system_error&) {
        return;  // fewer workers; callers do the rest of their tasks themselves
      }
      ++started_;
    }
  }

  Job* JobWantingHelp() {
    for (Job* job : open_) {
      if (job->helpers_in < job->helpers_wanted && job->next.load() < job->count) return job;
    }
    return nullptr;
  }

  void WorkerLoop() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      Job* job = JobWantingHelp();
      if (job == nullptr) {
        hold.unlock();
        WatchFor([&] { return open_count_.load() > 0; });
        hold.lock();
        work_posted_.wait(hold, [&] { return (job = JobWantingHelp()) != nullptr; });
      }
      ++job->helpers_in;
      hold.unlock();
      {
        const ScopedThreadCount count(job->threads);
        job->Work();
      }
      hold.lock();
      if (--job->helpers_in == 0) helper_left_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable work_posted_, helper_left_;
  std::list<Job*> open_;  // jobs whose callers are still taking tasks
  std::atomic<int> open_count_{0};  // open_.size(), for watching without the lock
  int started_ = 0;
};

}  // namespace

void RunOnWorkers(int count, int threads, const std::function<void(int)>& task) {
  if (count <= 0) return;
  if (threads <= 1 || count == 1) {
    for (int i = 0; i < count; ++i) task(i);
    return;
  }
  WorkerPool::Instance().Run(count, threads, task);
}

}  // namespace vantorel
