// The output options, once: their names, ranges, defaults and help. The command line's
// options, the HTTP parameters and Python's keywords are all built from this table, and
// CheckOutputOptions checks against it.
#pragma once

#include <string>
#include <vector>

#include "dehazefile/output_options.h"

namespace vantorel {

struct OutputOptionSpec {
  enum class Kind {
    kWholeNumber,  // an int field, in [min, max] or its default
    kFlag,         // a bool field, off by default
  };
  Kind kind;
  const char* name;         // the command line's option without "--", and the HTTP parameter
  const char* python_name;  // Python's keyword
  const char* what;         // how an error names it: "the JPEG quality"
  const char* value_name;   // the value in the help: "Q"
  const char* help;         // the command line's help, which states the default
  int min = 0, max = 0;     // whole numbers: the range
  int OutputOptions::*number = nullptr;
  bool OutputOptions::*flag = nullptr;
  bool ends_only = false;   // whole numbers: min or max alone, nothing between (the depth: 8 or 16)

  // A whole number's default, outside [min, max] when it means "not given" (lossless
  // WebP, the image library's own PNG compression).
  int DefaultNumber() const { return OutputOptions().*number; }
  // The range's text in errors: "1..100" (or "8 or 16"), with the default when it lies outside.
  std::string RangeText() const;
};

const std::vector<OutputOptionSpec>& OutputOptionTable();

// The entry of that command-line or HTTP name, or nullptr.
const OutputOptionSpec* FindOutputOption(const std::string& name);

// Whether every field is in its range (or holds its default); else false with a one-line
// reason naming the option as `what` says it.
bool CheckOutputOptions(const OutputOptions& options, std::string& error);

}  // namespace vantorel
