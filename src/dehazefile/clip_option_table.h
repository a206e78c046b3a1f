// The clip options, once: their names, ranges or choices, defaults and help, as
// output_option_table.h has them for pictures. The command line's clip options and
// Python's keywords are built from this table, and CheckClipOptions checks against it.
// (The web server takes no clips.)
#pragma once

#include <string>
#include <vector>

#include "dehazefile/clip_options.h"

namespace vantorel {

struct ClipOptionSpec {
  enum class Kind {
    kWholeNumber,  // an int field, in [min, max]
    kDecimal,      // a double field, in [min, max]
    kChoice,       // a string field, one of `choices`, or "" for the default where allowed
  };
  Kind kind;
  const char* name;         // the command line's option without "--"
  const char* python_name;  // Python's keyword
  const char* what;         // how an error names it: "the temporal window"
  const char* value_name;   // the value in the help: "S"
  const char* help;         // the command line's help, which states the default
  double min = 0, max = 0;  // numbers: the range
  std::vector<std::string> choices;  // choices: the names taken
  int ClipOptions::*number = nullptr;
  double ClipOptions::*decimal = nullptr;
  std::string ClipOptions::*text = nullptr;
};

const std::vector<ClipOptionSpec>& ClipOptionTable();

// Whether every field is in its range or among its choices; else false with a one-line
// reason naming the option as `what` says it.
bool CheckClipOptions(const ClipOptions& options, std::string& error);

}  // namespace vantorel
