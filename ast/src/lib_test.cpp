#include "ast/src/lib.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ast/src/file_sets_for_tests.h"

namespace tolvo::ast {
namespace {

struct NamingCase {
  const char* path;
  const char* root;
  const char* expected;
};

TEST(ModuleNameTest, NamesPathsByComponents) {
  const NamingCase cases[] = {
      {"/proj/pkg/mod.py", "/proj", "pkg.mod"},
      {"/proj/pkg/__init__.py", "/proj", "pkg"},
      {"/proj/mod.py", "/proj", "mod"},
      {"/proj/a/b/c.py", "/proj", "a.b.c"},
      {"/proj/__init__.py", "/proj", "__init__"},
      {"/proj", "/proj", "proj"},
      {"/proj/", "/proj", "proj"},
      {"/proj/pkg/", "/proj", "pkg"},
      {"/proj//pkg/./mod.py", "/proj", "pkg.mod"},
      {"/proj/pkg/mod.pyi", "/proj", "pkg.mod.pyi"},
      {"/proj/pkg/data.txt", "/proj", "pkg.data.txt"},
      {"/proj/a.py/b.py", "/proj", "a.b"},
      {"/proj/pkg/.py", "/proj", "pkg."},
      {"/proj/pkg/__init__.py/mod.py", "/proj", "pkg.mod"},
      {"/proj/../x.py", "/proj", "x"},
      {"/other/x.py", "/proj", "x"},
      {"/other/archive.tar.py", "/proj", "archive.tar"},
      {"/other/.hidden", "/proj", ".hidden"},
      {"/proj/pkg/mod.py", "/proj/", "pkg.mod"},
      {"/proj/pkg/mod.py", "//proj/./", "pkg.mod"},
      {"/projx/mod.py", "/proj", "mod"},
      {"./pkg/mod.py", ".", "pkg.mod"},
      {"pkg/mod.py", "", "pkg.mod"},
      {"/x/a.py", "", "x.a"},
      {"proj/proj/a.py", "proj", "proj.a"},
      {"/home/u/proj/a.py", ".", "a"},
      // No normal last component: the whole text names it.
      {"/", "/proj", "/"},
      {"/other/..", "/proj", "/other/.."},
      {"", "/proj", ""},
      {"..", "", ".."},
  };
  for (const NamingCase& c : cases) {
    EXPECT_EQ(module_name_for_absolute_path(c.path, c.root), c.expected)
        << "path " << c.path << " root " << c.root;
  }
}

TEST(ModuleNameTest, AbsoluteFormJoinsRelativePathsOnly) {
  EXPECT_EQ(absolute_form("pkg/mod.py", "."), "./pkg/mod.py");
  EXPECT_EQ(absolute_form("pkg/mod.py", ""), "pkg/mod.py");
  EXPECT_EQ(absolute_form("pkg/mod.py", "/r/"), "/r/pkg/mod.py");
  EXPECT_EQ(absolute_form("/abs.py", "/r"), "/abs.py");
}

TEST(ModuleNamesTest, MemoMergesPathsEqualByComponents) {
  ModuleNames names({"a.py", "./a.py", "pkg/__init__.py"}, "/r");
  EXPECT_EQ(names.size(), 2u);
  EXPECT_EQ(names.name_for_path("a.py"), "a");
  EXPECT_EQ(names.name_for_path("./a.py"), "a");
  EXPECT_EQ(names.name_for_path("/r/a.py"), "a");
  EXPECT_EQ(names.name_for_path("/r//pkg/__init__.py/"), "pkg");
}

TEST(ModuleNamesTest, UnlistedPathIsComputedWithoutStoring) {
  ModuleNames names({"a.py"}, "/r");
  EXPECT_EQ(names.name_for_path("sub/b.py"), "sub.b");
  EXPECT_EQ(names.name_for_path("/elsewhere/c.py"), "c");
  EXPECT_EQ(names.size(), 1u);
}

TEST(ModuleNamesTest, EmptyListGivesEmptyMemo) {
  ModuleNames names({}, "/r");
  EXPECT_EQ(names.size(), 0u);
  EXPECT_EQ(names.name_for_path("x.py"), "x");
}

std::shared_ptr<MemoryFileSystem> memory_files(std::set<std::string, std::less<>> faulty = {}) {
  return std::make_shared<MemoryFileSystem>(
      std::map<std::string, std::string, std::less<>>{
          {"a.py", "from m import x\n"}, {"b.py", "y = 1\n"}, {"bad.py", "def f(:\n"}},
      std::vector<std::string>{"a.py", "b.py"}, std::move(faulty));
}

TEST(ParserCacheTest, EachPathTextIsReadOnceAndKeepsItsResult) {
  auto files = memory_files();
  auto cache = AstFileParserCache::with_filesystem("/r", files);
  auto first = cache.get_parsed_file("a.py");
  ASSERT_TRUE(first.has_value()) << first.error().message;
  EXPECT_EQ((*first)->path(), "a.py");
  EXPECT_EQ((*first)->source(), "from m import x\n");
  auto again = cache.get_parsed_file("a.py");
  EXPECT_EQ(again->get(), first->get()) << "a hit hands out the same record";
  EXPECT_EQ(files->reads(), 1);

  auto missing = cache.get_parsed_file("gone.py");
  EXPECT_EQ(missing.error().message, "Failed to read gone.py: No such file or directory (os error 2)");
  auto bad = cache.get_parsed_file("bad.py");
  ASSERT_FALSE(bad.has_value());
  EXPECT_TRUE(bad.error().message.starts_with("Failed to parse bad.py: ")) << bad.error().message;
  EXPECT_EQ(cache.get_parsed_file("gone.py").error().message, missing.error().message);
  EXPECT_EQ(cache.get_parsed_file("bad.py").error().message, bad.error().message);
  EXPECT_EQ(files->reads(), 3) << "failures are cached like records";
}

TEST(ParserCacheTest, ConcurrentFirstRequestsComputeOnce) {
  auto files = memory_files();
  auto cache = AstFileParserCache::with_filesystem("/r", files);
  std::vector<const ParsedFileCache*> seen(16);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back(
        [&, t] { seen[t] = cache.get_parsed_file(t % 2 ? "a.py" : "b.py")->get(); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(files->reads(), 2);
  for (size_t t = 2; t < seen.size(); ++t) EXPECT_EQ(seen[t], seen[t % 2]);
}

TEST(ParserCacheTest, AFaultPoisonsItsEntryOnlyAndReachesItsCaller) {
  auto files = memory_files({"b.py"});
  auto cache = AstFileParserCache::with_filesystem("/r", files);
  EXPECT_THROW(cache.get_parsed_file("b.py"), utils::InternalFault);
  EXPECT_EQ(cache.get_parsed_file("b.py").error().message, "AST parse cache lock poisoned for b.py");
  EXPECT_EQ(files->reads(), 1) << "a poisoned entry is never computed again";
  EXPECT_TRUE(cache.get_parsed_file("a.py").has_value());
}

TEST(ParserCacheTest, AFailedListingLeavesNamesToBeComputed) {
  auto files = memory_files();
  files->fail_listing();
  auto cache = AstFileParserCache::with_filesystem("/r", files);
  EXPECT_FALSE(cache.all_files().has_value());
  EXPECT_EQ(cache.module_name_for_path("pkg/__init__.py"), "pkg");
  EXPECT_TRUE(cache.get_parsed_file("a.py").has_value());
}

TEST(ParserCacheTest, OwnFileSetListsPythonPathsOnly) {
  AstFileParserCache cache("/r", {"b.py", "notes.txt", "a.py", "b.py"});
  EXPECT_EQ(*cache.all_files(), (std::vector<std::string>{"a.py", "b.py"}));
  EXPECT_EQ(cache.module_name_for_path("/r/a.py"), "a");
}

}  // namespace
}  // namespace tolvo::ast