#include "parser/src/thread_stack.h"

#include <pthread.h>
#include <sys/auxv.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstring>

namespace tolvo::parser {
namespace {

// Room below the deepest checked frame: the non-recursive calls under it (ICU's normaliser, a
// literal's escapes, an allocation) and the unwinding of a refusal. Sanitizers' frames are several
// times larger.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uintptr_t kMargin = 160 * 1024;
constexpr uintptr_t kScale = 4;
#else
constexpr uintptr_t kMargin = 32 * 1024;
constexpr uintptr_t kScale = 1;
#endif

// While a thread's bounds are unknown, recursion may go this far below the frame that asked: about
// twice what the most deeply nested file of the standard library needs, and with the margin below
// it well inside a small thread's stack.
constexpr uintptr_t kRoomWhileUnknown = 32 * 1024 * kScale;

// The bounds as the C library reports them, or 0. On the main thread that reads /proc/self/maps
// and so needs a descriptor and memory; on another thread, memory.
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

// The floor of the main thread's stack from its top and its size limit alone, or 0 when `here` is
// not on the main stack or the limit is unlimited. Needs neither a descriptor nor memory. The
// kernel puts the program's file name last, one pointer below the top of the stack's mapping.
uintptr_t main_stack_floor(uintptr_t here) {
  rlimit limit;
  if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  const char* file_name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (file_name == nullptr) return 0;
  uintptr_t page = static_cast<uintptr_t>(getauxval(AT_PAGESZ));
  if (page == 0) page = 4096;
  uintptr_t top =
      reinterpret_cast<uintptr_t>(file_name) + std::strlen(file_name) + 1 + sizeof(void*);
  top = (top + page - 1) & ~(page - 1);
  if (limit.rlim_cur >= top || here >= top || here < top - limit.rlim_cur) return 0;
  return top - limit.rlim_cur + kMargin;
}

// Constant-initialised, so that no thread runs an initialiser for it. 0 until the bounds were read.
constinit thread_local uintptr_t t_floor = 0;

}  // namespace

uintptr_t stack_floor() {
  if (t_floor != 0) return t_floor;
  // A failed read is not kept: the next request reads again.
  if ((t_floor = read_stack_floor()) != 0) return t_floor;
  uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (uintptr_t floor = main_stack_floor(here)) return floor;
  return here - kRoomWhileUnknown;
}

void forget_stack_floor() { t_floor = 0; }

}  // namespace tolvo::parser
