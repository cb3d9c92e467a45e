#include "parser/src/thread_stack.h"

#include <pthread.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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

// The bounds as the C library reports them, or 0; `*initial` tells whether the calling thread is
// the main thread, whose stack is the process's initial stack. On the main thread that reads
// /proc/self/maps and so needs a descriptor and memory; on another thread, memory.
uintptr_t read_stack_floor(bool* initial) {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  void* lowest = nullptr;
  size_t size = 0;
  int error = pthread_attr_getstack(&attributes, &lowest, &size);
  pthread_attr_destroy(&attributes);
  if (error != 0 || lowest == nullptr) return 0;
  // The main thread's id is the process's. (So is that of another thread once it forks, in the
  // child; its bounds are then merely read again when the limit changes.)
  *initial = syscall(SYS_gettid) == getpid();
  return reinterpret_cast<uintptr_t>(lowest) + kMargin;
}

// The soft limit of the main thread's stack; unlimited when it cannot be read.
rlim_t stack_limit() {
  rlimit limit;
  return getrlimit(RLIMIT_STACK, &limit) == 0 ? limit.rlim_cur : RLIM_INFINITY;
}

// The floor of the main thread's stack from its top and its size `limit` alone, or 0 when `here`
// is not on the main stack or the limit is unlimited. Needs neither a descriptor nor memory. The
// kernel puts the program's file name last, one pointer below the top of the stack's mapping.
uintptr_t main_stack_floor(uintptr_t here, rlim_t limit) {
  if (limit == RLIM_INFINITY) return 0;
  const char* file_name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (file_name == nullptr) return 0;
  uintptr_t page = static_cast<uintptr_t>(getauxval(AT_PAGESZ));
  if (page == 0) page = 4096;
  uintptr_t top =
      reinterpret_cast<uintptr_t>(file_name) + std::strlen(file_name) + 1 + sizeof(void*);
  top = (top + page - 1) & ~(page - 1);
  if (limit >= top || here >= top || here < top - limit) return 0;
  return top - limit + kMargin;
}

// Constant-initialised, so that no thread runs an initialiser for it. 0 until the bounds were read.
constinit thread_local uintptr_t t_floor = 0;
// Whether the bounds read are those of the initial stack, and the stack limit they were read under:
// the kernel grows the initial stack only as far as the limit of the moment, which the process may
// lower at any time, while another thread's stack is fixed when the thread starts.
constinit thread_local bool t_initial_stack = false;
constinit thread_local rlim_t t_limit = 0;

}  // namespace

uintptr_t stack_floor() {
  if (t_floor != 0 && !t_initial_stack) return t_floor;
  rlim_t limit = stack_limit();
  if (t_floor != 0 && limit == t_limit) return t_floor;
  // A failed read is not kept: the next request reads again.
  bool initial = false;
  if ((t_floor = read_stack_floor(&initial)) != 0) {
    t_initial_stack = initial;
    t_limit = limit;
    return t_floor;
  }
  uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (uintptr_t floor = main_stack_floor(here, limit)) return floor;
  return here - kRoomWhileUnknown;
}

void forget_stack_floor() { t_floor = 0; }

}  // namespace tolvo::parser
