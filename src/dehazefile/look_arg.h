// The look a front end was given by name: the one place where the names are read, so that
// the command line, the web server and Python accept and refuse the same words.
#pragma once

#include <string>

#include "vantorel/dehaze.h"

namespace vantorel {

// The outcome of reading a look's name.
struct LookArg {
  bool valid = false;          // false: not one of the names below
  Look look = Look::kClassic;  // the look, when valid
  std::string error;           // why it was refused, when not valid; names the text as given
};

// "classic" or "natural", exactly (lower case, no blanks); anything else is refused.
LookArg ParseLook(const std::string& name);

// The name ParseLook reads for a look.
const char* LookName(Look look);

}  // namespace vantorel
