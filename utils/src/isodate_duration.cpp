#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "utils/src/isodate.h"
#include "utils/src/isodate_internal.h"

namespace tolvo::utils {

namespace {

constexpr std::string_view kOutOfRange = "Duration value is out of range";
constexpr __int128 kMicrosecondsPerDay = 86'400'000'000;
constexpr __int128 kInt128Max = static_cast<__int128>(~static_cast<unsigned __int128>(0) >> 1);

std::unexpected<std::string> unparsable(std::string_view text) {
  return std::unexpected("Unable to parse duration string " + quoted_form(text));
}

bool has_nonzero_digit(std::string_view number) {
  for (char c : number) {
    if (c >= '1' && c <= '9') return true;
  }
  return false;
}

// A sum of decimal numbers times integer factors, kept exactly: the whole part saturates at
// 2^127 - 1 and every fraction digit is kept, so that the one rounding at the end sees the true
// value.
class ExactMicroseconds {
 public:
  void add(std::string_view number, uint64_t factor) {
    const size_t point = number.find_first_of(".,");
    unsigned __int128 whole = 0;
    for (char c : number.substr(0, point)) {
      const auto digit = static_cast<unsigned>(c - '0');
      if (whole > (kMax - digit) / 10) {
        saturated_ = true;
        return;
      }
      whole = whole * 10 + digit;
    }
    if (whole != 0 && whole > kMax / factor) {
      saturated_ = true;
      return;
    }
    add_whole(whole * factor);
    if (point == std::string_view::npos) return;

    std::string_view fraction = number.substr(point + 1);
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    if (fraction.empty()) return;
    // Multiplies 0.fraction by the factor digit by digit: the carry out of the first digit is the
    // whole part and the digits left are the exact fractional rest.
    std::vector<uint8_t> rest(fraction.size());
    uint64_t carry = 0;
    for (size_t i = fraction.size(); i-- > 0;) {
      const uint64_t value = static_cast<uint64_t>(fraction[i] - '0') * factor + carry;
      rest[i] = static_cast<uint8_t>(value % 10);
      carry = value / 10;
    }
    add_whole(carry);
    if (rest.size() > fraction_.size()) fraction_.resize(rest.size(), 0);
    unsigned sum_carry = 0;
    for (size_t i = fraction_.size(); i-- > 0;) {
      const unsigned value = fraction_[i] + (i < rest.size() ? rest[i] : 0u) + sum_carry;
      fraction_[i] = static_cast<uint8_t>(value % 10);
      sum_carry = value / 10;
    }
    add_whole(sum_carry);
  }

  __int128 rounded_half_even() const {
    if (saturated_) return kInt128Max;
    unsigned __int128 result = whole_;
    if (!fraction_.empty() && fraction_[0] >= 5) {
      bool above_half = fraction_[0] > 5;
      for (size_t i = 1; i < fraction_.size() && !above_half; ++i) above_half = fraction_[i] != 0;
      if (above_half || result % 2 == 1) ++result;
    }
    return result > kMax ? kInt128Max : static_cast<__int128>(result);
  }

 private:
  static constexpr unsigned __int128 kMax = static_cast<unsigned __int128>(kInt128Max);

  void add_whole(unsigned __int128 value) {
    if (saturated_ || value > kMax - whole_) {
      saturated_ = true;
      return;
    }
    whole_ += value;
  }

  unsigned __int128 whole_ = 0;
  bool saturated_ = false;
  std::vector<uint8_t> fraction_;  // the digits after the decimal point
};

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
  // Double precision cannot hold every microsecond of long durations (P999999999D would come out
  // 8192 microseconds short), so the value is summed exactly; the double sum, in its fixed order,
  // only decides whether the text is too large to be a number at all.
  ExactMicroseconds exact;
  double sum = 0.0;
  auto term = [&](char designator, uint64_t factor) {
    auto number = parse_duration_number(text, position, designator);
    if (!number) return;
    position = number->next;
    sum += parse_f64_duration(number->number) * static_cast<double>(factor);
    exact.add(number->number, factor);
  };
  term('W', 604'800'000'000);
  term('D', 86'400'000'000);
  if (position < text.size() && text[position] == 'T') {
    ++position;
    term('H', 3'600'000'000);
    term('M', 60'000'000);
    term('S', 1'000'000);
  }
  if (position != text.size()) return unparsable(text);
  if (years_or_months) return YearsOrMonths{};
  if (auto rounded_sum = round_f64_half_even(sum); !rounded_sum) {
    return std::unexpected(std::move(rounded_sum.error()));
  }
  const __int128 rounded = exact.rounded_half_even();
  return Exact{negative ? -rounded : rounded};
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
  const double rest = value - floor;
  double rounded = floor;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1.0;
  constexpr double kTwoTo127 = 0x1p127;
  if (rounded >= kTwoTo127) return kInt128Max;
  if (rounded < -kTwoTo127) return -kInt128Max - 1;
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
