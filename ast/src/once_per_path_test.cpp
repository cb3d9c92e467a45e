#include "ast/src/once_per_path.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "ast/src/signals_for_tests.h"
#include "utils/src/fault.h"

namespace tolvo::ast {
namespace {

using Cache = OncePerPathCache<int>;
using test_support::InterruptingSignal;
using test_support::SignalledHost;

Cache::Result record(int value) { return std::make_shared<const int>(value); }

// Spins until `condition` holds; a test whose condition never comes fails on ctest's timeout.
void wait_until(const std::function<bool()>& condition) {
  while (!condition()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(OncePerPathCacheTest, ATransientFailureIsReportedAndNotKept) {
  Cache cache("map poisoned", "entry poisoned for ");
  int computed = 0;
  auto failing = [&]() -> Cache::Result {
    ++computed;
    return std::unexpected(FileFailure{"Failed to read a.py: Too many open files", true});
  };
  EXPECT_EQ(cache.get("a.py", failing).error().message, "Failed to read a.py: Too many open files");
  EXPECT_TRUE(cache.get("a.py", failing).error().transient);
  EXPECT_EQ(computed, 2) << "nothing was kept, so the second request computed again";
  EXPECT_EQ(**cache.get("a.py", [] { return record(7); }), 7);
  EXPECT_EQ(**cache.get("a.py", failing), 7) << "a result that holds is kept";
  EXPECT_EQ(computed, 2);
}

TEST(OncePerPathCacheTest, AFailureOfTheFileIsKept) {
  Cache cache("map poisoned", "entry poisoned for ");
  auto kept = [] { return Cache::Result(std::unexpected(FileFailure{"Failed to parse a.py"})); };
  EXPECT_EQ(cache.get("a.py", kept).error().message, "Failed to parse a.py");
  EXPECT_EQ(cache.get("a.py", [] { return record(1); }).error().message, "Failed to parse a.py");
}

TEST(OncePerPathCacheTest, ATransientExceptionLeavesTheEntryEmptyAndUnpoisoned) {
  const std::function<void()> throwers[] = {
      [] { throw std::bad_alloc(); },
      [] { throw ThreadStackExhausted(); },
      [] { throw Interrupted(); },
  };
  for (const auto& thrower : throwers) {
    Cache cache("map poisoned", "entry poisoned for ");
    auto compute = [&]() -> Cache::Result {
      thrower();
      return record(0);
    };
    EXPECT_ANY_THROW(cache.get("a.py", compute));
    EXPECT_ANY_THROW(cache.get("a.py", compute)) << "computed again";
    EXPECT_EQ(**cache.get("a.py", [] { return record(3); }), 3);
    EXPECT_EQ(cache.size(), 1u);
  }
}

TEST(OncePerPathCacheTest, TheExceptionsTravelWithTheirType) {
  Cache cache("map poisoned", "entry poisoned for ");
  EXPECT_THROW(cache.get("a", []() -> Cache::Result { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_THROW(cache.get("a", []() -> Cache::Result { throw ThreadStackExhausted(); }),
               ThreadStackExhausted);
  EXPECT_THROW(cache.get("a", []() -> Cache::Result { throw utils::InternalFault("x"); }),
               utils::InternalFault);
  EXPECT_EQ(cache.get("a", [] { return record(1); }).error().message, "entry poisoned for a")
      << "only a fault poisons";
}

// Runs on a thread of its own: computes `path`, blocking until `release` is set.
struct BlockedComputation {
  BlockedComputation(Cache& cache, const char* path, std::function<Cache::Result()> then)
      : thread([&cache, path, this, then] {
          try {
            result = cache.get(path, [&] {
              started.store(true);
              release.get_future().wait();
              return then();
            });
          } catch (const std::bad_alloc&) {
            threw = true;
          }
        }) {}
  ~BlockedComputation() {
    if (thread.joinable()) thread.join();
  }

  std::promise<void> release;
  std::atomic<bool> started{false};
  std::optional<Cache::Result> result;
  bool threw = false;
  std::thread thread;
};

TEST(OncePerPathCacheTest, AWaiterLetsItsHostRunUntilTheResultIsThere) {
  Cache cache("map poisoned", "entry poisoned for ");
  BlockedComputation computing(cache, "a.py", [] { return record(5); });
  wait_until([&] { return computing.started.load(); });
  SignalledHost host;
  std::optional<Cache::Result> waited;
  std::thread waiter([&] {
    HostThreadScope scope(&host);
    waited = cache.get("a.py", [] { return record(-1); });
  });
  wait_until([&] { return host.suspended.load() == 1; });
  EXPECT_EQ(host.resumed.load(), 0) << "resumed only once the computation is done";
  computing.release.set_value();
  waiter.join();
  EXPECT_EQ(host.resumed.load(), 1);
  EXPECT_EQ(***waited, 5) << "the waiter received the other thread's result";
}

TEST(OncePerPathCacheTest, AThreadComputingAnEntryWaitsWithoutLettingItsHostRun) {
  // Its host would take its own lock back while this thread holds an entry lock.
  Cache cache("map poisoned", "entry poisoned for ");
  BlockedComputation computing(cache, "inner.py", [] { return record(2); });
  wait_until([&] { return computing.started.load(); });
  SignalledHost host;
  std::optional<Cache::Result> outer;
  std::thread nested([&] {
    HostThreadScope scope(&host);
    outer = cache.get("outer.py", [&] {
      auto inner = cache.get("inner.py", [] { return record(-1); });
      return record(**inner * 10);
    });
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  computing.release.set_value();
  nested.join();
  EXPECT_EQ(***outer, 20);
  EXPECT_EQ(host.suspended.load(), 0);
}

TEST(OncePerPathCacheTest, AWaiterComputesWhatTheHolderLeftUndone) {
  Cache cache("map poisoned", "entry poisoned for ");
  BlockedComputation computing(cache, "a.py", []() -> Cache::Result { throw std::bad_alloc(); });
  wait_until([&] { return computing.started.load(); });
  std::optional<Cache::Result> waited;
  std::thread waiter([&] { waited = cache.get("a.py", [] { return record(9); }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  computing.release.set_value();
  computing.thread.join();
  waiter.join();
  EXPECT_TRUE(computing.threw);
  EXPECT_EQ(***waited, 9);
}

// A waiter on an entry that another thread computes, with SIGUSR1 (whose handler does not restart
// system calls) at hand to interrupt its sleep.
class InterruptedWaitTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(signal_.installed()); }
  void TearDown() override {
    if (waiter_.joinable()) waiter_.join();
  }

  void start_waiter(HostThread* host) {
    waiter_ = std::thread([this, host] {
      HostThreadScope scope(host);
      try {
        waited_ = cache_.get("a.py", [] { return record(-1); });
      } catch (const Interrupted&) {
        interrupted_ = true;
      }
      done_.store(true);
    });
  }

  // Interrupts the waiter until `enough` holds or the waiter is done.
  void interrupt_until(const std::function<bool()>& enough) {
    InterruptingSignal::interrupt_until(waiter_, done_, enough);
  }

  InterruptingSignal signal_;
  Cache cache_{"map poisoned", "entry poisoned for "};
  std::thread waiter_;
  std::atomic<bool> done_{false};
  bool interrupted_ = false;
  std::optional<Cache::Result> waited_;
};

TEST_F(InterruptedWaitTest, AHandlerThatRaisesEndsTheWaitAndTheHolderGoesOn) {
  BlockedComputation computing(cache_, "a.py", [] { return record(5); });
  wait_until([&] { return computing.started.load(); });
  SignalledHost host;
  start_waiter(&host);
  wait_until([&] { return host.suspended.load() == 1; });
  host.raises.store(true);
  interrupt_until([] { return false; });
  waiter_.join();
  EXPECT_TRUE(interrupted_);
  EXPECT_EQ(host.resumed.load(), 1) << "the host's lock is taken back before the request ends";
  computing.release.set_value();
  computing.thread.join();
  EXPECT_EQ(**cache_.get("a.py", [] { return record(-1); }), 5);
}

TEST_F(InterruptedWaitTest, OtherwiseTheWaitGoesOn) {
  BlockedComputation computing(cache_, "a.py", [] { return record(6); });
  wait_until([&] { return computing.started.load(); });
  SignalledHost host;
  start_waiter(&host);
  interrupt_until([&] { return host.runs.load() >= 3; });
  EXPECT_FALSE(done_.load());
  computing.release.set_value();
  waiter_.join();
  EXPECT_FALSE(interrupted_);
  EXPECT_EQ(***waited_, 6);
}

TEST_F(InterruptedWaitTest, ASignalHandledBeforeTheWaitEndsItBeforeTheHostIsSuspended) {
  BlockedComputation computing(cache_, "a.py", [] { return record(7); });
  wait_until([&] { return computing.started.load(); });
  SignalledHost host;
  host.raises.store(true);
  start_waiter(&host);
  waiter_.join();
  EXPECT_TRUE(interrupted_);
  EXPECT_EQ(host.suspended.load(), 0);
  computing.release.set_value();
}

TEST_F(InterruptedWaitTest, AWaitInsideTheThreadsOwnComputationIsInterruptedToo) {
  // Its host's lock stays held there, and its handlers run all the same.
  BlockedComputation computing(cache_, "a.py", [] { return record(8); });
  wait_until([&] { return computing.started.load(); });
  SignalledHost host;
  std::optional<Cache::Result> outer;
  bool outer_interrupted = false;
  waiter_ = std::thread([&] {
    HostThreadScope scope(&host);
    try {
      outer = cache_.get("outer.py", [&] {
        auto inner = cache_.get("a.py", [] { return record(-1); });
        return record(**inner * 10);
      });
    } catch (const Interrupted&) {
      outer_interrupted = true;
    }
    done_.store(true);
  });
  wait_until([&] { return host.runs.load() >= 1; });
  host.raises.store(true);
  interrupt_until([] { return false; });
  waiter_.join();
  EXPECT_TRUE(outer_interrupted);
  EXPECT_EQ(host.suspended.load(), 0);
  computing.release.set_value();
  computing.thread.join();
  EXPECT_EQ(**cache_.get("outer.py", [] { return record(9); }), 9) << "nothing was kept";
}

TEST(OncePerPathCacheTest, AThreadAskingForWhatItComputesFailsAtOnce) {
  Cache cache("map poisoned", "entry poisoned for ");
  // Caught inside: the outer computation goes on, and its result is kept.
  auto outer = cache.get("a.py", [&] {
    EXPECT_THROW(cache.get("a.py", [] { return record(-1); }), ReentrantRequest);
    EXPECT_EQ(**cache.get("b.py", [] { return record(2); }), 2) << "another entry is no reentry";
    return record(1);
  });
  EXPECT_EQ(**outer, 1);
  EXPECT_EQ(**cache.get("a.py", [] { return record(-1); }), 1);
  // Let out: the outer request ends with it and keeps nothing.
  EXPECT_THROW(cache.get("c.py",
                         [&] {
                           cache.get("c.py", [] { return record(-1); });
                           return record(3);
                         }),
               ReentrantRequest);
  EXPECT_EQ(**cache.get("c.py", [] { return record(4); }), 4);
}

TEST(ForkAwareMutexTest, KnowsWhetherTheCallingThreadHoldsIt) {
  ForkAwareMutex mutex;
  EXPECT_FALSE(mutex.held_by_this_thread());
  mutex.lock();
  EXPECT_TRUE(mutex.held_by_this_thread());
  bool seen_elsewhere = true;
  std::thread([&] { seen_elsewhere = mutex.held_by_this_thread(); }).join();
  EXPECT_FALSE(seen_elsewhere);
  mutex.unlock();
  EXPECT_FALSE(mutex.held_by_this_thread());
}

TEST(ForkAwareMutexTest, AWaitThatIsToldToStopEndsWithoutTheLock) {
  ForkAwareMutex mutex;
  mutex.lock();
  std::atomic<int> asked{0};
  bool held = true;
  std::thread([&] { held = mutex.lock_unless([&] { return asked.fetch_add(1) == 2; }); }).join();
  EXPECT_FALSE(held);
  EXPECT_EQ(asked.load(), 3) << "asked after each sleep, until it said stop";
  mutex.unlock();
  EXPECT_TRUE(mutex.try_lock()) << "a waiter that left does not hold the lock";
  mutex.unlock();
}

TEST(ForkAwareMutexTest, ExcludesAndHandsOver) {
  ForkAwareMutex mutex;
  ASSERT_TRUE(mutex.try_lock());
  EXPECT_FALSE(mutex.try_lock());
  mutex.unlock();
  // Many threads, many hand-overs through the sleeping path.
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        mutex.lock();
        ++counter;
        mutex.unlock();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, 8 * 20000);
  EXPECT_TRUE(mutex.try_lock());
  mutex.unlock();
}

}  // namespace
}  // namespace tolvo::ast
