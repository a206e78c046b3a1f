// Who may use the server: only pages it served itself, addressed by the name it listens
// on. A page from another site open in the same browser is refused (cross-site requests),
// and so is a request for a host name that was made to point at this machine (DNS
// rebinding), because its Host header names that host. A plain form on another site can post
// without an Origin, but its Referer then names the other site (or is left out).
#pragma once

#include <string>

namespace vantorel {

class RequestGuard {
 public:
  // host: the address the server listens on ("127.0.0.1", "::1", "0.0.0.0", a name); port:
  // the port it listens on.
  RequestGuard(const std::string& host, int port);

  // "" when the request may go on, else why it is refused (for a 403). Empty header values
  // stand for absent headers. fetch_site is the browser's Sec-Fetch-Site header. A request
  // without Origin, Referer and Sec-Fetch-Site (a command-line client) may go on.
  std::string Refusal(const std::string& host_header, const std::string& origin_header,
                      const std::string& referer_header, const std::string& fetch_site) const;

 private:
  bool AllowedHost(const std::string& host_header) const;

  std::string host_;  // lower case, IPv6 addresses in brackets
  int port_;
  bool wildcard_;     // listening on every address: any address literal of the machine
};

}  // namespace vantorel
