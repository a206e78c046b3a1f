#include "server/router.h"

#include <algorithm>

#include "server/guarded_server.h"
#include "server/http_replies.h"

namespace vantorel {
namespace {

std::string RouteMethod(const std::string& method) { return method == "HEAD" ? "GET" : method; }

// "GET, POST" for an Allow header.
std::string MethodList(const std::vector<std::string>& methods) {
  std::string list;
  for (const std::string& method : methods) list += (list.empty() ? "" : ", ") + method;
  return list;
}

constexpr std::size_t kFirstChunkedRoom = std::size_t{16} << 20;

// The body as the raw bytes, or as the one file of a multipart/form-data body (an HTML form,
// `curl -F`). False, with the status set, when it is not complete: the answer then closes
// the connection, as the rest of the body is left unread.
bool ReadBody(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& read,
              std::string& body) {
  // Without a length or chunks there is no body; httplib would read until the client closes.
  if (!request.has_header("Content-Length") && !request.has_header("Transfer-Encoding")) return true;
  // The room for the body is taken at once: for a length, exactly (its pages are touched
  // only as the bytes arrive); for chunks, from 16 MiB on, doubling. Left to the string,
  // every doubling would copy, and a body cut off at the upload limit could have cost
  // twice the limit.
  const std::string length = request.get_header_value("Content-Length");
  body.reserve(length.empty() ? kFirstChunkedRoom : std::stoull(length));
  const auto append = [&body](const char* data, std::size_t size) {
    if (body.size() + size > body.capacity()) body.reserve(std::max(2 * body.capacity(), kFirstChunkedRoom));
    body.append(data, size);
    return true;
  };
  bool complete;
  int parts = 0;
  if (request.is_multipart_form_data()) {
    complete = read([&](const httplib::MultipartFormData&) { return ++parts == 1; }, append);
  } else {
    complete = read(append);
  }
  if (complete && parts <= 1) return true;
  CloseAfterAnswer(request, response);
  if (parts > 1) {
    ReplyError(response, 400, "a multipart/form-data body must hold one file, the picture; "
                              "or send the picture file itself as the body");
  } else {
    // httplib's error handler words these.
    const ConnectionStream* connection = CurrentConnection();
    response.status = connection != nullptr && connection->OverBodyLimit() ? 413 : 400;
  }
  return false;
}

}  // namespace

void Router::Add(const std::string& method, const std::string& pattern, Handler handler) {
  routes_.push_back({method, std::regex(pattern), std::move(handler)});
}

void Router::InstallOn(httplib::Server& server) const {
  const auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
    Dispatch(request, response);
  };
  // Bodies are taken raw, whatever their Content-Type: httplib would otherwise parse a
  // form-encoded body into parameters, and refuse one over 8 KiB.
  const auto dispatch_with_body = [this](const httplib::Request& request, httplib::Response& response,
                                         const httplib::ContentReader& read) {
    httplib::Request with_body = request;
    if (ReadBody(request, response, read, with_body.body)) Dispatch(with_body, response);
  };
  server.Get(".*", dispatch);
  server.Options(".*", dispatch);
  server.Post(".*", dispatch_with_body);
  server.Put(".*", dispatch_with_body);
  server.Patch(".*", dispatch_with_body);
  server.Delete(".*", dispatch_with_body);
}

bool Router::Serves(const std::string& method, const std::string& path) const {
  const std::string wanted = RouteMethod(method);
  return std::any_of(routes_.begin(), routes_.end(), [&](const Route& route) {
    return route.method == wanted && std::regex_match(path, route.pattern);
  });
}

std::string Router::MethodsAllowed(const std::string& path) const {
  std::vector<std::string> methods;
  for (const Route& route : routes_) {
    if (std::regex_match(path, route.pattern) &&
        std::find(methods.begin(), methods.end(), route.method) == methods.end()) {
      methods.push_back(route.method);
    }
  }
  return MethodList(methods);
}

std::string Router::MethodsTaken() const {
  std::vector<std::string> methods;
  for (const Route& route : routes_) {
    if (std::find(methods.begin(), methods.end(), route.method) == methods.end()) methods.push_back(route.method);
  }
  return MethodList(methods);
}

void Router::Dispatch(const httplib::Request& request, httplib::Response& response) const {
  const std::string method = RouteMethod(request.method);
  for (const Route& route : routes_) {
    std::smatch match;
    if (route.method == method && std::regex_match(request.path, match, route.pattern)) {
      route.handler(request, response, match);
      return;
    }
  }
  const std::string allowed = MethodsAllowed(request.path);
  if (allowed.empty()) {
    ReplyError(response, 404, "no such resource: " + request.path);
    return;
  }
  response.set_header("Allow", allowed);
  ReplyError(response, 405, request.method + " is not allowed here; allowed: " + allowed);
}

}  // namespace vantorel
