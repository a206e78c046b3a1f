#include "server/request_guard.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

namespace vantorel {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool IsIPv4Literal(const std::string& name) {
  in_addr address{};
  return inet_pton(AF_INET, name.c_str(), &address) == 1;
}

// "[::1]" -> true for a bracketed IPv6 literal.
bool IsBracketedIPv6Literal(const std::string& name) {
  if (name.size() < 3 || name.front() != '[' || name.back() != ']') return false;
  in6_addr address{};
  return inet_pton(AF_INET6, name.substr(1, name.size() - 2).c_str(), &address) == 1;
}

// Splits "name:port" / "[v6]:port" / "name"; port -1 when absent, -2 when malformed.
void SplitHostPort(const std::string& value, std::string& name, int& port) {
  const std::size_t bracket = value.rfind(']');
  const std::size_t colon = value.rfind(':');
  port = -1;
  name = value;
  if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) return;
  const std::string digits = value.substr(colon + 1);
  name = value.substr(0, colon);
  if (digits.empty() || digits.size() > 5 ||
      !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); })) {
    port = -2;
    return;
  }
  port = std::stoi(digits);
}

// "http://host:port" from "http://host:port/path?query"; the whole text when it has no path.
std::string OriginOf(const std::string& url) {
  const std::size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return url;
  const std::size_t path = url.find_first_of("/?#", scheme_end + 3);
  return path == std::string::npos ? url : url.substr(0, path);
}

}  // namespace

RequestGuard::RequestGuard(const std::string& host, int port) : host_(Lower(host)), port_(port) {
  in6_addr v6{};
  if (inet_pton(AF_INET6, host_.c_str(), &v6) == 1) host_ = "[" + host_ + "]";
  wildcard_ = host_ == "0.0.0.0" || host_ == "[::]";
}

bool RequestGuard::AllowedHost(const std::string& host_header) const {
  std::string name;
  int port = 0;
  SplitHostPort(Lower(host_header), name, port);
  if (port == -2 || (port == -1 ? port_ != 80 : port != port_)) return false;
  if (name == host_ || name == "localhost") return true;
  // Bound to every address, the server is reached by any of the machine's addresses;
  // a literal address cannot be re-pointed by someone else's name server.
  return wildcard_ && (IsIPv4Literal(name) || IsBracketedIPv6Literal(name));
}

std::string RequestGuard::Refusal(const std::string& host_header, const std::string& origin_header,
                                  const std::string& referer_header, const std::string& fetch_site) const {
  if (!AllowedHost(host_header)) {
    return "this server answers only requests addressed to it by its own address or localhost";
  }
  if (!origin_header.empty() && Lower(origin_header) != "http://" + Lower(host_header)) {
    return "cross-site requests are refused: only this server's own page may use it";
  }
  if (!referer_header.empty() && Lower(OriginOf(referer_header)) != "http://" + Lower(host_header)) {
    return "cross-site requests are refused: only this server's own page may use it";
  }
  if (fetch_site == "cross-site" || fetch_site == "same-site") {
    return "cross-site requests are refused: only this server's own page may use it";
  }
  return "";
}

}  // namespace vantorel
