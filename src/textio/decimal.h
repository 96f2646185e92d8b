// The decimal digits of a real value as every real text of the writer starts from them: the
// exact expansion rounded twice, half away from zero, first to 17 significant digits and then to
// the digits a field needs.
#pragma once

#include <array>

namespace tessaro {

// Significant digits d1 d2 ... of a value read as 0.d1d2... x 10^point, with d1 != 0 unless the
// value is zero.
struct DecimalDigits {
  std::array<char, 17> digits{};  // '0' to '9'; the first `count` are used
  int count = 0;
  int point = 0;
  bool negative = false;
};

// The most digits a field of a 64-bit value is given; further digits are written as zeros.
inline constexpr int max_field_digits = 16;

// The 17-digit string of a finite value: the first 18 significant digits of its exact expansion,
// rounded half up at the 17th, trailing zeros dropped. Zero of either sign gives "0" with point
// 0 and no minus sign.
DecimalDigits decimal_digits(double value);

// The string rounded half up to exactly n digits (1 <= n <= max_field_digits), or extended with
// zeros to n digits when it is shorter. A carry out of the first digit gives "1" followed by
// zeros and moves the point one place to the right.
DecimalDigits round_digits(DecimalDigits value, int n);

}  // namespace tessaro
