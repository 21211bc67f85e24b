// Vectors, texture coordinates and the frame timer. No GL context is needed here.

#include "gl/Maths3D.h"
#include "gl/PerfTimer.h"

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

namespace {

// A timer whose clock is driven by hand: 1000 counts per second.
TPerfTimer ManualTimer() {
  TPerfTimer timer;
  timer.Frequency = 1000;
  timer.LastCount = 0;
  timer.FrameTime = 0;
  timer.Reset();
  return timer;
}

} // namespace

TEST(PerfTimer, StartsClearAndReadsAMonotonicClock) {
  TPerfTimer timer;
  EXPECT_GT(timer.Frequency, 0);
  EXPECT_TRUE(timer.ClampLongFrames);
  EXPECT_EQ(timer.FrameCount, 0);
  EXPECT_EQ(timer.Accumulator, 0.0L);
  EXPECT_EQ(timer.FramesPerSecond(), 0);

  int64_t previous = TPerfTimer::ReadCounter();
  for (int i = 0; i < 1000; ++i) {
    const int64_t now = TPerfTimer::ReadCounter();
    ASSERT_GE(now, previous);
    previous = now;
  }
  const int64_t before = timer.LastCount;
  timer.Tick();
  EXPECT_GE(timer.LastCount, before);
  EXPECT_GE(timer.FrameTime, 0.0L);
  EXPECT_LE(timer.FrameTime, 1.0L);

  // The global instance exists before main and can be ticked and reset at any time.
  PerfTimer.Tick();
  PerfTimer.Reset();
  EXPECT_EQ(PerfTimer.FrameCount, 0);
  EXPECT_EQ(PerfTimer.FramesPerSecond(), 0);
}

TEST(PerfTimer, TicksFillTenthOfASecondWindows) {
  // One tick 0.25 s after the last closes two windows: the tick counts in the first, the
  // second gets 0, and 0.05 s carries over.
  TPerfTimer timer = ManualTimer();
  timer.TickAt(250);
  EXPECT_EQ(timer.FrameTime, 0.25L);
  EXPECT_EQ(timer.LastCount, 250);
  EXPECT_EQ(timer.FrameHistory[0], 0);
  EXPECT_EQ(timer.FrameHistory[1], 1);
  EXPECT_EQ(timer.FrameCount, 0);
  EXPECT_NEAR(static_cast<double>(timer.Accumulator), 0.05, 1e-12);

  // Three 20 ms frames: the third completes the 0.1 s window (with the 0.05 carried).
  timer.TickAt(270);
  timer.TickAt(290);
  EXPECT_EQ(timer.FrameCount, 2);
  EXPECT_EQ(timer.FrameHistory[0], 0);
  timer.TickAt(310);
  EXPECT_EQ(timer.FrameCount, 0);
  EXPECT_EQ(timer.FrameHistory[0], 3);
  EXPECT_EQ(timer.FrameHistory[1], 0);
  EXPECT_EQ(timer.FrameHistory[2], 1);
  EXPECT_NEAR(static_cast<double>(timer.Accumulator), 0.01, 1e-12);
  EXPECT_EQ(timer.FramesPerSecond(), 4);

  // Reset clears the statistics but keeps the clock reading and the last frame time.
  timer.Reset();
  EXPECT_EQ(timer.FramesPerSecond(), 0);
  EXPECT_EQ(timer.FrameCount, 0);
  EXPECT_EQ(timer.Accumulator, 0.0L);
  EXPECT_EQ(timer.LastCount, 310);
  EXPECT_EQ(timer.FrameTime, 0.02L);
}

TEST(PerfTimer, LongFramesAreClampedToOneSecond) {
  // Two frames in the open window, then a five-second pause: the frame counts as exactly
  // 1.0 s and closes ten windows, its count in the first (which the nine others push to the
  // end of the history) and 0 in the others.
  TPerfTimer timer = ManualTimer();
  timer.TickAt(10);
  timer.TickAt(20);
  timer.TickAt(5020);
  EXPECT_EQ(timer.FrameTime, 1.0L);
  EXPECT_EQ(timer.FrameCount, 0);
  EXPECT_EQ(timer.FrameHistory[9], 3);
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(timer.FrameHistory[i], 0) << "entry " << i;
  EXPECT_NEAR(static_cast<double>(timer.Accumulator), 0.02, 1e-9);
  EXPECT_GE(timer.Accumulator, 0.0L);
}
