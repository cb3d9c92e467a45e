#include "parser/src/line_index.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tolvo::parser {
namespace {

struct Case {
  const char* name;
  std::string_view source;
  uint32_t offset;
  LineColumn expected;
};

class LineColumnTest : public testing::TestWithParam<Case> {};

TEST_P(LineColumnTest, FindsLineAndColumn) {
  const Case& c = GetParam();
  LineIndex index = LineIndex::from_source_text(c.source);
  EXPECT_EQ(index.line_column(c.offset, c.source), c.expected);
}

// Byte offsets below are written out; "é" is two bytes, "😀" four, the mark three.
INSTANTIATE_TEST_SUITE_P(
    Cases, LineColumnTest,
    testing::Values(
        Case{"empty_text", "", 0, {1, 1}}, Case{"start", "abc", 0, {1, 1}},
        Case{"end_of_text", "abc", 3, {1, 4}}, Case{"past_end_reads_as_end", "ab\ncd", 99, {2, 3}},
        Case{"after_line_feed", "a\nb", 2, {2, 1}}, Case{"line_feed_itself", "a\nb", 1, {1, 2}},
        Case{"after_crlf", "a\r\nb", 3, {2, 1}}, Case{"between_cr_and_lf", "a\r\nb", 2, {1, 3}},
        Case{"after_lone_cr", "a\rb", 2, {2, 1}}, Case{"cr_at_end_ends_line", "a\r", 2, {2, 1}},
        Case{"cr_cr_lf", "a\r\r\nb", 4, {3, 1}}, Case{"empty_lines", "\n\n\nx", 3, {4, 1}},
        Case{"two_byte_char", "\xC3\xA9 = x", 5, {1, 5}},
        Case{"astral_char_is_one", "\xF0\x9F\x98\x80x", 4, {1, 2}},
        Case{"non_ascii_elsewhere_ascii_line", "\xC3\xA9\nabcdef", 7, {2, 5}},
        Case{"long_line_word_loop", "# \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 x", 13, {1, 9}},
        Case{"inside_multibyte_char", "\xC3\xA9x", 1, {1, 2}},
        Case{"bom_at_start", "\xEF\xBB\xBFx", 0, {1, 1}},
        Case{"bom_right_after_mark", "\xEF\xBB\xBFx", 3, {1, 1}},
        Case{"bom_after_name",
             "\xEF\xBB\xBF"
             "abc",
             6,
             {1, 4}},
        Case{"bom_second_line_unaffected", "\xEF\xBB\xBF\nab", 5, {2, 2}},
        Case{"mark_not_at_start_counts", "a\xEF\xBB\xBF", 4, {1, 3}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(LineIndexTest, CountsLines) {
  struct {
    std::string_view source;
    uint32_t lines;
  } cases[] = {{"", 1}, {"a", 1}, {"a\n", 2}, {"a\r\nb\rc\n", 4}, {"\r\r", 3}, {"\r\n\r\n", 3}};
  for (const auto& c : cases) {
    EXPECT_EQ(LineIndex::from_source_text(c.source).line_count(), c.lines) << c.source;
  }
}

// Every offset of a mixed text against a plain per-character walk.
TEST(LineIndexTest, AgreesWithCharacterWalkOnEveryOffset) {
  std::string source;
  const char* pieces[] = {"def f(x):\n",
                          "  \xC3\xA9 = '\xF0\x9F\x98\x80'\r\n",
                          "\r",
                          "\tpass\r\n",
                          "# \xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\n",
                          "z"};
  for (int i = 0; i < 20; ++i) source += pieces[i % 6];
  LineIndex index = LineIndex::from_source_text(source);
  uint32_t line = 1;
  uint32_t column = 1;
  for (uint32_t offset = 0; offset <= source.size(); ++offset) {
    if ((static_cast<unsigned char>(source[offset]) & 0xC0) == 0x80) continue;
    ASSERT_EQ(index.line_column(offset, source), (LineColumn{line, column})) << offset;
    if (offset == source.size()) break;
    char c = source[offset];
    bool ends_line = c == '\n' || (c == '\r' && source[offset + 1] != '\n');
    if (ends_line) {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  EXPECT_EQ(index.line_count(), line);
}

TEST(LineIndexTest, AHintedSearchAgreesWithTheBisectionInAnyOrder) {
  std::string source = "\xEF\xBB\xBF" "first\r\n\xC3\xA9\rx\n";
  for (int i = 0; i < 40; ++i) source += (i % 3 ? "line\n" : "\xF0\x9D\x94\x98\r\n");
  LineIndex index = LineIndex::from_source_text(source);
  // Forward in small and large strides, backward, and past the end.
  std::vector<uint32_t> offsets;
  for (uint32_t offset = 0; offset < source.size(); offset += 3) offsets.push_back(offset);
  for (int64_t offset = source.size() + 5; offset >= 0; offset -= 61) offsets.push_back(offset);
  offsets.push_back(0);
  offsets.push_back(static_cast<uint32_t>(source.size()));
  uint32_t hint = 0;
  for (uint32_t offset : offsets) {
    ASSERT_EQ(index.line_column(offset, source, &hint), index.line_column(offset, source))
        << offset;
    ASSERT_EQ(hint + 1, index.line_column(offset, source).line);
  }
  hint = 1000;  // a hint past the last line is read as the last line
  EXPECT_EQ(index.line_column(2, source, &hint), (LineColumn{1, 1}));
}

TEST(LineIndexTest, AnEmptyViewWithoutDataIsOneEmptyLine) {
  LineIndex index = LineIndex::from_source_text(std::string_view());
  EXPECT_EQ(index.line_count(), 1u);
  EXPECT_EQ(index.line_column(0, std::string_view()), (LineColumn{1, 1}));
}

}  // namespace
}  // namespace tolvo::parser
