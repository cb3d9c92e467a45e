#include "utils/src/duration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace tolvo::utils {
namespace {

struct ParseCase {
  std::string input;
  int64_t ms;
};

TEST(ParseDurationMs, ReadsGroups) {
  const ParseCase cases[] = {
      {"", 0},
      {"all", kUnboundedDurationMs},
      {"infinity", kUnboundedDurationMs},
      {"100d", 8'640'000'000},
      {"1h30m", 5'400'000},
      {"30m1h", 5'400'000},
      {"1h 30m", 5'400'000},
      {" 1h30m ", 5'400'000},
      {"2d12h", 216'000'000},
      {"1w1d", 691'200'000},
      {"5m5ms", 300'005},
      {"1m5s", 65'000},
      {"007s", 7'000},
      {"-1h", -3'600'000},
      {"- 1h", -3'600'000},
      {"-1h ", -3'600'000},
      {"1w1d1h1m1s1ms", 694'861'001},
      {"9223372036854775807ms", std::numeric_limits<int64_t>::max()},
      {"-9223372036854775807ms", -std::numeric_limits<int64_t>::max()},
      {"9223372036854775s807ms", std::numeric_limits<int64_t>::max()},
  };
  for (const ParseCase& c : cases) {
    auto result = parse_duration_ms(c.input);
    ASSERT_TRUE(result.has_value()) << c.input << ": " << result.error();
    EXPECT_EQ(*result, c.ms) << c.input;
  }
}

TEST(ParseDurationMs, ExactTextsAgreeWithTheReader) {
  const char* texts[] = {"0s",  "1s",  "50s", "200s", "1m",  "5m",  "10m",  "15m",  "20m", "30m",
                         "1h",  "2h",  "12h", "24h",  "48h", "1d",  "2d",   "3d",   "5d",  "7d",
                         "10d", "14d", "30d", "45d",  "60d", "90d", "100d", "365d", "1w"};
  for (const char* text : texts) {
    // A leading space keeps the text out of the exact-match table.
    EXPECT_EQ(parse_duration_ms(text).value(), parse_duration_ms(std::string(" ") + text).value())
        << text;
  }
}

struct FailCase {
  std::string input;
  std::string component;
};

TEST(ParseDurationMs, NamesTheFailingComponent) {
  const std::string max_plus_one = "9223372036854775808";
  const FailCase cases[] = {
      {"   ", "   "},
      {"\t\u3000", "\t\u3000"},
      {"ALL", "ALL"},
      {" all", "all"},
      {"-infinity", "infinity"},
      {"-", "-"},
      {"-  ", "-  "},
      {" -1h", "-1h"},
      {"+1h", "+1h"},
      {"--1h", "-1h"},
      {"10", "10"},
      {"0", "0"},
      {"1h30", "30"},
      {"1.5h", "1.5h"},
      {"1 h", "1 h"},
      {"1H", "1H"},
      {"1hr", "1hr"},
      {"1mss", "1mss"},
      {"1d1d", "1d"},
      {"1h1h30m", "1h30m"},
      {"1h,30m", ",30m"},
      {"1h-30m", "-30m"},
      {"\t1h", "1h"},
      {"1h\t", ""},
      {"1h\u00a0", ""},
      {"1h x\u2003", "x"},
      {max_plus_one + "ms", max_plus_one},
      {"1h" + std::string(5000, '9') + "s", std::string(5000, '9')},
      // Products and totals beyond 64 bits fail at the group that overflows.
      {"9223372036854775807s", "9223372036854775807s"},
      {"9223372036854775807ms 1s 5m", "1s 5m"},
      {"106751991167301d", "106751991167301d"},
  };
  for (const FailCase& c : cases) {
    auto result = parse_duration_ms(c.input);
    ASSERT_FALSE(result.has_value()) << c.input << " gave " << *result;
    EXPECT_EQ(result.error(), make_error(c.input, c.component)) << c.input;
  }
}

TEST(ParseDurationMs, ToleratesIllFormedUtf8) {
  const std::string inputs[] = {"\xff", "1h\xff", "\xe2\x80", "1h \xc3"};
  for (const std::string& input : inputs) {
    auto result = parse_duration_ms(input);
    ASSERT_FALSE(result.has_value()) << input;
  }
  EXPECT_EQ(parse_duration_ms("1h\xff").error(), make_error("1h\xff", "\xff"));
  // White space next to an ill-formed byte is still trimmed; the byte itself is not white space.
  EXPECT_EQ(parse_duration_ms("1h\x80\xe2\x80\x83").error(),
            make_error("1h\x80\xe2\x80\x83", "\x80"));
  EXPECT_EQ(parse_duration_ms("\xe2\x80\x83\xe2\x80").error(),
            make_error("\xe2\x80\x83\xe2\x80", "\xe2\x80"));
}

TEST(ParseDurationMs, ReadsLongTextsInLinearTime) {
  std::string input;
  for (int i = 0; i < 200'000; ++i) input += "     ";
  input += "1h";
  EXPECT_EQ(parse_duration_ms(input).value(), 3'600'000);
  EXPECT_FALSE(parse_duration_ms(std::string(1'000'000, '1')).has_value());
}

TEST(MakeError, EmbedsInputAndComponentPlainly) {
  EXPECT_EQ(make_error("1h\"x", "\"x"),
            "The duration '1h\"x' contained a component '\"x' that could not be parsed. Please "
            "use a valid duration, like '10m', '1h', or '1h30m'. Read more at "
            "README.md#duration-strings");
}

TEST(ParseDurationS, TruncatesTowardZero) {
  const ParseCase cases[] = {
      {"1500ms", 1}, {"-1500ms", -1}, {"999ms", 0}, {"1999ms", 1}, {"infinity", 3'153'600'000},
  };
  for (const ParseCase& c : cases) EXPECT_EQ(parse_duration_s(c.input).value(), c.ms) << c.input;
  EXPECT_EQ(parse_duration_s("10").error(), parse_duration_ms("10").error());
}

struct FormatCase {
  double seconds;
  std::string text;
};

TEST(SecondsToDurationString, WritesNonZeroParts) {
  const double inf = std::numeric_limits<double>::infinity();
  const FormatCase cases[] = {
      {0, ""},
      {-0.0, ""},
      {1, "1s"},
      {60, "1m"},
      {61.5, "1m1s500ms"},
      {3600, "1h"},
      {3661, "1h1m1s"},
      {5400, "1h30m"},
      {86400, "1d"},
      {0.0005, "1ms"},
      {0.0004, ""},
      {-0.0004, ""},
      {-0.0005, "-1ms"},
      {-90.5, "-1m30s500ms"},
      {0.9996, "1000ms"},
      {1.9999, "1s1000ms"},
      {3'153'599'999, "36499d23h59m59s"},
      {3'153'600'000, "infinity"},
      {1e300, "infinity"},
      {inf, "infinity"},
      {-3'153'600'000, "-36500d"},
      {std::nan(""), ""},
      {-std::nan(""), ""},
      {std::numeric_limits<double>::denorm_min(), ""},
      {-9007199254740993.0, "-104249991374d7h36m32s"},
      // Beyond the 64-bit count of whole seconds the magnitude is clamped to it.
      {-18446744073709551616.0, "-213503982334601d7h15s"},
      {-1e300, "-213503982334601d7h15s"},
      {-inf, "-213503982334601d7h15s"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(seconds_to_duration_string(c.seconds), c.text) << c.seconds;
  }
}

TEST(SecondsToDurationString, ReadsBackAsTheSameMilliseconds) {
  const double values[] = {0.9996, 1.9999, 61.5, 3661.25, -90.5, 1234567.891};
  for (double seconds : values) {
    const int64_t expected = static_cast<int64_t>(std::round(seconds * 1000));
    EXPECT_EQ(parse_duration_ms(seconds_to_duration_string(seconds)).value(), expected) << seconds;
  }
}

}  // namespace
}  // namespace tolvo::utils
