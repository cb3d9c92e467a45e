#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "utils/src/isodate.h"

namespace tolvo::utils {
namespace {

constexpr __int128 kInt128Max = static_cast<__int128>(~static_cast<unsigned __int128>(0) >> 1);
constexpr __int128 kDay = 86'400'000'000;

std::string text_of(__int128 value) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  // Negating in unsigned arithmetic keeps the most negative value exact.
  auto magnitude = static_cast<unsigned __int128>(value);
  if (negative) magnitude = ~magnitude + 1;
  std::string digits;
  while (magnitude != 0) {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  }
  return negative ? "-" + digits : digits;
}

struct ExactCase {
  std::string text;
  __int128 microseconds;
};

TEST(ParseDuration, SumsComponentsAndRoundsHalfToEven) {
  const std::vector<ExactCase> cases = {
      {"P1D", kDay},
      {"-P1D", -kDay},
      {"PT36H", kDay + kDay / 2},
      {"P1W", 7 * kDay},
      {"+PT1S", 1'000'000},
      {"P1.5D", 129'600'000'000},
      {"P1,5D", 129'600'000'000},
      {"PT1H30M", 5'400'000'000},
      {"PT1M", 60'000'000},
      {"P1W1DT1H1M1.25S", 8 * kDay + 3'661'250'000},
      {"PT0.0000005S", 0},
      {"PT0.0000015S", 2},
      {"PT0.0000025S", 2},
      {"PT0.0000035S", 4},
      {"PT0.0000001S", 0},
      {"P0Y", 0},
      {"P0M", 0},
      {"P00Y0D", 0},
      {"P0.0Y", 0},
      {"P0Y0M1D", kDay},
      {"PT", 0},
      {"P0D", 0},
      {"P1DT", kDay},
      {"-PT0S", 0},
      {"PT0." + std::string(400, '0') + "1S", 0},
      {"P" + std::string(42, '9') + "D", kInt128Max},
      {"-P" + std::string(42, '9') + "D", -kInt128Max},
      // Exact beyond the 53 bits of a double.
      {"P999999999D", 999'999'999 * kDay},
      {"P200000DT0.000001S", 200'000 * kDay + 1},
      {"PT1.0000005S", 1'000'000},
      {"PT1.0000015S", 1'000'002},
      {"PT0.0000005" + std::string(30, '0') + "1S", 1},
      {"PT0.00000001M0.0000004S", 1},
      {"P0.000000000005DT0.0000000001H", 1},
      {"P1.5W0.25DT0.5H0.5M0.5S", 10 * kDay + 66'630'500'000},
      {"PT" + std::string(38, '1') + "S", kInt128Max},
  };
  for (const auto& c : cases) {
    const auto result = parse_duration(c.text);
    ASSERT_TRUE(result.has_value()) << c.text << ": " << result.error();
    ASSERT_TRUE(std::holds_alternative<Exact>(*result)) << c.text;
    EXPECT_EQ(text_of(std::get<Exact>(*result).microseconds), text_of(c.microseconds)) << c.text;
  }
}

TEST(ParseDuration, MarksNonZeroYearsOrMonths) {
  for (const std::string text : {"P1Y", "P1M", "P0.5Y", "P1Y1D", "-P2M", "P0Y0.01M", "P1YT1S"}) {
    const auto result = parse_duration(text);
    ASSERT_TRUE(result.has_value()) << text;
    EXPECT_TRUE(std::holds_alternative<YearsOrMonths>(*result)) << text;
  }
}

TEST(ParseDuration, RefusesMalformedTextWithTheQuotedInput) {
  const std::vector<std::string> cases = {
      "P",
      "-P",
      "+",
      "",
      "p1d",
      "P1d",
      "P1D1W",
      "P1DT1D",
      "PT1H1H",
      "P1",
      "P.5D",
      "P1.D",
      "PT1.S",
      "P1D ",
      " P1D",
      "P-1D",
      "P1E3D",
      "P1Yx",
      "PT1S1M",
      "P1M1Y",
      "PP1D",
      "--P1D",
      "P1,D",
      "PT1,5,5S",
      "P1D\xC3\xA9",
      "P\tD",
      "PT1HT1M",
      "PW",
      std::string("P1\0D", 4),
  };
  for (const auto& text : cases) {
    const auto result = parse_duration(text);
    ASSERT_FALSE(result.has_value()) << text;
    EXPECT_EQ(result.error(), "Unable to parse duration string " + quoted_form(text)) << text;
  }
  EXPECT_EQ(parse_duration("P" + std::string(400, '9') + "D").error(),
            "Duration value is out of range");
}

TEST(ParseF64Duration, ConvertsCorrectlyRounded) {
  EXPECT_EQ(parse_f64_duration("0,1"), 0.1);
  EXPECT_EQ(parse_f64_duration("9007199254740993"), 9007199254740992.0);  // tie to even
  EXPECT_EQ(parse_f64_duration(std::string(400, '9')), HUGE_VAL);
  EXPECT_EQ(parse_f64_duration("0." + std::string(400, '0') + "1"), 0.0);
}

TEST(RoundF64HalfEven, RoundsTiesToEvenAndSaturates) {
  const std::vector<std::pair<double, __int128>> cases = {
      {0.5, 0},
      {1.5, 2},
      {2.5, 2},
      {2.4999999999999996, 2},
      {2.5000000000000004, 3},
      {-0.5, 0},
      {-1.5, -2},
      {-2.5, -2},
      {-2.4, -2},
      {-2.6, -3},
      {9007199254740993.0, 9007199254740992},
      {0x1p126, static_cast<__int128>(1) << 126},
      {0x1p127, kInt128Max},
      {1e300, kInt128Max},
      {-0x1p127, -kInt128Max - 1},
      {-1e300, -kInt128Max - 1},
  };
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(text_of(round_f64_half_even(value).value()), text_of(expected)) << value;
  }
  for (double value : {HUGE_VAL, -HUGE_VAL, std::nan("")}) {
    EXPECT_EQ(round_f64_half_even(value).error(), "Duration value is out of range") << value;
  }
}

TEST(SplitTimedelta, FloorsDaysAndRefusesBeyond32Bits) {
  const std::vector<std::pair<__int128, TimeDeltaTriple>> cases = {
      {kDay, {1, 0, 0}},
      {-kDay, {-1, 0, 0}},
      {kDay + kDay / 2, {1, 43'200, 0}},
      {-1, {-1, 86'399, 999'999}},
      {0, {0, 0, 0}},
      {static_cast<__int128>(INT32_MAX) * kDay + kDay - 1, {INT32_MAX, 86'399, 999'999}},
      {static_cast<__int128>(INT32_MIN) * kDay, {INT32_MIN, 0, 0}},
  };
  for (const auto& [microseconds, expected] : cases) {
    EXPECT_EQ(split_timedelta(microseconds).value(), expected) << text_of(microseconds);
  }
  for (__int128 microseconds :
       {static_cast<__int128>(INT32_MAX) * kDay + kDay, static_cast<__int128>(INT32_MIN) * kDay - 1,
        kInt128Max, -kInt128Max - 1}) {
    EXPECT_EQ(split_timedelta(microseconds).error(), "Duration value is out of range");
  }
}

TEST(DurationIsoformat, WritesDaysTimeAndTrimmedFraction) {
  const std::vector<std::pair<TimeDeltaTriple, std::string>> cases = {
      {{0, 0, 0}, "P0D"},
      {{1, 0, 0}, "P1D"},
      {{0, 3'600, 0}, "PT1H"},
      {{0, 60, 0}, "PT1M"},
      {{1, 3'661, 500'000}, "P1DT1H1M1.5S"},
      {{0, 0, 1}, "PT0.000001S"},
      {{0, 0, 120'000}, "PT0.12S"},
      {{2, 0, 1'000}, "P2DT0.001S"},
      {{-1, 86'399, 999'999}, "-PT0.000001S"},
      {{-1, 0, 0}, "-P1D"},
      // Unnormalised triples are read as their total.
      {{0, 86'400, 0}, "P1D"},
      {{1, -86'400, 0}, "P0D"},
      {{0, 0, -1'500'000}, "-PT1.5S"},
      {{INT32_MAX, INT32_MAX, INT32_MAX}, "P2147508502DT3H49M54.483647S"},
      {{INT32_MIN, INT32_MIN, INT32_MIN}, "-P2147508503DT3H49M55.483648S"},
  };
  for (const auto& [triple, expected] : cases) {
    EXPECT_EQ(duration_isoformat(triple.days, triple.seconds, triple.microseconds), expected)
        << expected;
  }
}

TEST(DurationIsoformat, RoundTripsThroughParseAndSplit) {
  for (const std::string text : {"P1DT1H1M1.5S", "-PT0.000001S", "P45DT23H59M59.999999S", "P0D"}) {
    const auto duration = parse_duration(text).value();
    const auto triple = split_timedelta(std::get<Exact>(duration).microseconds).value();
    EXPECT_EQ(duration_isoformat(triple.days, triple.seconds, triple.microseconds), text);
  }
}

}  // namespace
}  // namespace tolvo::utils
