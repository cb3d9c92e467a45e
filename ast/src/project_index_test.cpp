#include "ast/src/project_index.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ast/src/file_sets_for_tests.h"

namespace tolvo::ast {
namespace {

constexpr char kSource[] =
    "from tolvo import online\n@online\ndef resolver(x): pass\ndef plain(): pass\n";

std::shared_ptr<MemoryFileSystem> files(std::set<std::string, std::less<>> faulty = {}) {
  return std::make_shared<MemoryFileSystem>(
      std::map<std::string, std::string, std::less<>>{{"/p/a.py", kSource},
                                                      {"/p/b.py", "def b(): pass\n"},
                                                      {"/p/bad.py", "def (:\n"},
                                                      {"/p/fault.py", kSource},
                                                      {"no/such/dir/a.py", kSource}},
      std::vector<std::string>{}, std::move(faulty));
}

AstProjectIndex index_over(std::vector<std::string> list, std::shared_ptr<MemoryFileSystem> fs) {
  return *AstProjectIndex::with_filesystem("/p", std::move(list), std::move(fs));
}

TEST(ProjectIndexTest, EachListedPathIsComputedOnceInListOrder) {
  auto fs = files();
  AstProjectIndex index = index_over({"/p/b.py", "/p/a.py", "/p/a.py", "/p/bad.py"}, fs);
  EXPECT_FALSE(index.function_ast("a", "missing").has_value());
  EXPECT_EQ(fs->reads(), 3) << "a path listed twice is served from its slot";
  auto found = index.function_ast("a", "plain");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->module, "a");
  EXPECT_EQ(index.get_parsed_ast_file("/p/bad.py").error().substr(0, 26),
            "Failed to parse /p/bad.py:");
  EXPECT_EQ(fs->reads(), 3);
}

TEST(ProjectIndexTest, ConcurrentRequestsForOnePathShareOneExtraction) {
  auto fs = files();
  AstProjectIndex index = index_over({}, fs);
  std::vector<const ParsedAstFile*> seen(12);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] { seen[t] = index.get_parsed_ast_file("/p/a.py")->get(); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(fs->reads(), 1);
  for (const ParsedAstFile* file : seen) EXPECT_EQ(file, seen[0]);
  EXPECT_EQ(seen[0]->functions.size(), 2u);
  EXPECT_EQ(seen[0]->resolvers.size(), 1u);
}

TEST(ProjectIndexTest, AFaultPoisonsThatSlotAndLeavesTheOtherFilesWorking) {
  auto fs = files({"/p/fault.py"});
  AstProjectIndex index = index_over({"/p/fault.py", "/p/a.py"}, fs);
  EXPECT_THROW(index.function_ast("a", "plain"), utils::InternalFault);
  EXPECT_EQ(index.get_parsed_ast_file("/p/fault.py").error(),
            "typed AST cache lock poisoned for /p/fault.py");
  EXPECT_TRUE(index.function_ast("a", "plain").has_value()) << "the poisoned file is skipped";
  EXPECT_FALSE(index.function_ast_in_file("/p/fault.py", "plain").has_value());
  EXPECT_EQ(fs->reads(), 2);
}

TEST(ProjectIndexTest, APathThatCannotBeMadeCanonicalYieldsNoRecords) {
  // The file set serves text for a relative path that does not exist on disk, so its URI
  // cannot be formed and nothing of it is located.
  AstProjectIndex index = index_over({}, files());
  auto relative = index.get_parsed_ast_file("no/such/dir/a.py");
  ASSERT_TRUE(relative.has_value()) << relative.error();
  EXPECT_TRUE((*relative)->functions.empty());
  EXPECT_TRUE((*relative)->resolvers.empty());
  EXPECT_TRUE((*relative)->feature_classes.empty());
  auto absolute = index.get_parsed_ast_file("/p/a.py");
  ASSERT_TRUE(absolute.has_value());
  ASSERT_EQ((*absolute)->functions.size(), 2u);
  EXPECT_EQ(*(*absolute)->functions[0].resolver_name_location.uri, "file:///p/a.py");
}

TEST(ProjectIndexTest, LookupsReturnIndependentCopies) {
  AstProjectIndex index = index_over({"/p/a.py"}, files());
  auto first = index.resolver_ast("a", "resolver");
  ASSERT_TRUE(first.has_value());
  first->args.clear();
  first->resolver_name = "changed";
  auto second = index.resolver_ast_in_file("/p/a.py", "resolver");
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->resolver_name, "resolver");
  EXPECT_EQ(second->args.size(), 1u);
  EXPECT_EQ(second->args_in_order, std::vector<std::string>{"x"});
}

}  // namespace
}  // namespace tolvo::ast
