#include "server/api_routes.h"

#include <cstdio>

#include "server/http_replies.h"
#include "server/page_assets.h"
#include "server/picture_views.h"

namespace vantorel {
namespace {

constexpr const char* kPicturePath = "/api/pictures/([0-9a-f]{32})";
constexpr int kMaxViewSide = 16384;

std::vector<unsigned char> BodyBytes(const httplib::Request& request) {
  return std::vector<unsigned char>(request.body.begin(), request.body.end());
}

void ReplyBytes(httplib::Response& response, const std::vector<unsigned char>& bytes, const std::string& type) {
  response.set_content(reinterpret_cast<const char*>(bytes.data()), bytes.size(), type);
}

// A header value on one line of printable ASCII.
std::string HeaderText(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = ' ';
  }
  return text;
}

void ReplySeconds(httplib::Response& response, double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  response.set_header("X-Dehaze-Seconds", text);
}

// Answers a failed dehaze; false when there is nothing to answer with.
bool ReplyOutcome(const WorkOutcome& outcome, httplib::Response& response) {
  if (outcome.status == 200) return true;
  if (outcome.status == 204) {
    // Not an error for the page: it asked for something newer meanwhile.
    response.status = 204;
    response.set_header("X-Superseded", "1");
  } else {
    ReplyError(response, outcome.status, outcome.error);
  }
  return false;
}

// Reads a source from the request body: 413 for a picture too large for memory, 400 for
// bytes that are not a picture.
bool ReadBody(const httplib::Request& request, httplib::Response& response, SourcePicture& source,
              const std::string& name) {
  const std::vector<unsigned char> bytes = BodyBytes(request);
  std::string error;
  if (bytes.empty()) {
    ReplyError(response, 400, "the request has no body: send the picture file as the body");
    return false;
  }
  if (!SourceBytesFitInMemory(bytes.data(), bytes.size(), true, error)) {
    ReplyError(response, 413, name + ": " + error);
    return false;
  }
  if (FileError read_error; !ReadSourceBytes(bytes, source, read_error, name)) {
    ReplyError(response, 400, name + ": " + read_error.message);
    return false;
  }
  return true;
}

// The encoded result for the choices in the query.
bool ReplyEncoded(const SourcePicture& source, const DehazedPicture& dehazed, const EncodingChoice& encoding,
                  httplib::Response& response) {
  std::vector<unsigned char> encoded;
  std::string note, error;
  if (!EncodeResult(source, dehazed.result, encoding.format, encoding.options, encoded, note, error)) {
    ReplyError(response, 500, "cannot encode the result as " + encoding.format + ": " + error);
    return false;
  }
  if (!note.empty()) response.set_header("X-Metadata-Note", HeaderText(note));
  ReplySeconds(response, dehazed.seconds);
  ReplyBytes(response, encoded, ImageContentType(encoding.format));
  return true;
}

// width and height, each optional (the full size when absent).
bool ParseViewSize(const httplib::Request& request, httplib::Response& response, int& cols, int& rows) {
  cols = rows = kMaxViewSide;
  for (const auto& [name, value] : {std::pair<const char*, int*>{"width", &cols}, {"height", &rows}}) {
    if (!request.has_param(name)) continue;
    const std::string error = ParseWholeNumber(request, name, 1, kMaxViewSide, *value);
    if (!error.empty()) {
      ReplyError(response, 400, error);
      return false;
    }
  }
  return true;
}

// view=result (the default) or view=map.
bool ParseViewKind(const httplib::Request& request, httplib::Response& response, bool& map) {
  const std::string kind = request.has_param("view") ? request.get_param_value("view") : "result";
  map = kind == "map";
  if (!map && kind != "result") {
    ReplyError(response, 400, "view '" + kind + "' must be result or map");
    return false;
  }
  return true;
}

bool CheckNames(const httplib::Request& request, httplib::Response& response,
                std::initializer_list<std::vector<const char*>> known) {
  const std::string error = CheckParameterNames(request, known);
  if (error.empty()) return true;
  ReplyError(response, 400, error);
  return false;
}

}  // namespace

Api::Api(const ApiLimits& limits)
    : pictures_(limits.max_pictures, limits.picture_bytes), work_(limits.jobs, limits.work_bytes) {}

void Api::AddRoutes(Router& router) {
  using PictureHandler = void (Api::*)(const httplib::Request&, httplib::Response&, const Match&);
  const auto on_picture = [this](PictureHandler handler) {
    return [this, handler](const httplib::Request& request, httplib::Response& response, const Match& match) {
      (this->*handler)(request, response, match);
    };
  };
  router.Add("GET", "/", [this](auto& request, auto& response, auto&) { PageFile(request, response, "index.html"); });
  router.Add("GET", "/(page\\.css|page\\.js)",
             [this](auto& request, auto& response, auto& match) { PageFile(request, response, match[1]); });
  router.Add("POST", "/api/dehaze", [this](auto& request, auto& response, auto&) { OneShot(request, response); });
  router.Add("POST", "/api/pictures", [this](auto& request, auto& response, auto&) { Upload(request, response); });
  const std::string picture = kPicturePath;
  router.Add("GET", picture, on_picture(&Api::Describe));
  router.Add("DELETE", picture, on_picture(&Api::Forget));
  router.Add("GET", picture + "/original", on_picture(&Api::Original));
  router.Add("GET", picture + "/preview", on_picture(&Api::Preview));
  router.Add("GET", picture + "/exact", on_picture(&Api::Exact));
  router.Add("GET", picture + "/result", on_picture(&Api::Result));
}

void Api::PageFile(const httplib::Request&, httplib::Response& response, const std::string& name) {
  const PageAsset* asset = FindPageAsset(name);
  if (asset == nullptr) {
    ReplyError(response, 404, "no such page file: " + name);
    return;
  }
  const std::string extension = name.substr(name.rfind('.') + 1);
  const char* type = extension == "html" ? "text/html; charset=utf-8"
                     : extension == "css" ? "text/css; charset=utf-8"
                                          : "text/javascript; charset=utf-8";
  response.set_header("Cache-Control", "no-cache");
  response.set_content(reinterpret_cast<const char*>(asset->bytes), asset->size, type);
}

void Api::OneShot(const httplib::Request& request, httplib::Response& response) {
  DehazeChoice choice;
  EncodingChoice encoding;
  if (!CheckNames(request, response, {kDehazeChoiceNames, kEncodingChoiceNames})) return;
  for (const std::string& error : {ParseDehazeChoice(request, choice), ParseEncodingChoice(request, encoding)}) {
    if (!error.empty()) return ReplyError(response, 400, error);
  }
  SourcePicture source;
  if (!ReadBody(request, response, source, "the request body")) return;
  const WorkOutcome outcome = work_.InPlace(source, choice);
  if (!ReplyOutcome(outcome, response)) return;
  ReplyEncoded(source, *outcome.picture, encoding, response);
}

void Api::Upload(const httplib::Request& request, httplib::Response& response) {
  if (!CheckNames(request, response, {{"name"}})) return;
  const std::string name = request.has_param("name") ? request.get_param_value("name") : "the picture";
  auto held = std::make_shared<HeldPicture>();
  if (!ReadBody(request, response, held->source, name)) return;
  const cv::Mat& pixels = held->source.pixels;
  std::string error;
  if (!PipelineFitsInMemory(pixels.cols, pixels.rows, error, SourceExtraBytesPerPixel(held->source))) {
    return ReplyError(response, 413, name + ": " + error);
  }
  held->reduced = ReducedCopy(pixels);
  const std::string id = pictures_.Add(held, HeldPictureBytes(pixels.cols, pixels.rows, static_cast<int>(pixels.elemSize1())));
  if (id.empty()) {
    return ReplyError(response, 413, name + ": the picture is larger than the memory the server keeps pictures in");
  }
  response.status = 201;
  response.set_header("Location", "/api/pictures/" + id);
  response.set_content(JsonObject({{"id", JsonString(id)},
                                   {"width", std::to_string(pixels.cols)},
                                   {"height", std::to_string(pixels.rows)},
                                   {"preview_width", std::to_string(held->reduced.cols)},
                                   {"preview_height", std::to_string(held->reduced.rows)},
                                   {"depth", std::to_string(SourceDepthBits(held->source))}}),
                       "application/json");
}

std::shared_ptr<HeldPicture> Api::Find(const Match& match, httplib::Response& response) {
  std::shared_ptr<HeldPicture> held = pictures_.Find(match[1]);
  if (!held) ReplyError(response, 404, "no picture " + match[1].str() + " (unknown, or dropped to make room)");
  return held;
}

void Api::Describe(const httplib::Request& request, httplib::Response& response, const Match& match) {
  if (!CheckNames(request, response, {})) return;
  const auto held = Find(match, response);
  if (!held) return;
  response.set_content(JsonObject({{"id", JsonString(match[1])},
                                   {"width", std::to_string(held->source.pixels.cols)},
                                   {"height", std::to_string(held->source.pixels.rows)},
                                   {"preview_width", std::to_string(held->reduced.cols)},
                                   {"preview_height", std::to_string(held->reduced.rows)},
                                   {"depth", std::to_string(SourceDepthBits(held->source))}}),
                       "application/json");
}

void Api::Forget(const httplib::Request&, httplib::Response& response, const Match& match) {
  if (!pictures_.Remove(match[1])) return ReplyError(response, 404, "no picture " + match[1].str());
  response.status = 204;
}

void Api::Original(const httplib::Request& request, httplib::Response& response, const Match& match) {
  int cols = 0, rows = 0;
  if (!CheckNames(request, response, {{"width", "height"}}) || !ParseViewSize(request, response, cols, rows)) return;
  const auto held = Find(match, response);
  if (!held) return;
  ReplyBytes(response, EncodePng(ScaleToFit(held->source.pixels, cols, rows)), "image/png");
}

void Api::Preview(const httplib::Request& request, httplib::Response& response, const Match& match) {
  DehazeChoice choice;
  bool map = false;
  if (!CheckNames(request, response, {kDehazeChoiceNames, {"view"}}) || !ParseViewKind(request, response, map)) return;
  if (const std::string error = ParseDehazeChoice(request, choice); !error.empty()) {
    return ReplyError(response, 400, error);
  }
  const auto held = Find(match, response);
  if (!held) return;
  const WorkOutcome outcome = work_.Preview(*held, choice);
  if (!ReplyOutcome(outcome, response)) return;
  ReplySeconds(response, outcome.picture->seconds);
  ReplyBytes(response, EncodeJpeg(map ? outcome.picture->map : outcome.picture->result), "image/jpeg");
}

void Api::Exact(const httplib::Request& request, httplib::Response& response, const Match& match) {
  DehazeChoice choice;
  bool map = false;
  int cols = 0, rows = 0;
  if (!CheckNames(request, response, {kDehazeChoiceNames, {"view", "width", "height"}}) ||
      !ParseViewKind(request, response, map) || !ParseViewSize(request, response, cols, rows)) {
    return;
  }
  if (const std::string error = ParseDehazeChoice(request, choice); !error.empty()) {
    return ReplyError(response, 400, error);
  }
  const auto held = Find(match, response);
  if (!held) return;
  const WorkOutcome outcome = work_.Exact(*held, choice, true);
  if (!ReplyOutcome(outcome, response)) return;
  ReplySeconds(response, outcome.picture->seconds);
  const cv::Mat& full = map ? outcome.picture->map : outcome.picture->result;
  ReplyBytes(response, EncodePng(ScaleToFit(full, cols, rows)), "image/png");
}

void Api::Result(const httplib::Request& request, httplib::Response& response, const Match& match) {
  DehazeChoice choice;
  EncodingChoice encoding;
  if (!CheckNames(request, response, {kDehazeChoiceNames, kEncodingChoiceNames})) return;
  for (const std::string& error : {ParseDehazeChoice(request, choice), ParseEncodingChoice(request, encoding)}) {
    if (!error.empty()) return ReplyError(response, 400, error);
  }
  const auto held = Find(match, response);
  if (!held) return;
  const WorkOutcome outcome = work_.Exact(*held, choice, false);
  if (!ReplyOutcome(outcome, response)) return;
  response.set_header("Content-Disposition", "attachment; filename=\"dehazed." + encoding.format + "\"");
  ReplyEncoded(held->source, *outcome.picture, encoding, response);
}

}  // namespace vantorel
