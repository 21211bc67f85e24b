// Frame timer: counts ticks (one per drawn frame) in windows of 0.1 s and keeps the
// counts of the last ten windows, so their sum is the frame rate over the last second.
//
// Time comes from std::chrono::steady_clock (monotonic, nanosecond counts). The figures
// are statistics only: nothing in rendering or output depends on them.
//
// The one global instance PerfTimer exists from static initialisation to program end.
// The GL view resets it when its context is made and ticks it at the start of every
// frame. Single-threaded: it is used from the window thread only.
//
// No OpenGL here: this header belongs to quarvel_core.
#pragma once

#include <cstdint>

namespace quarvel {

class TPerfTimer {
public:
  // Counts per second of the clock (read once at creation) and the clock value at the
  // previous tick, or at creation.
  int64_t Frequency = 0;
  int64_t LastCount = 0;
  // Seconds between the last two ticks (after clamping) and seconds gathered towards
  // the next 0.1 s window, both in extended precision.
  long double FrameTime = 0.0L;
  long double Accumulator = 0.0L;
  // Ticks counted in the current 0.1 s window.
  int32_t FrameCount = 0;
  // Counts of the last ten closed windows, newest at index 0.
  int32_t FrameHistory[10] = {};
  // When true a frame longer than one second is recorded as exactly 1.0 s, so a pause
  // (a modal dialog, a long render) does not flood the history. Always true.
  bool ClampLongFrames = true;

  // Reads Frequency and LastCount from the clock, then Reset().
  TPerfTimer();

  // One frame: measures the time since the previous tick and closes every 0.1 s window
  // that time completes (a window within 1e-12 s of complete counts as complete, so that
  // the rounding of 0.1 never loses a window: a clamped 1 s frame closes exactly ten).
  void Tick();
  // Tick() with the clock reading `now` given (same units as LastCount); Tick() is
  // TickAt(ReadCounter()). Lets the window bookkeeping be exercised without waiting.
  void TickAt(int64_t now);
  // Clears FrameCount, Accumulator and FrameHistory; LastCount and FrameTime are kept.
  void Reset();

  // The current clock value in counts of Frequency per second; never decreases.
  static int64_t ReadCounter();
  // Counts per second of ReadCounter().
  static int64_t ReadFrequency();

  // Sum of FrameHistory: frames drawn during the last second.
  int32_t FramesPerSecond() const;
};

// The program-wide frame timer.
extern TPerfTimer PerfTimer;

} // namespace quarvel
