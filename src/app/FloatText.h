// Number texts of the window's labels.
//
// The labels show floats the way the original tool's users know them: the general
// format with 15 significant digits and "." as the decimal separator, so a single
// precision value shows its full binary expansion (0.405f reads "0.405000001192093",
// 1.0f reads "1"). No locale is consulted.
#pragma once

#include <string>

namespace quarvel {

// General format, 15 significant digits, trailing zeros dropped:
//   fixed notation while the value is at least 0.0001 in magnitude and has at most 15
//   digits before the point ("0.0001", "123456789012345");
//   otherwise scientific with a bare exponent ("1E-5", "1.5E20", "-2.5E-7");
//   "0" for zero (either sign), "INF", "-INF" and "NAN" for the special values.
std::string FloatToStr(long double value);

} // namespace quarvel
