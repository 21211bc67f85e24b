#include "common/Text.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

// Text quoted back from input files must never carry raw control bytes, broken UTF-8 or an
// unbounded length into a terminal or a log.
TEST(PrintableTest, EscapesWhatATerminalWouldActOnAndKeepsTheRest) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"tank.obj", "tank.obj"},
      {"bell\a and \x1b[31mred", "bell\\x07 and \\x1b[31mred"},
      {std::string("nul\0byte", 8), "nul\\x00byte"},
      {"tab\there\x7f", "tab\\x09here\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"}, // well-formed UTF-8 stays
      {"\xfe\xff", "\\xfe\\xff"},                               // never valid in UTF-8
      {"\xc0\xaf", "\\xc0\\xaf"},                               // overlong '/'
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},                      // a surrogate
      {"cut \xe2\x82", "cut \\xe2\\x82"}, // a sequence cut by the end of the text
  };
  for (const Case& c : cases)
    EXPECT_EQ(Printable(c.in), c.out) << c.in;
}

TEST(PrintableTest, CutsLongTextAfterTheLimitCountingShownCharacters) {
  EXPECT_EQ(Printable(std::string(80, 'a')), std::string(80, 'a'));
  EXPECT_EQ(Printable(std::string(1 << 20, 'a')), std::string(80, 'a') + "...");
  EXPECT_EQ(Printable(std::string(100, '\x1b'), 3), "\\x1b\\x1b\\x1b...");
  EXPECT_EQ(Quoted("word"), "'word'");
}

} // namespace
} // namespace quarvel
