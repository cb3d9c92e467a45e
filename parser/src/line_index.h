#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tolvo::parser {

// A one-based line and a one-based column counted in Unicode scalar values from the line start.
struct LineColumn {
  uint32_t line;
  uint32_t column;

  bool operator==(const LineColumn&) const = default;
};

// The start offsets of the lines of one source text, for turning byte offsets into line and
// column. A line ends after a line feed, after a carriage return and line feed pair, and after a
// lone carriage return. The index does not keep the text: every lookup is given it again.
class LineIndex {
 public:
  // Builds the index of `source` in one pass. Offsets are u32, so `source` must be shorter than
  // 4 GiB.
  static LineIndex from_source_text(std::string_view source);

  // The line and column of byte `offset` of `source` (the text the index was built from). An
  // offset past the end is read as the end; an offset inside a multi-byte character counts only
  // the characters that start before it. On the first line a leading UTF-8 byte-order mark is not
  // counted, and the column never goes below one.
  LineColumn line_column(uint32_t offset, std::string_view source) const;

  // The same, with the search for the line starting at `*line_hint` (a 0-based line, which the
  // call updates): a caller that asks for offsets a few lines apart in order pays no bisection.
  LineColumn line_column(uint32_t offset, std::string_view source, uint32_t* line_hint) const;

  // The number of lines: one more than the number of line breaks.
  uint32_t line_count() const { return static_cast<uint32_t>(line_starts_.size()); }

 private:
  LineColumn column_on_line(uint32_t offset, std::string_view source, uint32_t line) const;

  LineIndex(std::vector<uint32_t> line_starts, bool ascii)
      : line_starts_(std::move(line_starts)), ascii_(ascii) {}

  std::vector<uint32_t> line_starts_;  // ascending; the first is 0
  bool ascii_;                         // the whole text is ASCII: columns are byte differences
};

}  // namespace tolvo::parser
