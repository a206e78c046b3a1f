// Running independent tasks on the machine's cores.
#include "filters/parallel_for.h"

#include "vantorel/dehaze.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace vantorel {

namespace {
std::atomic<int> chosen_thread_count{0};  // 0: not chosen by the caller
}  // namespace

void SetThreadCount(int count) { chosen_thread_count = std::clamp(count, 0, 256); }

int ThreadCount() { return WorkerCount(); }

int WorkerCount() {
  if (const int chosen = chosen_thread_count.load(); chosen > 0) return chosen;
  if (const char* text = std::getenv("VANTOREL_THREADS")) {
    char* end = nullptr;
    const long requested = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && requested > 0) return static_cast<int>(std::min(requested, 256L));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

void ParallelFor(int count, const std::function<void(int)>& task) {
  const int workers = std::min(count, WorkerCount());
  if (workers <= 1) {
    for (int i = 0; i < count; ++i) task(i);
    return;
  }
  std::atomic<int> next{0};
  std::exception_ptr failure;
  std::mutex failure_lock;
  auto work = [&] {
    for (int i = next++; i < count; i = next++) {
      try {
        task(i);
      } catch (...) {
        std::lock_guard<std::mutex> hold(failure_lock);
        if (!failure) failure = std::current_exception();
      }
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(workers - 1);
  for (int t = 1; t < workers; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads; the ones running share all the tasks
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
  if (failure) std::rethrow_exception(failure);
}

void ParallelForRange(size_t count, size_t grain, const std::function<void(size_t, size_t)>& body) {
  const size_t by_grain = grain == 0 ? count : count / grain;
  const int parts = static_cast<int>(std::max<size_t>(1, std::min<size_t>(by_grain, WorkerCount())));
  ParallelFor(parts, [&](int part) {
    const size_t begin = count * part / parts;
    const size_t end = count * (part + 1) / parts;
    if (begin < end) body(begin, end);
  });
}

}  // namespace vantorel
