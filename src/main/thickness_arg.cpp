// Parsing of the haze-thickness argument.
#include "main/thickness_arg.h"

#include <cctype>
#include <cmath>
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

}  // namespace

ThicknessArg ParseThickness(const std::string& text) {
  ThicknessArg arg;
  if (!IsDecimalNumber(text)) {
    arg.error = "haze_thickness '" + text + "' is not a decimal number";
    return arg;
  }
  // The program never sets a locale, so strtod reads '.' as the decimal point.
  const double v = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(v)) {
    arg.error = "haze_thickness '" + text + "' is out of range";
    return arg;
  }
  const double floored = v > 0.01 ? v : 0.01;
  arg.valid = true;
  arg.thickness = static_cast<float>(floored);
  return arg;
}

bool BelowDehazeThreshold(float thickness) { return static_cast<double>(thickness) < 0.1; }

}  // namespace vantorel
