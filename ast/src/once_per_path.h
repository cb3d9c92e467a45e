// The shape both caches of the indexing share: one result per distinct path text, computed once
// however many threads ask at the same time, and kept, failures included, for the cache's life.
#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ast/src/poisonable_lock.h"
#include "ast/src/text_map.h"

namespace tolvo::ast {

template <typename Record>
class OncePerPathCache {
 public:
  // A shared handle on the immutable record, or a failure message.
  using Result = std::expected<std::shared_ptr<const Record>, std::string>;

  // `map_poisoned` is the whole message for a poisoned map lock; `entry_poisoned` is followed by
  // the path for a poisoned entry.
  OncePerPathCache(const char* map_poisoned, const char* entry_poisoned)
      : map_poisoned_(map_poisoned), entry_poisoned_(entry_poisoned) {}
  OncePerPathCache(const OncePerPathCache&) = delete;
  OncePerPathCache& operator=(const OncePerPathCache&) = delete;

  // The stored result for `path`; on the first request, `compute()` runs with the entry's mutex
  // held (and no other lock of this cache), and what it returns is stored. A thread that asks
  // while another computes waits for it. An exception out of `compute` leaves the entry empty and
  // poisoned and travels on to the caller.
  template <typename Compute>
  Result get(std::string_view path, Compute&& compute) {
    std::shared_ptr<Entry> entry;
    if (std::optional<Result> failure = find_or_insert(path, &entry)) return std::move(*failure);
    PoisonableMutex::Guard guard(entry->mutex);
    if (guard.poisoned()) return std::unexpected(entry_poisoned_ + std::string(path));
    if (!entry->result) entry->result.emplace(compute());
    return *entry->result;
  }

  // The number of entries, for tests.
  size_t size() {
    PoisonableSharedMutex::ReadGuard guard(lock_);
    return entries_.size();
  }

 private:
  struct Entry {
    PoisonableMutex mutex;
    std::optional<Result> result;  // empty until the first computation ends; then never changed
  };

  // Sets `*entry` to the path's entry, inserted empty on the first request; the map lock is
  // released before the caller takes the entry's mutex. Returns the message of a poisoned lock.
  std::optional<Result> find_or_insert(std::string_view path, std::shared_ptr<Entry>* entry) {
    {
      PoisonableSharedMutex::ReadGuard guard(lock_);
      if (guard.poisoned()) return std::unexpected(std::string(map_poisoned_));
      auto found = entries_.find(path);
      if (found != entries_.end()) {
        *entry = found->second;
        return std::nullopt;
      }
    }
    PoisonableSharedMutex::WriteGuard guard(lock_);
    if (guard.poisoned()) return std::unexpected(std::string(map_poisoned_));
    auto found = entries_.find(path);
    if (found == entries_.end()) {
      found = entries_.emplace(std::string(path), std::make_shared<Entry>()).first;
    }
    *entry = found->second;
    return std::nullopt;
  }

  const char* map_poisoned_;
  const char* entry_poisoned_;
  PoisonableSharedMutex lock_;
  TextMap<std::shared_ptr<Entry>> entries_;
};

}  // namespace tolvo::ast
