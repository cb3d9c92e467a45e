#include "ast/src/poisonable_lock.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tolvo::ast {
namespace {

template <typename Guard, typename Lock>
void unwind_through(Lock& lock) {
  try {
    Guard guard(lock);
    throw std::runtime_error("fault");
  } catch (const std::runtime_error&) {
  }
}

TEST(PoisonableMutexTest, OnlyAnUnwoundHolderPoisons) {
  PoisonableMutex mutex;
  { PoisonableMutex::Guard guard(mutex); }
  EXPECT_FALSE(PoisonableMutex::Guard(mutex).poisoned());
  unwind_through<PoisonableMutex::Guard>(mutex);
  EXPECT_TRUE(PoisonableMutex::Guard(mutex).poisoned());
  EXPECT_TRUE(PoisonableMutex::Guard(mutex).poisoned()) << "the mark is never cleared";
}

TEST(PoisonableMutexTest, AGuardTakenDuringUnwindingPoisonsOnlyWhenItselfUnwound) {
  // A guard made and released inside a destructor that runs during unwinding left normally.
  PoisonableMutex mutex;
  struct Cleanup {
    PoisonableMutex& mutex;
    ~Cleanup() { PoisonableMutex::Guard guard(mutex); }
  };
  try {
    Cleanup cleanup{mutex};
    throw std::runtime_error("fault");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(PoisonableMutex::Guard(mutex).poisoned());
}

TEST(PoisonableSharedMutexTest, AnUnwoundWriterPoisonsAndAnUnwoundReaderDoesNot) {
  PoisonableSharedMutex lock;
  unwind_through<PoisonableSharedMutex::ReadGuard>(lock);
  EXPECT_FALSE(PoisonableSharedMutex::ReadGuard(lock).poisoned());
  EXPECT_FALSE(PoisonableSharedMutex::WriteGuard(lock).poisoned());
  unwind_through<PoisonableSharedMutex::WriteGuard>(lock);
  EXPECT_TRUE(PoisonableSharedMutex::ReadGuard(lock).poisoned());
  EXPECT_TRUE(PoisonableSharedMutex::WriteGuard(lock).poisoned());
}

// A thread that stays blocked on a lost wake-up never ends, so these tests wait for their threads
// with a deadline and, past it, fail and leave them behind with the state they share.
constexpr auto kDeadline = std::chrono::seconds(60);

pid_t this_thread_id() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// True once thread `tid` of this process has been seen asleep in a futex wait several times in a
// row, which it can only be once it sleeps on the lock; false when that is not seen in time.
bool seen_asleep_in_futex(pid_t tid) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int streak = 0;
  while (streak < 5 && std::chrono::steady_clock::now() < deadline) {
    std::ifstream wchan("/proc/self/task/" + std::to_string(tid) + "/wchan");
    std::string where;
    std::getline(wchan, where);
    streak = where.find("futex") != std::string::npos ? streak + 1 : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return streak == 5;
}

// Polls `condition` until it holds or `kDeadline` passes; true when it held.
bool within_deadline(const std::function<bool()>& condition) {
  auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

// The threads of a scenario: joined once they are known to end, and otherwise left running when
// the test leaves early, since one may never end. What they share is theirs to keep alive.
class ScenarioThreads {
 public:
  ScenarioThreads() = default;
  ~ScenarioThreads() {
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.detach();
    }
  }
  ScenarioThreads(const ScenarioThreads&) = delete;
  ScenarioThreads& operator=(const ScenarioThreads&) = delete;

  template <typename Body>
  void start(Body&& body) {
    threads_.emplace_back(std::forward<Body>(body));
  }
  void join() {
    for (std::thread& thread : threads_) thread.join();
  }

 private:
  std::vector<std::thread> threads_;
};

// The lock is held. A waiter that may give up sleeps first, then a plain sleeper behind it. The
// holder lets go, which wakes the waiter (the kernel wakes a futex's sleepers of one priority in
// the order they came); before the waiter looks, a spinning thread barges in with try_lock, so the
// waiter finds the lock held and gives up. The sleeper must still be woken when the barger lets go.
TEST(ForkAwareMutexTest, AWakeUpTakenByAWaiterThatGivesUpReachesTheNextSleeper) {
  struct Scenario {
    ForkAwareMutex mutex;
    std::atomic<pid_t> waiter_id{0};
    std::atomic<pid_t> sleeper_id{0};
    std::atomic<bool> released{false};
    std::atomic<bool> spinning{false};
    std::atomic<int> waiter_held{-1};  // 0 when it gave up, 1 when it got the lock
    std::atomic<bool> sleeper_held{false};
  };
  for (int trial = 0; trial < 5; ++trial) {
    auto scenario = std::make_shared<Scenario>();
    scenario->mutex.lock();
    ScenarioThreads threads;
    threads.start([scenario] {
      scenario->waiter_id.store(this_thread_id());
      bool held = scenario->mutex.lock_unless([&] { return scenario->released.load(); });
      scenario->waiter_held.store(held ? 1 : 0);
      if (held) scenario->mutex.unlock();
    });
    if (!within_deadline([&] { return scenario->waiter_id.load() != 0; }) ||
        !seen_asleep_in_futex(scenario->waiter_id.load())) {
      scenario->released.store(true);
      scenario->mutex.unlock();
      threads.join();
      GTEST_SKIP() << "this kernel does not show where a thread sleeps";
    }
    threads.start([scenario] {
      scenario->sleeper_id.store(this_thread_id());
      scenario->mutex.lock();
      scenario->sleeper_held.store(true);
      scenario->mutex.unlock();
    });
    ASSERT_TRUE(within_deadline([&] { return scenario->sleeper_id.load() != 0; }));
    ASSERT_TRUE(seen_asleep_in_futex(scenario->sleeper_id.load()));
    threads.start([scenario] {
      scenario->spinning.store(true);
      while (!scenario->mutex.try_lock()) {
      }
      // Held until the waiter has left, so that it finds the lock taken.
      while (scenario->waiter_held.load() < 0) {
      }
      scenario->mutex.unlock();
    });
    ASSERT_TRUE(within_deadline([&] { return scenario->spinning.load(); }));
    scenario->released.store(true);
    scenario->mutex.unlock();
    bool finished = within_deadline([&] { return scenario->sleeper_held.load(); });
    if (finished) threads.join();
    ASSERT_TRUE(finished) << "trial " << trial << ": the sleeper was left asleep on a free lock";
    EXPECT_TRUE(scenario->mutex.try_lock());
    scenario->mutex.unlock();
  }
}

// Episodes of a few threads that pile up behind a holder and take the lock at random: blocking,
// barging with try_lock, or waiting until told to stop, which a waiter may be at any of its
// wake-ups. Each episode ends with its threads, so that no later thread's unlock can make up for a
// lost wake-up; the blocking ones have no timeout to fall back on, so a wake-up lost on the way is
// a thread that never ends.
TEST(ForkAwareMutexTest, UnderRandomBargingAndGivingUpEveryBlockingLockIsGranted) {
  constexpr int kEpisodes = 1000;
  constexpr int kThreads = 5;
  struct Shared {
    ForkAwareMutex mutex;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<int> finished{0};
    std::atomic<long> grants{0};
    long held_count = 0;  // changed only with the lock held, so a lost increment is an overlap
  };
  unsigned seed = static_cast<unsigned>(::testing::UnitTest::GetInstance()->random_seed());
  std::mt19937 random(seed);
  auto spin = [](unsigned iterations) {
    for (; iterations > 0; --iterations) std::atomic_signal_fence(std::memory_order_seq_cst);
  };
  for (int episode = 0; episode < kEpisodes; ++episode) {
    auto shared = std::make_shared<Shared>();
    auto hold = [shared, spin](std::mt19937& random) {
      if (shared->inside.fetch_add(1) != 0) shared->overlapped.store(true);
      ++shared->held_count;
      shared->grants.fetch_add(1);
      spin(random() % 50000);
      shared->inside.fetch_sub(1);
      shared->mutex.unlock();
    };
    shared->mutex.lock();
    ScenarioThreads threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.start([shared, hold, spin, thread_seed = random()] {
        std::mt19937 random(thread_seed);
        spin(random() % 20000);
        switch (random() % 3) {
          case 0:
            shared->mutex.lock();
            hold(random);
            break;
          case 1:
            for (unsigned attempt = random() % 100000; attempt > 0; --attempt) {
              if (shared->mutex.try_lock()) {
                hold(random);
                break;
              }
            }
            break;
          default: {
            unsigned patience = random() % 2;
            if (shared->mutex.lock_unless([&] { return patience-- == 0; })) hold(random);
          }
        }
        shared->finished.fetch_add(1);
      });
    }
    // Now and then long enough that the others go to sleep behind the holder.
    if (random() % 2 == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
    } else {
      spin(random() % 20000);
    }
    shared->mutex.unlock();
    bool finished = within_deadline([&] { return shared->finished.load() == kThreads; });
    if (finished) threads.join();
    ASSERT_TRUE(finished) << "a thread was left asleep in episode " << episode << "; seed " << seed;
    ASSERT_FALSE(shared->overlapped.load()) << "two threads held the lock at once";
    ASSERT_EQ(shared->held_count, shared->grants.load());
    ASSERT_TRUE(shared->mutex.try_lock());
    shared->mutex.unlock();
  }
}

}  // namespace
}  // namespace tolvo::ast
