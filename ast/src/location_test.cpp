#include "ast/src/location.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace tolvo::ast {
namespace {

// Byte offsets below are written out; "é" is two bytes, "😀" four, the byte-order mark three.
TEST(SourceContextTest, PositionsAreZeroBased) {
  struct {
    std::string_view source;
    uint32_t offset;
    Position expected;
  } cases[] = {
      {"", 0, {0, 0}},
      {"abc", 3, {0, 3}},
      {"a\nb", 2, {1, 0}},
      {"a\r\nb", 3, {1, 0}},
      {"a\r\nb", 2, {0, 2}},  // the LF still belongs to the first line
      {"a\rb", 2, {1, 0}},
      {"a\r\r\nb", 4, {2, 0}},
      {"\xC3\xA9 = x", 5, {0, 4}},
      {"\xF0\x9F\x98\x80x", 4, {0, 1}},
      {"a\n\xF0\x9F\x98\x80 = x", 9, {1, 4}},
      {"\xEF\xBB\xBFx = 1", 0, {0, 0}},
      {"\xEF\xBB\xBFx = 1", 3, {0, 0}},
      {"\xEF\xBB\xBFx = 1", 4, {0, 1}},
      {"\xEF\xBB\xBF\nx", 5, {1, 1}},
      {"ab\ncd", 99, {1, 2}},
  };
  for (const auto& c : cases) {
    SourceContext context(c.source);
    EXPECT_EQ(context.position(c.offset), c.expected)
        << testing::PrintToString(std::string(c.source)) << " at " << c.offset;
  }
}

TEST(SourceContextTest, RangeConvertsBothEnds) {
  std::string source = "x = 1\n\xC3\xA9t\xC3\xA9 = f(y)\n";
  SourceContext context(source);
  EXPECT_EQ(context.source(), source);
  EXPECT_EQ(context.range(parser::TextRange{4, 13}), (Range{{0, 4}, {1, 5}}));

  parser::Expr call{};
  call.range = parser::TextRange{14, 18};  // "f(y)"
  EXPECT_EQ(expr_to_range(call, context), (Range{{1, 6}, {1, 10}}));
}

TEST(LocationTest, ComparesUriTextNotIdentity) {
  Range range{{1, 2}, {3, 4}};
  Location a{std::make_shared<const std::string>("file:///a.py"), range};
  Location same_text{std::make_shared<const std::string>("file:///a.py"), range};
  Location other_file{std::make_shared<const std::string>("file:///b.py"), range};
  Location other_range{a.uri, Range{{1, 2}, {3, 5}}};
  EXPECT_EQ(a, same_text);
  EXPECT_NE(a, other_file);
  EXPECT_NE(a, other_range);
  EXPECT_NE(a, (Location{nullptr, range}));
  EXPECT_EQ((Location{nullptr, range}), (Location{nullptr, range}));
}

std::optional<std::string> uri_text(std::string_view path) {
  std::optional<Uri> uri = file_uri(path);
  if (!uri) return std::nullopt;
  return **uri;
}

TEST(FileUriTest, AbsolutePaths) {
  struct {
    std::string_view path;
    std::optional<std::string> expected;
  } cases[] = {
      {"/tmp/a.py", "file:///tmp/a.py"},
      {"/", "file:///"},
      {"/tmp/my project/a.py", "file:///tmp/my%20project/a.py"},
      // Taken as written: no normalisation.
      {"/tmp/a/../b.py", "file:///tmp/a/../b.py"},
      {"/tmp//./b.py", "file:///tmp//./b.py"},
      {"//server/share.py", "file:////server/share.py"},
      {"/tmp/a\\b.py", "file:///tmp/a/b.py"},
      {"/tmp/a!$&'()*+,;=:@-._~b.py", "file:///tmp/a!$&'()*+,;=:@-._~b.py"},
      // Percent signs are not escaped: a valid escape is kept, any other "%" is refused.
      {"/tmp/%41.py", "file:///tmp/%41.py"},
      {"/tmp/%4a%4F.py", "file:///tmp/%4a%4F.py"},
      {"/tmp/50%.py", std::nullopt},
      {"/tmp/a%4", std::nullopt},
      {"/tmp/a%4g.py", std::nullopt},
      {"/tmp/a%", std::nullopt},
      // "?" and "#" begin a query and a fragment, which must themselves be valid.
      {"/tmp/a#b.py", "file:///tmp/a#b.py"},
      {"/tmp/a?b.py", "file:///tmp/a?b.py"},
      {"/tmp/a?b?c/d#e?f/g.py", "file:///tmp/a?b?c/d#e?f/g.py"},
      {"/tmp/a#b#c.py", std::nullopt},
      {"/tmp/a?b|c.py", std::nullopt},
      {"/tmp/a#b%zz", std::nullopt},
      // Non-ASCII text, valid or not, and control characters.
      {"/tmp/\xC3\xA4.py", std::nullopt},
      {"/tmp/\xEF\xBF\xBD.py", std::nullopt},
      {"/tmp/\xFF.py", std::nullopt},
      {"/tmp/\xC3.py", std::nullopt},
      {"/tmp/a\tb.py", std::nullopt},
      {"/tmp/a\nb.py", std::nullopt},
      {"/tmp/a\x7F.py", std::nullopt},
      {std::string_view("/tmp/a\0b.py", 11), std::nullopt},
      // Allowed nowhere in a URI path.
      {"/tmp/a\"b.py", std::nullopt},
      {"/tmp/a<b>.py", std::nullopt},
      {"/tmp/a[0].py", std::nullopt},
      {"/tmp/a^b.py", std::nullopt},
      {"/tmp/a`b.py", std::nullopt},
      {"/tmp/a{b}.py", std::nullopt},
      {"/tmp/a|b.py", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(uri_text(c.path), c.expected) << testing::PrintToString(std::string(c.path));
  }
}

bool in(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

// RFC 3986 section 3.3: pchar = unreserved / pct-encoded / sub-delims / ":" / "@".
bool is_pchar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         in(c, "-._~") || in(c, "!$&'()*+,;=") || in(c, ":@");
}

// Holds the URI parse to the grammar for every ASCII character in each part of the URI, so a laxer
// (or stricter) uriparser shows up here.
TEST(FileUriTest, EveryAsciiCharacterFollowsRfc3986) {
  for (int byte = 1; byte < 0x80; ++byte) {
    char c = static_cast<char>(byte);
    // These are rewritten or escaped before the parse, or are covered with their own cases.
    if (in(c, "\\ %")) continue;
    std::string in_path = std::string("/a") + c + "b";
    std::string in_query = std::string("/a?x") + c + "y";
    std::string in_fragment = std::string("/a#x") + c + "y";
    bool path_ok = is_pchar(c) || in(c, "/?#");
    bool query_ok = is_pchar(c) || in(c, "/?#");  // "#" ends the query and begins a fragment
    bool fragment_ok = is_pchar(c) || in(c, "/?");
    EXPECT_EQ(uri_text(in_path).has_value(), path_ok) << "byte " << byte << " in the path";
    EXPECT_EQ(uri_text(in_query).has_value(), query_ok) << "byte " << byte << " in the query";
    EXPECT_EQ(uri_text(in_fragment).has_value(), fragment_ok) << "byte " << byte << " in fragment";
    if (path_ok) {
      EXPECT_EQ(uri_text(in_path), "file://" + in_path);
    }
  }
}

// Relative paths are resolved against the working directory of the moment, so each case runs
// inside a scratch directory with a file, a symbolic link and a subdirectory.
class RelativeFileUriTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                    ("tolvo_location_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch / "sub");
    // The temporary directory may itself sit behind a symbolic link.
    dir_ = std::filesystem::canonical(scratch).string();
    for (const char* name : {"a.py", "my file.py", "back\\slash.py", "sub/b.py"}) {
      std::ofstream(dir_ + "/" + name) << "x = 1\n";
    }
    std::filesystem::create_symlink("sub/b.py", dir_ + "/link.py");
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }

  std::filesystem::path previous_;
  std::string dir_;
};

TEST_F(RelativeFileUriTest, ResolvesAgainstWorkingDirectory) {
  std::string base = "file://" + dir_;
  struct {
    std::string_view path;
    std::optional<std::string> expected;
  } cases[] = {
      {"a.py", base + "/a.py"},
      {"./sub/../a.py", base + "/a.py"},
      {"sub//b.py", base + "/sub/b.py"},
      {"link.py", base + "/sub/b.py"},
      {"sub", base + "/sub"},
      {"my file.py", base + "/my%20file.py"},
      {"back\\slash.py", base + "/back/slash.py"},
      {"missing.py", std::nullopt},
      {"nowhere/../a.py", std::nullopt},
      {"", std::nullopt},
      // Only "a.py" would be resolved if the text were handed to the C call as it is.
      {std::string_view("a.py\0/x", 7), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(uri_text(c.path), c.expected) << testing::PrintToString(std::string(c.path));
  }
}

TEST_F(RelativeFileUriTest, FollowsTheWorkingDirectoryOfTheCall) {
  std::filesystem::current_path(dir_ + "/sub");
  EXPECT_EQ(uri_text("b.py"), "file://" + dir_ + "/sub/b.py");
  EXPECT_EQ(uri_text("a.py"), std::nullopt);
}

}  // namespace
}  // namespace tolvo::ast
