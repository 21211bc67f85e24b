// Where a model stands and how big it is: centring, measuring, and the fit the preview
// gives a freshly opened model. The render job, the window and `info model` all use
// these, so the three never disagree about a model's height, scale or MaxZ.
//
// Precision: sums and quotients are formed in extended precision (long double) and
// stored in the fields' types (float heights and scales); float-to-integer conversions
// truncate toward zero.
#pragma once

#include "models/OBJFile.h"

#include <cstdint>
#include <vector>

namespace quarvel {

// The height in scaled model units that one depth step stands for: after "Scale by
// ZMax" with N steps the scaled model is N * ZStep high.
constexpr double ZStep = 0.03214285714285714; // 9 / 280
// A freshly opened model taller than this is scaled down to it.
constexpr double FittingHeight = 4.08;

// Moves every vertex of all `models` together so that their common bounding box is
// centred on the origin; models keep their places relative to each other. Bounds start
// at -1e8 (maximum) and 1e8 (minimum); a component greater than the maximum becomes the
// maximum, one smaller than the minimum becomes the minimum (so a NaN never becomes a
// bound). Half and centre are formed in floats; a centre of exactly (0, 0, 0) leaves the
// vertices as they are.
void CentreModels(const std::vector<TOBJFile*>& models);
inline void CentreModel(TOBJFile& model) {
  CentreModels({&model});
}

// The lowest and highest vertex Y, with the comparisons of CentreModels; 1e8 and -1e8
// for a model without vertices.
void MeasureHeight(const TOBJFile& model, float& minY, float& maxY);

// 1 / ((maxY - minY) / (steps * ZStep)): the scale at which the model's height spans
// `steps` depth steps. A zero height gives infinity (no model loaded yet).
float ScaleForSteps(float minY, float maxY, int32_t steps);

// The first two steps of opening a model: the scale that brings a model taller than
// FittingHeight down to it (1 otherwise) and the MaxZ whole number (1..127) for the
// height at that scale.
struct TOpeningScale {
  float Scale = 1.0f;
  int32_t MaxZ = 1;
};
TOpeningScale OpeningScale(float minY, float maxY);

// What the preview shows for a model measured minY..maxY: the opening MaxZ, and the
// scale worked out again from that whole number (so it ends slightly below the fitting
// scale and the model spans exactly MaxZ depth steps).
struct TPreviewFit {
  float MinY = 0.0f;
  float MaxY = 0.0f;
  int32_t MaxZ = 1;
  float Scale = 1.0f;
};
TPreviewFit PreviewFit(float minY, float maxY);
// Centres a copy's worth of measurements: the fit of `model` as the preview opens it
// (centred on its own, then measured). The model itself is not changed.
TPreviewFit PreviewFitFor(const TOBJFile& model);

} // namespace quarvel
