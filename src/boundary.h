#pragma once

#include "src/py_ref.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <string_view>

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
// could not, the pending exception goes to the unraisable hook and the call fails as a fault.
PyObject* made(PyObject* object);

// Prints the message and aborts; for faults that cannot be raised.
[[noreturn]] void abort_uncaught();

// The call boundary of every entry point: runs `body` and turns what it throws into the
// interpreter's convention. `failure` is what the entry returns on error (NULL or -1).
template <typename Result, typename Body>
Result call_boundary(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const PythonErrorSet&) {
    return failure;
  } catch (const std::bad_alloc&) {
    std::fputs("tolvo_rs: out of memory\n", stderr);
    std::abort();
  } catch (const std::exception& fault) {
    raise_panic(fault.what());
    return failure;
  } catch (...) {
    raise_panic("internal fault");
    return failure;
  }
}

// Releases the interpreter lock for the scope's lifetime and takes it back on every way out,
// unwinding included. Code inside must not touch any Python object.
class ReleasedInterpreterLock {
 public:
  ReleasedInterpreterLock() : state_(PyEval_SaveThread()) {}
  ~ReleasedInterpreterLock() { PyEval_RestoreThread(state_); }
  ReleasedInterpreterLock(const ReleasedInterpreterLock&) = delete;
  ReleasedInterpreterLock& operator=(const ReleasedInterpreterLock&) = delete;

 private:
  PyThreadState* state_;
};

// Runs `work` with the interpreter lock released and returns its native result.
template <typename Work>
auto without_interpreter_lock(Work&& work) {
  ReleasedInterpreterLock released;
  return work();
}

}  // namespace tolvo::bindings
