#include "server/guarded_server.h"

#include <sys/socket.h>
#include <unistd.h>

namespace vantorel {
namespace {

constexpr std::chrono::milliseconds kDrainTime{2000};

}  // namespace

void ConnectionThreads::enqueue(std::function<void()> job) {
  std::lock_guard<std::mutex> lock(mutex_);
  jobs_.push_back(std::move(job));
  if (idle_ < jobs_.size() && threads_.size() < max_threads_) {
    threads_.emplace_back([this] { Work(); });
  }
  job_ready_.notify_one();
}

void ConnectionThreads::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutting_down_ = true;
  }
  job_ready_.notify_all();
  // No thread is added once shutting down: enqueue is called only by the accepting loop,
  // which has ended.
  for (std::thread& thread : threads_) thread.join();
}

void ConnectionThreads::Work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++idle_;
      job_ready_.wait(lock, [this] { return !jobs_.empty() || shutting_down_; });
      --idle_;
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

GuardedServer::GuardedServer(const ConnectionRules& rules, std::size_t max_connection_threads) : rules_(rules) {
  new_task_queue = [max_connection_threads] { return new ConnectionThreads(max_connection_threads); };
}

bool GuardedServer::LengthenListenQueue() {
  // Listening again on a listening socket only changes its queue's length.
  return svr_sock_ != INVALID_SOCKET && ::listen(svr_sock_, SOMAXCONN) == 0;
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  ConnectionStream connection(sock, rules_);
  const CurrentConnectionScope current(&connection);
  const auto keep_alive = std::chrono::seconds(keep_alive_timeout_sec_);
  bool served = true;
  for (std::size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
    // The first request's headers are due from the connection on; later ones may follow
    // after a pause up to the keep-alive time.
    const bool first = left == keep_alive_max_count_;
    if (!first && !connection.WaitForRequest(keep_alive)) break;
    connection.BeginRequest();
    bool closed = false;
    served = process_request(connection, left == 1, closed, nullptr);
    if (!served || closed || connection.ClosingAfterAnswer()) break;
  }
  if (connection.ClosingAfterAnswer()) {
    // A body was left unread. Closing at once with bytes still coming makes the system
    // reset the connection, and a client still sending would lose the answer with it;
    // so the answer's end is sent, and what still comes is dropped for a short while.
    ::shutdown(sock, SHUT_WR);
    connection.DrainBriefly(kDrainTime);
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return served;
}

void CloseAfterAnswer(const httplib::Request& request, httplib::Response& response) {
  if (ConnectionStream* connection = CurrentConnection()) connection->CloseAfterAnswer();
  // httplib says it itself when the request asked for it.
  if (request.get_header_value("Connection") != "close" && !response.has_header("Connection")) {
    response.set_header("Connection", "close");
  }
}

}  // namespace vantorel
