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

// As many as the library takes.
constexpr unsigned kMaxThreads = 256;

// Digits only, optionally after a '+', from 1 to kMaxThreads (leading zeros allowed).
bool IsThreadCount(const std::string& text) {
  const size_t start = !text.empty() && text[0] == '+' ? 1 : 0;
  if (start == text.size()) return false;
  unsigned value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > kMaxThreads) return false;
  }
  return value > 0;
}

}  // namespace

std::string CheckThreadsVariable() {
  const char* value = std::getenv(kVariable);
  if (value == nullptr || *value == '\0' || IsThreadCount(value)) return "";
  return std::string(kVariable) + " '" + value + "' is not a whole number from 1 to " + std::to_string(kMaxThreads) +
         " (it sets the threads to use)";
}

int ThreadBudget() {
  // The library reads the variable the same way when no count was set.
  return std::max(1, ThreadCount());
}

}  // namespace vantorel
