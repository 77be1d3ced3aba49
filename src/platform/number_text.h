// Floating-point numbers to and from text with "." as the point whatever the locale, as
// std::to_chars and std::from_chars do: one implementation per system, as some C++ libraries
// lack their floating-point overloads.
#pragma once

#include <charconv>

namespace pyokoran {

// value in fixed notation with digits decimals, as std::to_chars(first, last, value,
// std::chars_format::fixed, digits) writes it.
std::to_chars_result FixedToChars(char* first, char* last, double value, int digits);
// A decimal number at first, as std::from_chars(first, last, value) reads it: an optional
// minus sign, digits with an optional point and exponent (or inf, infinity, nan); no leading
// space or plus sign. value is left alone when nothing is read or the number is out of range.
std::from_chars_result DecimalFromChars(const char* first, const char* last, double& value);

}  // namespace pyokoran
