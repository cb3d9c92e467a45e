#pragma once

// ISO 8601 dates, times, free-form date-times and durations.
//
// Every reader here is hand-written over fixed character positions, accepts ASCII text only and
// returns either its value or a message; none throws for bad input. Months, days, hours, minutes
// and seconds are not range-tested: callers that need a real date or time check them (the Python
// functions leave that to the host's `datetime` constructors).

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tolvo::utils {

// A calendar date as read. Month and day of calendar forms are the digits as written.
struct IsoDate {
  int32_t year = 0;
  uint8_t month = 1;
  uint8_t day = 1;

  friend bool operator==(const IsoDate&, const IsoDate&) = default;
};

// The zone designator "Z" or "z".
struct Utc {
  friend bool operator==(const Utc&, const Utc&) = default;
};

// A fixed offset east of UTC, with its designator exactly as written ("+05:30", "-0800", "+01").
// A zero offset stays an Offset; only "Z" and "z" are Utc.
struct Offset {
  std::string name;
  int32_t offset_seconds = 0;

  friend bool operator==(const Offset&, const Offset&) = default;
};

using TzInfo = std::variant<Utc, Offset>;

// A time of day as read; an absent tzinfo is a naive time.
struct IsoTime {
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint32_t microsecond = 0;
  std::optional<TzInfo> tzinfo;

  friend bool operator==(const IsoTime&, const IsoTime&) = default;
};

struct IsoDateTime {
  IsoDate date;
  IsoTime time;

  friend bool operator==(const IsoDateTime&, const IsoDateTime&) = default;
};

// An ISO 8601 duration of fixed length, in microseconds.
struct Exact {
  __int128 microseconds = 0;

  friend bool operator==(const Exact&, const Exact&) = default;
};

// The duration had a non-zero year or month component, which has no fixed length.
struct YearsOrMonths {
  friend bool operator==(const YearsOrMonths&, const YearsOrMonths&) = default;
};

using IsoDuration = std::variant<Exact, YearsOrMonths>;

// The split a host time delta takes: 0 <= seconds < 86400 and 0 <= microseconds < 1000000 as
// produced by split_timedelta, with the sign of the whole in days.
struct TimeDeltaTriple {
  int32_t days = 0;
  int32_t seconds = 0;
  int32_t microseconds = 0;

  friend bool operator==(const TimeDeltaTriple&, const TimeDeltaTriple&) = default;
};

// ---- Dates --------------------------------------------------------------------------------------

// Reads a calendar (YYYYMMDD, YYYY-MM-DD), ordinal (YYYYDDD, YYYY-DDD) or week date (YYYYWww,
// YYYY-Www, YYYYWwwD, YYYY-Www-D), or the reduced forms YYYY, YYYYMM, YYYY-MM and the century CC
// (which gives year CC01). Fails with iso_error(text).
std::expected<IsoDate, std::string> parse_date(std::string_view text);

// The date of a weekday (absent means Monday) in an ISO week of `year`, or nothing when week is
// outside 1..53 or weekday outside 1..7. Week 53 is accepted in every year.
std::optional<IsoDate> parse_week_date(int32_t year, uint32_t week,
                                       std::optional<uint32_t> weekday);

// The date of the day_of_year-th day of `year`, or nothing when that day does not exist.
std::optional<IsoDate> parse_ordinal_date(int32_t year, uint32_t day_of_year);

// "Unrecognised ISO 8601 {kind} format: {quoted text}"; kind is "date" or "time".
std::string iso_error(std::string_view text, std::string_view kind = "date");

// The text between double quotes, with \0 \t \n \r \\ \" escapes and \u{hex} for other control,
// format, separator, unassigned, private-use and grapheme-extending characters (the space is
// kept). Invalid UTF-8 shows as U+FFFD.
std::string quoted_form(std::string_view text);

// ---- Times --------------------------------------------------------------------------------------

// Reads an optional "T", then hh:mm:ss, hhmmss, hh:mm, hhmm or hh, a fraction ("." or ",") of
// the last component, and an optional zone designator. Fails with iso_error(text, "time").
std::expected<IsoTime, std::string> parse_time(std::string_view text);

// The pieces split_fraction cuts off a text: n leading digits, the fraction digits after "." or
// "," when present, and the rest.
struct FractionSplit {
  std::string_view digits;
  std::optional<std::string_view> fraction;
  std::string_view rest;
};

// Cuts n leading digits and an optional fraction off `text`; nothing when the text does not start
// with n digits or its separator has no digit after it.
std::optional<FractionSplit> split_fraction(std::string_view text, size_t n);

// Reads the rest of a time as a zone designator: an empty rest gives an empty inner optional (a
// naive time); a rest that is no designator gives nothing.
std::optional<std::optional<TzInfo>> parse_tzinfo(std::string_view rest);

struct SecondFields {
  uint8_t second = 0;
  uint32_t microsecond = 0;
};

// Two second digits and a fraction of a second (truncated to the microsecond).
SecondFields parse_second(std::string_view digits, std::optional<std::string_view> fraction);

struct MinuteFields {
  uint8_t minute = 0;
  uint8_t second = 0;
  uint32_t microsecond = 0;
};

// Two minute digits and a fraction of a minute (truncated to the microsecond).
MinuteFields parse_minute(std::string_view digits, std::optional<std::string_view> fraction);

// ---- Free-form date-times -----------------------------------------------------------------------

// Reads "date T time", "date time", a date alone, "Month D Y" or "D Month Y" with English month
// names (alone, with a time, a time and a zone, or a 12-hour time and am/pm), or a bare time,
// which is placed on default_date. Fails with "String does not contain a date: {}" for blank
// text and "Unknown string format: {}" otherwise, both showing the input as passed.
std::expected<IsoDateTime, std::string> parse_datetime_with_default_date(
    std::string_view text, std::optional<IsoDate> default_date);

// The month 1..12 of an English month name or its abbreviation, any case, trailing commas
// ignored; nothing for any other token.
std::optional<uint8_t> month_number(std::string_view token);

// ---- Durations ----------------------------------------------------------------------------------

// Reads [+-]P[nY][nM][nW][nD][T[nH][nM][nS]] where n is digits with an optional "." or ","
// fraction. A non-zero year or month gives YearsOrMonths; everything else is summed exactly,
// rounded half to even to microseconds and saturated at 2^127 - 1. Fails with "Unable to parse
// duration string {quoted text}" or, for a sum that a double cannot hold, "Duration value is out
// of range".
std::expected<IsoDuration, std::string> parse_duration(std::string_view text);

// Splits microseconds into days (floored), seconds and microseconds; fails with "Duration value is
// out of range" when the days do not fit 32 bits.
std::expected<TimeDeltaTriple, std::string> split_timedelta(__int128 microseconds);

// Writes days, seconds and microseconds (any values, read as their total) as an ISO 8601 duration
// such as "P1DT1H1M1.5S", "-PT0.000001S" or "P0D".
std::string duration_isoformat(int32_t days, int32_t seconds, int32_t microseconds);

// Where parse_duration_number found a number: the position after its designator and the number
// text before it.
struct DurationNumber {
  size_t next = 0;
  std::string_view number;
};

// Reads digits, an optional "." or "," and fraction digits, and then `designator`, at `position`
// of `text`; nothing when they are not there.
std::optional<DurationNumber> parse_duration_number(std::string_view text, size_t position,
                                                    char designator);

// The nearest double to a number text of parse_duration_number; +infinity when too large.
double parse_f64_duration(std::string_view number);

// Rounds to the nearest integer, ties to even, saturating at the 128-bit limits; fails with
// "Duration value is out of range" for infinity and NaN.
std::expected<__int128, std::string> round_f64_half_even(double value);

}  // namespace tolvo::utils
