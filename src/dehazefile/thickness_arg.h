// The haze thickness a front end was given: the one place where its range is checked.
// (The library's DehazeCPU refuses a thickness outside (0, 1] on its own account.)
#pragma once

#include <string>

namespace vantorel {

// The outcome of checking a thickness.
struct ThicknessArg {
  bool valid = false;      // false: not a finite decimal number, negative, or above 1
  float thickness = 1.0f;  // the thickness, floored at 0.01 and rounded to float
  std::string error;       // why it was refused, when not valid; names the value as given
};

// Reads decimal text such as "0.9", "+.5", "1e-1". Negative values and values above 1
// are refused; 0 and anything else not above 0.01 become 0.01 (a thickness too small to
// be worth processing, which the caller reports as nothing to do).
ThicknessArg ParseThickness(const std::string& text);

// The same rules for a number (a front end that is handed one, such as Python's).
ThicknessArg CheckThickness(double value);

// True when the thickness is too small for a dehaze: the float, widened back to double,
// is below 0.1 (so "0.1" itself, which rounds up as a float, is processed).
bool BelowDehazeThreshold(float thickness);

}  // namespace vantorel
