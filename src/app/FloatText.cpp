#include "app/FloatText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quarvel {

std::string FloatToStr(long double value) {
  if (std::isnan(value))
    return "NAN";
  if (std::isinf(value))
    return value < 0 ? "-INF" : "INF";
  if (value == 0)
    return "0";

  // Round to 15 significant digits first; the layout then depends on where the
  // decimal point falls in the rounded value (9.999999999999999 rounds to "10").
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.14Le", value);
  std::string text(buffer);
  const bool negative = text[0] == '-';
  if (negative)
    text.erase(0, 1);
  const size_t ePos = text.find('e');
  std::string digits = text.substr(0, 1) + text.substr(2, ePos - 2);
  // Digits before the point: the value is 0.d1d2d3... times ten to this.
  const int pointPos = std::atoi(text.c_str() + ePos + 1) + 1;
  while (digits.size() > 1 && digits.back() == '0')
    digits.pop_back();

  std::string out = negative ? "-" : "";
  if (pointPos > 15 || pointPos < -3) {
    out += digits.substr(0, 1);
    if (digits.size() > 1)
      out += "." + digits.substr(1);
    out += "E" + std::to_string(pointPos - 1);
  } else if (pointPos <= 0) {
    out += "0." + std::string(static_cast<size_t>(-pointPos), '0') + digits;
  } else {
    const size_t whole = static_cast<size_t>(pointPos);
    if (digits.size() <= whole) {
      out += digits + std::string(whole - digits.size(), '0');
    } else {
      out += digits.substr(0, whole) + "." + digits.substr(whole);
    }
  }
  return out;
}

} // namespace quarvel
