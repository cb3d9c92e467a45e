// Failures that are true of the moment, not of the file: memory running out (std::bad_alloc), the
// calling thread's stack running low, a signal handler that raised, a request that a thread made
// for the file it was computing. The caches report them to the request in which they happened and
// keep nothing, so that a later request, or a request on another thread, computes the file again.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace tolvo::ast {

// The base of the transient failures other than std::bad_alloc.
class TransientFailure : public std::exception {};

// The calling thread's stack is too small for the nesting of a file; a thread with a larger stack
// computes it.
class ThreadStackExhausted final : public TransientFailure {
 public:
  const char* what() const noexcept override {
    return "too deeply nested for this thread's stack";
  }
};

// A host's signal handler raised while a blocking call waited: the host's exception is pending on
// the calling thread and ends the request.
class Interrupted final : public TransientFailure {
 public:
  const char* what() const noexcept override { return "interrupted by a signal handler"; }
};

// A request for an entry that the calling thread is itself computing, made by code that the host
// ran in the middle of that computation (a signal handler while the file was read, say): waiting
// would never end, so the request fails at once.
class ReentrantRequest final : public TransientFailure {
 public:
  explicit ReentrantRequest(std::string_view path)
      : message_("reentrant request for a file this thread is computing: " + std::string(path)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace tolvo::ast
