// The front end's one-line messages on standard error.
#pragma once

#include <string>

namespace vantorel {

constexpr int kExitFailure = 1;

// `text` made safe to print as (part of) one line: control characters (a newline, a
// carriage return, an escape that would start a terminal sequence, and their 8-bit
// counterparts written as UTF-8) become visible escapes such as \n, \r, \t, \x1b and
// \u009b, so that a file name can neither break a line nor forge another.
std::string Printable(const std::string& text);

// "vantorel: MESSAGE", the message made printable; returns kExitFailure.
int Fail(const std::string& message);

// "vantorel: note: MESSAGE": something the user should know although the run succeeded.
void Note(const std::string& message);

}  // namespace vantorel
