#include "utils/src/isodate.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <array>

#include "utils/src/isodate_internal.h"

namespace tolvo::utils {

namespace {

// Day number of 1 January of `year`, counted from 0001-01-01 = 0 (year 0 gives -366).
int64_t first_day_of_year(int64_t year) {
  const int64_t y = year - 1;
  return y * 365 + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

bool is_leap_year(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

// Converts a day number (0001-01-01 = 0) to a civil date, counting from 0000-03-01 in 400-year
// eras so that leap days fall at the end of each computed year.
std::optional<IsoDate> civil_from_day_number(int64_t day_number) {
  const int64_t z = day_number + 306;
  const int64_t era = floor_div(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  if (year < INT32_MIN || year > INT32_MAX) return std::nullopt;
  return IsoDate{static_cast<int32_t>(year), static_cast<uint8_t>(month),
                 static_cast<uint8_t>(day)};
}

bool digits_at(std::string_view text, size_t from, size_t to) {
  for (size_t i = from; i <= to; ++i) {
    if (!is_digit(text[i])) return false;
  }
  return true;
}

std::expected<IsoDate, std::string> from_optional(std::optional<IsoDate> date,
                                                  std::string_view text) {
  if (date) return *date;
  return std::unexpected(iso_error(text));
}

constexpr size_t kNoDay = std::string_view::npos;

// A calendar date from four year digits, two month digits and two day digits (or day 1).
IsoDate calendar(std::string_view text, size_t year_at, size_t month_at, size_t day_at) {
  const auto day = day_at == kNoDay ? 1 : read_number(text, day_at, 2);
  return IsoDate{static_cast<int32_t>(read_number(text, year_at, 4)),
                 static_cast<uint8_t>(read_number(text, month_at, 2)), static_cast<uint8_t>(day)};
}

std::expected<IsoDate, std::string> parse_date_of_length_7(std::string_view text) {
  const int32_t year = static_cast<int32_t>(read_number(text, 0, 4));
  if (digits_at(text, 0, 6)) {
    return from_optional(parse_ordinal_date(year, read_number(text, 4, 3)), text);
  }
  if (text[4] == 'W' && digits_at(text, 0, 3) && digits_at(text, 5, 6)) {
    return from_optional(parse_week_date(year, read_number(text, 5, 2), std::nullopt), text);
  }
  if (text[4] == '-' && digits_at(text, 0, 3) && digits_at(text, 5, 6)) {
    return calendar(text, 0, 5, kNoDay);
  }
  return std::unexpected(iso_error(text));
}

std::expected<IsoDate, std::string> parse_date_of_length_8(std::string_view text) {
  if (!is_digit(text[0])) return std::unexpected(iso_error(text));
  const int32_t year = static_cast<int32_t>(read_number(text, 0, 4));
  if (digits_at(text, 0, 7)) return calendar(text, 0, 4, 6);
  if (text[4] == '-') {
    if (digits_at(text, 1, 3) && digits_at(text, 5, 7)) {
      return from_optional(parse_ordinal_date(year, read_number(text, 5, 3)), text);
    }
    if (text[5] == 'W' && digits_at(text, 1, 3) && digits_at(text, 6, 7)) {
      return from_optional(parse_week_date(year, read_number(text, 6, 2), std::nullopt), text);
    }
    return std::unexpected(iso_error(text));
  }
  if (text[4] == 'W' && digits_at(text, 1, 3) && digits_at(text, 5, 7)) {
    return from_optional(parse_week_date(year, read_number(text, 5, 2), read_number(text, 7, 1)),
                         text);
  }
  return std::unexpected(iso_error(text));
}

std::expected<IsoDate, std::string> parse_date_of_length_10(std::string_view text) {
  if (text[4] != '-') return std::unexpected(iso_error(text));
  if (text[7] == '-' && digits_at(text, 0, 3) && digits_at(text, 5, 6) && digits_at(text, 8, 9)) {
    return calendar(text, 0, 5, 8);
  }
  if (text[5] == 'W' && text[8] == '-' && digits_at(text, 0, 3) && digits_at(text, 6, 7) &&
      digits_at(text, 9, 9)) {
    const int32_t year = static_cast<int32_t>(read_number(text, 0, 4));
    return from_optional(parse_week_date(year, read_number(text, 6, 2), read_number(text, 9, 1)),
                         text);
  }
  return std::unexpected(iso_error(text));
}

bool needs_unicode_escape(UChar32 c) {
  if (u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND)) return true;
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    case U_SPACE_SEPARATOR:
      return c != ' ';
    default:
      return false;
  }
}

void append_unicode_escape(std::string& out, UChar32 c) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::array<char, 8> digits{};
  size_t count = 0;
  auto value = static_cast<uint32_t>(c);
  do {
    digits[count++] = kHex[value & 0xF];
    value >>= 4;
  } while (value != 0);
  out += "\\u{";
  while (count > 0) out += digits[--count];
  out += '}';
}

}  // namespace

std::expected<IsoDate, std::string> parse_date(std::string_view text) {
  if (!is_ascii(text)) return std::unexpected(iso_error(text));
  switch (text.size()) {
    case 2:
      if (!digits_at(text, 0, 1)) break;
      return IsoDate{static_cast<int32_t>(read_number(text, 0, 2) * 100 + 1), 1, 1};
    case 4:
      if (!digits_at(text, 0, 3)) break;
      return IsoDate{static_cast<int32_t>(read_number(text, 0, 4)), 1, 1};
    case 6:
      if (!digits_at(text, 0, 5)) break;
      return calendar(text, 0, 4, kNoDay);
    case 7:
      return parse_date_of_length_7(text);
    case 8:
      return parse_date_of_length_8(text);
    case 10:
      return parse_date_of_length_10(text);
    default:
      break;
  }
  return std::unexpected(iso_error(text));
}

std::optional<IsoDate> parse_week_date(int32_t year, uint32_t week,
                                       std::optional<uint32_t> weekday) {
  const uint32_t day_of_week = weekday.value_or(1);
  if (week < 1 || week > 53 || day_of_week < 1 || day_of_week > 7) return std::nullopt;
  const int64_t january_first = first_day_of_year(year);
  const int64_t weekday_of_january_first = floor_mod(january_first, 7);
  const int64_t week_one_monday = weekday_of_january_first <= 3
                                      ? january_first - weekday_of_january_first
                                      : january_first - weekday_of_january_first + 7;
  return civil_from_day_number(week_one_monday + 7 * (int64_t{week} - 1) +
                               (int64_t{day_of_week} - 1));
}

std::optional<IsoDate> parse_ordinal_date(int32_t year, uint32_t day_of_year) {
  const uint32_t days_in_year = is_leap_year(year) ? 366 : 365;
  if (day_of_year < 1 || day_of_year > days_in_year) return std::nullopt;
  return civil_from_day_number(first_day_of_year(year) + int64_t{day_of_year} - 1);
}

std::string iso_error(std::string_view text, std::string_view kind) {
  std::string message = "Unrecognised ISO 8601 ";
  message += kind;
  message += " format: ";
  message += quoted_form(text);
  return message;
}

std::string quoted_form(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  // ICU's macros index with 32 bits, so texts beyond 2 GiB are walked in windows; a window ends
  // only between two characters, never inside one.
  constexpr size_t kWindow = size_t{1} << 30;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  size_t base = 0;
  while (base < text.size()) {
    const size_t remaining = text.size() - base;
    const bool last_window = remaining <= size_t{INT32_MAX};
    const auto limit = static_cast<int32_t>(last_window ? remaining : size_t{INT32_MAX});
    int32_t i = 0;
    while (i < limit && (last_window || static_cast<size_t>(i) < kWindow)) {
      const int32_t start = i;
      UChar32 c;
      U8_NEXT(bytes + base, i, limit, c);
      switch (c) {
        case 0:
          out += "\\0";
          continue;
        case '\t':
          out += "\\t";
          continue;
        case '\n':
          out += "\\n";
          continue;
        case '\r':
          out += "\\r";
          continue;
        case '\\':
          out += "\\\\";
          continue;
        case '"':
          out += "\\\"";
          continue;
        default:
          break;
      }
      if (c >= 0x20 && c < 0x7F) {
        out += static_cast<char>(c);
      } else if (c < 0) {
        out += "\xEF\xBF\xBD";
      } else if (needs_unicode_escape(c)) {
        append_unicode_escape(out, c);
      } else {
        out.append(text.data() + base + start, static_cast<size_t>(i - start));
      }
    }
    base += static_cast<size_t>(i);
  }
  out += '"';
  return out;
}

}  // namespace tolvo::utils
