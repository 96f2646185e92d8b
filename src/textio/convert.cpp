#include "textio/convert.h"

#include <charconv>
#include <cstddef>
#include <limits>
#include <system_error>

namespace tessaro {

namespace {

// Only the first 25 significant digits of a real count; further digits only move the point.
constexpr int max_significant_digits = 25;
// Exponent digits beyond a value of 5200 are taken as 5201: far outside the double range, and
// small enough to keep the exponent arithmetic within an int.
constexpr int max_exponent_digits_value = 5200;
constexpr int clamped_exponent = 5201;
// The magnitude a single-precision target accepts.
constexpr double single_limit = 3.402823466385289e38;

constexpr std::int64_t largest_int32 = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t largest_bit_pattern = std::numeric_limits<std::uint32_t>::max();

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_sign(char c) {
  return c == '+' || c == '-';
}
bool is_exponent_letter(char c) {
  return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

// The value of a digit of a based integer (letters of either case above 9), or 36, which no
// base accepts.
int digit_value(char c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 36;
}

// The digits after the "#" of a based integer, read as a 32-bit pattern.
Converted<std::int32_t> convert_based(std::string_view digits, int base) {
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c == '#') return {0, failure_second_base_mark};
    const int digit = digit_value(c);
    if (digit >= base) return {0, failure_integer_character};
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > largest_bit_pattern) return {0, failure_integer_too_large};
  }
  if (digits.empty()) return {0, failure_integer_character};
  return {static_cast<std::int32_t>(static_cast<std::uint32_t>(value)), 0};
}

// A real text taken apart: its value is the integer made of `digits` times ten to `exponent`.
struct DecimalNumber {
  bool negative = false;
  char digits[max_significant_digits] = {};
  int n_digits = 0;
  int exponent = 0;
};

// Reads the exponent part that follows a mantissa: a letter E, e, D or d with an optional sign,
// or a sign alone, then at least one digit. Returns false when the part is malformed.
bool scan_exponent(std::string_view text, int& exponent) {
  std::size_t i = 0;
  if (is_exponent_letter(text[0]))
    ++i;
  else if (!is_sign(text[0]))
    return false;
  bool negative = false;
  if (i < text.size() && is_sign(text[i])) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int value = 0;
  for (; i < text.size(); ++i) {
    if (!is_digit(text[i])) return false;
    value = value * 10 + (text[i] - '0');
    if (value > max_exponent_digits_value) value = clamped_exponent;
  }
  exponent = negative ? -value : value;
  return true;
}

// Splits a real text into sign, significant digits and exponent. Returns false when the text is
// no real: a mantissa without a digit, or characters left over.
bool scan_real(std::string_view text, DecimalNumber& number) {
  std::size_t i = 0;
  if (!text.empty() && is_sign(text[0])) number.negative = text[i++] == '-';
  bool any_digit = false;
  bool after_point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !after_point) {
      after_point = true;
      continue;
    }
    if (!is_digit(c)) break;
    any_digit = true;
    const bool leading_zero = c == '0' && number.n_digits == 0;
    if (!leading_zero && number.n_digits < max_significant_digits) {
      number.digits[number.n_digits++] = c;
      if (after_point) --number.exponent;
    } else if (leading_zero && after_point) {
      --number.exponent;
    } else if (!leading_zero && !after_point) {
      ++number.exponent;
    }
  }
  if (!any_digit) return false;
  if (i == text.size()) return true;
  int written_exponent = 0;
  if (!scan_exponent(text.substr(i), written_exponent)) return false;
  number.exponent += written_exponent;
  return true;
}

// Integers of up to 15 digits and the powers of ten up to 10^22 are doubles exactly, so one
// multiplication or division of the two is the correctly rounded value.
constexpr int exact_integer_digits = 15;
constexpr int largest_exact_power = 22;
constexpr double exact_powers_of_ten[largest_exact_power + 1] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The correctly rounded double of digits times ten to the exponent. Fails only on overflow;
// a value below the double range gives zero or a denormal.
Converted<double> to_double(const DecimalNumber& number) {
  if (number.n_digits == 0) return {0.0, 0};
  if (number.n_digits <= exact_integer_digits && number.exponent >= -largest_exact_power &&
      number.exponent <= largest_exact_power) {
    std::int64_t integer = 0;
    for (int k = 0; k < number.n_digits; ++k) integer = integer * 10 + (number.digits[k] - '0');
    const double whole = static_cast<double>(integer);
    if (number.exponent >= 0) return {whole * exact_powers_of_ten[number.exponent], 0};
    return {whole / exact_powers_of_ten[-number.exponent], 0};
  }
  char text[64];
  char* end = text;
  for (int k = 0; k < number.n_digits; ++k) *end++ = number.digits[k];
  *end++ = 'e';
  end = std::to_chars(end, text + sizeof text, number.exponent).ptr;
  double value = 0.0;
  const std::from_chars_result result = std::from_chars(text, end, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Out of range either way; the power of ten of the leading digit tells which way.
    const int leading_power = number.exponent + number.n_digits - 1;
    if (leading_power >= 0) return {0.0, failure_real_overflow};
    value = 0.0;
  }
  return {value, 0};
}

}  // namespace

Converted<std::int32_t> convert_int32(std::string_view text) {
  if (text == "-2147483648") return {std::numeric_limits<std::int32_t>::min(), 0};
  std::size_t i = 0;
  const bool has_sign = !text.empty() && is_sign(text[0]);
  const bool negative = has_sign && text[0] == '-';
  if (has_sign) i = 1;
  std::int64_t value = 0;
  bool any_digit = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '#') {
      if (has_sign) return {0, failure_integer_character};
      const std::int64_t base = any_digit ? value : 16;
      if (base < 2 || base > 36) return {0, failure_base_range};
      return convert_based(text.substr(i + 1), static_cast<int>(base));
    }
    if (!is_digit(c)) return {0, failure_integer_character};
    value = value * 10 + (c - '0');
    if (value > largest_int32) return {0, failure_integer_too_large};
    any_digit = true;
  }
  if (!any_digit) return {0, failure_integer_character};
  return {static_cast<std::int32_t>(negative ? -value : value), 0};
}

Converted<double> convert_real64(std::string_view text) {
  DecimalNumber number;
  if (!scan_real(text, number)) return {0.0, failure_real_text};
  Converted<double> magnitude = to_double(number);
  if (number.negative) magnitude.value = -magnitude.value;
  return magnitude;
}

Converted<float> convert_real32(std::string_view text) {
  const Converted<double> wide = convert_real64(text);
  if (wide.failure != 0) return {0.0f, wide.failure};
  if (wide.value < -single_limit || wide.value > single_limit) return {0.0f, failure_single_range};
  return {static_cast<float>(wide.value), 0};
}

}  // namespace tessaro
