// The HTTP server with the connection handling httplib's defaults lack: each connection
// read and written through a ConnectionStream (deadlines, rate floors, the upload limit as
// bytes arrive), a connection thread for each client up to a bound instead of a fixed 16,
// and a listen queue as long as the system allows instead of 5, so that a burst waits for
// its answers instead of being reset.
#pragma once

#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

#include "server/connection_stream.h"

namespace vantorel {

// Runs each connection on its own thread, started when none is free, up to max_threads;
// beyond that connections wait for a thread. Threads stay until shutdown.
class ConnectionThreads : public httplib::TaskQueue {
 public:
  explicit ConnectionThreads(std::size_t max_threads) : max_threads_(max_threads) {}
  void enqueue(std::function<void()> job) override;
  void shutdown() override;

 private:
  void Work();

  const std::size_t max_threads_;
  std::mutex mutex_;
  std::condition_variable job_ready_;
  std::list<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool shutting_down_ = false;
};

class GuardedServer : public httplib::Server {
 public:
  GuardedServer(const ConnectionRules& rules, std::size_t max_connection_threads);

  // After bind_to_port or bind_to_any_port: lengthens the listen queue to the system's
  // maximum. httplib's is fixed at 5 when it is built, with no setting.
  bool LengthenListenQueue();

 private:
  // Replaces httplib's own loop over a connection's requests (keep-alive), which reads
  // through its own socket stream without deadlines.
  bool process_and_close_socket(socket_t sock) override;

  const ConnectionRules rules_;
};

// Closes the calling thread's connection after this answer, and says so in the answer: for
// a request whose body is left unread, or that could not be read whole.
void CloseAfterAnswer(const httplib::Request& request, httplib::Response& response);

}  // namespace vantorel
