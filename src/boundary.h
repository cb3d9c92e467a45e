#pragma once

#include "src/py_ref.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "ast/src/host_thread.h"
#include "ast/src/transient.h"
#include "utils/src/fault.h"

namespace tolvo::bindings {

// Thrown when the interpreter's error indicator is set and the call must return NULL with it.
struct PythonErrorSet {};

// The PanicException type (a BaseException subclass), made once per process on first use.
PyObject* panic_exception_type();

// Sets PanicException with `message` as the pending exception.
void raise_panic(std::string_view message);

// Ends the call with the pending exception. A pending PanicException that came back from Python
// code is not an ordinary error: it is printed and continues as an internal fault.
[[noreturn]] void throw_pending_error();

// Ends the call with an exception of `type` whose only argument is `message`.
[[noreturn]] void throw_error(PyObject* type, std::string_view message);

// Ends the call with ValueError / IOError carrying exactly `message`.
[[noreturn]] void throw_value_error(std::string_view message);
[[noreturn]] void throw_io_error(std::string_view message);

// Checks an object the interpreter was asked to make (a str, int, tuple, list or dict): when it
// could not for want of memory, its MemoryError ends the call; otherwise the pending exception
// goes to the unraisable hook and the call fails as a fault.
PyObject* made(PyObject* object);

// Sets the exception of a transient failure: RecursionError for a thread's stack running low, and
// for a signal handler that raised, its exception (already pending).
void raise_transient(const ast::TransientFailure& failure);

// Prints the message and aborts; for faults that cannot be raised.
[[noreturn]] void abort_uncaught();

// The call boundary of every entry point: runs `body` and turns what it throws into the
// interpreter's convention. `failure` is what the entry returns on error (NULL or -1). It is not
// noexcept: a daemon thread that takes the interpreter lock back while the interpreter shuts down
// is ended by pthread_exit, whose unwinding must pass.
template <typename Result, typename Body>
Result call_boundary(Result failure, Body&& body) {
  try {
    return body();
  } catch (const PythonErrorSet&) {
    return failure;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return failure;
  } catch (const ast::TransientFailure& transient) {
    raise_transient(transient);
    return failure;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (const std::exception& fault) {
    raise_panic(fault.what());
    return failure;
  } catch (...) {
    raise_panic("internal fault");
    return failure;
  }
}

// Runs `work` with the interpreter lock released, keeping the thread's state in `state` meanwhile
// (code inside may take the lock back for a moment through it), and returns its native result.
// Code inside must not touch any Python object. The lock is taken back only once `work` has
// returned or its exception has been caught, never while an exception unwinds: the interpreter may
// end a daemon thread right there with pthread_exit, whose forced unwind would end the process if
// it began inside a cleanup. A forced unwind out of `work` passes with the lock left as it is: it
// began where code inside took the lock back, with `state` already cleared.
template <typename Work>
auto run_released(PyThreadState*& state, Work&& work) -> decltype(work()) {
  state = PyEval_SaveThread();
  std::optional<decltype(work())> result;
  std::exception_ptr failure;
  try {
    result.emplace(work());
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    failure = std::current_exception();
  }
  PyEval_RestoreThread(std::exchange(state, nullptr));
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

// The interpreter as the host of a call that reads files or waits for them. For the call's life it
// is the calling thread's host: an interrupted read or wait runs the interpreter's signal handlers
// (taking the lock for it where it was released), and a wait for a file that another thread
// computes releases the lock until the file is done.
class InterpreterThread final : public ast::HostThread {
 public:
  InterpreterThread() : scope_(this) {}
  InterpreterThread(const InterpreterThread&) = delete;
  InterpreterThread& operator=(const InterpreterThread&) = delete;

  // Runs `work` with the interpreter lock released and returns its native result.
  template <typename Work>
  auto without_lock(Work&& work) {
    return run_released(released_, std::forward<Work>(work));
  }

  bool run_signal_handlers() override;
  void suspend() override;
  void resume() override;

 private:
  PyThreadState* released_ = nullptr;  // set while the lock is released
  bool suspended_ = false;             // released by suspend(), not by without_lock
  ast::HostThreadScope scope_;
};

// Runs `work` with the interpreter lock released and returns its native result.
template <typename Work>
auto without_interpreter_lock(Work&& work) {
  PyThreadState* state = nullptr;
  return run_released(state, std::forward<Work>(work));
}

}  // namespace tolvo::bindings
