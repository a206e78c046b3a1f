#include "server/router.h"

#include <algorithm>

#include "server/http_replies.h"

namespace vantorel {

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
    const bool complete = read([&](const char* data, std::size_t length) {
      with_body.body.append(data, length);
      return true;
    });
    // Not complete: httplib has set the status (413 over the upload limit, 400), and its
    // error handler the body.
    if (complete) Dispatch(with_body, response);
  };
  server.Get(".*", dispatch);
  server.Options(".*", dispatch);
  server.Post(".*", dispatch_with_body);
  server.Put(".*", dispatch_with_body);
  server.Patch(".*", dispatch_with_body);
  server.Delete(".*", dispatch_with_body);
}

void Router::Dispatch(const httplib::Request& request, httplib::Response& response) const {
  const std::string method = request.method == "HEAD" ? "GET" : request.method;
  std::vector<std::string> methods_here;
  for (const Route& route : routes_) {
    std::smatch match;
    if (!std::regex_match(request.path, match, route.pattern)) continue;
    if (route.method == method) {
      route.handler(request, response, match);
      return;
    }
    if (std::find(methods_here.begin(), methods_here.end(), route.method) == methods_here.end()) {
      methods_here.push_back(route.method);
    }
  }
  if (methods_here.empty()) {
    ReplyError(response, 404, "no such resource: " + request.path);
    return;
  }
  std::string allowed;
  for (const std::string& name : methods_here) allowed += (allowed.empty() ? "" : ", ") + name;
  response.set_header("Allow", allowed);
  ReplyError(response, 405, request.method + " is not allowed here; allowed: " + allowed);
}

}  // namespace vantorel
