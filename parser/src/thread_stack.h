// How much stack the calling thread has left. Recursion bounded by fixed limits fits the indexing
// workers' 2 MiB stacks, but a Python thread may have much less (threading.stack_size() accepts
// 32 KiB), so recursive code also stops where the stack below its frame runs low.
#pragma once

#include <cstdint>

namespace tolvo::parser {

// The lowest frame address at which recursion may still go one level deeper on the calling thread:
// the lowest address of its stack plus a margin for the calls below the deepest recursive frame
// and for reporting the refusal. 0 when the thread's bounds cannot be read. The bounds are read
// once per thread (on the main thread, pthread_getattr_np reads /proc/self/maps).
uintptr_t stack_floor();

// True when the frame of the caller lies below `floor`.
[[gnu::always_inline]] inline bool below_stack_floor(uintptr_t floor) {
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < floor;
}

}  // namespace tolvo::parser
