// Reading and writing option values as the INI file holds them. No windows.h:
// this half is tested natively.
#pragma once

#include <cstddef>

namespace settings {

// Value of a float key: the leading decimal number of the text (optional sign,
// digits, a point as separator, optional exponent), whatever the user's locale;
// 0.0 when the text does not begin with a number.
double ParseIniFloat(const char* text);

// A bool key is on exactly when it reads as the integer 1.
inline bool IniIntIsOn(unsigned value) { return value == 1; }

// Text of a float value ("%f": six decimals, a point as separator) in out;
// false when it does not fit.
bool FormatIniFloat(double value, char* out, size_t size);

}  // namespace settings
