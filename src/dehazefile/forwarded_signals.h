// For the front ends that take their stop signals in one thread with sigwait, having
// blocked them before starting any thread of their own. Threads that libraries start
// before main() (OpenBLAS, where it is the system's BLAS, starts its pool as it loads)
// never blocked them: a signal the kernel hands to one of those would take its default
// action and end the process at once, skipping the clean stop.
#pragma once

#include <pthread.h>
#include <signal.h>

namespace vantorel {

// Installs, for each signal of `signals`, a handler that passes the signal on to
// `waiter`, which blocks them and waits for them. Only a thread that does not block the
// signals ever runs the handler. Signals that the process was started with ignored are
// left ignored. One waiter per process.
void ForwardSignalsTo(pthread_t waiter, const sigset_t& signals);

}  // namespace vantorel
