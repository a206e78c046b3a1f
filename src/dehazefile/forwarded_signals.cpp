#include "dehazefile/forwarded_signals.h"

namespace vantorel {

namespace {

pthread_t forward_to;

void PassOn(int signal) { ::pthread_kill(forward_to, signal); }

}  // namespace

void ForwardSignalsTo(pthread_t waiter, const sigset_t& signals) {
  forward_to = waiter;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (sigismember(&signals, signal) != 1) continue;
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = PassOn;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace vantorel
