// Centring, measuring and the preview's fit: one arithmetic for the job, the window and
// `info model`.
#include "ModelTestUtil.h"

#include "models/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quarvel {
namespace {

TEST(Geometry, CentringMovesAllModelsTogetherAndMeasuringFindsTheHeight) {
  auto a = test::ParseOBJ({"v 1 2 -3", "v 3 12 1"});
  auto b = test::ParseOBJ({"v 2 7 0"});
  CentreModels({a.get(), b.get()});
  test::ExpectVec(a->Vertices[0], -1, -5, -2, "first model, first vertex");
  test::ExpectVec(a->Vertices[1], 1, 5, 2);
  test::ExpectVec(b->Vertices[0], 0, 0, 1, "the second model moved with the first");
  float minY = 0, maxY = 0;
  MeasureHeight(*a, minY, maxY);
  EXPECT_EQ(minY, -5.0f);
  EXPECT_EQ(maxY, 5.0f);

  // No vertices: nothing moves and the start values stay.
  TOBJFile empty;
  CentreModel(empty);
  MeasureHeight(empty, minY, maxY);
  EXPECT_EQ(minY, 1e8f);
  EXPECT_EQ(maxY, -1e8f);

  // A NaN never becomes a bound: the other vertices still set the centre and height.
  auto withNaN = test::ParseOBJ({"v 0 2 0", "v 0 4 0"});
  withNaN->Vertices.push_back(Vec3(0, std::nanf(""), 0));
  CentreModel(*withNaN);
  MeasureHeight(*withNaN, minY, maxY);
  EXPECT_EQ(minY, -1.0f);
  EXPECT_EQ(maxY, 1.0f);
}

TEST(Geometry, OpeningScaleAndScaleForSteps) {
  EXPECT_DOUBLE_EQ(ZStep, 9.0 / 280.0);
  // Exactly the fitting height is not scaled; a flat model gets the minimum step.
  EXPECT_EQ(OpeningScale(0.0f, 4.08f).Scale, 1.0f);
  EXPECT_EQ(OpeningScale(0.0f, 0.0f).MaxZ, 1);
  EXPECT_EQ(OpeningScale(0.0f, 1e30f).MaxZ, 126);
  EXPECT_EQ(ScaleForSteps(-1.0f, 1.0f, 62), static_cast<float>(62.0L * ZStep / 2.0L));
  EXPECT_TRUE(std::isinf(ScaleForSteps(0.0f, 0.0f, 10))) << "no height yet";
}

TEST(Geometry, PreviewFitOfAFreshModel) {
  auto tall = test::ParseOBJ({"v 0 2 0", "v 5 12 1"});
  TPreviewFit fit = PreviewFitFor(*tall);
  EXPECT_EQ(fit.MinY, -5.0f);
  EXPECT_EQ(fit.MaxY, 5.0f);
  EXPECT_EQ(fit.MaxZ, 126);
  EXPECT_EQ(fit.Scale, static_cast<float>(1.0L / (10.0L / (126.0L * ZStep))));
  EXPECT_NEAR(fit.Scale, 0.405, 1e-6);
  EXPECT_EQ(tall->Vertices[0].Y, 2.0f) << "the model itself is not moved";

  auto small = test::ParseOBJ({"v 0 -1 0", "v 0 1 0"});
  fit = PreviewFitFor(*small);
  EXPECT_EQ(fit.MaxZ, 62);
  EXPECT_EQ(fit.Scale, static_cast<float>(1.0L / (2.0L / (62.0L * ZStep))));

  TOBJFile none;
  fit = PreviewFitFor(none);
  EXPECT_EQ(fit.MinY, 1e8f);
  EXPECT_EQ(fit.MaxY, -1e8f);
  EXPECT_EQ(fit.MaxZ, 1);

  auto huge = test::ParseOBJ({"v 0 -1e38 0", "v 0 3e38 0"});
  fit = PreviewFitFor(*huge);
  EXPECT_GE(fit.MaxZ, 1);
  EXPECT_LE(fit.MaxZ, 127);
}

} // namespace
} // namespace quarvel
