// Stopping a batch cleanly on SIGINT, SIGTERM or SIGHUP.
#pragma once

#include <functional>
#include <string>

namespace vantorel {

// Blocks the three signals in the calling thread, and so in every thread it starts from
// then on (create this before any other thread), and starts a thread that waits for them.
// The first calls `on_first` with the signal, from that thread: the batch stops taking
// pictures. A second removes every guarded temporary file and ends the process at once
// with status 128 + the signal. A signal the process was started with ignored stays ignored.
void StopOnSignals(std::function<void(int signal)> on_first);

// "SIGINT", "SIGTERM", "SIGHUP".
std::string SignalName(int signal);

}  // namespace vantorel
