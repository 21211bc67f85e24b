// Progress written as lines, for output that is not a terminal (a log file, a pipe, a CI
// job). A terminal shows every step on one line redrawn in place; a file would keep
// every step as a line of its own (hundreds of "Loading OBJ [x] n/200" for one model). So
// each status text is written once, and while it stays the same (only its counter or its
// percentage moving) a further line follows only after both 10 percent and 5 seconds:
// at most every 10 percent of a pass or every 5 seconds, whichever is rarer.
//
// Texts are compared without a trailing counter "n/m", which is how a model's loading
// counts its lines. The clock is the caller's (seconds from any fixed start), so the
// choice can be checked without waiting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel {

class TProgressLines {
public:
  static constexpr int32_t PercentStep = 10;
  static constexpr double SecondsStep = 5.0;

  // The line to write for this report, or "" when it is to be left out.
  std::string Line(int32_t percent, const std::string& text, double seconds);

private:
  std::string Key_;
  bool Started_ = false;
  int32_t Percent_ = 0;
  double Seconds_ = 0;
};

// `text` without a trailing " n/m" counter.
std::string_view WithoutCounter(std::string_view text);

} // namespace quarvel
