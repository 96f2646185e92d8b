#include "textio/convert.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "textio/math.h"

namespace tessaro {
namespace {

using namespace std::literals;

constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();

// Rejected texts, grouped by the failure they give.
struct RejectGroup {
  int failure;
  std::vector<std::string_view> texts;
};

template <class T>
void expect_rejected(const std::vector<RejectGroup>& groups,
                     Converted<T> (*convert)(std::string_view)) {
  for (const RejectGroup& group : groups) {
    for (std::string_view text : group.texts)
      EXPECT_EQ(convert(text).failure, group.failure) << text;
  }
}

std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}
std::uint32_t bits(float x) {
  return std::bit_cast<std::uint32_t>(x);
}

template <class T>
struct AcceptRow {
  std::string_view text;
  T value;
};

template <class T>
void expect_accepted(const std::vector<AcceptRow<T>>& rows,
                     Converted<T> (*convert)(std::string_view)) {
  for (const AcceptRow<T>& row : rows) {
    const Converted<T> got = convert(row.text);
    EXPECT_EQ(got.failure, 0) << row.text;
    EXPECT_EQ(bits(got.value), bits(row.value)) << row.text;
  }
}

TEST(ConvertInt32, DecimalAndBasedTexts) {
  const std::pair<std::string_view, std::int32_t> rows[] = {
      {"+7", 7},
      {"-0", 0},
      {"00100000", 100000},
      {"2147483647", int_max},
      {"-2147483648", int_min},
      {"-2147483647", -int_max},
      {"2#1011", 11},
      {"16#ff", 255},
      {"16#FF", 255},
      {"#ff", 255},
      {"36#z", 35},
      {"016#f", 15},
      {"3#22", 8},
      {"16#7FFFFFFF", int_max},
      // Based values are 32-bit patterns.
      {"16#80000000", int_min},
      {"16#FFFFFFFF", -1},
      {"2#11111111111111111111111111111111", -1},
  };
  for (const auto& [text, value] : rows) {
    const Converted<std::int32_t> got = convert_int32(text);
    EXPECT_EQ(got.failure, 0) << text;
    EXPECT_EQ(got.value, value) << text;
  }
  // The first offending character, left to right, decides.
  expect_rejected<std::int32_t>(
      {{6100,
        {"2147483648", "+2147483648", "-02147483648", "99999999999", "16#100000000",
         "2#111111111111111111111111111111111", "99999999999#1"}},
       {6101,
        {"1.0", "1e3", "12a", "--1", "1+2", "+", "-", "2#102", "16#g", "16#", "#", "2#12#",
         "-16#FF", "+#1", "1\0002"sv}},
       {6302, {"2#1#", "2##1"}},
       {6303, {"0#1", "1#1", "37#1", "37#z#"}}},
      convert_int32);
}

TEST(ConvertReal64, ExactValuesAndFailures) {
  enable_fp_traps();  // no accepted or rejected text may trap
  expect_accepted<double>(
      {
          {"1.", 1.0},
          {".5", 0.5},
          {"-2.5E-3", -2.5E-3},
          {"1d3", 1000.0},
          {"9982.d-01", 998.2},
          {".01D-01", 0.001},
          {"1.5+3", 1500.0},
          {"1.5-3", 0.0015},
          {"14-3", 0.014},
          {"+.058+03", 58.0},
          {"0D5", 0.0},
          {"-0", -0.0},
          {"-0.0e5", -0.0},
          {"0e99999", 0.0},
          {"000.000", 0.0},
          // Only the first 25 significant digits count: each text lies above the halfway point
          // between two doubles, its first 25 digits below it.
          {"1.0000000000000001110223025", 1.0},  // 1 + 2^-53 = 1.00000000000000011102230246...
          {"1.000000000000000111022303", 0x1.0000000000001p0},  // the 25th digit counts
          {"0001.00000000000000011102230250", 1.0},
          {"1237940039285380412338077700", 0x1p90},  // 2^90 + 2^37 = 1237940039285380412338077696
          {"1.7976931348623158e308", std::numeric_limits<double>::max()},
          {"1e-310", 1e-310},
          {"4e-324", 0x0.0000000000001p-1022},
          {"2e-324", 0.0},
          {"1e-400", 0.0},
          {"-1e-400", -0.0},
          {"1e-99999999999999999999", 0.0},
      },
      convert_real64);
  expect_rejected<double>(
      {{6102, {"1e309", "1.797693134862315808e308", "1e5201", "-1e99999999999999999999"}},
       {6103,
        {"1e", ".", "1.5x", "+", "e5", "1..5", "1.5.", "1e5.", "1e+", "1+", "1e5e", "1e+-3", "inf",
         "nan", "0x1p3", ""}}},
      convert_real64);
  disable_fp_traps();
}

TEST(ConvertReal32, RangeCheckedAsDoubleThenRounded) {
  enable_fp_traps();
  expect_accepted<float>(
      {
          {"3.402823466385289e38", std::numeric_limits<float>::max()},
          {"-3.4028234663852886e38", -std::numeric_limits<float>::max()},
          {"1e-50", 0.0f},
          {"-1e-50", -0.0f},
          {"1e-45", 0x1p-149f},
          {"0.1", 0.1f},
          // Just above the halfway point between 1 and the next float: rounded directly it
          // would go up; as a double it is the halfway point itself, which rounds to even.
          {"1.000000059604644775390626", 1.0f},
      },
      convert_real32);
  expect_rejected<float>(
      {{6102, {"1e309"}}, {6103, {"x"}}, {6104, {"1e39", "-1e39", "3.40282346638529e38"}}},
      convert_real32);
  disable_fp_traps();
}

// Random texts, written in the reader's forms (exponent letters E, e, D, d or a bare sign, the
// point anywhere), against the same number written plainly for the C library's correctly
// rounded conversion. Exponents from -350 to 350 with up to 25 digits reach every range; from
// -30 to 30 with up to 17 digits most texts are like the numbers a network file holds.
void expect_random_texts_correctly_rounded(int largest_exponent, int most_digits) {
  std::mt19937_64 random(20240611);
  const char* const letters[] = {"E", "e", "D", "d", ""};
  const auto exponents = static_cast<unsigned>(2 * largest_exponent);
  for (int round = 0; round < 20000; ++round) {
    std::string digits;
    const int n_digits = 1 + static_cast<int>(random() % static_cast<unsigned>(most_digits));
    for (int k = 0; k < n_digits; ++k) digits += static_cast<char>('0' + random() % 10);
    const int point = static_cast<int>(random() % static_cast<unsigned>(n_digits + 1));
    const int exponent = static_cast<int>(random() % exponents) - largest_exponent;
    const std::string mantissa = digits.substr(0, point) + "." + digits.substr(point);
    const char* letter = letters[random() % 5];
    std::string exponent_text = exponent < 0 ? "-" : (*letter == '\0' || random() % 2 ? "+" : "");
    exponent_text += std::to_string(std::abs(exponent));
    const std::string sign = random() % 2 ? "-" : "";
    const std::string text = sign + mantissa + letter + exponent_text;
    const std::string plain = sign + mantissa + "e" + std::to_string(exponent);
    const Converted<double> got = convert_real64(text);
    const double expected = std::strtod(plain.c_str(), nullptr);
    if (std::abs(expected) > std::numeric_limits<double>::max()) {
      EXPECT_EQ(got.failure, 6102) << text;
    } else {
      ASSERT_EQ(got.failure, 0) << text;
      ASSERT_EQ(bits(got.value), bits(expected)) << text;
    }
  }
}

TEST(ConvertReal64, RandomTextsMatchCorrectRounding) {
  expect_random_texts_correctly_rounded(350, 25);
  expect_random_texts_correctly_rounded(30, 17);
}

}  // namespace
}  // namespace tessaro
