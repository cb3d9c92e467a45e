// Duration strings: one or more groups of a whole number and a unit (w, d, h, m, s, ms), such as
// "10m", "1h30m" or "2d 12h", with an optional leading minus, and the words "all" and "infinity"
// for an unbounded duration.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace tolvo::utils {

// The unbounded duration ("all", "infinity"): 36,500 days.
inline constexpr int64_t kUnboundedDurationMs = 3'153'600'000'000;
inline constexpr int64_t kUnboundedDurationS = kUnboundedDurationMs / 1000;

// Reads a duration string into signed milliseconds, or returns the make_error message naming the
// component that failed. Each unit may appear once; groups may be in any order and separated by
// spaces. A number, product or total beyond the signed 64-bit range fails.
std::expected<int64_t, std::string> parse_duration_ms(std::string_view text);

// Like parse_duration_ms, in whole seconds truncated toward zero.
std::expected<int64_t, std::string> parse_duration_s(std::string_view text);

// Prints seconds as a duration string ("1h1m1s", "-1m30s500ms", "infinity" from 36,500 days up).
// Zero, magnitudes below half a millisecond and not-a-number give the empty text. Magnitudes of
// 2^64 seconds or more (negative ones, since positive ones are "infinity") are clamped to
// 2^64 - 1 whole seconds.
std::string seconds_to_duration_string(double seconds);

// The one error message of the reader: the whole input and the failing component, both plain.
std::string make_error(std::string_view input, std::string_view component);

}  // namespace tolvo::utils
