#pragma once

// For the parser's tests: runs code on a thread with the 2 MiB stack of the indexing workers.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <functional>

namespace tolvo::parser::test_support {

// The indexing workers' stack, in every build: the parser bounds its recursion by stack use, so a
// sanitizer's larger frames must give errors, not overflows.
inline constexpr size_t kWorkerStack = 2 * 1024 * 1024;

// Runs `body` on a new thread with a 2 MiB stack and waits for it.
inline void on_small_stack(const std::function<void()>& body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, kWorkerStack), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

}  // namespace tolvo::parser::test_support
