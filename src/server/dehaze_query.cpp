#include "server/dehaze_query.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace vantorel {

const std::initializer_list<const char*> kDehazeChoiceNames = {"thickness", "look"};
const std::vector<const char*> kEncodingChoiceNames = [] {
  std::vector<const char*> names = {"format"};
  for (const OutputOptionSpec& entry : OutputOptionTable()) names.push_back(entry.name);
  return names;
}();

std::string ParseDehazeChoice(const httplib::Request& request, DehazeChoice& choice) {
  if (!request.has_param("thickness")) return "thickness is required (0.1 to 1)";
  const ThicknessArg arg = ParseThickness(request.get_param_value("thickness"));
  // The command line calls its argument haze_thickness; here the parameter is thickness.
  if (!arg.valid) return arg.error.rfind("haze_", 0) == 0 ? arg.error.substr(5) : arg.error;
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
  for (const OutputOptionSpec& entry : OutputOptionTable()) {
    if (!request.has_param(entry.name)) continue;
    if (entry.kind == OutputOptionSpec::Kind::kWholeNumber) {
      const std::string error =
          ParseWholeNumber(request, entry.name, entry.min, entry.max, choice.options.*entry.number);
      if (!error.empty()) return error;
      continue;
    }
    const std::string value = request.get_param_value(entry.name);
    if (value.empty() || value == "1" || value == "true") {
      choice.options.*entry.flag = true;
    } else if (value != "0" && value != "false") {
      return std::string(entry.name) + " '" + value + "' must be 1 or 0";
    }
  }
  std::string error;
  if (!CheckOutputOptions(choice.options, error)) return error;
  return DepthRefusal(format, choice.options.depth);
}

std::string CheckParameterNames(const httplib::Request& request,
                                std::initializer_list<std::vector<const char*>> known) {
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
