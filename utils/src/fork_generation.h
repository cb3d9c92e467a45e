// Which process of a line of forks this is. A thread that held a lock or was inside a once-only
// initialisation when another thread called fork() does not exist in the child; comparing the
// generation recorded with such state against the current one tells the child what it inherited
// half done.
#pragma once

#include <atomic>
#include <cstdint>

namespace tolvo::utils {

namespace internal {
extern constinit std::atomic<uint32_t> fork_generation;
}  // namespace internal

// 0 in the process that loaded the module, one more in each child made by fork() since. A plain
// load: cheap enough for every lock taken on a hot path.
inline uint32_t fork_generation() {
  return internal::fork_generation.load(std::memory_order_relaxed);
}

}  // namespace tolvo::utils
