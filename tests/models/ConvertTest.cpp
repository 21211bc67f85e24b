#include "common/Convert.h"
#include "common/Error.h"

#include <gtest/gtest.h>

#include <string>

namespace quarvel {
namespace {

TEST(Convert, AcceptsTheDecimalForms) {
  const std::pair<const char*, double> cases[] = {
      {"0", 0.0},
      {"1", 1.0},
      {"-2.5", -2.5},
      {"+3", 3.0},
      {"2.", 2.0},
      {".5", 0.5},
      {"-.5", -0.5},
      {"1e2", 100.0},
      {"2.E1", 20.0},
      {"3.1e-2", 0.031},
      {"1E+3", 1000.0},
      {"0001.2500", 1.25},
      {"1e-400", 0.0},
      {" 1.5 ", 1.5},
      {"123456789012345678901234567890", 1.2345678901234568e29}};
  for (const auto& [text, expected] : cases) {
    double value = -99.0;
    EXPECT_TRUE(TryStrToFloat(text, value)) << text;
    EXPECT_DOUBLE_EQ(value, expected) << text;
    EXPECT_DOUBLE_EQ(StrToFloat(text), expected) << text;
  }
}

TEST(Convert, RefusesWhatIsNotADecimalNumber) {
  // Forms C++ would read (nan, inf, hexadecimal) are not numbers of our files, nor are
  // a comma separator, tabs, blanks inside, a cut exponent or an overflowing value.
  const char* bad[] = {"",      "abc",   "nan",   "NaN",    "inf", "-inf",   "infinity",
                       "0x10",  "1,5",   "\t1",   "1 2",    "1e",  "1.5e",   "1e+",
                       "e5",    ".",     "-",     "+",      "++1", "+-1",    "1..2",
                       "1.2.3", "1e5.0", "1e400", "-1e400", "1f",  "1.5e+3x"};
  for (const char* text : bad) {
    double value = 42.0;
    EXPECT_FALSE(TryStrToFloat(text, value)) << text;
    EXPECT_EQ(value, 42.0) << "failed conversion must leave the value: " << text;
  }
  try {
    StrToFloat("1.5e");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "'1.5e' is not a valid floating point value");
  }
  try {
    StrToFloatAt("abc", "units/tank.obj", 12);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "units/tank.obj:12: 'abc' is not a valid floating point value");
  }
}

TEST(Convert, Integers) {
  int32_t value = 0;
  EXPECT_TRUE(TryStrToInt("17", value));
  EXPECT_EQ(value, 17);
  EXPECT_TRUE(TryStrToInt("-3", value));
  EXPECT_EQ(value, -3);
  EXPECT_TRUE(TryStrToInt("  -7", value)) << "leading blanks are allowed";
  EXPECT_EQ(value, -7);
  EXPECT_TRUE(TryStrToInt("+4", value));
  EXPECT_EQ(value, 4);
  EXPECT_TRUE(TryStrToInt("2147483647", value));
  EXPECT_EQ(value, 2147483647);
  EXPECT_TRUE(TryStrToInt("-2147483648", value));
  EXPECT_EQ(value, INT32_MIN);
  for (const char* bad : {"", "1.5", "2147483648", "-2147483649", "0x1F", "$1F", "1e3", "\t1", "1 ",
                          "+-1", "-+1", "++1", "+", "-", "abc", "12a"}) {
    value = 5;
    EXPECT_FALSE(TryStrToInt(bad, value)) << bad;
    EXPECT_EQ(value, 5) << bad;
  }
  try {
    StrToInt("1.5");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "'1.5' is not a valid integer value");
  }
  try {
    StrToIntAt("x", "a.mtl", 3);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "a.mtl:3: 'x' is not a valid integer value");
  }
}

} // namespace
} // namespace quarvel
