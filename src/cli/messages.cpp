// The front end's one-line messages on standard error.
#include "cli/messages.h"

#include <cstdio>

namespace vantorel {

std::string Printable(const std::string& text) {
  std::string printable;
  printable.reserve(text.size());
  char escape[8];
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == '\n') {
      printable += "\\n";
    } else if (c == '\r') {
      printable += "\\r";
    } else if (c == '\t') {
      printable += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      printable += escape;
    } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
      // U+0080 to U+009F: terminals take some of them (CSI, NEL) as controls too.
      std::snprintf(escape, sizeof escape, "\\u%04x", next);
      printable += escape;
      ++i;
    } else {
      printable += static_cast<char>(c);
    }
  }
  return printable;
}

int Fail(const std::string& message) {
  // What went to standard output before comes first when both go to one terminal.
  std::fflush(stdout);
  std::fprintf(stderr, "vantorel: %s\n", Printable(message).c_str());
  return kExitFailure;
}

void Note(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "vantorel: note: %s\n", Printable(message).c_str());
}

}  // namespace vantorel
