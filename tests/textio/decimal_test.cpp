#include "textio/decimal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

namespace tessaro {
namespace {

std::string digit_string(const DecimalDigits& value) {
  return std::string(value.digits.data(), static_cast<std::size_t>(value.count));
}

struct DigitsRow {
  double value;
  const char* digits;  // the 17-digit string
  int point;
  bool negative;
};

// Expected strings follow from the exact expansion of each value, cut after 18 digits and
// rounded at the 17th.
const DigitsRow digits_rows[] = {
    {0.0, "0", 0, false},
    {-0.0, "0", 0, false},
    {1.0, "1", 1, false},
    // -2.5e-3 = -0.00250000000000000005204...
    {-2.5e-3, "25000000000000001", -2, true},
    {490.5, "4905", 3, false},
    {123.456, "123456", 3, false},
    // 0.1 = 0.1000000000000000055511...: the 18th digit 5 carries into the 17th.
    {0x1.999999999999ap-4, "10000000000000001", 0, false},
    // 0.1235 = 0.123499999999999998667...: the 18th digit 8 carries through the nines.
    {0x1.f9db22d0e5604p-4, "1235", 0, false},
    // The double below it, 0.123499999999999984789...: no carry.
    {0x1.f9db22d0e5603p-4, "12349999999999998", 0, false},
    {0x1.5666666666666p+1, "26749999999999998", 1, false},       // 2.675
    {0x1.5555555555555p-2, "33333333333333331", 0, false},       // 1/3
    {0x1.5555555555555p-1, "66666666666666663", 0, false},       // 2/3
    {0x1.3333333333333p-2, "29999999999999999", 0, false},       // 0.3
    {0x1.d42aea2879f2ep+328, "99999999999999997", 99, false},    // 1e99 = 9.99999999999999967e98
    {0x1.7d783ffffffffp+26, "99999999999999985", 8, false},      // 99999999.99999999
    {0x1.52d02c7e14af6p+76, "99999999999999992", 23, false},     // 1e23
    {0x1.665bf1d3e6a8dp-336, "10000000000000001", -100, false},  // 1e-101
    {-0x1.fffffffffffffp+1023, "17976931348623157", 309, true},
    {0x0.0000000000001p-1022, "49406564584124654", -323, false},
    {0x0.0000000000003p-1022, "14821969375237396", -322, false},
    {0x1.0000000000000p-1022, "22250738585072014", -307, false},
    // 1.0000047918401544 = 1.00000479184015444 999999999708...: digits 19 to 26 are nines, so
    // the correctly rounded 25-digit text reads ...445000000; the truncated 18th digit is 4.
    {0x1.00005064cbf7ep+0, "10000047918401544", 1, false},
};

TEST(DecimalDigits, SeventeenDigitStringOfTheExactExpansion) {
  for (const DigitsRow& row : digits_rows) {
    SCOPED_TRACE(row.digits);
    const DecimalDigits result = decimal_digits(row.value);
    EXPECT_EQ(digit_string(result), row.digits);
    EXPECT_EQ(result.point, row.point);
    EXPECT_EQ(result.negative, row.negative);
  }
}

struct RoundRow {
  const char* digits;
  int point;
  int n;
  const char* rounded;
  int rounded_point;
};

const RoundRow round_rows[] = {
    {"12349999999999998", 0, 3, "123", 0},
    {"1235", 0, 3, "124", 0},
    {"12345", 5, 4, "1235", 5},
    {"12344", 5, 4, "1234", 5},
    {"99951000000000001", 0, 3, "100", 1},
    {"999", 2, 2, "10", 3},
    {"5", -3, 1, "5", -3},
    {"95", -3, 1, "1", -2},
    {"1", 0, 16, "1000000000000000", 0},
    {"0", 0, 3, "000", 0},
    {"99999999999999995", 7, 16, "1000000000000000", 8},
    {"40960999999999995", 4, 16, "4096100000000000", 4},
    {"12999999999999865", 1, 16, "1299999999999987", 1},
    {"4096", 4, 4, "4096", 4},
};

TEST(DecimalDigits, RoundsHalfUpToTheFieldDigits) {
  for (const RoundRow& row : round_rows) {
    SCOPED_TRACE(std::string(row.digits) + " to " + std::to_string(row.n));
    DecimalDigits value;
    value.count = static_cast<int>(std::char_traits<char>::length(row.digits));
    std::char_traits<char>::copy(value.digits.data(), row.digits,
                                 static_cast<std::size_t>(value.count));
    value.point = row.point;
    const DecimalDigits result = round_digits(value, row.n);
    EXPECT_EQ(digit_string(result), row.rounded);
    EXPECT_EQ(result.point, row.rounded_point);
  }
}

// The 17-digit string made straight from the whole exact expansion, for comparison with the
// writer's quicker way.
std::string exact_seventeen_digits(double magnitude, int& point) {
  static char text[900];
  char* end =
      std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, 799).ptr;
  std::string digits(1, text[0]);
  digits.append(text + 2, 17);
  point = std::stoi(std::string(std::find(text, end, 'e') + 1, end)) + 1;
  const bool up = digits[17] >= '5';
  digits.pop_back();
  for (int i = 16; up && i >= 0; --i) {
    if (digits[i] != '9') {
      ++digits[i];
      break;
    }
    digits[i] = '0';
    if (i == 0) {
      digits[0] = '1';
      ++point;
    }
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return digits;
}

void expect_same_as_exact(double value) {
  int point = 0;
  const std::string expected = exact_seventeen_digits(value, point);
  const DecimalDigits result = decimal_digits(value);
  ASSERT_EQ(digit_string(result), expected) << std::hexfloat << value;
  ASSERT_EQ(result.point, point) << std::hexfloat << value;
}

TEST(DecimalDigits, AgreesWithTheWholeExpansionOnRandomValues) {
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = random() & ~(std::uint64_t{1} << 63);
    const double value = std::bit_cast<double>(bits);
    if ((bits >> 52) == 0x7ff || bits == 0) continue;
    expect_same_as_exact(value);
  }
}

// Random bits fall mostly far outside the range of the values a table shows: here magnitudes
// spread evenly over the powers of ten from 10^-8 to 10^19, and the doubles next to each power.
TEST(DecimalDigits, AgreesWithTheWholeExpansionOverTheTablesRange) {
  std::mt19937_64 random(20261209);
  std::uniform_real_distribution<double> power(-8.0, 19.0);
  for (int i = 0; i < 100000; ++i) expect_same_as_exact(std::pow(10.0, power(random)));
  for (int k = -8; k <= 19; ++k) {
    const double exact = std::pow(10.0, k);
    double below = exact;
    double above = exact;
    for (int step = 0; step < 3; ++step) {
      expect_same_as_exact(below);
      expect_same_as_exact(above);
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, 1e300);
    }
  }
}

// Values 1 + k * 2^-52 whose 18-digit cut lies just below a digit boundary, found by solving
// k * 5^17 = -j (mod 2^35): their digits 19 onwards begin with a run of nines, the case where
// a rounded text carries into the first 18 digits.
TEST(DecimalDigits, AgreesWithTheWholeExpansionJustBelowADigitBoundary) {
  constexpr std::uint64_t modulus = std::uint64_t{1} << 35;
  constexpr std::uint64_t five_17 = 762939453125;
  std::uint64_t inverse = 1;  // Newton's iteration for the inverse of an odd number mod 2^35
  for (int i = 0; i < 6; ++i) inverse = inverse * (2 - five_17 * inverse) % modulus;
  ASSERT_EQ(five_17 * inverse % modulus, 1u);
  for (std::uint64_t j = 1; j <= 2000; ++j) {
    const std::uint64_t k = (modulus - j) * inverse % modulus;
    expect_same_as_exact(1.0 + static_cast<double>(k) * 0x1p-52);
  }
}

}  // namespace
}  // namespace tessaro
