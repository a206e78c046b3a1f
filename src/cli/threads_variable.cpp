// The VANTOREL_THREADS environment variable.
#include "cli/threads_variable.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "vantorel/dehaze.h"

namespace vantorel {

namespace {

const char kVariable[] = "VANTOREL_THREADS";

// Digits only, optionally after a '+', and not zero.
bool IsPositiveWholeNumber(const std::string& text) {
  const size_t start = !text.empty() && text[0] == '+' ? 1 : 0;
  if (start == text.size()) return false;
  bool nonzero = false;
  for (size_t i = start; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    nonzero = nonzero || text[i] != '0';
  }
  return nonzero;
}

}  // namespace

std::string CheckThreadsVariable() {
  const char* value = std::getenv(kVariable);
  if (value == nullptr || *value == '\0' || IsPositiveWholeNumber(value)) return "";
  return std::string(kVariable) + " '" + value + "' is not a positive whole number (it sets the threads to use)";
}

int ThreadBudget() {
  // The library reads the variable the same way when no count was set.
  return std::max(1, ThreadCount());
}

}  // namespace vantorel
