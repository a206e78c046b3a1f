// What the command line prints about a file name: control characters escaped, the rest
// as it was.
#include "cli/messages.h"

#include <gtest/gtest.h>

namespace vantorel {
namespace {

TEST(Printable, EscapesControlCharactersAndKeepsTheRest) {
  EXPECT_EQ(Printable("photos/été 2024 (1).jpg"), "photos/été 2024 (1).jpg");
  EXPECT_EQ(Printable("a\nvantorel: 3 written"), "a\\nvantorel: 3 written");
  EXPECT_EQ(Printable("tab\there\rback"), "tab\\there\\rback");
  EXPECT_EQ(Printable("red\033[31m"), "red\\x1b[31m");
  EXPECT_EQ(Printable(std::string("nul\0end", 7)), "nul\\x00end");
  EXPECT_EQ(Printable("del\x7f"), "del\\x7f");
  // U+009B (CSI) and U+0085 (next line) as UTF-8; U+00A0 and U+00E9 are printable.
  EXPECT_EQ(Printable("\xc2\x9b" "31m\xc2\x85"), "\\u009b31m\\u0085");
  EXPECT_EQ(Printable("\xc2\xa0\xc3\xa9"), "\xc2\xa0\xc3\xa9");
  // A lone lead byte at the end is left as it is.
  EXPECT_EQ(Printable("end\xc2"), "end\xc2");
}

}  // namespace
}  // namespace vantorel
