#include "server/http_replies.h"

#include <cstdio>

#include <httplib.h>

namespace vantorel {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string out = "{";
  for (const auto& [key, value] : members) {
    if (out.size() > 1) out += ", ";
    out += JsonString(key) + ": " + value;
  }
  return out + "}";
}

void ReplyError(httplib::Response& response, int status, const std::string& message) {
  response.status = status;
  response.set_content(JsonObject({{"error", JsonString(message)}}), "application/json");
}

std::string ImageContentType(const std::string& extension) {
  if (extension == "jpg" || extension == "jpeg" || extension == "jpe") return "image/jpeg";
  if (extension == "png") return "image/png";
  if (extension == "webp") return "image/webp";
  if (extension == "tif" || extension == "tiff") return "image/tiff";
  if (extension == "bmp" || extension == "dib") return "image/bmp";
  return "application/octet-stream";
}

}  // namespace vantorel
