#include "textio/decimal.h"

#include <bit>
#include <charconv>
#include <cstdint>

namespace tessaro {

namespace {

// Digits of the exact expansion that decide the first rounding.
constexpr int kept_digits = 18;
// Digits of the correctly rounded text the common path asks for.
constexpr int quick_digits = 25;
// Enough significant digits to hold the exact expansion of every double (at most 767).
constexpr int exact_digits = 800;

constexpr std::uint64_t sign_bit = std::uint64_t{1} << 63;

using KeptDigits = std::array<char, kept_digits>;

// Reads the decimal exponent that follows the "e" of a scientific text.
int exponent_after(const char* e, const char* end) {
  const bool negative = e[1] == '-';
  int exponent = 0;
  for (const char* c = e + 2; c < end; ++c) exponent = exponent * 10 + (*c - '0');
  return negative ? -exponent : exponent;
}

// Copies the first 18 significant digits of a scientific text "d.ddd...e+xx" and returns its
// exponent.
int take_kept_digits(const char* text, const char* end, KeptDigits& kept) {
  kept[0] = text[0];
  for (int i = 1; i < kept_digits; ++i) kept[i] = text[i + 1];
  const char* e = text;
  while (*e != 'e') ++e;
  return exponent_after(e, end);
}

// The exact expansion, for the rare values whose rounded 25-digit text cannot be trusted. Kept
// out of line so that the common path does not carry its large buffer.
[[gnu::noinline]] int exact_kept_digits(double magnitude, KeptDigits& kept) {
  char text[exact_digits + 16];
  const auto result = std::to_chars(text, text + sizeof text, magnitude,
                                    std::chars_format::scientific, exact_digits - 1);
  return take_kept_digits(text, result.ptr, kept);
}

__extension__ using Wide = unsigned __int128;

// Powers of ten up to 10^22: times a 53-bit significand they stay below 2^127.
constexpr int largest_wide_power = 22;
constexpr std::array<Wide, largest_wide_power + 1> wide_powers_of_ten = [] {
  std::array<Wide, largest_wide_power + 1> powers{};
  powers[0] = 1;
  for (int k = 1; k <= largest_wide_power; ++k) powers[k] = powers[k - 1] * 10;
  return powers;
}();
constexpr std::uint64_t smallest_kept = 100000000000000000;  // 10^17, the smallest 18 digits
constexpr std::uint64_t beyond_kept = 1000000000000000000;   // 10^18

// The first 18 significant digits of a normal positive value m 2^b straight from its bits, where
// they are floor(m 2^b 10^s) for a scale s from 0 to 22 and m 10^s shifted right by -b is that
// floor exactly: values from about 10^-5 to 2^53 (9 x 10^15). Returns false for the others.
bool quick_leading_digits(double magnitude, KeptDigits& kept, int& exponent) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biased = static_cast<int>(bits >> 52);
  if (biased == 0) return false;
  const std::uint64_t significand = (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1}
                                                                                  << 52;
  const int binary_exponent = biased - 1075;
  // The power of ten at or just below 2^(b + 52), the value's lowest possible leading bit:
  // floor((b + 52) log10 2), exact for these exponents.
  const int lowest_power = ((binary_exponent + 52) * 78913) >> 18;
  const int scale = 17 - lowest_power;
  if (scale < 0 || scale > largest_wide_power || binary_exponent > 0 || -binary_exponent > 127) {
    return false;
  }
  const Wide wide_cut = (significand * wide_powers_of_ten[scale]) >> -binary_exponent;
  // The value may lie a power of ten higher: then there is one digit too many.
  exponent = lowest_power;
  std::uint64_t cut = 0;
  if (wide_cut >= smallest_kept && wide_cut < beyond_kept) {
    cut = static_cast<std::uint64_t>(wide_cut);
  } else if (wide_cut >= beyond_kept && wide_cut / 10 < beyond_kept) {
    cut = static_cast<std::uint64_t>(wide_cut / 10);
    ++exponent;
  } else {
    return false;
  }
  for (int i = kept_digits - 1; i >= 0; --i) {
    kept[i] = static_cast<char>('0' + cut % 10);
    cut /= 10;
  }
  return true;
}

// The first 18 significant digits of the exact expansion of a positive finite value, and the
// exponent of its first digit. The correctly rounded 25-digit text has the same first 18 digits
// unless its rounding carried into them, which leaves digits 19 to 25 all zero; only then is the
// exact expansion made.
int leading_digits(double magnitude, KeptDigits& kept) {
  int exponent = 0;
  if (quick_leading_digits(magnitude, kept, exponent)) return exponent;
  char text[quick_digits + 16];
  const auto result = std::to_chars(text, text + sizeof text, magnitude,
                                    std::chars_format::scientific, quick_digits - 1);
  bool carry_possible = true;
  for (int digit = kept_digits + 1; digit <= quick_digits; ++digit) {
    if (text[digit] != '0') carry_possible = false;
  }
  if (carry_possible) return exact_kept_digits(magnitude, kept);
  return take_kept_digits(text, result.ptr, kept);
}

// Adds one to the last of the `count` digits, carrying to the left. A carry out of the first
// digit leaves "1" followed by zeros and moves the point.
void add_one_to_last(DecimalDigits& value) {
  for (int i = value.count - 1; i >= 0; --i) {
    if (value.digits[i] != '9') {
      ++value.digits[i];
      return;
    }
    value.digits[i] = '0';
  }
  value.digits[0] = '1';
  ++value.point;
}

}  // namespace

DecimalDigits decimal_digits(double value) {
  DecimalDigits result;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const double magnitude = std::bit_cast<double>(bits & ~sign_bit);
  if ((bits & ~sign_bit) == 0) {
    result.digits[0] = '0';
    result.count = 1;
    return result;
  }
  KeptDigits kept;
  result.point = leading_digits(magnitude, kept) + 1;
  result.negative = (bits & sign_bit) != 0;
  result.count = kept_digits - 1;
  for (int i = 0; i < result.count; ++i) result.digits[i] = kept[i];
  if (kept[kept_digits - 1] >= '5') add_one_to_last(result);
  while (result.count > 1 && result.digits[result.count - 1] == '0') --result.count;
  return result;
}

DecimalDigits round_digits(DecimalDigits value, int n) {
  if (value.count <= n) {
    for (int i = value.count; i < n; ++i) value.digits[i] = '0';
    value.count = n;
    return value;
  }
  const bool round_up = value.digits[n] >= '5';
  value.count = n;
  if (round_up) add_one_to_last(value);
  return value;
}

}  // namespace tessaro
