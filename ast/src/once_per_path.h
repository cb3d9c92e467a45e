// The shape both caches of the indexing share: one result per distinct path text, computed once
// however many threads ask at the same time, and kept, failures of the file included, for the
// cache's life.
#pragma once

#include <atomic>
#include <exception>
#include <expected>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "ast/src/host_thread.h"
#include "ast/src/poisonable_lock.h"
#include "ast/src/text_map.h"
#include "ast/src/transient.h"

namespace tolvo::ast {

// A failed request for one path: its message, and whether it is true of the file (kept, and
// returned again to every later request) or only of the moment (a descriptor limit reached, say),
// in which case a later request computes again.
struct FileFailure {
  std::string message;
  bool transient = false;
};

template <typename Record>
class OncePerPathCache {
 public:
  // A shared handle on the immutable record, or the failure.
  using Result = std::expected<std::shared_ptr<const Record>, FileFailure>;

  // `map_poisoned` is the whole message for a poisoned map lock; `entry_poisoned` is followed by
  // the path for a poisoned entry.
  OncePerPathCache(const char* map_poisoned, const char* entry_poisoned)
      : map_poisoned_(map_poisoned), entry_poisoned_(entry_poisoned) {}
  OncePerPathCache(const OncePerPathCache&) = delete;
  OncePerPathCache& operator=(const OncePerPathCache&) = delete;

  // The stored result for `path`; on the first request, `compute()` runs with the entry's mutex
  // held (and no other lock of this cache), and what it returns is stored unless it is a transient
  // failure. A thread that asks while another computes waits for it, letting its host's other
  // threads run meanwhile where it holds no entry itself; a signal before or during that wait runs
  // its host's handlers, and one that raises ends the request (Interrupted). A thread that asks for
  // an entry it is computing itself (from code its host ran meanwhile) gets ReentrantRequest at
  // once. An internal fault out of `compute` leaves the entry empty and poisoned and travels on to
  // the caller; a transient failure (std::bad_alloc, TransientFailure) leaves it empty and
  // unpoisoned and travels on once the entry is released.
  template <typename Compute>
  Result get(std::string_view path, Compute&& compute) {
    std::shared_ptr<Entry> entry;
    if (std::optional<Result> failure = find_or_insert(path, &entry)) return std::move(*failure);
    for (;;) {
      std::exception_ptr transient;
      {
        PoisonableMutex::Guard guard(entry->mutex, std::try_to_lock);
        if (guard.owns_lock()) {
          // Transient failures leave the guard's scope by return, so that they poison nothing.
          try {
            if (guard.poisoned()) return poisoned(path);
            if (const Result* stored = entry->result.load(std::memory_order_acquire)) {
              return *stored;
            }
            ComputingScope computing;
            Result computed = compute();
            if (computed || !computed.error().transient) {
              entry->result.store(new Result(computed), std::memory_order_release);
            }
            return computed;
          } catch (const std::bad_alloc&) {
            transient = std::current_exception();
          } catch (const TransientFailure&) {
            transient = std::current_exception();
          }
        }
      }
      if (transient) std::rethrow_exception(transient);
      if (entry->mutex.held_by_this_thread()) throw ReentrantRequest(path);
      if (std::optional<Result> done = wait_for(*entry, path)) return std::move(*done);
      // The thread that held the entry left no result, having failed for a reason of its own
      // moment: this request computes it.
    }
  }

  // The number of entries, for tests.
  size_t size() {
    PoisonableSharedMutex::ReadGuard guard(lock_);
    return entries_.size();
  }

 private:
  struct Entry {
    Entry() = default;
    ~Entry() { delete result.load(std::memory_order_relaxed); }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    PoisonableMutex mutex;
    // Null until the first computation whose result holds for the file ends; then never changed.
    // Published whole, so that a child forked meanwhile sees all of it or nothing.
    std::atomic<const Result*> result{nullptr};
  };

  Result poisoned(std::string_view path) const {
    return std::unexpected(FileFailure{entry_poisoned_ + std::string(path)});
  }

  // Blocks until the thread computing `entry` releases it and returns what it left: its result, or
  // the poisoned message; nothing when it left neither. On a thread with a host, a signal that
  // came before the wait or comes during it runs the host's handlers, and one that raised ends the
  // wait with Interrupted. The host's lock is taken back only with no entry held and no exception
  // on its way, since the host may end the thread right there.
  std::optional<Result> wait_for(Entry& entry, std::string_view path) {
    HostThread* host = current_host_thread();
    if (host != nullptr && !host->run_signal_handlers()) throw Interrupted();
    HostThread* releasing = host_thread_for_wait();
    if (releasing != nullptr) releasing->suspend();
    std::optional<Result> done;
    std::exception_ptr transient;
    bool interrupted = false;
    auto take_what_was_left = [&](PoisonableMutex::Guard& guard) {
      try {
        if (guard.poisoned()) {
          done = poisoned(path);
        } else if (const Result* stored = entry.result.load(std::memory_order_acquire)) {
          done = *stored;
        }
      } catch (const std::bad_alloc&) {
        transient = std::current_exception();
      }
    };
    if (host == nullptr) {
      PoisonableMutex::Guard guard(entry.mutex);
      take_what_was_left(guard);
    } else {
      PoisonableMutex::Guard guard(entry.mutex, [host] { return !host->run_signal_handlers(); });
      if (guard.owns_lock()) {
        take_what_was_left(guard);
      } else {
        interrupted = true;
      }
    }
    if (releasing != nullptr) releasing->resume();
    if (interrupted) throw Interrupted();
    if (transient) std::rethrow_exception(transient);
    return done;
  }

  // Sets `*entry` to the path's entry, inserted empty on the first request; the map lock is
  // released before the caller takes the entry's mutex. Returns the message of a poisoned lock.
  // Memory running out leaves the map as it was and the lock unpoisoned.
  std::optional<Result> find_or_insert(std::string_view path, std::shared_ptr<Entry>* entry) {
    bool poisoned;
    {
      PoisonableSharedMutex::ReadGuard guard(lock_);
      poisoned = guard.poisoned();
      if (!poisoned) {
        auto found = entries_.find(path);
        if (found != entries_.end()) {
          *entry = found->second;
          return std::nullopt;
        }
      }
    }
    if (!poisoned) {
      // Made before the lock is taken, so that the writer holds it for the insertion alone.
      auto fresh = std::make_shared<Entry>();
      std::string key(path);
      std::exception_ptr transient;
      {
        PoisonableSharedMutex::WriteGuard guard(lock_);
        poisoned = guard.poisoned();
        if (!poisoned) {
          try {
            *entry = entries_.try_emplace(std::move(key), std::move(fresh)).first->second;
          } catch (const std::bad_alloc&) {
            transient = std::current_exception();
          }
        }
      }
      if (transient) std::rethrow_exception(transient);
    }
    if (poisoned) return std::unexpected(FileFailure{map_poisoned_});
    return std::nullopt;
  }

  const char* map_poisoned_;
  const char* entry_poisoned_;
  PoisonableSharedMutex lock_;
  TextMap<std::shared_ptr<Entry>> entries_;
};

}  // namespace tolvo::ast
