// What a request's headers say about its body, checked before any of the body is read:
// a length that is not a byte count, a length over the upload limit (413 at once, instead
// of reading the body first), a Transfer-Encoding other than chunked, or both framings.
#pragma once

#include <cstdint>
#include <string>

#include <httplib.h>

namespace vantorel {

struct FramingRefusal {
  int status = 0;  // 0: the framing is sound
  std::string message;
};

FramingRefusal CheckFraming(const httplib::Request& request, uint64_t max_body_bytes, const std::string& limit_text);

// The request says a body follows (a length above 0, or chunks).
bool DeclaresBody(const httplib::Request& request);

}  // namespace vantorel
