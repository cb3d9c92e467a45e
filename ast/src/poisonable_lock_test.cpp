#include "ast/src/poisonable_lock.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tolvo::ast {
namespace {

template <typename Guard, typename Lock>
void unwind_through(Lock& lock) {
  try {
    Guard guard(lock);
    throw std::runtime_error("fault");
  } catch (const std::runtime_error&) {
  }
}

TEST(PoisonableMutexTest, OnlyAnUnwoundHolderPoisons) {
  PoisonableMutex mutex;
  { PoisonableMutex::Guard guard(mutex); }
  EXPECT_FALSE(PoisonableMutex::Guard(mutex).poisoned());
  unwind_through<PoisonableMutex::Guard>(mutex);
  EXPECT_TRUE(PoisonableMutex::Guard(mutex).poisoned());
  EXPECT_TRUE(PoisonableMutex::Guard(mutex).poisoned()) << "the mark is never cleared";
}

TEST(PoisonableMutexTest, AGuardTakenDuringUnwindingPoisonsOnlyWhenItselfUnwound) {
  // A guard made and released inside a destructor that runs during unwinding left normally.
  PoisonableMutex mutex;
  struct Cleanup {
    PoisonableMutex& mutex;
    ~Cleanup() { PoisonableMutex::Guard guard(mutex); }
  };
  try {
    Cleanup cleanup{mutex};
    throw std::runtime_error("fault");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(PoisonableMutex::Guard(mutex).poisoned());
}

TEST(PoisonableSharedMutexTest, AnUnwoundWriterPoisonsAndAnUnwoundReaderDoesNot) {
  PoisonableSharedMutex lock;
  unwind_through<PoisonableSharedMutex::ReadGuard>(lock);
  EXPECT_FALSE(PoisonableSharedMutex::ReadGuard(lock).poisoned());
  EXPECT_FALSE(PoisonableSharedMutex::WriteGuard(lock).poisoned());
  unwind_through<PoisonableSharedMutex::WriteGuard>(lock);
  EXPECT_TRUE(PoisonableSharedMutex::ReadGuard(lock).poisoned());
  EXPECT_TRUE(PoisonableSharedMutex::WriteGuard(lock).poisoned());
}

}  // namespace
}  // namespace tolvo::ast
