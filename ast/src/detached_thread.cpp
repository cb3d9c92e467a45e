#include "ast/src/detached_thread.h"

#include <cxxabi.h>
#include <pthread.h>
#include <signal.h>

#include <memory>

#include "ast/src/ast_filesystem.h"

namespace tolvo::ast {
namespace {

// Destroys the attributes on every path out of the start.
class ThreadAttributes {
 public:
  ThreadAttributes() : error_(pthread_attr_init(&attr_)) {}
  ~ThreadAttributes() {
    if (error_ == 0) pthread_attr_destroy(&attr_);
  }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;

  int init_error() const { return error_; }
  pthread_attr_t* get() { return &attr_; }

 private:
  pthread_attr_t attr_;
  int error_;
};

// Blocks every asynchronous signal on the calling thread for the scope's life; a thread started
// meanwhile inherits the mask. Faults raised by an instruction stay deliverable.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t blocked;
    sigfillset(&blocked);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&blocked, fault);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

// The forced unwind carries no object, so its handler binds a null reference that is never read;
// UBSan's null check would stop the thread there.
[[gnu::no_sanitize("null")]] void* run_body(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  try {
    (*body)();
  } catch (abi::__forced_unwind&) {
    // pthread_exit and cancellation unwind the thread this way; swallowing it would abort.
    throw;
  } catch (...) {
    // An exception escaping a thread ends the process; the body's owner has already had its
    // chance to handle it.
  }
  return nullptr;
}

}  // namespace

std::expected<void, std::string> spawn_detached_thread(std::function<void()> body) {
  ThreadAttributes attributes;
  int error = attributes.init_error();
  if (error == 0) error = pthread_attr_setstacksize(attributes.get(), kWorkerStackSize);
  // Created detached rather than detached afterwards, so no joinable thread is ever left behind.
  if (error == 0) error = pthread_attr_setdetachstate(attributes.get(), PTHREAD_CREATE_DETACHED);
  if (error != 0) return std::unexpected(os_error_text(error));
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t thread;
  {
    // The thread starts with asynchronous signals blocked, so that they go to the host's threads,
    // whose handlers are there to see them.
    SignalsBlocked blocked;
    // pthread functions return their error number instead of setting errno.
    error = pthread_create(&thread, attributes.get(), run_body, owned.get());
  }
  if (error != 0) return std::unexpected(os_error_text(error));
  owned.release();  // the thread owns it now
  return {};
}

}  // namespace tolvo::ast
