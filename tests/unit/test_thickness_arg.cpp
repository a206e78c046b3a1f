// The haze-thickness argument: what is a number, the range, the 0.01 floor and the 0.1 threshold.
#include <gtest/gtest.h>

#include <limits>

#include "dehazefile/thickness_arg.h"

namespace vantorel {
namespace {

TEST(ThicknessArg, AcceptsDecimalForms) {
  for (const char* text : {"0.9", "1", "+.5", "1.", "1e-1", "1E+0", "0.10", "1.00000001"}) {
    EXPECT_TRUE(ParseThickness(text).valid) << text;
  }
  EXPECT_EQ(ParseThickness("0.9").thickness, 0.9f);
  EXPECT_EQ(ParseThickness("1E+0").thickness, 1.0f);
}

TEST(ThicknessArg, RefusesTextThatIsNotWhollyAFiniteNumber) {
  for (const char* text : {"", "abc", "0,5", "0.5x", "nan", "inf", "-inf", " 0.5", "0.5 ", "0x1p-1",
                           ".", "+", "1e", "1e+", "e5", "1e999"}) {
    const ThicknessArg arg = ParseThickness(text);
    EXPECT_FALSE(arg.valid) << text;
    EXPECT_NE(arg.error.find(std::string("'") + text + "'"), std::string::npos) << arg.error;
  }
}

TEST(ThicknessArg, NegativeAndAboveOneAreRefusedWithTheValueNamed) {
  for (const char* text : {"-0.9", "-2", "-1e-5", "1.5", "1.0001", "2E+0", "1e308"}) {
    const ThicknessArg arg = ParseThickness(text);
    EXPECT_FALSE(arg.valid) << text;
    EXPECT_NE(arg.error.find(std::string("'") + text + "' is " + (text[0] == '-' ? "negative" : "above 1")),
              std::string::npos) << arg.error;
  }
  EXPECT_FALSE(CheckThickness(-0.5).valid);
  EXPECT_FALSE(CheckThickness(1.5).valid);
  EXPECT_FALSE(CheckThickness(std::numeric_limits<double>::quiet_NaN()).valid);
  EXPECT_EQ(CheckThickness(0.9).thickness, ParseThickness("0.9").thickness);
  EXPECT_EQ(CheckThickness(0.0).thickness, 0.01f);
}

TEST(ThicknessArg, ZeroAndAnythingNotAboveOneHundredthBecomesOneHundredth) {
  for (const char* text : {"0", "-0", "0.01", "1e-400", "-1e-400"}) {
    const ThicknessArg arg = ParseThickness(text);
    ASSERT_TRUE(arg.valid) << text;
    EXPECT_EQ(arg.thickness, 0.01f) << text;
    EXPECT_TRUE(BelowDehazeThreshold(arg.thickness)) << text;
  }
}

TEST(ThicknessArg, ThresholdComparesTheFloatWidenedToDouble) {
  // 0.1f is 0.100000001490116..., not below the double 0.1.
  EXPECT_FALSE(BelowDehazeThreshold(ParseThickness("0.1").thickness));
  EXPECT_TRUE(BelowDehazeThreshold(ParseThickness("0.0999").thickness));
  // 0.099999999 rounds to the same float as 0.1 and is therefore processed too;
  // 0.09999999 rounds to the float below it and is not.
  EXPECT_FALSE(BelowDehazeThreshold(ParseThickness("0.099999999").thickness));
  EXPECT_TRUE(BelowDehazeThreshold(ParseThickness("0.09999999").thickness));
}

}  // namespace
}  // namespace vantorel
