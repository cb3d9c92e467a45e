#include "utils/src/isodate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvo::utils {
namespace {

struct DateCase {
  std::string text;
  IsoDate expected;
};

// The Python side hands these fields to the host's constructors, which hide out-of-range values
// behind their own errors; only here can the raw fields be seen.
TEST(ParseDate, ReadsEveryFormAndKeepsUncheckedFields) {
  const std::vector<DateCase> cases = {
      {"19", {1901, 1, 1}},
      {"00", {1, 1, 1}},
      {"99", {9901, 1, 1}},
      {"2020", {2020, 1, 1}},
      {"0000", {0, 1, 1}},
      {"202003", {2020, 3, 1}},
      {"2020-03", {2020, 3, 1}},
      {"20200229", {2020, 2, 29}},
      {"2020-02-29", {2020, 2, 29}},
      {"2020366", {2020, 12, 31}},
      {"2020-366", {2020, 12, 31}},
      {"0000-366", {0, 12, 31}},
      {"2020W01", {2019, 12, 30}},
      {"2020-W01", {2019, 12, 30}},
      {"2020-W01-1", {2019, 12, 30}},
      {"2020-W53", {2020, 12, 28}},
      {"2020W537", {2021, 1, 3}},
      {"0000-W01-1", {0, 1, 3}},
      {"1970-W01-4", {1970, 1, 1}},
      {"2021-W53-1", {2022, 1, 3}},
      {"9999-W53-7", {10000, 1, 9}},
      {"2020-13", {2020, 13, 1}},
      {"202013", {2020, 13, 1}},
      {"2020-02-30", {2020, 2, 30}},
      {"20200230", {2020, 2, 30}},
      {"2020-00-00", {2020, 0, 0}},
      {"9999-99-99", {9999, 99, 99}},
  };
  for (const auto& c : cases) {
    const auto result = parse_date(c.text);
    ASSERT_TRUE(result.has_value()) << c.text << ": " << result.error();
    EXPECT_EQ(*result, c.expected) << c.text;
  }
}

TEST(ParseDate, RefusesWrongShapesWithTheQuotedInput) {
  const std::vector<std::string> cases = {
      "",
      "2",
      "202",
      "20201",
      "2020-1-1",
      "2020-W1-01",
      "2020W01-1",
      "2020w01",
      "2020_03",
      "+2020",
      "-2020",
      " 2020-01-01",
      "2020-01-01 ",
      "2021366",
      "2020000",
      "2020W538",
      "2020-W00",
      "2020-W54",
      "2020-W01-0",
      "2020-W01-8",
      "x020-01-01",
      "2020-01x01",
      "20x0-01-01",
      "2020-0101",
      "2020-001-",
      "2020-W01x",
      "2020-12-311",
      std::string("2020\0"
                  "101",
                  8),
      "2020-01-0é",
  };
  for (const auto& text : cases) {
    const auto result = parse_date(text);
    ASSERT_FALSE(result.has_value()) << text;
    EXPECT_EQ(result.error(), "Unrecognised ISO 8601 date format: " + quoted_form(text)) << text;
  }
}

TEST(ParseWeekAndOrdinalDate, RefuseOutOfRangeAndStayExactAtTheLimits) {
  EXPECT_EQ(parse_week_date(2020, 1, std::nullopt), (IsoDate{2019, 12, 30}));
  EXPECT_EQ(parse_week_date(2020, 0, 1), std::nullopt);
  EXPECT_EQ(parse_week_date(2020, 54, 1), std::nullopt);
  EXPECT_EQ(parse_week_date(2020, 1, 0), std::nullopt);
  EXPECT_EQ(parse_week_date(2020, 1, 8), std::nullopt);
  EXPECT_EQ(parse_ordinal_date(2000, 366), (IsoDate{2000, 12, 31}));
  EXPECT_EQ(parse_ordinal_date(1900, 366), std::nullopt);
  EXPECT_EQ(parse_ordinal_date(2021, 0), std::nullopt);
  EXPECT_EQ(parse_ordinal_date(-1, 1), (IsoDate{-1, 1, 1}));
  EXPECT_EQ(parse_ordinal_date(INT32_MIN, 1), (IsoDate{INT32_MIN, 1, 1}));
  // A week that moves past the last representable year is refused rather than wrapped.
  EXPECT_EQ(parse_week_date(INT32_MAX, 53, 7), std::nullopt);
  EXPECT_EQ(parse_ordinal_date(INT32_MAX, 365), (IsoDate{INT32_MAX, 12, 31}));
}

TEST(ParseDate, AgreesWithADayByDayCalendarOverFourCenturies) {
  IsoDate expected{1600, 1, 1};
  const auto days_in_month = [](int32_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : kDays[month - 1];
  };
  for (int32_t year = 1600; year < 2001; ++year) {
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    for (uint32_t day = 1; day <= (leap ? 366u : 365u); ++day) {
      ASSERT_EQ(parse_ordinal_date(year, day), expected) << year << " " << day;
      if (++expected.day > days_in_month(expected.year, expected.month)) {
        expected.day = 1;
        if (++expected.month > 12) {
          expected.month = 1;
          ++expected.year;
        }
      }
    }
  }
}

TEST(Quoted, EscapesControlFormatSeparatorAndCombiningCharacters) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"2020-1-1", R"("2020-1-1")"},
      {"a\"b\\c'd", R"("a\"b\\c'd")"},
      {std::string("\0\t\n\r", 4), R"("\0\t\n\r")"},
      {"\x1b\x7f\x01", R"("\u{1b}\u{7f}\u{1}")"},
      {"a b", R"("a b")"},
      {"\xC3\xA9", "\"\xC3\xA9\""},    // é is printed as it is
      {"e\xCC\x81", R"("e\u{301}")"},  // combining acute accent
      {"\xC2\xA0\xE2\x80\xA8\xE2\x80\xA9", R"("\u{a0}\u{2028}\u{2029}")"},
      {"\xE2\x80\x8B\xEF\xBB\xBF", R"("\u{200b}\u{feff}")"},  // Cf
      {"\xEE\x80\x80", R"("\u{e000}")"},                      // private use
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},           // emoji stays
      {"\xF4\x8F\xBF\xBF", R"("\u{10ffff}")"},                // unassigned
      {"\xFF"
       "a",
       "\"\xEF\xBF\xBD"
       "a\""},  // invalid UTF-8
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(quoted_form(text), expected) << text;
}

struct TimeCase {
  std::string text;
  IsoTime expected;
};

IsoTime at(uint8_t hour, uint8_t minute, uint8_t second, uint32_t microsecond = 0,
           std::optional<TzInfo> tzinfo = std::nullopt) {
  return IsoTime{hour, minute, second, microsecond, std::move(tzinfo)};
}

TzInfo offset(std::string name, int32_t seconds) { return Offset{std::move(name), seconds}; }

TEST(ParseTime, ReadsEveryFormFractionAndZone) {
  const std::vector<TimeCase> cases = {
      {"12:34:56", at(12, 34, 56)},
      {"T12", at(12, 0, 0)},
      {"1200Z", at(12, 0, 0, 0, Utc{})},
      {"12:30:00z", at(12, 30, 0, 0, Utc{})},
      {"T12:34:56.789Z", at(12, 34, 56, 789'000, Utc{})},
      {"123456,5+01:30", at(12, 34, 56, 500'000, offset("+01:30", 5'400))},
      {"120000.5Z", at(12, 0, 0, 500'000, Utc{})},
      {"12:00:00.1234567", at(12, 0, 0, 123'456)},
      {"12:00:00.9999999", at(12, 0, 0, 999'999)},
      {"12:00:00." + std::string(37, '0') + "9" + std::string(12, '9'), at(12, 0, 0, 0)},
      {"12:30.5", at(12, 30, 30)},
      {"12:30,25", at(12, 30, 15)},
      {"1230.25-05", at(12, 30, 15, 0, offset("-05", -18'000))},
      {"12:00.5+05", at(12, 0, 30, 0, offset("+05", 18'000))},
      {"12:00.0000001", at(12, 0, 0, 6)},
      {"12.5", at(12, 30, 0)},
      {"12,5", at(12, 30, 0)},
      {"12.25", at(12, 15, 0)},
      {"00.999999999", at(0, 59, 59, 999'996)},
      {"00.00000000125", at(0, 0, 0, 4)},
      {"00.00000000375", at(0, 0, 0, 14)},
      {"00.000000138888", at(0, 0, 0, 500)},
      {"1230+0100", at(12, 30, 0, 0, offset("+0100", 3'600))},
      {"12+01", at(12, 0, 0, 0, offset("+01", 3'600))},
      {"12:30:00-00:00", at(12, 30, 0, 0, offset("-00:00", 0))},
      {"12:30:00+00", at(12, 30, 0, 0, offset("+00", 0))},
      {"12:30:00+23:59", at(12, 30, 0, 0, offset("+23:59", 86'340))},
      {"12:30:00-2359", at(12, 30, 0, 0, offset("-2359", -86'340))},
      {"12:60:99", at(12, 60, 99)},
      {"99", at(99, 0, 0)},
      {"24:00", at(24, 0, 0)},
      // An hour fraction that rounds up to a whole second carries into the fields above it.
      {"12.9999999999", at(13, 0, 0)},
      {"12.5555555555", at(12, 33, 20)},
      {"23.99999999999", at(24, 0, 0)},
      {"99.99999999999Z", at(100, 0, 0, 0, Utc{})},
      {"12.99999999", at(12, 59, 59, 999'964)},
  };
  for (const auto& c : cases) {
    const auto result = parse_time(c.text);
    ASSERT_TRUE(result.has_value()) << c.text << ": " << result.error();
    EXPECT_EQ(*result, c.expected) << c.text;
  }
}

TEST(ParseTime, RefusesWithTheQuotedInput) {
  const std::vector<std::string> cases = {
      "12:30:00+24",
      "12:30:00+12:60",
      "12:30:00+1",
      "12:30:00+123",
      "12:30:00 Z",
      "t12",
      "T",
      "",
      "1",
      "12:3",
      "12:30:",
      "12:30:5",
      "12.:00",
      "12:30:00+1:30",
      "12:30:00+01:3",
      "12:30:00+0130Z",
      "12:30:00Zz",
      "TT12",
      "12:30:00.",
      "12:30:00,Z",
      "12:30:00é",
      "1２",
      "12:30:00\n",
      "12-30",
      "+12",
  };
  for (const auto& text : cases) {
    const auto result = parse_time(text);
    ASSERT_FALSE(result.has_value()) << text;
    EXPECT_EQ(result.error(), "Unrecognised ISO 8601 time format: " + quoted_form(text)) << text;
  }
}

TEST(SplitFraction, CutsDigitsFractionAndRest) {
  const auto split = split_fraction("1230,5-05", 4);
  ASSERT_TRUE(split.has_value());
  EXPECT_EQ(split->digits, "1230");
  EXPECT_EQ(split->fraction, std::optional<std::string_view>("5"));
  EXPECT_EQ(split->rest, "-05");
  EXPECT_EQ(split_fraction("12", 2)->rest, "");
  EXPECT_EQ(split_fraction("12.", 2), std::nullopt);
  EXPECT_EQ(split_fraction("1", 2), std::nullopt);
  EXPECT_EQ(split_fraction("1a", 2), std::nullopt);
}

TEST(ParseTime, ReadsAMillionDigitFraction) {
  const std::string text = "12:00:00." + std::string(1'000'000, '7') + "Z";
  const auto result = parse_time(text);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, at(12, 0, 0, 777'777, Utc{}));
}

}  // namespace
}  // namespace tolvo::utils
