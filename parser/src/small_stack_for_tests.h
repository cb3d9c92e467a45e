#pragma once

// For the tests of the parser and the indexing: runs code on a thread with a stack of a given size,
// such as the 2 MiB of the indexing workers or the 64 KiB a Python thread may have.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "parser/src/thread_stack.h"

namespace tolvo::parser::test_support {

// The indexing workers' stack, in every build: the parser bounds its recursion by stack use, so a
// sanitizer's larger frames must give errors, not overflows.
inline constexpr size_t kWorkerStack = 2 * 1024 * 1024;

// Runs `body` on a new thread with a stack of `bytes` and waits for it.
inline void on_stack_of(size_t bytes, const std::function<void()>& body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// Runs `body` on a new thread with a 2 MiB stack and waits for it.
inline void on_small_stack(const std::function<void()>& body) { on_stack_of(kWorkerStack, body); }

// Runs `body` on the calling thread with only `left` bytes of its stack above the floor at which
// recursion stops. Independent of the thread's real size, which glibc may round up by handing a
// larger cached stack to a new thread.
[[gnu::noinline]] inline void with_stack_left(size_t left, const std::function<void()>& body) {
  uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  uintptr_t floor = stack_floor();
  size_t drop = here > floor + left + 1024 ? here - floor - left - 1024 : 0;
  void* pad = __builtin_alloca(drop);
  asm volatile("" : : "r"(pad) : "memory");
  body();
}

}  // namespace tolvo::parser::test_support
