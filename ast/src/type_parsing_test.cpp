#include "ast/src/type_parsing.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parser/src/parser.h"

namespace tolvo::ast {
namespace {

using Lines = std::vector<std::string_view>;
using Texts = std::vector<std::string>;

std::string printable(std::string_view text) { return testing::PrintToString(std::string(text)); }

// The whole Unicode White_Space set (narrow literals are UTF-8).
constexpr std::string_view kWhiteSpace[] = {
    "\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085", "\u00A0", "\u1680",
    "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006", "\u2007", "\u2008",
    "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
};

TEST(TrimWhiteSpaceTest, TrimsEveryWhiteSpaceCharacterAtBothEnds) {
  for (std::string_view space : kWhiteSpace) {
    std::string text = std::string(space) + "a" + std::string(space) + "b" + std::string(space);
    EXPECT_EQ(trim_white_space(text), std::string("a") + std::string(space) + "b")
        << printable(space);
    EXPECT_EQ(trim_white_space(std::string(space) + std::string(space)), "") << printable(space);
  }
}

// Every other code point stays, the ASCII separators U+001C to U+001F (white space to Python's
// str.isspace) and U+180E (White_Space before Unicode 6.3) among them.
TEST(TrimWhiteSpaceTest, AgreesWithIcuOnEveryCodePoint) {
  for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
    if (U_IS_SURROGATE(c)) continue;
    char bytes[U8_MAX_LENGTH];
    int32_t length = 0;
    U8_APPEND_UNSAFE(bytes, length, c);
    std::string character(bytes, length);
    std::string text = character + "x" + character;
    std::string_view expected = u_isUWhiteSpace(c) ? std::string_view("x") : std::string_view(text);
    ASSERT_EQ(trim_white_space(text), expected) << std::hex << c;
  }
}

struct CommentCase {
  Lines block;
  std::optional<std::string> comment;
  std::optional<std::string> description;
  std::optional<std::string> owner;
  Texts tags;
};

TEST(ParseFieldCommentMetadataTest, SplitsTheBlockIntoCommentDescriptionOwnerAndTags) {
  const CommentCase cases[] = {
      {{"Price of the item.", ":owner: pricing", ":tags: money, pii"},
       "Price of the item.\n:owner: pricing\n:tags: money, pii",
       "Price of the item.",
       "pricing",
       {"money", "pii"}},
      // One empty line: a comment, but no line at all for the rest.
      {{""}, "", std::nullopt, std::nullopt, {}},
      // The last empty line is no line; the first stays in the description.
      {{"", "text", ""}, "\ntext\n", "\ntext", std::nullopt, {}},
      {{"", ""}, "\n", std::nullopt, std::nullopt, {}},
      {{"a", "", "b"}, "a\n\nb", "a\n\nb", std::nullopt, {}},
      {{":owner:"}, ":owner:", std::nullopt, "", {}},
      {{":owner: a", ":owner:  b  "}, ":owner: a\n:owner:  b  ", std::nullopt, "b", {}},
      {{":OWNER: a"}, ":OWNER: a", ":OWNER: a", std::nullopt, {}},
      {{":owner a"}, ":owner a", ":owner a", std::nullopt, {}},
      {{":tags a"}, ":tags a", ":tags a", std::nullopt, {}},
      {{":tags:a,b  c", "x", ":tags: a"},
       ":tags:a,b  c\nx\n:tags: a",
       "x",
       std::nullopt,
       {"a", "b", "c", "a"}},
      // Only separators: no tags and no description line.
      {{":tags: , ,, "}, ":tags: , ,, ", std::nullopt, std::nullopt, {}},
      // Tags split at any White_Space character, not only ASCII ones.
      {{":tags: a\u3000b\u00A0,c\u200Bd"},
       ":tags: a\u3000b\u00A0,c\u200Bd",
       std::nullopt,
       std::nullopt,
       {"a", "b", "c\u200Bd"}},
      // A tag line is recognised after trimming; a description line keeps its own spaces.
      {{"  :owner: o", " desc "}, "  :owner: o\n desc ", " desc ", "o", {}},
      {{"\u2003:tags: t"}, "\u2003:tags: t", std::nullopt, std::nullopt, {"t"}},
      // Description lines that are only white space give no description.
      {{" ", ":owner: o", "\t"}, " \n:owner: o\n\t", std::nullopt, "o", {}},
      // Line breaks inside a line (never from a comment) are split like the joined text's.
      {{"a\r\nb", ":tags: t\r"}, "a\r\nb\n:tags: t\r", "a\nb", std::nullopt, {"t"}},
  };
  for (const CommentCase& c : cases) {
    FieldCommentMetadata metadata = parse_field_comment_metadata(c.block);
    std::string name = testing::PrintToString(Texts(c.block.begin(), c.block.end()));
    EXPECT_EQ(metadata.comment, c.comment) << name;
    EXPECT_EQ(metadata.description, c.description) << name;
    EXPECT_EQ(metadata.owner, c.owner) << name;
    EXPECT_EQ(metadata.tags, c.tags) << name;
  }
}

struct FieldNameCase {
  std::string_view statement;
  std::optional<std::string_view> name;
};

TEST(FeatureFieldNameTest, NamesOnlyAssignmentsToOnePlainName) {
  const FieldNameCase cases[] = {
      {"x = 1", "x"},
      {"x: int", "x"},
      {"x: int = f(a=1)", "x"},
      {"(x): int = 1", "x"},
      {"(x) = 1", "x"},
      {"\u00E9t\u00E9 = 1", "\u00E9t\u00E9"},
      {"\uFB01le = 1", "file"},  // the identifier text, NFKC-normalised
      {"x = y = 1", std::nullopt},
      {"x, y = 1, 2", std::nullopt},
      {"[x] = [1]", std::nullopt},
      {"self.x = 1", std::nullopt},
      {"self.x: int = 1", std::nullopt},
      {"x[0] = 1", std::nullopt},
      {"x[0]: int", std::nullopt},
      {"x += 1", std::nullopt},
      {"type X = int", std::nullopt},
      {"x", std::nullopt},
      {"def x(): pass", std::nullopt},
      {"if True: x = 1", std::nullopt},
  };
  for (const FieldNameCase& c : cases) {
    auto module = parser::parse_module(c.statement);
    ASSERT_TRUE(module) << c.statement;
    ASSERT_EQ(module->body().size(), 1u) << c.statement;
    EXPECT_EQ(feature_field_name(*module->body()[0]), c.name) << c.statement;
  }
}

}  // namespace
}  // namespace tolvo::ast
