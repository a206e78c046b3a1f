#include "server/dehaze_query.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace vantorel {

const std::initializer_list<const char*> kDehazeChoiceNames = {"thickness", "look"};
const std::initializer_list<const char*> kEncodingChoiceNames = {"format", "jpeg-quality", "webp-quality",
                                                                 "png-compression", "strip-metadata", "depth"};

std::string ParseDehazeChoice(const httplib::Request& request, DehazeChoice& choice) {
  if (!request.has_param("thickness")) return "thickness is required (0.1 to 1)";
  const ThicknessArg arg = ParseThickness(request.get_param_value("thickness"));
  if (!arg.valid) return arg.error;
  if (BelowDehazeThreshold(arg.thickness)) {
    return "thickness " + request.get_param_value("thickness") + " is below 0.1: there is nothing to dehaze";
  }
  choice.thickness = arg.thickness;
  if (request.has_param("look")) {
    const LookArg look = ParseLook(request.get_param_value("look"));
    if (!look.valid) return look.error;
    choice.look = look.look;
  }
  return "";
}

std::string ParseWholeNumber(const httplib::Request& request, const char* name, int min, int max, int& value) {
  const std::string text = request.get_param_value(name);
  int parsed = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (text.empty() || status != std::errc() || end != text.data() + text.size() || parsed < min || parsed > max) {
    return std::string(name) + " '" + text + "' must be a whole number from " + std::to_string(min) + " to " +
           std::to_string(max);
  }
  value = parsed;
  return "";
}

std::string ParseEncodingChoice(const httplib::Request& request, EncodingChoice& choice) {
  if (!request.has_param("format")) return "format is required (jpg, png, webp, ...)";
  std::string format = request.get_param_value("format");
  std::transform(format.begin(), format.end(), format.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (!format.empty() && format.front() == '.') format.erase(0, 1);
  std::string why;
  if (format.empty() || format.find_first_of("./\\") != std::string::npos || !CanWriteFormat(format, why)) {
    return "format '" + request.get_param_value("format") + "' cannot be written" + (why.empty() ? "" : ": " + why);
  }
  choice.format = format;
  struct Number {
    const char* name;
    int min, max;
    int* field;
  };
  for (const Number& number : {Number{"jpeg-quality", 1, 100, &choice.options.jpeg_quality},
                               Number{"webp-quality", 1, 100, &choice.options.webp_quality},
                               Number{"png-compression", 0, 9, &choice.options.png_compression},
                               Number{"depth", 8, 16, &choice.options.depth}}) {
    if (!request.has_param(number.name)) continue;
    const std::string error = ParseWholeNumber(request, number.name, number.min, number.max, *number.field);
    if (!error.empty()) return error;
  }
  if (request.has_param("strip-metadata")) {
    const std::string value = request.get_param_value("strip-metadata");
    if (value.empty() || value == "1" || value == "true") {
      choice.options.strip_metadata = true;
    } else if (value != "0" && value != "false") {
      return "strip-metadata '" + value + "' must be 1 or 0";
    }
  }
  if (std::string problem = CheckOutputOptions(choice.options); !problem.empty()) return problem;
  return DepthRefusal(format, choice.options.depth);
}

std::string CheckParameterNames(const httplib::Request& request,
                                std::initializer_list<std::initializer_list<const char*>> known) {
  for (const auto& [name, value] : request.params) {
    bool found = false;
    for (const auto& names : known) {
      found = found || std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
    }
    if (!found) return "unknown parameter '" + name + "'";
  }
  return "";
}

}  // namespace vantorel
