#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/src/isodate.h"

namespace tolvo::utils {
namespace {

constexpr IsoDate kDefaultDate{2001, 2, 3};

IsoDateTime on(IsoDate date, uint8_t hour = 0, uint8_t minute = 0, uint8_t second = 0,
               uint32_t microsecond = 0, std::optional<TzInfo> tzinfo = std::nullopt) {
  return IsoDateTime{date, IsoTime{hour, minute, second, microsecond, std::move(tzinfo)}};
}

struct DateTimeCase {
  std::string text;
  IsoDateTime expected;
};

// The Python side turns a zero offset into timezone.utc and refuses day 0 in the host's
// constructor; the raw readings are checked here.
TEST(ParseDatetime, ReadsIsoMonthNameAndBareTimeForms) {
  const IsoDate jan5{2020, 1, 5};
  const std::vector<DateTimeCase> cases = {
      {"2020-01-02T10:20:30Z", on({2020, 1, 2}, 10, 20, 30, 0, Utc{})},
      {"2020-01-02 10:20:30+05:30", on({2020, 1, 2}, 10, 20, 30, 0, Offset{"+05:30", 19'800})},
      {"2020-01-02 10:30:00+00:00", on({2020, 1, 2}, 10, 30, 0, 0, Offset{"+00:00", 0})},
      {"20200102 103000", on({2020, 1, 2}, 10, 30)},
      {"2020-01-02", on({2020, 1, 2})},
      {" \t2020-01-02\r\n\v\f", on({2020, 1, 2})},
      {"Jan 5 2020", on(jan5)},
      {"5 January, 2020", on(jan5)},
      {"Jan, 5 2020", on(jan5)},
      {"JAN 5 2020", on(jan5)},
      {"Sept 5 2020", on({2020, 9, 5})},
      {"Jan\t5\t2020", on(jan5)},
      {"Jan 5,, 2020,,", on(jan5)},
      {"Jan 5, 2020 10:30", on(jan5, 10, 30)},
      {"Jan 5 2020 1030", on(jan5, 10, 30)},
      {"jan 5 2020 10:30:00 -0800", on(jan5, 10, 30, 0, 0, Offset{"-0800", -28'800})},
      {"Jan 5 2020 10:30 +05:00", on(jan5, 10, 30, 0, 0, Offset{"+05:00", 18'000})},
      {"Jan 5 2020 10:30 Z", on(jan5, 10, 30, 0, 0, Utc{})},
      {"Jan 5 2020 10:30:15.5 Z", on(jan5, 10, 30, 15, 500'000, Utc{})},
      {"Jan 5 2020 9:30 pm", on(jan5, 21, 30)},
      {"Jan 5 2020 12:00 AM", on(jan5, 0, 0)},
      {"May 5 2020 12:30 pm", on({2020, 5, 5}, 12, 30)},
      {"Jan 5 2020 9:30:15 pm", on(jan5, 21, 30, 15)},
      {"Jan 5 2020 9:30Z pm", on(jan5, 21, 30, 0, 0, Utc{})},
      {"Jan 5 2020 11:00 am", on(jan5, 11, 0)},
      {"Jan , 2020", on({2020, 1, 0})},
      {"Feb 30 2020", on({2020, 2, 30})},
      {"Jan 255 2147483647", on({INT32_MAX, 1, 255})},
      {"10:30", on(kDefaultDate, 10, 30)},
      {"10:30:00Z", on(kDefaultDate, 10, 30, 0, 0, Utc{})},
      {"5 NOV 2020 10:30 PM", on({2020, 11, 5}, 22, 30)},
  };
  for (const auto& c : cases) {
    const auto result = parse_datetime_with_default_date(c.text, kDefaultDate);
    ASSERT_TRUE(result.has_value()) << c.text << ": " << result.error();
    EXPECT_EQ(*result, c.expected) << c.text;
  }
}

TEST(ParseDatetime, RefusesWithTheInputAsPassed) {
  const std::vector<std::string> unknown = {
      // A "T" anywhere cuts the text into an ISO date and time, or refuses it: upper-case month
      // names holding one are never read as month names.
      "OCT 5 2020",
      "SEPTEMBER 5 2020",
      "5 AUGUST 2020 10:30 PM",
      "Oct 5 2020 T10:30",
      "Jan 5 2020 10:30 PST",
      "2020-01-02Tx",
      "T10:00",
      "2020-01-02T10:00 extra",
      "2020-01-02 10:30 pm",
      "2020-01-02 10:30:00 +05:00",
      "Jan 5 2020 0:30 am",
      "5 Oct 2020 13:30 pm",
      "Jan 5 2020 9:30 p.m.",
      "Jan 5 2020 10:30 AM extra",
      "January 5th 2020",
      "9:30",
      "1:30",
      "10:30 pm",
      "abc",
      "  abc  ",
      "Jan 5 2020 10:3",
      "Jan 5 -2020",
      "Jan 256 2020",      // a day that does not fit 8 bits is refused, not wrapped
      "Jan 5 2147483648",  // likewise a year beyond 32 bits
      "Jan 5 " + std::string(5000, '9'),
      "Jan Feb 2020",
      "2020-01-02T10:00\xC3\xA9",
      "Jan 5 2020 10:30 \xC3\xA9",
      std::string("2020-01-02\0", 11),
  };
  for (const auto& text : unknown) {
    const auto result = parse_datetime_with_default_date(text, kDefaultDate);
    ASSERT_FALSE(result.has_value()) << text;
    EXPECT_EQ(result.error(), "Unknown string format: " + text) << text;
  }
  for (const std::string text : {"", "  ", "\t\n\v\f\r "}) {
    const auto result = parse_datetime_with_default_date(text, kDefaultDate);
    ASSERT_FALSE(result.has_value()) << text;
    EXPECT_EQ(result.error(), "String does not contain a date: " + text);
  }
}

TEST(ParseDatetime, BareTimeNeedsADefaultDate) {
  EXPECT_EQ(parse_datetime_with_default_date("10:30", std::nullopt).error(),
            "Unknown string format: 10:30");
  EXPECT_TRUE(parse_datetime_with_default_date("2020-01-02 10:30", std::nullopt).has_value());
}

TEST(MonthNumber, MatchesTheTwentyFourNamesInAnyCase) {
  const std::vector<std::pair<std::string, uint8_t>> known = {
      {"jan", 1},   {"January", 1},   {"FEB", 2},         {"february", 2},  {"mar", 3},
      {"March", 3}, {"apr", 4},       {"april", 4},       {"May,", 5},      {"jun", 6},
      {"june", 6},  {"jul", 7},       {"july", 7},        {"aug", 8},       {"august", 8},
      {"sep", 9},   {"sept", 9},      {"September,,", 9}, {"oct", 10},      {"OCTOBER", 10},
      {"nov", 11},  {"november", 11}, {"dec", 12},        {"december", 12},
  };
  for (const auto& [token, month] : known) EXPECT_EQ(month_number(token), month) << token;
  for (const std::string token : {"", ",", "ja", "janu", "jan.", "Janvier", "sept.", "5"}) {
    EXPECT_EQ(month_number(token), std::nullopt) << token;
  }
}

}  // namespace
}  // namespace tolvo::utils
