#include "server/request_screen.h"

#include "server/guarded_server.h"
#include "server/http_replies.h"
#include "server/request_framing.h"

namespace vantorel {

httplib::Server::HandlerResponse RequestScreen::Screen(const httplib::Request& request,
                                                       httplib::Response& response) const {
  ConnectionStream* connection = CurrentConnection();
  if (connection != nullptr) connection->BeginBody();
  const bool declares_body = DeclaresBody(request);
  const bool body_is_read = request.method == "POST" || request.method == "PUT" || request.method == "PATCH" ||
                            request.method == "DELETE";
  const auto refused = [&] {
    if (declares_body) CloseAfterAnswer(request, response);
    return httplib::Server::HandlerResponse::Handled;
  };
  const std::string refusal =
      guard_->Refusal(request.get_header_value("Host"), request.get_header_value("Origin"),
                      request.get_header_value("Referer"), request.get_header_value("Sec-Fetch-Site"));
  if (!refusal.empty()) {
    ReplyError(response, 403, refusal);
    return refused();
  }
  const FramingRefusal framing = CheckFraming(request, max_body_bytes_, limit_text_);
  if (framing.status != 0) {
    ReplyError(response, framing.status, framing.message);
    return refused();
  }
  if (!router_->Serves(request.method, request.path)) {
    router_->Dispatch(request, response);  // 404, or 405 with Allow
    return refused();
  }
  // httplib reads a body only for these methods; for another, it would be taken for the
  // next request.
  if (declares_body && !body_is_read) CloseAfterAnswer(request, response);
  return httplib::Server::HandlerResponse::Unhandled;
}

bool IsKnownToHttplib(const std::string& method) {
  for (const char* known : {"GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH", "PRI"}) {
    if (method == known) return true;
  }
  return false;
}

}  // namespace vantorel
