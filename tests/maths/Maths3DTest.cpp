// Vectors and texture coordinates. No GL context is needed here.

#include "maths/Maths3D.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace quarvel;

TEST(Maths3D, ConstructorsKeepArgumentOrderAndLayout) {
  const TVec3 v = Vec3(1, 2, 3);
  EXPECT_EQ(v.X, 1.0f);
  EXPECT_EQ(v.Y, 2.0f);
  EXPECT_EQ(v.Z, 3.0f);
  const TOBJTexCoord t = TexCoord(0.25f, -0.75f);
  EXPECT_EQ(t.U, 0.25f);
  EXPECT_EQ(t.V, -0.75f);

  // Arrays of vectors are handed to OpenGL as packed floats.
  const TVec3 pair[2] = {Vec3(1, 2, 3), Vec3(4, 5, 6)};
  EXPECT_EQ(reinterpret_cast<const float*>(pair)[5], 6.0f);
}

TEST(Maths3D, NormalizeScalesInPlaceAndReturnsLength) {
  TVec3 v = Vec3(3, 4, 0);
  EXPECT_EQ(Normalize(v), 5.0f);
  EXPECT_EQ(v.X, 0.6f);
  EXPECT_EQ(v.Y, 0.8f);
  EXPECT_EQ(v.Z, 0.0f);

  TVec3 zero = Vec3(0, 0, 0);
  EXPECT_EQ(Normalize(zero), 0.0f);
  EXPECT_EQ(zero.X, 0.0f);
  EXPECT_EQ(zero.Y, 0.0f);
  EXPECT_EQ(zero.Z, 0.0f);

  TVec3 negative = Vec3(0, -2, 0);
  EXPECT_EQ(Normalize(negative), 2.0f);
  EXPECT_EQ(negative.Y, -1.0f);

  // The sum of squares is taken beyond float range: squares of 1e30 overflow a float and
  // squares of 1e-30 vanish in one, yet both vectors normalise correctly.
  TVec3 huge = Vec3(1e30f, 1e30f, 0);
  const float hugeLength = Normalize(huge);
  EXPECT_TRUE(std::isfinite(hugeLength));
  EXPECT_FLOAT_EQ(hugeLength, 1.41421356e30f);
  EXPECT_FLOAT_EQ(huge.X, 0.70710678f);
  EXPECT_FLOAT_EQ(huge.Y, 0.70710678f);
  TVec3 tiny = Vec3(0, 0, -1e-30f);
  EXPECT_EQ(Normalize(tiny), 1e-30f);
  EXPECT_EQ(tiny.Z, -1.0f);

  // Divided by the rounded float length: a unit vector stays exactly as it was.
  TVec3 unit = Vec3(0.6f, 0.8f, 0);
  EXPECT_FLOAT_EQ(Normalize(unit), 1.0f);
  EXPECT_FLOAT_EQ(unit.X * unit.X + unit.Y * unit.Y, 1.0f);
}
