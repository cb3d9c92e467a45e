// How much stack the calling thread has left. Recursion bounded by fixed limits fits the indexing
// workers' 2 MiB stacks, but a Python thread may have much less (threading.stack_size() accepts
// 32 KiB), so recursive code also stops where the stack below its frame runs low.
#pragma once

#include <cstdint>

namespace tolvo::parser {

// The lowest frame address at which recursion may still go one level deeper on the calling thread:
// the lowest address of its stack plus a margin for the calls below the deepest recursive frame
// and for reporting the refusal. The bounds are read once per thread, and on the main thread again
// whenever its stack limit has changed since; a read that fails (on the main thread
// pthread_getattr_np needs a descriptor, on others memory) is not kept, and until one succeeds the
// main thread's floor comes from its stack limit, another thread's from a fixed room below the
// caller's frame that ordinary nesting fits in. Never 0.
uintptr_t stack_floor();

// Forgets the calling thread's bounds, so that the next stack_floor() reads them again; for tests
// that make the read fail.
void forget_stack_floor();

// True when the frame of the caller lies below `floor`.
[[gnu::always_inline]] inline bool below_stack_floor(uintptr_t floor) {
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < floor;
}

}  // namespace tolvo::parser
