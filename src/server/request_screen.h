// What is answered before a request's body is read: a request from another site, one whose
// framing is unsound or whose length is over the upload limit, one that no route takes.
// A body such a request declares is left unread and the connection closed after the answer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <httplib.h>

#include "server/request_guard.h"
#include "server/router.h"

namespace vantorel {

class RequestScreen {
 public:
  // `guard` and `router` must outlive the screen; limit_text names the upload limit in
  // messages ("200 MiB (--max-upload-mb)").
  RequestScreen(const RequestGuard& guard, const Router& router, uint64_t max_body_bytes, std::string limit_text)
      : guard_(&guard), router_(&router), max_body_bytes_(max_body_bytes), limit_text_(std::move(limit_text)) {}

  // Handled after answering the request; Unhandled when it goes on to its route.
  httplib::Server::HandlerResponse Screen(const httplib::Request& request, httplib::Response& response) const;

 private:
  const RequestGuard* guard_;
  const Router* router_;
  uint64_t max_body_bytes_;
  std::string limit_text_;
};

// A method httplib parses; it refuses any other (BREW, ...) as a malformed request line.
bool IsKnownToHttplib(const std::string& method);

}  // namespace vantorel
