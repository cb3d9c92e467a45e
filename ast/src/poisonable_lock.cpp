#include "ast/src/poisonable_lock.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <mutex>
#include <new>

#include "utils/src/fork_generation.h"

namespace tolvo::ast {
namespace {

constexpr uint32_t kStateBits = 3;
constexpr uint32_t kHeld = 1;
constexpr uint32_t kHeldWithSleepers = 2;

uint32_t held_word(uint32_t state) { return (utils::fork_generation() << 2) | state; }

// Free, or held by a thread of an earlier process of the fork line: that thread is gone.
bool is_free(uint32_t word) {
  return (word & kStateBits) == 0 || (word >> 2) != (utils::fork_generation() & (UINT32_MAX >> 2));
}

// Returns at once when the word no longer holds `expected`, so no wake-up is lost; also when a
// signal interrupts the sleep or `timeout_ms` pass (no limit when negative).
void futex_wait(std::atomic<uint32_t>& word, uint32_t expected, long timeout_ms) {
  timespec timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000000};
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected,
          timeout_ms < 0 ? nullptr : &timeout, nullptr, 0);
}

void futex_wake_one(std::atomic<uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
          0);
}

// What a thread records as the holder: an address of its own, constant-initialised so that no
// thread runs an initialiser for it.
constinit thread_local char t_tag = 0;

const void* this_thread_tag() { return &t_tag; }

}  // namespace

bool ForkAwareMutex::try_lock() {
  uint32_t word = word_.load(std::memory_order_relaxed);
  if (!is_free(word) ||
      !word_.compare_exchange_strong(word, held_word(kHeld), std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
    return false;
  }
  owner_.store(this_thread_tag(), std::memory_order_relaxed);
  return true;
}

void ForkAwareMutex::lock() {
  if (try_lock()) return;
  while (!lock_or_sleep(-1)) {
  }
}

bool ForkAwareMutex::lock_or_sleep(long timeout_ms) {
  bool slept = false;
  for (;;) {
    uint32_t word = word_.load(std::memory_order_relaxed);
    if (is_free(word)) {
      // Taken as contended, since another sleeper may still wait for it.
      if (word_.compare_exchange_weak(word, held_word(kHeldWithSleepers), std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
        owner_.store(this_thread_tag(), std::memory_order_relaxed);
        return true;
      }
      continue;
    }
    // Marked whenever it is found held, before this thread may leave: the wake-up that ended its
    // sleep may have been the only one meant for the sleepers behind it, and a barger took the
    // lock unmarked meanwhile. The next unlock then wakes one of them.
    if ((word & kStateBits) == kHeld) {
      uint32_t sleeping = (word & ~kStateBits) | kHeldWithSleepers;
      if (!word_.compare_exchange_weak(word, sleeping, std::memory_order_relaxed,
                                       std::memory_order_relaxed)) {
        continue;
      }
      word = sleeping;
    }
    if (slept) return false;
    futex_wait(word_, word, timeout_ms);
    slept = true;
  }
}

void ForkAwareMutex::unlock() {
  owner_.store(nullptr, std::memory_order_relaxed);
  if ((word_.exchange(0, std::memory_order_release) & kStateBits) == kHeldWithSleepers) {
    futex_wake_one(word_);
  }
}

bool ForkAwareMutex::held_by_this_thread() const {
  return !is_free(word_.load(std::memory_order_relaxed)) &&
         owner_.load(std::memory_order_relaxed) == this_thread_tag();
}

// Holds every map lock of the process across a fork, so that no thread is inside a map when the
// child's copy is made. Their holders never wait for anything else, so the wait is short.
struct ForkHandlers {
  static void prepare() {
    registry.lock();
    for (PoisonableSharedMutex* lock = first; lock != nullptr; lock = lock->next_) {
      lock->mutex_.lock();
    }
  }

  static void parent() {
    for (PoisonableSharedMutex* lock = first; lock != nullptr; lock = lock->next_) {
      lock->mutex_.unlock();
    }
    registry.unlock();
  }

  // The child's thread is the one that locked them, under a new thread id that the
  // reader-writer lock would not recognise as its writer's: they are made anew instead.
  static void child() {
    for (PoisonableSharedMutex* lock = first; lock != nullptr; lock = lock->next_) {
      new (&lock->mutex_) std::shared_mutex();
    }
    new (&registry) std::mutex();
  }

  static void add(PoisonableSharedMutex* lock) {
    std::lock_guard<std::mutex> guard(registry);
    lock->next_ = first;
    if (first != nullptr) first->previous_ = lock;
    first = lock;
  }

  static void remove(PoisonableSharedMutex* lock) {
    std::lock_guard<std::mutex> guard(registry);
    if (lock->previous_ != nullptr) {
      lock->previous_->next_ = lock->next_;
    } else {
      first = lock->next_;
    }
    if (lock->next_ != nullptr) lock->next_->previous_ = lock->previous_;
  }

  // Constant-initialised, so they exist before any constructor of another file could use them.
  static constinit inline std::mutex registry{};
  static constinit inline PoisonableSharedMutex* first = nullptr;
};

namespace {

// Registered when the library is loaded, before any thread of ours exists.
[[maybe_unused]] const int registered =
    pthread_atfork(ForkHandlers::prepare, ForkHandlers::parent, ForkHandlers::child);

}  // namespace

PoisonableSharedMutex::PoisonableSharedMutex() { ForkHandlers::add(this); }

PoisonableSharedMutex::~PoisonableSharedMutex() { ForkHandlers::remove(this); }

}  // namespace tolvo::ast
