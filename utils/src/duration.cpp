#include "utils/src/duration.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace tolvo::utils {
namespace {

constexpr std::string_view kDocumentationLink = "README.md#duration-strings";

struct ExactEntry {
  std::string_view text;
  int64_t ms;
};

// The texts callers pass most often, answered without running the reader.
constexpr ExactEntry kExact2[] = {{"0s", 0},           {"1s", 1'000},       {"1m", 60'000},
                                  {"5m", 300'000},     {"1h", 3'600'000},   {"2h", 7'200'000},
                                  {"1d", 86'400'000},  {"2d", 172'800'000}, {"3d", 259'200'000},
                                  {"5d", 432'000'000}, {"7d", 604'800'000}, {"1w", 604'800'000}};
constexpr ExactEntry kExact3[] = {{"all", kUnboundedDurationMs},
                                  {"50s", 50'000},
                                  {"10m", 600'000},
                                  {"15m", 900'000},
                                  {"20m", 1'200'000},
                                  {"30m", 1'800'000},
                                  {"12h", 43'200'000},
                                  {"24h", 86'400'000},
                                  {"48h", 172'800'000},
                                  {"10d", 864'000'000},
                                  {"14d", 1'209'600'000},
                                  {"30d", 2'592'000'000},
                                  {"45d", 3'888'000'000},
                                  {"60d", 5'184'000'000},
                                  {"90d", 7'776'000'000}};
constexpr ExactEntry kExact4[] = {
    {"200s", 200'000}, {"100d", 8'640'000'000}, {"365d", 31'536'000'000}};

template <size_t N>
std::optional<int64_t> find_exact(const ExactEntry (&table)[N], std::string_view text) {
  for (const ExactEntry& entry : table) {
    if (entry.text == text) return entry.ms;
  }
  return std::nullopt;
}

std::optional<int64_t> exact_match(std::string_view text) {
  switch (text.size()) {
    case 0:
      return 0;
    case 2:
      return find_exact(kExact2, text);
    case 3:
      return find_exact(kExact3, text);
    case 4:
      return find_exact(kExact4, text);
    case 8:
      if (text == "infinity") return kUnboundedDurationMs;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// Ill-formed UTF-8 decodes to a negative value, which is not white space.
bool is_white_space(UChar32 c) {
  if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
  return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

// The length in bytes of the white-space character that starts `text`, or 0 when it starts with
// anything else. Decodes at most four bytes, so texts of any length are fine for ICU's 32-bit
// indices.
size_t leading_white_space(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t window = static_cast<int32_t>(std::min<size_t>(text.size(), 4));
  int32_t length = 0;
  UChar32 c;
  U8_NEXT(bytes, length, window, c);
  return is_white_space(c) ? static_cast<size_t>(length) : 0;
}

// The same for the character that ends `text`.
size_t trailing_white_space(std::string_view text) {
  const size_t window = std::min<size_t>(text.size(), 4);
  const std::string_view tail = text.substr(text.size() - window);
  const auto* bytes = reinterpret_cast<const uint8_t*>(tail.data());
  int32_t start = static_cast<int32_t>(window);
  UChar32 c;
  U8_PREV(bytes, 0, start, c);
  return is_white_space(c) ? window - static_cast<size_t>(start) : 0;
}

// Removes characters with the Unicode White_Space property from both ends.
std::string_view trim_white_space(std::string_view text) {
  while (size_t length = text.empty() ? 0 : leading_white_space(text)) text.remove_prefix(length);
  while (size_t length = text.empty() ? 0 : trailing_white_space(text)) text.remove_suffix(length);
  return text;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

enum Unit : int { kWeeks, kDays, kHours, kMinutes, kSeconds, kMilliseconds };

constexpr std::array<int64_t, 6> kUnitMs = {604'800'000, 86'400'000, 3'600'000, 60'000, 1'000, 1};

// Reads the unit at text[pos] and returns it with its length in bytes.
std::optional<std::pair<Unit, size_t>> read_unit(std::string_view text, size_t pos) {
  switch (text[pos]) {
    case 'w':
      return std::pair{kWeeks, size_t{1}};
    case 'd':
      return std::pair{kDays, size_t{1}};
    case 'h':
      return std::pair{kHours, size_t{1}};
    case 's':
      return std::pair{kSeconds, size_t{1}};
    case 'm':
      if (pos + 1 < text.size() && text[pos + 1] == 's') return std::pair{kMilliseconds, size_t{2}};
      return std::pair{kMinutes, size_t{1}};
    default:
      return std::nullopt;
  }
}

}  // namespace

std::string make_error(std::string_view input, std::string_view component) {
  std::string message = "The duration '";
  message.reserve(input.size() + component.size() + 200);
  message += input;
  message += "' contained a component '";
  message += component;
  message +=
      "' that could not be parsed. Please use a valid duration, like '10m', '1h', or '1h30m'. "
      "Read more at ";
  message += kDocumentationLink;
  return message;
}

std::expected<int64_t, std::string> parse_duration_ms(std::string_view text) {
  if (auto ms = exact_match(text)) return *ms;
  auto fail = [text](std::string_view component) {
    return std::unexpected(make_error(text, component));
  };
  auto fail_rest = [text, &fail](size_t from) { return fail(trim_white_space(text.substr(from))); };
  if (trim_white_space(text).empty()) return fail(text);

  size_t pos = 0;
  const bool negative = text[0] == '-';
  if (negative) {
    pos = 1;
    if (pos == text.size()) return fail(text);
  }
  int64_t total = 0;
  unsigned used_units = 0;
  bool any_group = false;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos == text.size()) {
      if (any_group) break;
      return fail(text);
    }
    if (!is_digit(text[pos])) return fail_rest(pos);

    const size_t group_start = pos;
    int64_t number = 0;
    bool number_overflows = false;
    for (; pos < text.size() && is_digit(text[pos]); ++pos) {
      number_overflows = number_overflows || __builtin_mul_overflow(number, 10, &number) ||
                         __builtin_add_overflow(number, text[pos] - '0', &number);
    }
    if (number_overflows) return fail(text.substr(group_start, pos - group_start));
    if (pos == text.size()) return fail_rest(group_start);

    const auto unit = read_unit(text, pos);
    if (!unit) return fail_rest(group_start);
    const unsigned unit_bit = 1u << unit->first;
    if (used_units & unit_bit) return fail_rest(group_start);
    pos += unit->second;
    if (pos < text.size() && is_ascii_letter(text[pos])) return fail_rest(group_start);

    int64_t product;
    if (__builtin_mul_overflow(number, kUnitMs[unit->first], &product) ||
        __builtin_add_overflow(total, product, &total)) {
      return fail_rest(group_start);
    }
    used_units |= unit_bit;
    any_group = true;
  }
  return negative ? -total : total;
}

std::expected<int64_t, std::string> parse_duration_s(std::string_view text) {
  auto ms = parse_duration_ms(text);
  if (!ms) return std::unexpected(std::move(ms.error()));
  return *ms / 1000;
}

namespace {

// Truncates toward zero like a saturating cast: not-a-number gives 0, 2^64 and above the maximum.
uint64_t to_u64_saturating(double value) {
  if (!(value > 0)) return 0;
  if (value >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

void append_part(std::string& out, uint64_t value, std::string_view unit) {
  if (value == 0) return;
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
  out += unit;
}

}  // namespace

std::string seconds_to_duration_string(double seconds) {
  if (seconds >= static_cast<double>(kUnboundedDurationS)) return "infinity";
  const double magnitude = std::fabs(seconds);
  const uint64_t whole = to_u64_saturating(magnitude);
  // A double this large has no fraction; the difference to the saturated count is not one.
  const uint64_t millis = whole == std::numeric_limits<uint64_t>::max()
                              ? 0
                              : to_u64_saturating(std::round((magnitude - whole) * 1000.0));
  std::string out;
  if (seconds < 0) out += '-';
  append_part(out, whole / 86'400, "d");
  append_part(out, whole % 86'400 / 3'600, "h");
  append_part(out, whole % 3'600 / 60, "m");
  append_part(out, whole % 60, "s");
  append_part(out, millis, "ms");
  if (out == "-") out.clear();
  return out;
}

}  // namespace tolvo::utils
