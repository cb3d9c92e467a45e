#include "ast/src/project_index.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <new>
#include <thread>
#include <vector>

#include "ast/src/cpu_count.h"
#include "ast/src/file_sets_for_tests.h"
#include "ast/src/transient.h"
#include "ast/src/type_parsing.h"
#include "parser/src/small_stack_for_tests.h"

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
  EXPECT_EQ(index.get_parsed_ast_file("/p/bad.py").error().message.substr(0, 26),
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
  EXPECT_EQ(index.get_parsed_ast_file("/p/fault.py").error().message,
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
  ASSERT_TRUE(relative.has_value()) << relative.error().message;
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

TEST(WarmingTest, WorkIsDividedByListPosition) {
  EXPECT_EQ(warming_worker_count(3, 8), 3u);
  EXPECT_EQ(warming_worker_count(10, 4), 4u);
  EXPECT_EQ(warming_worker_count(10, 1), 1u);
  EXPECT_EQ(warming_worker_count(1, 0), 1u);
  using Positions = std::vector<size_t>;
  EXPECT_EQ(warming_positions(10, 4, 0), (Positions{0, 4, 8}));
  EXPECT_EQ(warming_positions(10, 4, 1), (Positions{1, 5, 9}));
  EXPECT_EQ(warming_positions(10, 4, 2), (Positions{2, 6}));
  EXPECT_EQ(warming_positions(10, 4, 3), (Positions{3, 7}));
  EXPECT_EQ(warming_positions(3, 3, 2), (Positions{2}));
  EXPECT_EQ(warming_positions(4, 1, 0), (Positions{0, 1, 2, 3}));
}

// Polls `done` for up to a minute.
template <typename Done>
bool eventually(Done done) {
  for (int i = 0; i < 6000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(WarmingTest, AWorkerFaultEndsThatWorkerAndPoisonsItsFile) {
  auto fs = files({"/p/fault.py"});
  AstProjectIndex index = index_over({"/p/fault.py", "/p/b.py", "/p/a.py"}, fs);
  index.nonblocking_start_index();
  // Once the worker has started reading it, it holds the file's slot until its fault unwinds, so
  // a request from here waits for it and then finds the slot poisoned.
  ASSERT_TRUE(eventually([&] { return fs->reads("/p/fault.py") == 1; }));
  EXPECT_EQ(index.get_parsed_ast_file("/p/fault.py").error().message,
            "typed AST cache lock poisoned for /p/fault.py");
  // What the faulted worker left undone is computed by the lookups, once.
  EXPECT_TRUE(index.function_ast("a", "plain").has_value());
  EXPECT_TRUE(index.function_ast("b", "b").has_value());
  index.nonblocking_start_index();  // starts nothing more
  EXPECT_TRUE(eventually([&] { return fs->reads() == 3; }));
  EXPECT_EQ(fs->reads("/p/a.py"), 1);
  EXPECT_EQ(fs->reads("/p/b.py"), 1);
}

TEST(WarmingTest, LookupThreadsAndWorkersReadEveryStandardLibraryFileOnce) {
  std::vector<std::string> paths = standard_library_files();
  if (paths.empty()) GTEST_SKIP() << "TOLVO_STDLIB is not set";
  auto fs = std::make_shared<CountingFileSystem>();
  AstProjectIndex index =
      *AstProjectIndex::with_filesystem(std::string(std::getenv("TOLVO_STDLIB")), paths, fs);
  index.nonblocking_start_index();
  std::vector<std::thread> lookups;
  for (size_t t = 0; t < 4; ++t) {
    lookups.emplace_back([&, t] {
      // Half of them scan the list from its start, the others ask for files from its end.
      if (t % 2 == 0) {
        EXPECT_FALSE(index.function_ast("no.such.module", "f").has_value());
      } else {
        for (size_t i = paths.size(); i-- > 0;) (void)index.function_ast_in_file(paths[i], "f");
      }
    });
  }
  for (std::thread& thread : lookups) thread.join();
  std::map<std::string, int> reads = fs->reads();
  EXPECT_EQ(reads.size(), paths.size());
  for (const auto& [path, count] : reads) EXPECT_EQ(count, 1) << path;
}

TEST(ProjectIndexTest, FailuresOfTheMomentAreNotKept) {
  auto fs = files();
  std::atomic<int> failures{2};
  fs->before_read([&](std::string_view) -> std::optional<IoError> {
    int left = failures.fetch_sub(1);
    if (left == 2) return os_error(EMFILE);
    if (left == 1) throw std::bad_alloc();
    return std::nullopt;
  });
  AstProjectIndex index = index_over({"/p/a.py"}, fs);
  EXPECT_FALSE(index.function_ast("a", "plain").has_value()) << "skipped like any read failure";
  EXPECT_THROW(index.function_ast_in_file("/p/a.py", "plain"), std::bad_alloc);
  EXPECT_TRUE(index.function_ast("a", "plain").has_value()) << "and read again";
  EXPECT_EQ(fs->reads(), 3);
}

TEST(ProjectIndexTest, ASmallThreadStackRefusesWhatALargerOneComputes) {
  std::string deep;
  for (int depth = 0; depth < 99; ++depth) deep += std::string(depth, ' ') + "def f():\n";
  deep += std::string(99, ' ') + "pass\n";
  auto fs = std::make_shared<MemoryFileSystem>(
      std::map<std::string, std::string, std::less<>>{{"/p/deep.py", deep}});
  AstProjectIndex index = index_over({"/p/deep.py"}, fs);
  // As on a Python thread of 64 KiB: the parse is refused and nothing is kept.
  parser::test_support::with_stack_left(24 << 10, [&] {
    EXPECT_THROW(index.function_ast("deep", "f"), ThreadStackExhausted);
  });
  // Parsed on a large stack but extracted with little left: the statement walk refuses alike.
  ASSERT_TRUE(index.get_parsed_ast_file("/p/deep.py").has_value());
  auto parsed = AstFileParserCache::with_filesystem("/p", fs).get_parsed_file("/p/deep.py");
  ASSERT_TRUE(parsed.has_value());
  parser::test_support::with_stack_left(2048, [&] {
    EXPECT_THROW(parse_ast_file_with_feature_module(**parsed, "deep"), ThreadStackExhausted);
  });
  EXPECT_EQ(parse_ast_file_with_feature_module(**parsed, "deep").functions.size(), 99u);
  ASSERT_TRUE(index.function_ast("deep", "f").has_value());
}

TEST(WarmingTest, AWorkerThatRunsOutOfMemoryLeavesItsFileForALaterRequest) {
  auto fs = files();
  // Shared with the hook, which the worker may still be running when the test ends.
  auto first = std::make_shared<std::atomic<bool>>(true);
  fs->before_read([first](std::string_view path) -> std::optional<IoError> {
    if (path == "/p/a.py" && first->exchange(false)) throw std::bad_alloc();
    return std::nullopt;
  });
  AstProjectIndex index = index_over({"/p/a.py"}, fs);
  index.nonblocking_start_index();
  ASSERT_TRUE(eventually([&] { return fs->reads() == 1; }));
  EXPECT_TRUE(index.function_ast("a", "plain").has_value());
  EXPECT_EQ(fs->reads(), 2);
}

TEST(WarmingTest, StoppedWorkersEndAfterTheFileTheyAreComputing) {
  auto fs = files();
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  fs->before_read([released](std::string_view) -> std::optional<IoError> {
    released.wait();
    return std::nullopt;
  });
  std::vector<std::string> list(40, "/p/b.py");
  for (size_t i = 0; i < list.size(); ++i) list[i] = "/p/b" + std::to_string(i) + ".py";
  AstProjectIndex index = index_over(list, fs);
  size_t workers = warming_worker_count(list.size(), available_cpu_count());
  index.nonblocking_start_index();
  ASSERT_TRUE(eventually([&] { return fs->reads() == static_cast<int>(workers); }));
  index.stop_warming();
  release.set_value();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(fs->reads(), static_cast<int>(workers)) << "no worker took another file";
}

}  // namespace
}  // namespace tolvo::ast
