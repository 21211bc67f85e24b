#include "app/PreviewState.h"

#include <cmath>

#include "app/FloatText.h"
#include "common/Convert.h"

namespace quarvel {

namespace {

int32_t Clamp(int32_t value, int32_t low, int32_t high) {
  return value < low ? low : (value > high ? high : value);
}

} // namespace

void NormaliseAngles(TPreviewState& state) {
  // C++ '%' keeps the sign of the dividend, as the preview expects.
  state.PreviewAngle %= 360;
  state.PreviewRoll %= 360;
  state.PreviewTilt %= 360;
}

float ScaleDownStep(float scale) {
  float result = static_cast<float>(static_cast<long double>(scale) - 0.01L);
  if (!(result > 0.01))
    result = 0.01f;
  return result;
}

float ScaleUpStep(float scale) {
  return static_cast<float>(static_cast<long double>(scale) + 0.01L);
}

int32_t ScaleStepsFromText(const std::string& maxZText) {
  return Clamp(StrToInt(maxZText), 1, 127);
}

int32_t ShaderZFromText(const std::string& maxZText) {
  int32_t z = 127;
  if (!TryStrToInt(maxZText, z))
    z = 127;
  return Clamp(z, 0, 127);
}

std::string AngleLabel(int32_t angle) {
  return "Angle: " + std::to_string(angle);
}

std::string ScaleLabel(float scale) {
  return "Scale: " + FloatToStr(scale);
}

std::string SizeLabel(float minY, float maxY, float scale) {
  const long double height = static_cast<long double>(maxY) - minY;
  return "Size(Y): " + FloatToStr(height) + " " + FloatToStr(height * scale);
}

} // namespace quarvel
