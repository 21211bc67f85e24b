#include "gl/PerfTimer.h"

#include <chrono>

namespace quarvel {

TPerfTimer PerfTimer;

namespace {
// Far below the clock's resolution, far above the rounding error of 0.1 in long double.
constexpr long double WindowTolerance = 1e-12L;
} // namespace

int64_t TPerfTimer::ReadCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t TPerfTimer::ReadFrequency() {
  return 1000000000;
}

TPerfTimer::TPerfTimer() {
  Accumulator = 0.0L;
  FrameCount = 0;
  ClampLongFrames = true;
  Frequency = ReadFrequency();
  LastCount = ReadCounter();
  Reset();
}

void TPerfTimer::Tick() {
  TickAt(ReadCounter());
}

void TPerfTimer::TickAt(int64_t now) {
  FrameTime = static_cast<long double>(now - LastCount) / static_cast<long double>(Frequency);
  LastCount = now;
  if (ClampLongFrames && FrameTime > 1.0L) {
    FrameTime = 1.0L;
  }
  // The frame being ticked counts in the window that it closes.
  ++FrameCount;
  Accumulator += FrameTime;
  // A tick that closes several windows at once (a long frame) stores the real count in
  // the first of them and 0 in the others. 0.1 has no exact binary form: taken away ten
  // times from exactly 1.0 it leaves 0.1 less a few units of the last place, so without
  // the tolerance a clamped one-second frame would close nine windows instead of ten.
  while (Accumulator >= 0.1L - WindowTolerance) {
    Accumulator -= 0.1L;
    if (Accumulator < 0.0L)
      Accumulator = 0.0L;
    for (int i = 9; i > 0; --i) {
      FrameHistory[i] = FrameHistory[i - 1];
    }
    FrameHistory[0] = FrameCount;
    FrameCount = 0;
  }
}

void TPerfTimer::Reset() {
  FrameCount = 0;
  Accumulator = 0.0L;
  for (int32_t& count : FrameHistory) {
    count = 0;
  }
}

int32_t TPerfTimer::FramesPerSecond() const {
  int32_t sum = 0;
  for (int32_t count : FrameHistory) {
    sum += count;
  }
  return sum;
}

} // namespace quarvel
