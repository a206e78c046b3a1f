// The VANTOREL_THREADS environment variable, checked before any work.
#pragma once

#include <string>

namespace vantorel {

// "" when VANTOREL_THREADS is unset, empty or a whole number from 1 to 256; otherwise a one-line
// error naming the variable and its value (the library alone would ignore such a value).
std::string CheckThreadsVariable();

// The threads the process may use: VANTOREL_THREADS when set, else the machine's cores.
int ThreadBudget();

}  // namespace vantorel
