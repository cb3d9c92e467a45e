#include "ast/src/detached_thread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace tolvo::ast {
namespace {

// A countdown that a test can wait on with a deadline, so a body that never runs fails the test
// rather than hanging it. The threads share it: a detached thread may still be finishing its
// count_down after the test has stopped waiting.
class Countdown {
 public:
  explicit Countdown(int count) : count_(count) {}

  void count_down() {
    std::lock_guard lock(mutex_);
    if (--count_ == 0) done_.notify_all();
  }

  // True when the count reached zero before the deadline.
  bool wait() {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, std::chrono::seconds(60), [&] { return count_ <= 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  int count_;
};

// A token that counts down when its last holder lets go of it: captured by a body, that is when the
// thread destroys the body, which it does only after the body has returned or its exception has
// been caught.
std::shared_ptr<void> counts_down_when_released(std::shared_ptr<Countdown> countdown) {
  return std::shared_ptr<void>(nullptr, [countdown](void*) { countdown->count_down(); });
}

TEST(SpawnDetachedThreadTest, RunsEveryBody) {
  constexpr int kThreads = 16;
  auto countdown = std::make_shared<Countdown>(kThreads);
  auto runs = std::make_shared<std::atomic<int>>(0);
  for (int i = 0; i < kThreads; ++i) {
    auto spawned = spawn_detached_thread([countdown, runs] {
      runs->fetch_add(1);
      countdown->count_down();
    });
    ASSERT_TRUE(spawned.has_value()) << spawned.error();
  }
  ASSERT_TRUE(countdown->wait());
  EXPECT_EQ(runs->load(), kThreads);
}

// Sets the process's default thread stack for the scope's life, and puts the previous one back.
class DefaultThreadStack {
 public:
  explicit DefaultThreadStack(size_t bytes) {
    pthread_attr_t attributes;
    pthread_getattr_default_np(&previous_);
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, bytes);
    set_ = pthread_setattr_default_np(&attributes) == 0;
    pthread_attr_destroy(&attributes);
  }
  ~DefaultThreadStack() {
    pthread_setattr_default_np(&previous_);
    pthread_attr_destroy(&previous_);
  }
  DefaultThreadStack(const DefaultThreadStack&) = delete;
  DefaultThreadStack& operator=(const DefaultThreadStack&) = delete;

  bool set() const { return set_; }

 private:
  pthread_attr_t previous_;
  bool set_ = false;
};

// glibc may hand a new thread the stack of one that has ended, if it is at least the size asked
// for and at most four times it. With a small default, a thread that asked for no size could get
// at most four times that default, so only one that asked for the workers' size has as much.
TEST(SpawnDetachedThreadTest, ThreadHasTheWorkerStackAndIsDetached) {
  constexpr size_t kSmallDefault = 256 * 1024;
  static_assert(4 * kSmallDefault < kWorkerStackSize);
  struct Seen {
    size_t stack_size = 0;
    int detach_state = -1;
  };
  auto countdown = std::make_shared<Countdown>(1);
  auto seen = std::make_shared<Seen>();
  {
    DefaultThreadStack small_default(kSmallDefault);
    ASSERT_TRUE(small_default.set());
    auto spawned = spawn_detached_thread([countdown, seen] {
      pthread_attr_t attributes;
      if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstacksize(&attributes, &seen->stack_size);
        pthread_attr_getdetachstate(&attributes, &seen->detach_state);
        pthread_attr_destroy(&attributes);
      }
      countdown->count_down();
    });
    ASSERT_TRUE(spawned.has_value()) << spawned.error();
    ASSERT_TRUE(countdown->wait());
  }
  EXPECT_GE(seen->stack_size, kWorkerStackSize);
  EXPECT_EQ(seen->detach_state, PTHREAD_CREATE_DETACHED);
}

// Signals go to the host's threads, whose handlers are there to run; faults of an instruction stay
// deliverable. The caller's own mask is left as it was.
TEST(SpawnDetachedThreadTest, ThreadBlocksAsynchronousSignalsOnly) {
  auto countdown = std::make_shared<Countdown>(1);
  auto mask = std::make_shared<sigset_t>();
  auto spawned = spawn_detached_thread([countdown, mask] {
    pthread_sigmask(SIG_BLOCK, nullptr, mask.get());
    countdown->count_down();
  });
  ASSERT_TRUE(spawned.has_value()) << spawned.error();
  ASSERT_TRUE(countdown->wait());
  for (int signal : {SIGINT, SIGTERM, SIGALRM, SIGCHLD, SIGUSR1, SIGHUP}) {
    EXPECT_TRUE(sigismember(mask.get(), signal)) << signal;
  }
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
    EXPECT_FALSE(sigismember(mask.get(), signal)) << signal;
  }
  sigset_t own;
  pthread_sigmask(SIG_BLOCK, nullptr, &own);
  EXPECT_FALSE(sigismember(&own, SIGINT));
}

// Had an exception escaped, the process would have ended before the body was destroyed.
TEST(SpawnDetachedThreadTest, BodyThatThrowsDoesNotEndTheProcess) {
  auto countdown = std::make_shared<Countdown>(2);
  auto guard = [&] { return counts_down_when_released(countdown); };
  ASSERT_TRUE(spawn_detached_thread([g = guard()] { throw std::runtime_error("fault"); }));
  ASSERT_TRUE(spawn_detached_thread([g = guard()] { throw 7; }));
  ASSERT_TRUE(countdown->wait());

  auto after = std::make_shared<Countdown>(1);
  ASSERT_TRUE(spawn_detached_thread([after] { after->count_down(); }));
  EXPECT_TRUE(after->wait());
}

// pthread_exit unwinds the thread with an exception that must pass the last-resort catch: one that
// swallowed it would abort the process.
TEST(SpawnDetachedThreadTest, BodyMayExitTheThread) {
  auto countdown = std::make_shared<Countdown>(1);
  ASSERT_TRUE(
      spawn_detached_thread([g = counts_down_when_released(countdown)] { pthread_exit(nullptr); }));
  EXPECT_TRUE(countdown->wait());
}

// The address space of a child process is capped just above what it uses, so that no 2 MiB stack
// fits; its exit code tells whether the OS error came back. The cap is lifted before the exit, so
// that LeakSanitizer, where it runs, has room to find a body left on the heap.
TEST(SpawnDetachedThreadDeathTest, ReportsTheOsErrorWhenNoThreadCanStart) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto start_without_room = [] {
    std::string payload(4096, 'x');
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit original;
    if (pages == 0 || getrlimit(RLIMIT_AS, &original) != 0) std::_Exit(2);
    rlimit capped = original;
    capped.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + 512 * 1024;
    if (setrlimit(RLIMIT_AS, &capped) != 0) std::_Exit(2);
    auto spawned = spawn_detached_thread([payload] { std::fputs(payload.c_str(), stdout); });
    setrlimit(RLIMIT_AS, &original);
    if (spawned) std::_Exit(3);
    std::fprintf(stderr, "%s\n", spawned.error().c_str());
    std::exit(0);
  };
  EXPECT_EXIT(start_without_room(), testing::ExitedWithCode(0),
              "Resource temporarily unavailable \\(os error 11\\)");
}

}  // namespace
}  // namespace tolvo::ast
