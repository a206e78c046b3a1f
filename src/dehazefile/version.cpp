// The `vantorel --version` request.
#include "dehazefile/version.h"

#include <cstring>

#ifndef VANTOREL_VERSION
#error "VANTOREL_VERSION must be defined by the build"
#endif

namespace vantorel {

bool IsVersionRequest(int argc, const char* const* argv) {
  return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

const char* VersionLine() { return "vantorel " VANTOREL_VERSION; }

}  // namespace vantorel
