// Decimal number conversion for every text file the program reads (settings, OBJ, MTL).
//
// Accepted: an optional sign '+' or '-', decimal digits with at most one '.' as the
// separator (whatever the C locale says), and for floating point values an optional
// exponent 'e'/'E' with optional sign and at least one digit. At least one digit must
// come before or after the '.'. Blanks (' ' only) may surround a floating point value
// and precede an integer, as the original conversions allowed. Refused: empty text, "nan",
// "inf", hexadecimal forms, ',' as separator, trailing characters, values outside the
// target range (a float beyond double range, an integer beyond int32).
//
// The throwing forms raise quarvel::Error with the program's own texts
//   "'<text>' is not a valid floating point value"
//   "'<text>' is not a valid integer value"
// Callers that know where the text came from use the Located forms (or catch and
// rethrow with Located()) so the message reads "units/tank.obj:12: 'abc' is not ...".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel {

bool TryStrToFloat(std::string_view text, double& value);
bool TryStrToInt(std::string_view text, int32_t& value);

double StrToFloat(std::string_view text);
int32_t StrToInt(std::string_view text);

// The messages alone, for callers that build their own located error.
std::string InvalidFloatMessage(std::string_view text);
std::string InvalidIntMessage(std::string_view text);

// As StrToFloat/StrToInt, with the error prefixed "file:line: " (line <= 0: "file: ").
double StrToFloatAt(std::string_view text, const std::string& file, int line);
int32_t StrToIntAt(std::string_view text, const std::string& file, int line);

} // namespace quarvel
