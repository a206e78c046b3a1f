// vantorel [OPTIONS] SOURCE RESULT [THICKNESS]: one picture, with the messages it always had.
#pragma once

#include "cli/command_line.h"

namespace vantorel {

// Returns the exit status.
int RunSingleForm(const CommandLine& line);

}  // namespace vantorel
