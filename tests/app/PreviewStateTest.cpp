// The preview's arithmetic and label texts, without a window.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "app/FloatText.h"
#include "app/PreviewState.h"

namespace quarvel {
namespace {

TEST(FloatText, GeneralFormatWithFifteenDigits) {
  EXPECT_EQ(FloatToStr(1.0f), "1");
  EXPECT_EQ(FloatToStr(0.405f), "0.405000001192093");
  EXPECT_EQ(FloatToStr(0.01f), "0.00999999977648258");
  EXPECT_EQ(FloatToStr(0.408f), "0.407999992370605");
  EXPECT_EQ(FloatToStr(-2.5), "-2.5");
  EXPECT_EQ(FloatToStr(10), "10");
  EXPECT_EQ(FloatToStr(120), "120");
  EXPECT_EQ(FloatToStr(0.0), "0");
  EXPECT_EQ(FloatToStr(-0.0), "0");
  // Fixed notation down to 1E-4, then scientific with a bare exponent.
  EXPECT_EQ(FloatToStr(0.0001L), "0.0001");
  EXPECT_EQ(FloatToStr(0.00001L), "1E-5");
  EXPECT_EQ(FloatToStr(-1.5e-7L), "-1.5E-7");
  EXPECT_EQ(FloatToStr(123456789012345.0L), "123456789012345");
  EXPECT_EQ(FloatToStr(1234567890123456.0L), "1.23456789012346E15");
  EXPECT_EQ(FloatToStr(1e20L), "1E20");
  // Rounding to 15 digits can carry into a new leading digit.
  EXPECT_EQ(FloatToStr(9.9999999999999999L), "10");
  EXPECT_EQ(FloatToStr(std::numeric_limits<float>::infinity()), "INF");
  EXPECT_EQ(FloatToStr(-std::numeric_limits<float>::infinity()), "-INF");
  EXPECT_EQ(FloatToStr(std::nanf("")), "NAN");
}

TEST(PreviewState, AnglesStepsAndFittingEdges) {
  // The remainder keeps the sign of the value, for all three angles.
  TPreviewState state;
  state.PreviewAngle = 360;
  state.PreviewTilt = 405;
  state.PreviewRoll = -725;
  NormaliseAngles(state);
  EXPECT_EQ(state.PreviewAngle, 0);
  EXPECT_EQ(state.PreviewTilt, 45);
  EXPECT_EQ(state.PreviewRoll, -5);

  EXPECT_EQ(ScaleDownStep(-3.0f), 0.01f);
  EXPECT_EQ(ScaleDownStep(1.0f), 0.99f);
  EXPECT_EQ(ScaleStepsFromText("0"), 1);
  EXPECT_EQ(ScaleStepsFromText("300"), 127);
  EXPECT_EQ(ShaderZFromText(""), 127);
}

} // namespace
} // namespace quarvel
