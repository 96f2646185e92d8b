// Conversion of one scanned value text to a number: a 32-bit integer, a double or a float.
// The texts come from the reader without separators; these functions only judge and convert
// them, and report a text that does not convert by its failure number.
#pragma once

#include <cstdint>
#include <string_view>

namespace tessaro {

// Failure numbers of a value text that does not convert.
inline constexpr int failure_integer_too_large = 6100;
inline constexpr int failure_integer_character = 6101;
inline constexpr int failure_real_overflow = 6102;
inline constexpr int failure_real_text = 6103;
inline constexpr int failure_single_range = 6104;
inline constexpr int failure_second_base_mark = 6302;
inline constexpr int failure_base_range = 6303;

// A converted value, or the number of the failure that stopped the conversion (0 when none).
template <class T>
struct Converted {
  T value{};
  int failure = 0;
};

// An integer text: an optional sign and decimal digits, or the based form base#digits ("#"
// alone is base 16). Scanned left to right; the first offending character decides the failure.
// A based value is a 32-bit pattern, so 16#FFFFFFFF is -1. A sign before a based value and a
// text without digits are invalid characters.
Converted<std::int32_t> convert_int32(std::string_view text);

// A real text: the correctly rounded double of its first 25 significant digits. A result below
// the double range underflows to zero or a denormal; one beyond it fails.
Converted<double> convert_real64(std::string_view text);

// A real text for a single-precision target: converted to double, range-checked as a double,
// then rounded once to the nearest float.
Converted<float> convert_real32(std::string_view text);

}  // namespace tessaro
