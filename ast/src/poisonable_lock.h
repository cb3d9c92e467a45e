// Locks that remember a holder unwound by an exception. An internal fault thrown while a lock is
// held leaves the state it guards half computed; marking the lock poisoned lets every later
// holder refuse that state instead of trusting it. The mark is never cleared.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <shared_mutex>

namespace tolvo::ast {

// A mutex whose guard marks it poisoned when the guard is destroyed by unwinding.
class PoisonableMutex {
 public:
  class Guard {
   public:
    // Blocks until the mutex is held.
    explicit Guard(PoisonableMutex& mutex)
        : mutex_(mutex), exceptions_at_entry_(std::uncaught_exceptions()) {
      mutex_.mutex_.lock();
    }
    ~Guard() {
      if (std::uncaught_exceptions() > exceptions_at_entry_) {
        mutex_.poisoned_.store(true, std::memory_order_relaxed);
      }
      mutex_.mutex_.unlock();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    // True when an earlier holder was unwound.
    bool poisoned() const { return mutex_.poisoned_.load(std::memory_order_relaxed); }

   private:
    PoisonableMutex& mutex_;
    int exceptions_at_entry_;
  };

 private:
  std::mutex mutex_;
  std::atomic<bool> poisoned_{false};
};

// A reader-writer lock that a writer unwound by an exception marks poisoned. Readers never
// poison it: they change nothing that could be left half done.
class PoisonableSharedMutex {
 public:
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
  std::shared_mutex mutex_;
  std::atomic<bool> poisoned_{false};
};

}  // namespace tolvo::ast
