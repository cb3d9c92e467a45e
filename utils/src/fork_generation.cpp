#include "utils/src/fork_generation.h"

#include <pthread.h>

namespace tolvo::utils {
namespace internal {

constinit std::atomic<uint32_t> fork_generation{0};

}  // namespace internal
namespace {

// The child runs this before fork() returns in it, with no other thread alive.
void enter_child() { internal::fork_generation.fetch_add(1, std::memory_order_relaxed); }

// Registered when the library is loaded, before any thread of ours exists.
[[maybe_unused]] const int registered = pthread_atfork(nullptr, nullptr, enter_child);

}  // namespace
}  // namespace tolvo::utils
