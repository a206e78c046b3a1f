// Checking the haze thickness.
#include "dehazefile/thickness_arg.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vantorel {

namespace {

size_t SkipDigits(const std::string& text, size_t i) {
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  return i;
}

// [+-]? (digits [. digits*] | . digits) ([eE] [+-]? digits)?, and nothing else: no
// blanks, no hexadecimal, no "inf" or "nan", no decimal comma.
bool IsDecimalNumber(const std::string& text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const size_t int_begin = i;
  i = SkipDigits(text, i);
  size_t digits = i - int_begin;
  if (i < text.size() && text[i] == '.') {
    const size_t frac_begin = ++i;
    i = SkipDigits(text, i);
    digits += i - frac_begin;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t exp_begin = i;
    i = SkipDigits(text, i);
    if (i == exp_begin) return false;
  }
  return i == text.size();
}

// The range rules, with the value named as the user gave it.
ThicknessArg CheckRange(double v, const std::string& as_given) {
  ThicknessArg arg;
  if (!std::isfinite(v)) {
    arg.error = "haze_thickness '" + as_given + "' is out of range";
    return arg;
  }
  // A caller checking the status must hear of a sign slip rather than get "nothing to do".
  if (v < 0) {
    arg.error = "haze_thickness '" + as_given + "' is negative; it must lie in (0, 1]";
    return arg;
  }
  // Compared as the float the pipeline gets, which "1.00000001" rounds to 1.
  if (static_cast<float>(v) > 1.0f) {
    arg.error = "haze_thickness '" + as_given + "' is above 1; it must lie in (0, 1]";
    return arg;
  }
  const double floored = v > 0.01 ? v : 0.01;
  arg.valid = true;
  arg.thickness = static_cast<float>(floored);
  return arg;
}

}  // namespace

ThicknessArg ParseThickness(const std::string& text) {
  ThicknessArg arg;
  if (!IsDecimalNumber(text)) {
    arg.error = "haze_thickness '" + text + "' is not a decimal number";
    return arg;
  }
  // The program never sets a locale, so strtod reads '.' as the decimal point.
  return CheckRange(std::strtod(text.c_str(), nullptr), text);
}

ThicknessArg CheckThickness(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return CheckRange(value, text);
}

bool BelowDehazeThreshold(float thickness) { return static_cast<double>(thickness) < 0.1; }

}  // namespace vantorel
