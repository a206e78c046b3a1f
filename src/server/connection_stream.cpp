#include "server/connection_stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace vantorel {
namespace {

// Room beyond the upload limit for what frames the body: chunk sizes, multipart boundaries
// and part headers.
constexpr uint64_t kFramingAllowance = 64 << 10;

thread_local ConnectionStream* current_connection = nullptr;

void AddressText(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  ip = text;
}

}  // namespace

ConnectionStream::ConnectionStream(int socket, const ConnectionRules& rules)
    : socket_(socket), rules_(rules), phase_start_(Clock::now()) {}

bool ConnectionStream::WaitForRequest(std::chrono::milliseconds wait) {
  if (buffer_start_ < buffer_end_) return true;
  pollfd ready{socket_, POLLIN, 0};
  int count;
  do {
    count = poll(&ready, 1, static_cast<int>(wait.count()));
  } while (count < 0 && errno == EINTR);
  return count > 0;
}

void ConnectionStream::DrainBriefly(std::chrono::milliseconds time) {
  const auto end = Clock::now() + time;
  char sink[16384];
  const uint64_t most = std::max<uint64_t>(rules_.max_body_bytes, uint64_t{16} << 20);
  for (uint64_t dropped = 0; dropped < most;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) return;
    pollfd ready{socket_, POLLIN, 0};
    const int count = poll(&ready, 1, static_cast<int>(left.count()));
    if (count < 0 && errno == EINTR) continue;
    const ssize_t received = count > 0 ? recv(socket_, sink, sizeof sink, 0) : 0;
    if (received <= 0) return;
    dropped += static_cast<uint64_t>(received);
  }
}

void ConnectionStream::BeginRequest() {
  phase_ = Phase::kHeaders;
  phase_start_ = Clock::now();
  phase_bytes_ = 0;
}

void ConnectionStream::BeginBody() {
  phase_ = Phase::kBody;
  phase_start_ = Clock::now();
  phase_bytes_ = 0;
}

ConnectionStream::Clock::time_point ConnectionStream::Deadline() const {
  if (phase_ == Phase::kHeaders) return phase_start_ + rules_.header_time;
  const auto lag_allowed = std::chrono::milliseconds(phase_bytes_ * 1000 / rules_.min_bytes_per_second);
  return phase_start_ + rules_.grace + lag_allowed;
}

bool ConnectionStream::WaitFor(short events) const {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(Deadline() - Clock::now());
    if (left.count() <= 0) return false;
    pollfd ready{socket_, events, 0};
    const int count = poll(&ready, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (count > 0) return true;
    if (count < 0 && errno != EINTR) return false;
  }
}

bool ConnectionStream::is_readable() const { return buffer_start_ < buffer_end_ || WaitFor(POLLIN); }

bool ConnectionStream::is_writable() const { return WaitFor(POLLOUT); }

ssize_t ConnectionStream::read(char* ptr, size_t size) {
  uint64_t allowed = size;
  if (phase_ == Phase::kHeaders) {
    if (phase_bytes_ >= rules_.max_header_bytes) return -1;
  } else if (phase_ == Phase::kBody) {
    const uint64_t limit = rules_.max_body_bytes + kFramingAllowance;
    if (phase_bytes_ >= limit) {
      over_body_limit_ = true;
      return -1;
    }
    allowed = std::min<uint64_t>(allowed, limit - phase_bytes_);
  }
  if (buffer_start_ == buffer_end_) {
    if (!WaitFor(POLLIN)) return -1;
    ssize_t received;
    do {
      received = recv(socket_, buffer_, sizeof buffer_, 0);
    } while (received < 0 && errno == EINTR);
    if (received <= 0) return received;
    buffer_start_ = 0;
    buffer_end_ = static_cast<std::size_t>(received);
  }
  const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(allowed, buffer_end_ - buffer_start_));
  std::copy(buffer_ + buffer_start_, buffer_ + buffer_start_ + count, ptr);
  buffer_start_ += count;
  phase_bytes_ += count;
  return static_cast<ssize_t>(count);
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
  if (phase_ != Phase::kAnswer) {
    phase_ = Phase::kAnswer;
    phase_start_ = Clock::now();
    phase_bytes_ = 0;
  }
  if (!WaitFor(POLLOUT)) return -1;
  ssize_t sent;
  do {
    sent = send(socket_, ptr, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent > 0) phase_bytes_ += static_cast<uint64_t>(sent);
  return sent;
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) AddressText(address, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) AddressText(address, ip, port);
}

ConnectionStream* CurrentConnection() { return current_connection; }

CurrentConnectionScope::CurrentConnectionScope(ConnectionStream* connection) { current_connection = connection; }

CurrentConnectionScope::~CurrentConnectionScope() { current_connection = nullptr; }

}  // namespace vantorel
