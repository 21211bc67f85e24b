#include "common/Convert.h"

#include "common/Error.h"
#include "common/Text.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <system_error>

namespace quarvel {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Checks the decimal form before the conversion: std::from_chars would also take
// "inf", "nan" and (in other formats) hexadecimal, which no text file of ours uses.
// Returns the position after an optional '+' (from_chars refuses a leading '+').
bool CheckDecimalFloat(std::string_view text, size_t& start) {
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-'))
    ++i;
  start = (i > 0 && text[0] == '+') ? 1 : 0;
  size_t digits = 0;
  while (i < n && IsDigit(text[i])) {
    ++i;
    ++digits;
  }
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0)
    return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-'))
      ++i;
    size_t expDigits = 0;
    while (i < n && IsDigit(text[i])) {
      ++i;
      ++expDigits;
    }
    if (expDigits == 0)
      return false;
  }
  return i == n;
}

// Powers of ten that a double holds exactly.
constexpr double ExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common short forms ("-0.2500", "12", "3e-2") without a second pass: with at most
// 15 significant digits the mantissa is exact in a double, and one multiplication or
// division by an exact power of ten rounds correctly, so the result equals the full
// conversion's. Returns false when the text needs the full conversion (or is invalid).
bool FastDecimal(std::string_view text, double& value) {
  const char* p = text.data();
  const char* end = p + text.size();
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  uint64_t mantissa = 0;
  int digits = 0;
  int scale = 0;
  const char* first = p;
  while (p < end && IsDigit(*p)) {
    mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    ++p;
  }
  digits = static_cast<int>(p - first);
  if (p < end && *p == '.') {
    ++p;
    const char* fraction = p;
    while (p < end && IsDigit(*p)) {
      mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
      ++p;
    }
    scale = -static_cast<int>(p - fraction);
    digits += static_cast<int>(p - fraction);
  }
  if (digits == 0 || digits > 15)
    return false;
  if (p < end) {
    if (*p != 'e' && *p != 'E')
      return false;
    ++p;
    bool negativeExp = false;
    if (p < end && (*p == '+' || *p == '-')) {
      negativeExp = *p == '-';
      ++p;
    }
    if (p == end || end - p > 3)
      return false;
    int exponent = 0;
    for (; p < end; ++p) {
      if (!IsDigit(*p))
        return false;
      exponent = exponent * 10 + (*p - '0');
    }
    scale += negativeExp ? -exponent : exponent;
  }
  if (scale < -22 || scale > 22)
    return false;
  double result = static_cast<double>(mantissa);
  if (scale < 0)
    result /= ExactPowersOfTen[-scale];
  else
    result *= ExactPowersOfTen[scale];
  value = negative ? -result : result;
  return true;
}

} // namespace

bool TryStrToFloat(std::string_view text, double& value) {
  if (FastDecimal(text, value))
    return true;
  // Blanks around the number are allowed, as the original conversion allowed them.
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  size_t start = 0;
  if (!CheckDecimalFloat(text, start))
    return false;
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  double result = 0.0;
  auto [ptr, ec] = std::from_chars(first, last, result, std::chars_format::general);
  if (ptr != last)
    return false;
  if (ec == std::errc::result_out_of_range) {
    // Rare: find out from the C library (in the "C" locale) whether the value
    // overflows, which is refused, or underflows towards zero, which is a valid number.
    const std::string copy(first, last);
#if defined(_WIN32)
    static const _locale_t cLocale = _create_locale(LC_ALL, "C");
    result = _strtod_l(copy.c_str(), nullptr, cLocale);
#else
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    result = strtod_l(copy.c_str(), nullptr, cLocale);
#endif
    if (std::isinf(result) || std::fabs(result) >= 1.0)
      return false;
  } else if (ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(result))
    return false;
  value = result;
  return true;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  const char* p = text.data();
  const char* end = p + text.size();
  // Leading blanks are allowed (not trailing ones), as the original conversion did.
  while (p < end && *p == ' ')
    ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end)
    return false;
  // Accumulate as a negative number so that INT32_MIN fits.
  int64_t result = 0;
  for (; p < end; ++p) {
    if (!IsDigit(*p))
      return false;
    result = result * 10 - (*p - '0');
    if (result < INT32_MIN)
      return false;
  }
  if (!negative) {
    result = -result;
    if (result > INT32_MAX)
      return false;
  }
  value = static_cast<int32_t>(result);
  return true;
}

std::string InvalidFloatMessage(std::string_view text) {
  return Quoted(text) + " is not a valid floating point value";
}

std::string InvalidIntMessage(std::string_view text) {
  return Quoted(text) + " is not a valid integer value";
}

double StrToFloat(std::string_view text) {
  double value = 0.0;
  if (!TryStrToFloat(text, value))
    throw Error(InvalidFloatMessage(text));
  return value;
}

int32_t StrToInt(std::string_view text) {
  int32_t value = 0;
  if (!TryStrToInt(text, value))
    throw Error(InvalidIntMessage(text));
  return value;
}

double StrToFloatAt(std::string_view text, const std::string& file, int line) {
  double value = 0.0;
  if (!TryStrToFloat(text, value))
    throw Error(Located(file, line, InvalidFloatMessage(text)));
  return value;
}

int32_t StrToIntAt(std::string_view text, const std::string& file, int line) {
  int32_t value = 0;
  if (!TryStrToInt(text, value))
    throw Error(Located(file, line, InvalidIntMessage(text)));
  return value;
}

} // namespace quarvel
