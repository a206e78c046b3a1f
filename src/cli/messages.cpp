// The front end's one-line messages on standard error.
#include "cli/messages.h"

#include <cstdio>

namespace vantorel {

int Fail(const std::string& message) {
  // What went to standard output before comes first when both go to one terminal.
  std::fflush(stdout);
  std::fprintf(stderr, "vantorel: %s\n", message.c_str());
  return kExitFailure;
}

void Note(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "vantorel: note: %s\n", message.c_str());
}

}  // namespace vantorel
