// The VANTOREL_THREADS environment variable.
#include "cli/threads_variable.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "filters/schedule.h"
#include "vantorel/dehaze.h"

namespace vantorel {

namespace {

const char kVariable[] = "VANTOREL_THREADS";

}  // namespace

std::string CheckThreadsVariable() {
  const char* value = std::getenv(kVariable);
  if (value == nullptr || *value == '\0' || ThreadCountOfVariable(value) > 0) return "";
  return std::string(kVariable) + " '" + value + "' is not a whole number from 1 to " + std::to_string(kMaxThreads) +
         " (it sets the threads to use)";
}

int ThreadBudget() {
  // The library reads the variable the same way when no count was set.
  return std::max(1, ThreadCount());
}

}  // namespace vantorel
