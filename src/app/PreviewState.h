// The preview's state and arithmetic, free of windows and OpenGL so that it can be
// checked on its own. The window (FormMain) owns one TPreviewState and the model; the
// frame drawing (PreviewFrame.h) reads it.
//
// Precision follows the tool being replaced: sums and quotients are formed in extended
// precision (long double) and stored in the fields' types (float scale, float heights,
// 32-bit angles); float-to-integer conversions truncate toward zero.
#pragma once

#include <cstdint>
#include <string>

#include "models/Geometry.h"

namespace quarvel {

struct TPreviewState {
  std::string PreviewModelName;
  float PreviewMinY = 0.0f;
  float PreviewMaxY = 0.0f;
  int32_t PreviewAngle = 240; // start-up sets 59
  int32_t PreviewTilt = 45;
  int32_t PreviewRoll = 0;
  float PreviewScale = 1.0f;
  bool ShowZBuffer = false;
  bool TrueZBuffer = true;
  bool ShowWireFrame = false;
};

// "-1", "+1", "+45" just add; the frame brings the angles back into -359..359 with the
// sign of the value kept (-1 stays -1, 361 becomes 1).
void NormaliseAngles(TPreviewState& state);

// "<<": scale - 0.01, and 0.01 (as a float) when the result is not above 0.01.
float ScaleDownStep(float scale);
// ">>": scale + 0.01, no upper limit.
float ScaleUpStep(float scale);

// The depth steps "Scale by ZMax" uses: the MaxZ text as a whole number clamped to
// 1..127. A text that is not a whole number throws quarvel::Error
// "'<text>' is not a valid integer value".
int32_t ScaleStepsFromText(const std::string& maxZText);

// The ZMax the depth shaders get: the MaxZ text as a whole number, 127 when it is not
// one, clamped to 0..127 (so "300" gives 127 and "-5" gives 0).
int32_t ShaderZFromText(const std::string& maxZText);

// The scale arithmetic ("Scale by ZMax", the fit of a freshly opened model) is the
// models' own (models/Geometry.h): `info model` prints what the window shows.

// Label texts of the frame.
std::string AngleLabel(int32_t angle);                      // "Angle: 59"
std::string ScaleLabel(float scale);                        // "Scale: 0.405000001192093"
std::string SizeLabel(float minY, float maxY, float scale); // "Size(Y): 10 4.05000001192093"

} // namespace quarvel
