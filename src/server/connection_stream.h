// One client connection, read and written with deadlines. httplib bounds only each single
// read and write (a few seconds), so a client sending a byte now and then would hold a
// connection thread for ever; here each request has a deadline for its headers, its body
// must keep to a rate floor, and so must the answer. The body is counted as it arrives,
// whatever its framing (a length, chunks, multipart), and reading stops past the limit.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <httplib.h>

namespace vantorel {

struct ConnectionRules {
  std::chrono::milliseconds header_time{4000};  // from the request's first byte to its blank line
  std::size_t max_header_bytes = 64 << 10;      // request line and headers together
  uint64_t max_body_bytes = 0;                  // the upload limit
  // Bodies and answers: after the grace time, at least this many bytes a second on average.
  std::chrono::milliseconds grace{10000};
  uint64_t min_bytes_per_second = 16 << 10;
};

class ConnectionStream : public httplib::Stream {
 public:
  using Clock = std::chrono::steady_clock;

  ConnectionStream(int socket, const ConnectionRules& rules);

  // Waits up to `wait` for the first byte of a request; false when none came.
  bool WaitForRequest(std::chrono::milliseconds wait);
  // A request begins: its headers are due within the header time.
  void BeginRequest();
  // The headers are read: what is read from here on is the body.
  void BeginBody();
  // The body went past the upload limit (and was not read on).
  bool OverBodyLimit() const { return over_body_limit_; }
  // The connection closes after this answer (a body left unread, an error in the framing).
  void CloseAfterAnswer() { close_after_answer_ = true; }
  bool ClosingAfterAnswer() const { return close_after_answer_; }
  // Reads and drops what the client still sends, until it closes, for at most `time` and
  // as many bytes as the upload limit (16 MiB at least).
  void DrainBriefly(std::chrono::milliseconds time);

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  int socket() const override { return socket_; }

 private:
  enum class Phase { kHeaders, kBody, kAnswer };
  // When the current phase must be over (headers) or how far its bytes may lag (body, answer).
  Clock::time_point Deadline() const;
  // Waits for the socket to be ready for `events` until the deadline; false at the deadline.
  bool WaitFor(short events) const;

  const int socket_;
  const ConnectionRules rules_;
  Phase phase_ = Phase::kHeaders;
  Clock::time_point phase_start_;
  uint64_t phase_bytes_ = 0;  // read (headers, body) or written (answer) in this phase
  bool over_body_limit_ = false;
  bool close_after_answer_ = false;
  char buffer_[4096];
  std::size_t buffer_start_ = 0, buffer_end_ = 0;
};

// The connection the calling thread serves (set by GuardedServer), for the request
// handlers; nullptr on any other thread.
ConnectionStream* CurrentConnection();

// Makes `connection` the calling thread's current connection while it lives.
class CurrentConnectionScope {
 public:
  explicit CurrentConnectionScope(ConnectionStream* connection);
  ~CurrentConnectionScope();
  CurrentConnectionScope(const CurrentConnectionScope&) = delete;
  CurrentConnectionScope& operator=(const CurrentConnectionScope&) = delete;
};

}  // namespace vantorel
