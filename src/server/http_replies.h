// Small helpers for the server's answers: JSON bodies and content types.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace httplib {
struct Response;
}

namespace vantorel {

// The text as a JSON string literal, quotes included; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);

// {"key": value, ...} from pairs whose values are already JSON (JsonString for text).
std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& members);

// Sets the status and the body {"error": message}.
void ReplyError(httplib::Response& response, int status, const std::string& message);

// The media type of a picture format named by its extension ("jpg", "png", ...);
// application/octet-stream for those without a registered one.
std::string ImageContentType(const std::string& extension);

}  // namespace vantorel
