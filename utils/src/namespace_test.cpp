#include "utils/src/namespace.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>


namespace tolvo::utils {
namespace {

struct SnakeCase {
  std::string input;
  std::string expected;
};

TEST(ToSnakeCase, SplitsWordsAndLowercases) {
  const SnakeCase cases[] = {
      {"", ""},
      {"XMLParser", "xml_parser"},
      {"getXMLParserName", "get_xml_parser_name"},
      {"UserFeatures", "user_features"},
      {"fooBar", "foo_bar"},
      {"already_snake", "already_snake"},
      {"ABCDefGhi", "abc_def_ghi"},
      {"ABC", "abc"},
      {"Ab", "ab"},
      {"getX", "get_x"},
      {"A1B", "a1_b"},
      {"user2FA", "user2_fa"},
      {"Version2Beta", "version2_beta"},
      {"Foo_Bar", "foo_bar"},
      {"_Private", "_private"},
      {"A__B", "a_b"},
      {"Foo__Bar", "foo__bar"},
      {"Foo___Bar", "foo___bar"},
      {"a___B", "a__b"},
      {"\u00c0Bc", "\u00e0_bc"},
      {"a\u00c0", "a\u00e0"},
      {"x\nFoo", "x\nfoo"},
      {"\u00e9Foo", "\u00e9_foo"},
      {"\u03a3\u0391\u03a3", "\u03c3\u03b1\u03c2"},
      {"\u0130", "i\u0307"},
      {"I", "i"},
      {"\U0001F600Foo", "\U0001F600_foo"},
  };
  for (const SnakeCase& c : cases) EXPECT_EQ(to_snake_case(c.input), c.expected) << c.input;
}

TEST(ToSnakeCase, KeepsIllFormedUtf8) {
  // ICU passes ill-formed bytes through; the result is never shorter than the input.
  const std::string input = std::string("Ab\xff") + "Cd";
  const std::string result = to_snake_case(input);
  EXPECT_NE(result.find('\xff'), std::string::npos);
  EXPECT_EQ(result.substr(0, 2), "ab");
}

TEST(ToSnakeCase, ConvertsLongTexts) {
  std::string input;
  std::string expected;
  for (int i = 0; i < 100'000; ++i) {
    input += "FooBar";
    expected += i == 0 ? "foo_bar" : "_foo_bar";
  }
  EXPECT_EQ(to_snake_case(input), expected);
}

TEST(ToSnakeCase, FirstUseFromManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::vector<std::string> results(8);
  for (size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&results, i] { results[i] = to_snake_case("getXMLParserName"); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& result : results) EXPECT_EQ(result, "get_xml_parser_name");
}

TEST(FullLowercase, PiecesLowercaseAsTheWholeText) {
  const std::string texts[] = {
      "\u03a3\u0391\u03a3 \u03a3\u0391\u03a3",  // final sigma before a blank
      "\u0391\u03a3.\u0391 \u03a3",             // a case-ignorable point is no break
      "X\u03a3'\u03a3-\u0130\u0130:\u03a3 ",
      "\u00c0\u00c1 \u00c2_\u00c3\u03a3",
      // Texts without any ASCII break, sigmas among case-ignorable marks and cased ignorables.
      "\u00c0\u00c1\u00c2\u00c3\u00c4\u00c5\u00c6",
      "\u03a3\u03a3\u03a3\u03a3",
      "\u0391\u0301\u0301\u03a3\u0301\u0301\u0391\u03a3\u0301\u00ad",
      "\u0345\u03a3\u0345 \u0391\u0345\u03a3\u0345",
      "\U0001d400\u03a3\U0001f600\u03a3\U0001d400\u0130\u03a3",
      "\u03a3'\u0391'\u03a3",
  };
  for (const std::string& text : texts) {
    const std::string whole = internal::full_lowercase(text, text.size());
    for (size_t chunk = 1; chunk <= text.size(); ++chunk) {
      EXPECT_EQ(internal::full_lowercase(text, chunk), whole) << text << " in " << chunk;
    }
  }
  EXPECT_EQ(internal::full_lowercase("\u00c0\u00c1\u00c2", 4), "\u00e0\u00e1\u00e2");
}

TEST(FullLowercase, CutsIllFormedTextInLinearTime) {
  const std::string text = "\u00c0" + std::string(1'000'000, '\x80') + "\u03a3\xce";
  const std::string result = internal::full_lowercase(text, 1'000);
  EXPECT_EQ(result, "\u00e0" + std::string(1'000'000, '\x80') + "\u03c3\xce");
}

struct NamespacedCase {
  std::optional<std::string> namespace_path;
  std::optional<std::string> name;
  std::string expected;
};

TEST(BuildNamespacedName, JoinsConvertedSegmentsAndName) {
  const NamespacedCase cases[] = {
      {std::nullopt, std::nullopt, ""},
      {"", "", ""},
      {std::nullopt, "", ""},
      {"", std::nullopt, ""},
      {"MyApp::UserFeatures", "Total", "my_app::user_features::Total"},
      {"::Foo::::BarBaz::", std::nullopt, "foo::bar_baz"},
      {"::::", "X", "X"},
      {std::nullopt, "X", "X"},
      {"Foo", "", "foo"},
      {"a:::b", std::nullopt, "a:::b"},
      {"A:::B", "n", "a:::b::n"},
      {"Foo", "::Bar", "foo::::Bar"},
  };
  for (const NamespacedCase& c : cases) {
    std::optional<std::string_view> namespace_path;
    std::optional<std::string_view> name;
    if (c.namespace_path) namespace_path = *c.namespace_path;
    if (c.name) name = *c.name;
    EXPECT_EQ(build_namespaced_name(namespace_path, name), c.expected)
        << c.namespace_path.value_or("<none>") << " / " << c.name.value_or("<none>");
  }
}

}  // namespace
}  // namespace tolvo::utils
