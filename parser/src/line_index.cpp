#include "parser/src/line_index.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tolvo::parser {
namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

uint64_t load_word(const char* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

bool is_ascii(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  uint64_t high = 0;
  for (; end - p >= 8; p += 8) high |= load_word(p);
  for (; p < end; ++p) high |= static_cast<unsigned char>(*p);
  return (high & kHighBits) == 0;
}

// The number of UTF-8 continuation bytes (10xxxxxx) in `text`, eight bytes at a time.
uint32_t count_continuation_bytes(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  uint32_t count = 0;
  for (; end - p >= 8; p += 8) {
    uint64_t word = load_word(p);
    // Bit 7 set and bit 6 clear, both moved to the bit 7 position of each byte.
    count += std::popcount(word & (~word << 1) & kHighBits);
  }
  for (; p < end; ++p) count += (static_cast<unsigned char>(*p) & 0xC0) == 0x80;
  return count;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

LineIndex LineIndex::from_source_text(std::string_view source) {
  std::vector<uint32_t> starts;
  starts.reserve(source.size() / 32 + 1);
  starts.push_back(0);
  // An empty view may have no data at all, which memchr must not be given.
  if (source.empty()) return LineIndex(std::move(starts), true);
  const char* begin = source.data();
  const char* end = begin + source.size();
  if (std::memchr(begin, '\r', source.size()) == nullptr) {
    // The usual case: line feeds only, found by the library's vectorised search.
    for (const char* p = begin; p < end;) {
      const void* found = std::memchr(p, '\n', end - p);
      if (found == nullptr) break;
      p = static_cast<const char*>(found) + 1;
      starts.push_back(static_cast<uint32_t>(p - begin));
    }
  } else {
    for (const char* p = begin; p < end; ++p) {
      if (*p == '\n' || (*p == '\r' && (p + 1 == end || p[1] != '\n'))) {
        starts.push_back(static_cast<uint32_t>(p + 1 - begin));
      }
    }
  }
  return LineIndex(std::move(starts), is_ascii(source));
}

LineColumn LineIndex::line_column(uint32_t offset, std::string_view source) const {
  offset = std::min<uint64_t>(offset, source.size());
  // The last line start at or before the offset; the first start is 0, so there always is one.
  auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
  return column_on_line(offset, source, static_cast<uint32_t>(after - line_starts_.begin()) - 1);
}

LineColumn LineIndex::line_column(uint32_t offset, std::string_view source,
                                  uint32_t* line_hint) const {
  offset = std::min<uint64_t>(offset, source.size());
  uint32_t line = std::min<uint32_t>(*line_hint, line_count() - 1);
  if (line_starts_[line] > offset) {
    line = static_cast<uint32_t>(
        std::upper_bound(line_starts_.begin(), line_starts_.begin() + line, offset) -
        line_starts_.begin() - 1);
  } else {
    // A few lines forward are stepped over; farther ones are bisected.
    constexpr uint32_t kSteps = 8;
    uint32_t stepped = 0;
    while (line + 1 < line_count() && line_starts_[line + 1] <= offset && stepped < kSteps) {
      ++line;
      ++stepped;
    }
    if (stepped == kSteps) {
      line = static_cast<uint32_t>(
          std::upper_bound(line_starts_.begin() + line, line_starts_.end(), offset) -
          line_starts_.begin() - 1);
    }
  }
  *line_hint = line;
  return column_on_line(offset, source, line);
}

LineColumn LineIndex::column_on_line(uint32_t offset, std::string_view source,
                                     uint32_t line) const {
  uint32_t start = line_starts_[line];
  uint32_t characters = offset - start;
  if (!ascii_) characters -= count_continuation_bytes(source.substr(start, offset - start));
  if (line == 0 && source.starts_with(kByteOrderMark) && characters > 0) --characters;
  return LineColumn{line + 1, characters + 1};
}

}  // namespace tolvo::parser
