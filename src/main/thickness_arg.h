// Parsing of the haze-thickness argument.
#pragma once

#include <string>

namespace vantorel {

// The outcome of reading the thickness text.
struct ThicknessArg {
  bool valid = false;      // false: the text is not wholly a finite decimal number
  float thickness = 1.0f;  // the thickness, floored at 0.01 and rounded to float
  std::string error;       // why the text was refused, when not valid
};

// Reads decimal text such as "0.9", "+.5", "1e-1". Anything not above 0.01 becomes
// 0.01 (a thickness too small to be worth processing, which the caller reports).
ThicknessArg ParseThickness(const std::string& text);

// True when the thickness is too small for a dehaze: the float, widened back to double,
// is below 0.1 (so "0.1" itself, which rounds up as a float, is processed).
bool BelowDehazeThreshold(float thickness);

}  // namespace vantorel
