// Locks that remember a holder unwound by an exception, and that a forked child can use. An
// internal fault thrown while a lock is held leaves the state it guards half computed; marking the
// lock poisoned lets every later holder refuse that state instead of trusting it. The mark is never
// cleared.
//
// fork() copies a lock held by a thread that does not exist in the child. An entry's mutex may be
// held for as long as a file takes to read (a FIFO may never answer), so a fork cannot wait for it:
// the mutex records the fork generation of its holder, and a child takes a mutex held in an
// earlier generation as free. A map lock is held only for a lookup or an insertion, so a fork waits
// for it instead, which also keeps the child from inheriting a map half changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <utility>

namespace tolvo::ast {

// A mutual-exclusion lock on one futex word: its state in the low two bits (0 free, 1 held, 2 held
// with sleepers) and its holder's fork generation above them. The holder's thread is recorded
// beside it, so that a thread can tell a lock it holds itself from one another thread holds. A
// sleeper is never left asleep on a free lock: an unlock wakes one sleeper, and a waiter that
// finds the lock held marks it as having sleepers before it sleeps again or gives up.
class ForkAwareMutex {
 public:
  ForkAwareMutex() = default;
  ForkAwareMutex(const ForkAwareMutex&) = delete;
  ForkAwareMutex& operator=(const ForkAwareMutex&) = delete;

  // Takes the lock if it is free (or was held by a thread of a process before a fork).
  bool try_lock();
  // Blocks until the lock is held.
  void lock();
  // Blocks until the lock is held or `stop()` returns true. `stop` is asked whenever a sleep for
  // the lock ends without it: the holder let go and another thread took it, a signal interrupted
  // the sleep, or `kStopInterval` passed. True when the lock is held.
  template <typename Stop>
  bool lock_unless(Stop&& stop);
  void unlock();

  // True when the calling thread holds the lock. A lock that a thread of the parent held at a fork
  // is nobody's in the child, the thread that forked included.
  bool held_by_this_thread() const;

  static constexpr long kStopInterval = 100;  // milliseconds

 private:
  // Takes the lock if it is free; otherwise sleeps once, until the holder lets go, a signal
  // arrives or `timeout_ms` pass (no limit when negative), and tries once more. True when held;
  // when false, it found the lock held and left it marked as having sleepers, so that a wake-up
  // this thread took passes on to the next sleeper even if it now leaves.
  bool lock_or_sleep(long timeout_ms);

  std::atomic<uint32_t> word_{0};
  // Set by the holder once it holds the lock and cleared before it lets go; only a thread itself
  // ever stores its own tag, so a thread that reads its own tag here holds the lock.
  std::atomic<const void*> owner_{nullptr};
};

template <typename Stop>
bool ForkAwareMutex::lock_unless(Stop&& stop) {
  if (try_lock()) return true;
  while (!lock_or_sleep(kStopInterval)) {
    if (stop()) return false;
  }
  return true;
}

// A mutex whose guard marks it poisoned when the guard is destroyed by unwinding.
class PoisonableMutex {
 public:
  class Guard {
   public:
    // Blocks until the mutex is held.
    explicit Guard(PoisonableMutex& mutex)
        : mutex_(mutex), exceptions_at_entry_(std::uncaught_exceptions()), owns_(true) {
      mutex_.mutex_.lock();
    }
    // Takes the mutex only if that needs no wait; owns_lock() tells.
    Guard(PoisonableMutex& mutex, std::try_to_lock_t)
        : mutex_(mutex),
          exceptions_at_entry_(std::uncaught_exceptions()),
          owns_(mutex_.mutex_.try_lock()) {}
    // Blocks until the mutex is held or `stop()` returns true (see ForkAwareMutex::lock_unless);
    // owns_lock() tells which.
    template <typename Stop>
    Guard(PoisonableMutex& mutex, Stop&& stop)
        : mutex_(mutex),
          exceptions_at_entry_(std::uncaught_exceptions()),
          owns_(mutex_.mutex_.lock_unless(std::forward<Stop>(stop))) {}
    ~Guard() {
      if (!owns_) return;
      if (std::uncaught_exceptions() > exceptions_at_entry_) {
        mutex_.poisoned_.store(true, std::memory_order_relaxed);
      }
      mutex_.mutex_.unlock();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    bool owns_lock() const { return owns_; }
    // True when an earlier holder was unwound.
    bool poisoned() const { return mutex_.poisoned_.load(std::memory_order_relaxed); }

   private:
    PoisonableMutex& mutex_;
    int exceptions_at_entry_;
    bool owns_;
  };

  // True when the calling thread holds the mutex.
  bool held_by_this_thread() const { return mutex_.held_by_this_thread(); }

 private:
  ForkAwareMutex mutex_;
  std::atomic<bool> poisoned_{false};
};

// A reader-writer lock that a writer unwound by an exception marks poisoned. Readers never
// poison it: they change nothing that could be left half done. Every instance is known to the
// process's fork handlers, which hold it for writing across a fork.
class PoisonableSharedMutex {
 public:
  PoisonableSharedMutex();
  ~PoisonableSharedMutex();
  PoisonableSharedMutex(const PoisonableSharedMutex&) = delete;
  PoisonableSharedMutex& operator=(const PoisonableSharedMutex&) = delete;

  class ReadGuard {
   public:
    // Blocks until the lock is held for reading.
    explicit ReadGuard(PoisonableSharedMutex& lock) : lock_(lock) { lock_.mutex_.lock_shared(); }
    ~ReadGuard() { lock_.mutex_.unlock_shared(); }
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

    // True when an earlier writer was unwound.
    bool poisoned() const { return lock_.poisoned_.load(std::memory_order_relaxed); }

   private:
    PoisonableSharedMutex& lock_;
  };

  class WriteGuard {
   public:
    // Blocks until the lock is held for writing.
    explicit WriteGuard(PoisonableSharedMutex& lock)
        : lock_(lock), exceptions_at_entry_(std::uncaught_exceptions()) {
      lock_.mutex_.lock();
    }
    ~WriteGuard() {
      if (std::uncaught_exceptions() > exceptions_at_entry_) {
        lock_.poisoned_.store(true, std::memory_order_relaxed);
      }
      lock_.mutex_.unlock();
    }
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;

    // True when an earlier writer was unwound.
    bool poisoned() const { return lock_.poisoned_.load(std::memory_order_relaxed); }

   private:
    PoisonableSharedMutex& lock_;
    int exceptions_at_entry_;
  };

 private:
  friend struct ForkHandlers;

  std::shared_mutex mutex_;
  std::atomic<bool> poisoned_{false};
  // The process-wide list of instances, guarded by the fork handlers' registry mutex.
  PoisonableSharedMutex* previous_ = nullptr;
  PoisonableSharedMutex* next_ = nullptr;
};

}  // namespace tolvo::ast
