#include "server/request_framing.h"

#include <algorithm>
#include <cctype>

namespace vantorel {
namespace {

bool IsByteCount(const std::string& text) {
  return !text.empty() && text.size() <= 18 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

FramingRefusal CheckFraming(const httplib::Request& request, uint64_t max_body_bytes, const std::string& limit_text) {
  const std::size_t lengths = request.get_header_value_count("Content-Length");
  const std::size_t encodings = request.get_header_value_count("Transfer-Encoding");
  if (encodings > 0) {
    const std::string encoding = request.get_header_value("Transfer-Encoding");
    if (encodings > 1 || Lower(encoding) != "chunked") {
      return {501, "Transfer-Encoding '" + encoding + "' is not supported: send the body with a Content-Length, "
                   "or chunked"};
    }
    if (lengths > 0) return {400, "a request may not carry both Content-Length and Transfer-Encoding"};
    return {};
  }
  if (lengths == 0) return {};
  const std::string length = request.get_header_value("Content-Length");
  for (std::size_t i = 1; i < lengths; ++i) {
    if (request.get_header_value("Content-Length", i) != length) return {400, "conflicting Content-Length headers"};
  }
  if (!IsByteCount(length)) return {400, "Content-Length '" + length + "' is not a number of bytes"};
  if (std::stoull(length) > max_body_bytes) return {413, "the request body is over the upload limit of " + limit_text};
  return {};
}

bool DeclaresBody(const httplib::Request& request) {
  if (request.has_header("Transfer-Encoding")) return true;
  const std::string length = request.get_header_value("Content-Length");
  return !length.empty() && length.find_first_not_of('0') != std::string::npos;
}

}  // namespace vantorel
