#include "models/Geometry.h"

#include <cmath>

namespace quarvel {

namespace {

int32_t Clamp(int32_t value, int32_t low, int32_t high) {
  return value < low ? low : (value > high ? high : value);
}

// Truncation toward zero into 32 bits without undefined behaviour for values out of
// range: the callers clamp the result to a small range anyway.
int32_t TruncClamped(long double value, int32_t low, int32_t high) {
  if (std::isnan(value) || value < low)
    return low;
  if (value > high)
    return high;
  return static_cast<int32_t>(value);
}

struct TBounds {
  TVec3 Max = Vec3(-1e8f, -1e8f, -1e8f);
  TVec3 Min = Vec3(1e8f, 1e8f, 1e8f);
  void Add(const TVec3& v) {
    if (v.X > Max.X)
      Max.X = v.X;
    if (v.Y > Max.Y)
      Max.Y = v.Y;
    if (v.Z > Max.Z)
      Max.Z = v.Z;
    if (v.X < Min.X)
      Min.X = v.X;
    if (v.Y < Min.Y)
      Min.Y = v.Y;
    if (v.Z < Min.Z)
      Min.Z = v.Z;
  }
  // Single floats throughout, like the vertices themselves.
  TVec3 Centre() const {
    const TVec3 half = Vec3((Max.X - Min.X) / 2, (Max.Y - Min.Y) / 2, (Max.Z - Min.Z) / 2);
    return Vec3(Min.X + half.X, Min.Y + half.Y, Min.Z + half.Z);
  }
};

} // namespace

void CentreModels(const std::vector<TOBJFile*>& models) {
  TBounds bounds;
  for (const TOBJFile* model : models)
    for (const TVec3& v : model->Vertices)
      bounds.Add(v);
  const TVec3 centre = bounds.Centre();
  if (centre.X == 0 && centre.Y == 0 && centre.Z == 0)
    return;
  for (TOBJFile* model : models)
    for (TVec3& v : model->Vertices)
      v = Vec3(v.X - centre.X, v.Y - centre.Y, v.Z - centre.Z);
}

void MeasureHeight(const TOBJFile& model, float& minY, float& maxY) {
  minY = 1e8f;
  maxY = -1e8f;
  for (const TVec3& v : model.Vertices) {
    if (v.Y > maxY)
      maxY = v.Y;
    if (v.Y < minY)
      minY = v.Y;
  }
}

float ScaleForSteps(float minY, float maxY, int32_t steps) {
  const long double height = static_cast<long double>(maxY) - minY;
  return static_cast<float>(1.0L / (height / (steps * static_cast<long double>(ZStep))));
}

TOpeningScale OpeningScale(float minY, float maxY) {
  TOpeningScale result;
  const float height = maxY - minY;
  if (height <= FittingHeight)
    result.Scale = 1.0f;
  else
    result.Scale = static_cast<float>(1.0L / (height / static_cast<long double>(FittingHeight)));
  // The clamp to 1..127 comes after truncation; truncating into a wider range first
  // gives the same result for every finite value.
  const long double steps =
      static_cast<long double>(height) * result.Scale / static_cast<long double>(ZStep);
  result.MaxZ = Clamp(TruncClamped(steps, -1, 1000), 1, 127);
  return result;
}

TPreviewFit PreviewFit(float minY, float maxY) {
  TPreviewFit fit;
  fit.MinY = minY;
  fit.MaxY = maxY;
  fit.MaxZ = OpeningScale(minY, maxY).MaxZ;
  fit.Scale = ScaleForSteps(minY, maxY, fit.MaxZ);
  return fit;
}

TPreviewFit PreviewFitFor(const TOBJFile& model) {
  // The preview centres the model on its own before measuring it; only Y matters here,
  // so the centre is applied to the Y values alone.
  TBounds bounds;
  for (const TVec3& v : model.Vertices)
    bounds.Add(v);
  const float centreY = bounds.Centre().Y;
  const bool moves = !(bounds.Centre().X == 0 && bounds.Centre().Y == 0 && bounds.Centre().Z == 0);
  float minY = 1e8f;
  float maxY = -1e8f;
  for (const TVec3& v : model.Vertices) {
    const float y = moves ? v.Y - centreY : v.Y;
    if (y > maxY)
      maxY = y;
    if (y < minY)
      minY = y;
  }
  return PreviewFit(minY, maxY);
}

} // namespace quarvel
