// The HTTP interface (described in the README): the one-shot dehaze, the pictures kept for
// the page with their views, the saved result, and the page's own files.
#pragma once

#include <cstdint>

#include "server/picture_store.h"
#include "server/picture_work.h"
#include "server/router.h"

namespace vantorel {

struct ApiLimits {
  std::size_t max_pictures;  // pictures kept at once
  uint64_t picture_bytes;    // memory for the kept pictures and their results
  int jobs;                  // full-size dehazes at once
  uint64_t work_bytes;       // memory those may reserve together
};

class Api {
 public:
  explicit Api(const ApiLimits& limits);

  // Adds every route; `this` must outlive the router.
  void AddRoutes(Router& router);

 private:
  using Match = std::smatch;
  void PageFile(const httplib::Request& request, httplib::Response& response, const std::string& name);
  void OneShot(const httplib::Request& request, httplib::Response& response);
  void Upload(const httplib::Request& request, httplib::Response& response);
  void Describe(const httplib::Request& request, httplib::Response& response, const Match& match);
  void Forget(const httplib::Request& request, httplib::Response& response, const Match& match);
  void Original(const httplib::Request& request, httplib::Response& response, const Match& match);
  void Preview(const httplib::Request& request, httplib::Response& response, const Match& match);
  void Exact(const httplib::Request& request, httplib::Response& response, const Match& match);
  void Result(const httplib::Request& request, httplib::Response& response, const Match& match);

  // The picture named by the path, or nullptr after answering 404.
  std::shared_ptr<HeldPicture> Find(const Match& match, httplib::Response& response);

  PictureStore<HeldPicture> pictures_;
  PictureWork work_;
};

}  // namespace vantorel
