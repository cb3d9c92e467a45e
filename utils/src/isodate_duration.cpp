#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "utils/src/isodate.h"
#include "utils/src/isodate_internal.h"

namespace tolvo::utils {

namespace {

constexpr std::string_view kOutOfRange = "Duration value is out of range";
constexpr __int128 kMicrosecondsPerDay = 86'400'000'000;
constexpr __int128 kInt128Max = static_cast<__int128>(~static_cast<unsigned __int128>(0) >> 1);
constexpr __int128 kInt128Min = -kInt128Max - 1;

std::unexpected<std::string> unparsable(std::string_view text) {
  return std::unexpected("Unable to parse duration string " + quoted_form(text));
}

bool has_nonzero_digit(std::string_view number) {
  for (char c : number) {
    if (c >= '1' && c <= '9') return true;
  }
  return false;
}

void append_decimal(std::string& out, uint64_t value) {
  std::array<char, 20> digits;
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  out.append(digits.data(), end);
}

}  // namespace

std::expected<IsoDuration, std::string> parse_duration(std::string_view text) {
  if (!is_ascii(text)) return unparsable(text);
  size_t position = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    position = 1;
  }
  if (position >= text.size() || text[position] != 'P' || position + 1 >= text.size()) {
    return unparsable(text);
  }
  ++position;

  bool years_or_months = false;
  for (char designator : {'Y', 'M'}) {
    if (auto number = parse_duration_number(text, position, designator)) {
      years_or_months = years_or_months || has_nonzero_digit(number->number);
      position = number->next;
    }
  }
  // Each term is read into a double and scaled by its exact factor, then summed in one fixed
  // order, so that a text always rounds the same way.
  auto term = [&](char designator, double factor) {
    auto number = parse_duration_number(text, position, designator);
    if (!number) return 0.0;
    position = number->next;
    return parse_f64_duration(number->number) * factor;
  };
  const double weeks = term('W', 604'800'000'000.0);
  const double days = term('D', 86'400'000'000.0);
  double hours = 0.0;
  double minutes = 0.0;
  double seconds = 0.0;
  if (position < text.size() && text[position] == 'T') {
    ++position;
    hours = term('H', 3'600'000'000.0);
    minutes = term('M', 60'000'000.0);
    seconds = term('S', 1'000'000.0);
  }
  if (position != text.size()) return unparsable(text);
  if (years_or_months) return YearsOrMonths{};

  const double sum = (((weeks + days) + hours) + minutes) + seconds;
  const auto rounded = round_f64_half_even(sum);
  if (!rounded) return std::unexpected(rounded.error());
  return Exact{negative ? -*rounded : *rounded};
}

std::optional<DurationNumber> parse_duration_number(std::string_view text, size_t position,
                                                    char designator) {
  const size_t start = position;
  while (position < text.size() && is_digit(text[position])) ++position;
  if (position == start || position >= text.size()) return std::nullopt;
  if (text[position] == '.' || text[position] == ',') {
    const size_t fraction_start = ++position;
    while (position < text.size() && is_digit(text[position])) ++position;
    if (position == fraction_start || position >= text.size()) return std::nullopt;
  }
  if (text[position] != designator) return std::nullopt;
  return DurationNumber{position + 1, text.substr(start, position - start)};
}

double parse_f64_duration(std::string_view number) {
  std::string decimal(number);
  bool whole_part_nonzero = false;
  for (char& c : decimal) {
    if (c == ',' || c == '.') {
      c = '.';
      break;
    }
    whole_part_nonzero = whole_part_nonzero || c != '0';
  }
  double value = 0.0;
  const auto result = std::from_chars(decimal.data(), decimal.data() + decimal.size(), value,
                                      std::chars_format::fixed);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large for a double is infinity; too small is a value no microsecond can hold.
    return whole_part_nonzero ? HUGE_VAL : 0.0;
  }
  return value;
}

std::expected<__int128, std::string> round_f64_half_even(double value) {
  if (!std::isfinite(value)) return std::unexpected(std::string(kOutOfRange));
  const double floor = std::floor(value);
  const double fraction = value - floor;
  double rounded = floor;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1.0;
  constexpr double kTwoTo127 = 0x1p127;
  if (rounded >= kTwoTo127) return kInt128Max;
  if (rounded < -kTwoTo127) return kInt128Min;
  return static_cast<__int128>(rounded);
}

std::expected<TimeDeltaTriple, std::string> split_timedelta(__int128 microseconds) {
  __int128 days = microseconds / kMicrosecondsPerDay;
  __int128 rest = microseconds % kMicrosecondsPerDay;
  if (rest < 0) {
    --days;
    rest += kMicrosecondsPerDay;
  }
  if (days < INT32_MIN || days > INT32_MAX) return std::unexpected(std::string(kOutOfRange));
  return TimeDeltaTriple{static_cast<int32_t>(days), static_cast<int32_t>(rest / 1'000'000),
                         static_cast<int32_t>(rest % 1'000'000)};
}

std::string duration_isoformat(int32_t days, int32_t seconds, int32_t microseconds) {
  const __int128 total =
      (static_cast<__int128>(int64_t{days} * 86'400 + seconds)) * 1'000'000 + microseconds;
  const auto magnitude = static_cast<unsigned __int128>(total < 0 ? -total : total);
  const auto whole_days = static_cast<uint64_t>(magnitude / 86'400'000'000u);
  const auto rest = static_cast<uint64_t>(magnitude % 86'400'000'000u);
  const uint64_t hours = rest / 3'600'000'000u;
  const uint64_t minutes = rest % 3'600'000'000u / 60'000'000u;
  const uint64_t whole_seconds = rest % 60'000'000u / 1'000'000u;
  const uint64_t fraction = rest % 1'000'000u;

  std::string out;
  if (total < 0) out += '-';
  out += 'P';
  if (whole_days > 0) {
    append_decimal(out, whole_days);
    out += 'D';
  }
  if (rest == 0) {
    if (whole_days == 0) out += "0D";
    return out;
  }
  out += 'T';
  if (hours > 0) {
    append_decimal(out, hours);
    out += 'H';
  }
  if (minutes > 0) {
    append_decimal(out, minutes);
    out += 'M';
  }
  if (whole_seconds > 0 || fraction > 0) {
    append_decimal(out, whole_seconds);
    if (fraction > 0) {
      std::array<char, 6> digits;
      uint64_t value = fraction;
      for (size_t i = digits.size(); i-- > 0;) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
      }
      size_t length = digits.size();
      while (digits[length - 1] == '0') --length;
      out += '.';
      out.append(digits.data(), length);
    }
    out += 'S';
  }
  return out;
}

}  // namespace tolvo::utils
