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

// Names that are not UTF-8 (on Windows, where names are UTF-16) keep every valid part and
// get one U+FFFD per byte that begins nothing valid.
TEST(WellFormedUtf8Test, ReplacesEachBadByteAndKeepsTheRest) {
  const std::string bad = "\xef\xbf\xbd";
  const std::pair<std::string, std::string> cases[] = {
      {"\xd0\x9c\xd0\xbe\xd0\xb4 \xf0\x9f\x99\x82", "\xd0\x9c\xd0\xbe\xd0\xb4 \xf0\x9f\x99\x82"},
      {"caf\xe9.obj", "caf" + bad + ".obj"},       // Latin-1
      {"\xc0\xaf", bad + bad},                     // overlong '/'
      {"\xed\xa0\x80", bad + bad + bad},           // a surrogate
      {"\xf4\x90\x80\x80", bad + bad + bad + bad}, // past U+10FFFF
      {"cut \xe2\x82", "cut " + bad + bad},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(WellFormedUtf8(in), out) << Printable(in);
}

TEST(PrintableTest, CutsLongTextAfterTheLimitCountingShownCharacters) {
  EXPECT_EQ(Printable(std::string(80, 'a')), std::string(80, 'a'));
  EXPECT_EQ(Printable(std::string(1 << 20, 'a')), std::string(80, 'a') + "...");
  EXPECT_EQ(Printable(std::string(100, '\x1b'), 3), "\\x1b\\x1b\\x1b...");
  EXPECT_EQ(Quoted("word"), "'word'");
}

} // namespace
} // namespace quarvel
