#pragma once

// Small helpers shared by the isodate readers; not part of the module's interface.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tolvo::utils {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline bool is_ascii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The decimal value of `count` digits at `position`; the caller has checked they are digits.
inline uint32_t read_number(std::string_view text, size_t position, size_t count) {
  uint32_t value = 0;
  for (size_t i = position; i < position + count; ++i) {
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  return value;
}

inline int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

inline int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

}  // namespace tolvo::utils
