// Routes requests by method and path pattern, answering 404 for an unknown path and 405
// (with Allow) for a known path asked with another method, which httplib alone does not.
#pragma once

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <httplib.h>

namespace vantorel {

class Router {
 public:
  // `match` holds the path's captures, e.g. match[1] for "/api/pictures/([0-9a-f]+)".
  using Handler = std::function<void(const httplib::Request&, httplib::Response&, const std::smatch& match)>;

  // pattern matches the whole path; HEAD is answered by the GET handler.
  void Add(const std::string& method, const std::string& pattern, Handler handler);

  // Sends every request of every method that httplib knows through Dispatch. A body comes
  // as the raw bytes, or as the one file of a multipart/form-data body.
  void InstallOn(httplib::Server& server) const;

  void Dispatch(const httplib::Request& request, httplib::Response& response) const;

  // True when a route takes this method on this path (the request goes on to its handler).
  bool Serves(const std::string& method, const std::string& path) const;

  // Every method some route takes, "GET, POST, DELETE".
  std::string MethodsTaken() const;

 private:
  // The methods taken on this path, "GET, POST"; "" for an unknown path.
  std::string MethodsAllowed(const std::string& path) const;

  struct Route {
    std::string method;
    std::regex pattern;
    Handler handler;
  };
  std::vector<Route> routes_;
};

}  // namespace vantorel
