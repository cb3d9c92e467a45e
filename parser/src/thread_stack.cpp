#include "parser/src/thread_stack.h"

#include <pthread.h>

#include <cstddef>

namespace tolvo::parser {
namespace {

// Room below the deepest checked frame: the non-recursive calls under it (ICU's normaliser, a
// literal's escapes, an allocation) and the unwinding of a refusal. Sanitizers' frames are several
// times larger.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uintptr_t kMargin = 160 * 1024;
#else
constexpr uintptr_t kMargin = 32 * 1024;
#endif

uintptr_t read_stack_floor() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  void* lowest = nullptr;
  size_t size = 0;
  int error = pthread_attr_getstack(&attributes, &lowest, &size);
  pthread_attr_destroy(&attributes);
  if (error != 0 || lowest == nullptr) return 0;
  return reinterpret_cast<uintptr_t>(lowest) + kMargin;
}

// Constant-initialised, so that no thread runs an initialiser for them.
constinit thread_local uintptr_t t_floor = 0;
constinit thread_local bool t_floor_read = false;

}  // namespace

uintptr_t stack_floor() {
  if (!t_floor_read) {
    t_floor = read_stack_floor();
    t_floor_read = true;
  }
  return t_floor;
}

}  // namespace tolvo::parser
