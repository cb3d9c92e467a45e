#include <array>
#include <string>
#include <utility>

#include "utils/src/isodate.h"
#include "utils/src/isodate_internal.h"

namespace tolvo::utils {

namespace {

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view strip_trailing_commas(std::string_view text) {
  while (!text.empty() && text.back() == ',') text.remove_suffix(1);
  return text;
}

// The value of a digit run (after its trailing commas; nothing left counts as 0), or nothing when
// it holds a non-digit or exceeds `limit`: a day or year that does not fit its field is refused
// rather than wrapped.
std::optional<int64_t> read_bounded_number(std::string_view token, int64_t limit) {
  int64_t value = 0;
  for (char c : strip_trailing_commas(token)) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > limit) return std::nullopt;
  }
  return value;
}

// The position of the first ":" when it stands at position 1 or 2 with only digits before it.
std::optional<size_t> clock_colon(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon != 1 && colon != 2) return std::nullopt;
  for (size_t i = 0; i < colon; ++i) {
    if (!is_digit(text[i])) return std::nullopt;
  }
  return colon;
}

bool equals_ascii_lowercase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != lower[i]) return false;
  }
  return true;
}

std::optional<IsoTime> time_of(std::string_view text) {
  auto time = parse_time(text);
  if (!time) return std::nullopt;
  return std::move(*time);
}

// Token 4 as a 12-hour clock time and token 5 as "am" or "pm".
std::optional<IsoTime> twelve_hour_time(std::string_view clock, std::string_view meridiem) {
  const auto colon = clock_colon(clock);
  if (!colon) return std::nullopt;
  std::string padded(colon == 1 ? "0" : "");
  padded += clock;
  auto time = time_of(padded);
  if (!time || time->hour < 1 || time->hour > 12) return std::nullopt;
  if (equals_ascii_lowercase(meridiem, "am")) {
    if (time->hour == 12) time->hour = 0;
  } else if (equals_ascii_lowercase(meridiem, "pm")) {
    if (time->hour != 12) time->hour = static_cast<uint8_t>(time->hour + 12);
  } else {
    return std::nullopt;
  }
  return time;
}

// "Month D Y" or "D Month Y", alone or followed by a time, a time and a zone, or a 12-hour time.
std::optional<IsoDateTime> parse_month_name_date(std::string_view text) {
  constexpr size_t kMaxTokens = 5;
  std::array<std::string_view, kMaxTokens> tokens;
  size_t count = 0;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i == text.size()) break;
    const size_t start = i;
    while (i < text.size() && !is_blank(text[i])) ++i;
    if (count == kMaxTokens) return std::nullopt;
    tokens[count++] = text.substr(start, i - start);
  }
  if (count < 3) return std::nullopt;

  std::optional<uint8_t> month = month_number(tokens[0]);
  std::string_view day_text = tokens[1];
  if (!month) {
    month = month_number(tokens[1]);
    if (!month) return std::nullopt;
    day_text = tokens[0];
  }
  const auto day = read_bounded_number(day_text, UINT8_MAX);
  const auto year = read_bounded_number(tokens[2], INT32_MAX);
  if (!day || !year) return std::nullopt;

  std::optional<IsoTime> time = IsoTime{};
  if (count == 4) {
    time = time_of(tokens[3]);
  } else if (count == 5) {
    time = twelve_hour_time(tokens[3], tokens[4]);
    if (!time) {
      std::string joined(tokens[3]);
      joined += tokens[4];
      time = time_of(joined);
    }
  }
  if (!time) return std::nullopt;
  return IsoDateTime{IsoDate{static_cast<int32_t>(*year), *month, static_cast<uint8_t>(*day)},
                     std::move(*time)};
}

std::optional<IsoDateTime> date_and_time(std::string_view date_text, std::string_view time_text) {
  const auto date = parse_date(date_text);
  if (!date) return std::nullopt;
  auto time = time_of(time_text);
  if (!time) return std::nullopt;
  return IsoDateTime{*date, std::move(*time)};
}

std::unexpected<std::string> datetime_error(std::string_view prefix, std::string_view text) {
  std::string message(prefix);
  message += text;
  return std::unexpected(std::move(message));
}

}  // namespace

std::expected<IsoDateTime, std::string> parse_datetime_with_default_date(
    std::string_view text, std::optional<IsoDate> default_date) {
  constexpr std::string_view kUnknown = "Unknown string format: ";
  if (!is_ascii(text)) return datetime_error(kUnknown, text);
  const std::string_view trimmed = trim_blanks(text);
  if (trimmed.empty()) return datetime_error("String does not contain a date: ", text);

  // Any "T" makes the text an ISO date-time or nothing; upper-case month names holding a T
  // (OCT, SEPTEMBER) are therefore refused.
  if (const size_t t = trimmed.find('T'); t != std::string_view::npos) {
    if (auto result = date_and_time(trimmed.substr(0, t), trimmed.substr(t + 1))) return *result;
    return datetime_error(kUnknown, text);
  }
  if (const size_t space = trimmed.find(' ');
      space != std::string_view::npos && is_digit(trimmed[0])) {
    if (auto result = date_and_time(trimmed.substr(0, space), trimmed.substr(space + 1))) {
      return *result;
    }
  }
  if (const auto date = parse_date(trimmed)) return IsoDateTime{*date, IsoTime{}};
  if (auto result = parse_month_name_date(trimmed)) return *result;
  if (default_date && clock_colon(trimmed)) {
    if (auto time = time_of(trimmed)) return IsoDateTime{*default_date, std::move(*time)};
  }
  return datetime_error(kUnknown, text);
}

std::optional<uint8_t> month_number(std::string_view token) {
  struct MonthName {
    std::string_view name;
    uint8_t month;
  };
  static constexpr MonthName kMonthNames[] = {
      {"jan", 1},  {"january", 1},  {"feb", 2},    {"february", 2},  {"mar", 3},  {"march", 3},
      {"apr", 4},  {"april", 4},    {"may", 5},    {"jun", 6},       {"june", 6}, {"jul", 7},
      {"july", 7}, {"aug", 8},      {"august", 8}, {"sep", 9},       {"sept", 9}, {"september", 9},
      {"oct", 10}, {"october", 10}, {"nov", 11},   {"november", 11}, {"dec", 12}, {"december", 12},
  };
  const std::string_view name = strip_trailing_commas(token);
  for (const MonthName& entry : kMonthNames) {
    if (equals_ascii_lowercase(name, entry.name)) return entry.month;
  }
  return std::nullopt;
}

}  // namespace tolvo::utils
