// The stack floor of a thread whose bounds cannot be read: the main thread out of descriptors, in
// the middle of a process that goes on afterwards.
#include "parser/src/thread_stack.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "parser/src/parser.h"
#include "parser/src/small_stack_for_tests.h"

namespace tolvo::parser {
namespace {

// Sets the soft limit of `resource` for the scope's life.
class SoftLimit {
 public:
  SoftLimit(int resource, rlim_t soft) : resource_(resource) {
    getrlimit(resource_, &original_);
    rlimit changed = original_;
    changed.rlim_cur = soft;
    set_ = setrlimit(resource_, &changed) == 0;
  }
  ~SoftLimit() { setrlimit(resource_, &original_); }
  SoftLimit(const SoftLimit&) = delete;
  SoftLimit& operator=(const SoftLimit&) = delete;

  bool set() const { return set_; }

 private:
  int resource_;
  rlimit original_;
  bool set_ = false;
};

// Takes every descriptor the process may open for the scope's life, under a lowered limit.
class NoFreeDescriptors {
 public:
  NoFreeDescriptors() : limit_(RLIMIT_NOFILE, 64) {
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) held_.push_back(fd);
  }
  ~NoFreeDescriptors() {
    for (int fd : held_) ::close(fd);
  }
  NoFreeDescriptors(const NoFreeDescriptors&) = delete;
  NoFreeDescriptors& operator=(const NoFreeDescriptors&) = delete;

 private:
  SoftLimit limit_;
  std::vector<int> held_;
};

// The calling thread's bounds are forgotten on the way in and out, so that neither this test nor
// the next one sees a floor read under the conditions made here.
class ForgottenStackFloor {
 public:
  ForgottenStackFloor() { forget_stack_floor(); }
  ~ForgottenStackFloor() { forget_stack_floor(); }
  ForgottenStackFloor(const ForgottenStackFloor&) = delete;
  ForgottenStackFloor& operator=(const ForgottenStackFloor&) = delete;
};

std::string nested_definitions(size_t depth) {
  std::string source;
  for (size_t i = 0; i < depth; ++i) source += std::string(i, ' ') + "def f():\n";
  return source + std::string(depth, ' ') + "pass\n";
}

std::string nested_brackets(size_t depth) {
  return "x = " + std::string(depth, '(') + "1" + std::string(depth, ')') + "\n";
}

// A refusal of the thread's stack, not of the text.
bool refused_for_the_stack(const std::string& source) {
  auto result = parse_module(source);
  return !result.has_value() && result.error().thread_stack_exhausted;
}

// gtest runs its cases on the process's main thread, whose bounds pthread_getattr_np reads from
// /proc/self/maps.
TEST(ThreadStackTest, TheMainThreadsFloorComesFromItsLimitWithoutADescriptor) {
  uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  uintptr_t read = stack_floor();
  ASSERT_GT(read, 0u);
  ASSERT_LT(read, here);
  rlimit stack;
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &stack), 0);
  rlim_t smaller = std::min<rlim_t>(stack.rlim_cur / 2, 1 << 20);
  uintptr_t without_descriptors;
  {
    ForgottenStackFloor forgotten;
    SoftLimit limit(RLIMIT_STACK, smaller);
    ASSERT_TRUE(limit.set());
    NoFreeDescriptors none;
    without_descriptors = stack_floor();
    EXPECT_EQ(stack_floor(), without_descriptors);
    EXPECT_TRUE(parse_module(nested_definitions(20)).has_value());
  }
  EXPECT_GT(without_descriptors, read) << "the smaller limit gives a higher floor";
  EXPECT_LT(without_descriptors, here);
  EXPECT_LE(here - without_descriptors, smaller);
  EXPECT_EQ(stack_floor(), read) << "the floor of the moment was not kept";
}

// The kernel grows the main thread's stack only as far as the limit of the moment: a floor read
// under a larger one would let deep nesting run off the stack.
TEST(ThreadStackTest, TheMainThreadsFloorFollowsAChangedStackLimit) {
  uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  uintptr_t read = stack_floor();
  // The deepest brackets that fit the limit read first (sanitizers' builds have lower fixed
  // limits).
  size_t depth = 190;
  while (depth > 100 && !parse_module(nested_brackets(depth)).has_value()) depth -= 10;
  ASSERT_TRUE(parse_module(nested_brackets(depth)).has_value());
  rlimit stack;
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &stack), 0);
  rlim_t smaller = std::min<rlim_t>(stack.rlim_cur / 2, 256 << 10);
  {
    SoftLimit limit(RLIMIT_STACK, smaller);
    ASSERT_TRUE(limit.set());
    uintptr_t lowered = stack_floor();
    EXPECT_GT(lowered, read);
    EXPECT_LT(lowered, here);
    EXPECT_LE(here - lowered, smaller);
    EXPECT_TRUE(refused_for_the_stack(nested_brackets(depth)));
    EXPECT_TRUE(parse_module(nested_definitions(20)).has_value());
  }
  EXPECT_EQ(stack_floor(), read) << "the limit given back is seen too";
  EXPECT_TRUE(parse_module(nested_brackets(depth)).has_value());
}

TEST(ThreadStackTest, WhileTheBoundsAreUnknownOnlyOrdinaryNestingParses) {
  rlimit stack;
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &stack), 0);
  if (stack.rlim_max != RLIM_INFINITY) GTEST_SKIP() << "the stack's hard limit is not unlimited";
  uintptr_t read = stack_floor();
  {
    ForgottenStackFloor forgotten;
    // An unlimited stack leaves nothing to compute the main thread's floor from.
    SoftLimit limit(RLIMIT_STACK, RLIM_INFINITY);
    ASSERT_TRUE(limit.set());
    NoFreeDescriptors none;
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    uintptr_t floor = stack_floor();
    EXPECT_LT(floor, here);
    EXPECT_GT(floor, read) << "a room below the caller, far less than the stack has";
    EXPECT_TRUE(refused_for_the_stack(nested_brackets(190)));
    EXPECT_TRUE(parse_module(nested_definitions(20)).has_value());
  }
  EXPECT_EQ(stack_floor(), read);
}

TEST(ThreadStackTest, AnotherThreadsFloorLiesInItsOwnStack) {
  test_support::on_small_stack([] {
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    uintptr_t floor = stack_floor();
    EXPECT_LT(floor, here);
    EXPECT_GT(floor + test_support::kWorkerStack, here);
  });
}

}  // namespace
}  // namespace tolvo::parser
