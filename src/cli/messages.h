// The front end's one-line messages on standard error.
#pragma once

#include <string>

namespace vantorel {

constexpr int kExitFailure = 1;

// "vantorel: MESSAGE"; returns kExitFailure.
int Fail(const std::string& message);

// "vantorel: note: MESSAGE": something the user should know although the run succeeded.
void Note(const std::string& message);

}  // namespace vantorel
