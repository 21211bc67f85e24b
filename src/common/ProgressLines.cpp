#include "common/ProgressLines.h"

namespace quarvel {

namespace {

bool AllDigits(std::string_view text) {
  if (text.empty())
    return false;
  for (const char c : text)
    if (c < '0' || c > '9')
      return false;
  return true;
}

} // namespace

std::string_view WithoutCounter(std::string_view text) {
  const size_t space = text.find_last_of(' ');
  if (space == std::string_view::npos)
    return text;
  const std::string_view last = text.substr(space + 1);
  const size_t slash = last.find('/');
  if (slash == std::string_view::npos || !AllDigits(last.substr(0, slash)) ||
      !AllDigits(last.substr(slash + 1)))
    return text;
  return text.substr(0, space);
}

std::string TProgressLines::Line(int32_t percent, const std::string& text, double seconds) {
  const std::string_view key = WithoutCounter(text);
  if (!Started_ || key != Key_) {
    Started_ = true;
    Key_.assign(key);
    Percent_ = percent;
    Seconds_ = seconds;
    return text;
  }
  if (percent < Percent_ + PercentStep || seconds < Seconds_ + SecondsStep)
    return std::string();
  Percent_ = percent;
  Seconds_ = seconds;
  // The same text again says nothing new without the percentage.
  if (key.size() == text.size())
    return text + " (" + std::to_string(percent) + "%)";
  return text;
}

} // namespace quarvel
