#include "cli/clip_progress.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include <unistd.h>

namespace vantorel {

namespace {

struct Counter {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_drawn{};
  int64_t done = 0;
  bool drawn = false;
};

// One counter per process: the single form writes one clip.
Counter& TheCounter() {
  static Counter counter;
  return counter;
}

}  // namespace

ClipProgress ClipProgressLine(bool quiet) {
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  return [quiet, terminal](int64_t done, int64_t expected) {
    Counter& counter = TheCounter();
    counter.done = done;
    if (quiet || !terminal) return;
    const auto now = std::chrono::steady_clock::now();
    // A few redraws a second are enough.
    if (counter.drawn && now - counter.last_drawn < std::chrono::milliseconds(250)) return;
    counter.last_drawn = now;
    counter.drawn = true;
    const double seconds = std::chrono::duration<double>(now - counter.start).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    if (expected > 0 && rate > 0) {
      const double left = static_cast<double>(expected > done ? expected - done : 0) / rate;
      std::fprintf(stderr, "\r\033[Kframes %lld of %lld, %.1f fps, %.0f s left", static_cast<long long>(done),
                   static_cast<long long>(expected), rate, left);
    } else {
      std::fprintf(stderr, "\r\033[Kframes %lld, %.1f fps", static_cast<long long>(done), rate);
    }
    std::fflush(stderr);
  };
}

void ClipSummaryLine(bool quiet, double seconds) {
  const Counter& counter = TheCounter();
  if (counter.drawn) std::fprintf(stderr, "\r\033[K");
  if (quiet) return;
  const double rate = seconds > 0 ? static_cast<double>(counter.done) / seconds : 0.0;
  std::fprintf(stderr, "%lld frames in %.1f s (%.1f fps)\n", static_cast<long long>(counter.done), seconds, rate);
}

}  // namespace vantorel
