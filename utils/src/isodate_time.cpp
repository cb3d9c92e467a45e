#include <array>
#include <initializer_list>
#include <utility>

#include "utils/src/isodate.h"
#include "utils/src/isodate_internal.h"

namespace tolvo::utils {

namespace {

// A decimal fraction 0.d1d2...dn of at most 38 digits (later digits are ignored), scaled exactly
// by integer factors: products of long fractions exceed 128 bits, so the digits themselves are
// multiplied, carrying from the last digit to the first.
class DecimalFraction {
 public:
  static constexpr size_t kMaxDigits = 38;

  explicit DecimalFraction(std::string_view digits) {
    size_ = digits.size() < kMaxDigits ? digits.size() : kMaxDigits;
    for (size_t i = 0; i < size_; ++i) digits_[i] = static_cast<uint8_t>(digits[i] - '0');
  }

  // Multiplies the fraction by `factor`, keeps the fractional part and returns the whole part.
  uint64_t scale(uint64_t factor) {
    uint64_t carry = 0;
    for (size_t i = size_; i-- > 0;) {
      const uint64_t value = digits_[i] * factor + carry;
      digits_[i] = static_cast<uint8_t>(value % 10);
      carry = value / 10;
    }
    return carry;
  }

  // -1, 0 or 1 as the fraction is below, at or above one half.
  int compare_to_half() const {
    if (size_ == 0 || digits_[0] < 5) return -1;
    if (digits_[0] > 5) return 1;
    for (size_t i = 1; i < size_; ++i) {
      if (digits_[i] != 0) return 1;
    }
    return 0;
  }

 private:
  std::array<uint8_t, kMaxDigits> digits_{};
  size_t size_ = 0;
};

// Hour, minute and second fields from an hour fraction; the microsecond is rounded half to even,
// and a rounding up to a whole second carries into the second, minute and hour (12.9999999999 is
// 13:00, 23.99999999999 is hour 24 for the host to refuse), since a time just short of the next
// second must not be refused.
IsoTime hour_fraction_fields(uint8_t hour, std::string_view fraction) {
  DecimalFraction rest(fraction);
  IsoTime time;
  time.hour = hour;
  time.minute = static_cast<uint8_t>(rest.scale(60));
  time.second = static_cast<uint8_t>(rest.scale(60));
  uint64_t microsecond = rest.scale(1'000'000);
  const int half = rest.compare_to_half();
  if (half > 0 || (half == 0 && microsecond % 2 == 1)) ++microsecond;
  if (microsecond == 1'000'000) {
    microsecond = 0;
    if (++time.second == 60) {
      time.second = 0;
      if (++time.minute == 60) {
        time.minute = 0;
        ++time.hour;
      }
    }
  }
  time.microsecond = static_cast<uint32_t>(microsecond);
  return time;
}

uint8_t two_digits(std::string_view text) { return static_cast<uint8_t>(read_number(text, 0, 2)); }

bool has_digits(std::string_view text, std::initializer_list<size_t> positions) {
  for (size_t p : positions) {
    if (!is_digit(text[p])) return false;
  }
  return true;
}

// One form of the time: where its leading digits and fraction are cut off the body, and how the
// fields are read from them.
enum class TimeForm { kExtendedSeconds, kBasicSeconds, kExtendedMinutes, kBasicMinutes, kHours };

std::optional<IsoTime> parse_time_form(std::string_view body, TimeForm form) {
  std::optional<FractionSplit> split;
  switch (form) {
    case TimeForm::kExtendedSeconds:
      if (body.size() < 8 || body[2] != ':' || body[5] != ':' ||
          !has_digits(body, {0, 1, 3, 4, 6, 7})) {
        return std::nullopt;
      }
      split = split_fraction(body.substr(6), 2);
      break;
    case TimeForm::kBasicSeconds:
      split = split_fraction(body, 6);
      break;
    case TimeForm::kExtendedMinutes:
      if (body.size() < 5 || body[2] != ':' || !has_digits(body, {0, 1, 3, 4})) {
        return std::nullopt;
      }
      split = split_fraction(body.substr(3), 2);
      break;
    case TimeForm::kBasicMinutes:
      split = split_fraction(body, 4);
      break;
    case TimeForm::kHours:
      split = split_fraction(body, 2);
      break;
  }
  if (!split) return std::nullopt;
  auto tzinfo = parse_tzinfo(split->rest);
  if (!tzinfo) return std::nullopt;

  IsoTime time;
  switch (form) {
    case TimeForm::kExtendedSeconds: {
      const SecondFields seconds = parse_second(split->digits, split->fraction);
      time.hour = two_digits(body);
      time.minute = two_digits(body.substr(3));
      time.second = seconds.second;
      time.microsecond = seconds.microsecond;
      break;
    }
    case TimeForm::kBasicSeconds: {
      const SecondFields seconds = parse_second(split->digits.substr(4), split->fraction);
      time.hour = two_digits(split->digits);
      time.minute = two_digits(split->digits.substr(2));
      time.second = seconds.second;
      time.microsecond = seconds.microsecond;
      break;
    }
    case TimeForm::kExtendedMinutes:
    case TimeForm::kBasicMinutes: {
      const bool basic = form == TimeForm::kBasicMinutes;
      const MinuteFields minutes =
          parse_minute(basic ? split->digits.substr(2) : split->digits, split->fraction);
      time.hour = two_digits(basic ? split->digits : body);
      time.minute = minutes.minute;
      time.second = minutes.second;
      time.microsecond = minutes.microsecond;
      break;
    }
    case TimeForm::kHours:
      if (split->fraction) {
        time = hour_fraction_fields(two_digits(split->digits), *split->fraction);
      } else {
        time.hour = two_digits(split->digits);
      }
      break;
  }
  time.tzinfo = std::move(*tzinfo);
  return time;
}

}  // namespace

std::expected<IsoTime, std::string> parse_time(std::string_view text) {
  if (is_ascii(text)) {
    const std::string_view body = !text.empty() && text[0] == 'T' ? text.substr(1) : text;
    for (TimeForm form : {TimeForm::kExtendedSeconds, TimeForm::kBasicSeconds,
                          TimeForm::kExtendedMinutes, TimeForm::kBasicMinutes, TimeForm::kHours}) {
      if (auto time = parse_time_form(body, form)) return std::move(*time);
    }
  }
  return std::unexpected(iso_error(text, "time"));
}

std::optional<FractionSplit> split_fraction(std::string_view text, size_t n) {
  if (text.size() < n) return std::nullopt;
  for (size_t i = 0; i < n; ++i) {
    if (!is_digit(text[i])) return std::nullopt;
  }
  FractionSplit split{text.substr(0, n), std::nullopt, text.substr(n)};
  if (text.size() == n || (text[n] != '.' && text[n] != ',')) return split;
  size_t end = n + 1;
  while (end < text.size() && is_digit(text[end])) ++end;
  if (end == n + 1) return std::nullopt;
  split.fraction = text.substr(n + 1, end - n - 1);
  split.rest = text.substr(end);
  return split;
}

std::optional<std::optional<TzInfo>> parse_tzinfo(std::string_view rest) {
  if (rest.empty()) return std::optional<TzInfo>{};
  if (rest == "Z" || rest == "z") return std::optional<TzInfo>{Utc{}};
  const size_t size = rest.size();
  if ((size != 3 && size != 5 && size != 6) || (rest[0] != '+' && rest[0] != '-') ||
      !has_digits(rest, {1, 2})) {
    return std::nullopt;
  }
  uint32_t minutes = 0;
  if (size == 5) {
    if (!has_digits(rest, {3, 4})) return std::nullopt;
    minutes = read_number(rest, 3, 2);
  } else if (size == 6) {
    if (rest[3] != ':' || !has_digits(rest, {4, 5})) return std::nullopt;
    minutes = read_number(rest, 4, 2);
  }
  const uint32_t hours = read_number(rest, 1, 2);
  if (hours > 23 || minutes > 59) return std::nullopt;
  const auto seconds = static_cast<int32_t>(hours * 3600 + minutes * 60);
  return std::optional<TzInfo>{Offset{std::string(rest), rest[0] == '-' ? -seconds : seconds}};
}

SecondFields parse_second(std::string_view digits, std::optional<std::string_view> fraction) {
  SecondFields fields{two_digits(digits), 0};
  if (fraction) {
    fields.microsecond = static_cast<uint32_t>(DecimalFraction(*fraction).scale(1'000'000));
  }
  return fields;
}

MinuteFields parse_minute(std::string_view digits, std::optional<std::string_view> fraction) {
  MinuteFields fields{two_digits(digits), 0, 0};
  if (fraction) {
    const uint64_t microseconds = DecimalFraction(*fraction).scale(60'000'000);
    fields.second = static_cast<uint8_t>(microseconds / 1'000'000);
    fields.microsecond = static_cast<uint32_t>(microseconds % 1'000'000);
  }
  return fields;
}

}  // namespace tolvo::utils
