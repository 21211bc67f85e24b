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

#include "gl/Maths3D.h"

namespace quarvel {

// The height in scaled model units that one depth step stands for: after "Scale by
// ZMax" with N steps the scaled model is N * ZStep high.
constexpr double ZStep = 0.03214285714285714; // 9 / 280
// A freshly opened model taller than this is scaled down to it.
constexpr double FittingHeight = 4.08;

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

// 1 / ((maxY - minY) / (steps * ZStep)): the scale at which the model's height spans
// `steps` depth steps. A zero height gives infinity (no model loaded yet).
float ScaleForSteps(float minY, float maxY, int32_t steps);

// The first two steps of opening a model: the scale that brings a model taller than
// FittingHeight down to it (1 otherwise) and the MaxZ whole number (1..127) for the
// height at that scale. The window then writes MaxZText and applies "Scale by ZMax".
struct TOpeningScale {
  float Scale = 1.0f;
  int32_t MaxZ = 1;
};
TOpeningScale OpeningScale(float minY, float maxY);

// Label texts of the frame.
std::string AngleLabel(int32_t angle);                      // "Angle: 59"
std::string ScaleLabel(float scale);                        // "Scale: 0.405000001192093"
std::string SizeLabel(float minY, float maxY, float scale); // "Size(Y): 10 4.05000001192093"

// Centring: moves the vertices so that their bounding box is centred on the origin.
// Bounds start at -1e8 (maximum) and 1e8 (minimum); a component greater than the
// maximum becomes the maximum, one not greater than or equal to the minimum becomes
// the minimum. Half and centre are formed in floats; a centre of exactly (0, 0, 0)
// leaves the vertices as they are. Model: VertexCount(), GetVertex(i, v&), SetVertex(i, v).
template <class Model> void CentreVertices(Model& model) {
  TVec3 maxV = Vec3(-1e8f, -1e8f, -1e8f);
  TVec3 minV = Vec3(1e8f, 1e8f, 1e8f);
  const int count = static_cast<int>(model.VertexCount());
  for (int i = 0; i < count; ++i) {
    TVec3 v;
    model.GetVertex(i, v);
    const float c[3] = {v.X, v.Y, v.Z};
    float* mx[3] = {&maxV.X, &maxV.Y, &maxV.Z};
    float* mn[3] = {&minV.X, &minV.Y, &minV.Z};
    for (int k = 0; k < 3; ++k) {
      if (c[k] > *mx[k])
        *mx[k] = c[k];
      if (!(c[k] >= *mn[k]))
        *mn[k] = c[k];
    }
  }
  const TVec3 half =
      Vec3((maxV.X - minV.X) / 2.0f, (maxV.Y - minV.Y) / 2.0f, (maxV.Z - minV.Z) / 2.0f);
  const TVec3 centre = Vec3(minV.X + half.X, minV.Y + half.Y, minV.Z + half.Z);
  if (centre.X == 0.0f && centre.Y == 0.0f && centre.Z == 0.0f)
    return;
  for (int i = 0; i < count; ++i) {
    TVec3 v;
    model.GetVertex(i, v);
    model.SetVertex(i, Vec3(v.X - centre.X, v.Y - centre.Y, v.Z - centre.Z));
  }
}

// Measuring: the lowest and highest vertex Y (1e8 and -1e8 for a model without
// vertices), with the comparisons of CentreVertices.
template <class Model> void MeasureVertices(const Model& model, float& minY, float& maxY) {
  minY = 1e8f;
  maxY = -1e8f;
  const int count = static_cast<int>(model.VertexCount());
  for (int i = 0; i < count; ++i) {
    TVec3 v;
    model.GetVertex(i, v);
    const float y = v.Y;
    if (y > maxY)
      maxY = y;
    if (!(y >= minY))
      minY = y;
  }
}

} // namespace quarvel
