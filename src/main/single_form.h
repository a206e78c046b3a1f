// vantorel [OPTIONS] SOURCE RESULT [THICKNESS]: one picture, with the messages it always had.
#pragma once

#include "main/command_line.h"

namespace vantorel {

// Returns the exit status.
int RunSingleForm(const CommandLine& line);

}  // namespace vantorel
