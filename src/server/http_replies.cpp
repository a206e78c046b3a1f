#include "server/http_replies.h"

#include <cstdio>

#include <httplib.h>

namespace vantorel {
namespace {

// The length of the well-formed UTF-8 sequence at text[at] (1 to 4), or 0 when the bytes
// there are not one: a stray continuation byte, a truncated or overlong sequence, a
// surrogate, or a code point beyond U+10FFFF.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xbf;  // the allowed range of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xbf) return 0;
  }
  return length;
}

}  // namespace

// Bytes that are not UTF-8 (a request's path or parameters may hold any) become U+FFFD, so
// that the answer stays valid JSON.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      out += "\\ufffd";
      ++at;
      continue;
    }
    if (length > 1) {
      out.append(text, at, length);
      at += length;
      continue;
    }
    const char c = text[at++];
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
