#include "src/boundary.h"

namespace tolvo::bindings {
namespace {

PyObject* decode_message(std::string_view message) {
  return PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
}

}  // namespace

void throw_error(PyObject* type, std::string_view message) {
  PyRef text = PyRef::steal(decode_message(message));
  if (!text) throw_pending_error();
  PyErr_SetObject(type, text.get());
  throw PythonErrorSet{};
}

PyObject* panic_exception_type() {
  // Made under the interpreter lock, so a plain static is enough; never released.
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "tolvo_runtime.PanicException",
        "An internal fault of tolvo_rs: a broken invariant in native code, not bad input.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

void raise_panic(std::string_view message) {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the error of making the type stays pending
  PyObject* text = decode_message(message);
  if (text == nullptr) return;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

void throw_pending_error() {
  if (!PyErr_Occurred()) {
    PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    throw PythonErrorSet{};
  }
  PyObject* pending = PyErr_GetRaisedException();
  // Made with no exception pending; a failure to make it leaves the taken exception as it was.
  PyObject* panic_type = panic_exception_type();
  if (panic_type == nullptr) PyErr_Clear();
  if (panic_type != nullptr && pending != nullptr && Py_TYPE(pending) == (PyTypeObject*)panic_type) {
    std::string message = "internal fault";
    if (PyObject* text = PyObject_Str(pending)) {
      if (const char* utf8 = PyUnicode_AsUTF8(text)) message = utf8;
      Py_DECREF(text);
    }
    PyErr_Clear();
    std::fputs("tolvo_rs: a PanicException came back from Python code; it continues as a fault:\n",
               stderr);
    PyErr_DisplayException(pending);
    Py_DECREF(pending);
    throw utils::InternalFault(message);
  }
  PyErr_SetRaisedException(pending);
  throw PythonErrorSet{};
}

void throw_value_error(std::string_view message) { throw_error(PyExc_ValueError, message); }

void throw_io_error(std::string_view message) { throw_error(PyExc_OSError, message); }

PyObject* made(PyObject* object) {
  if (object == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw PythonErrorSet{};
    PyErr_WriteUnraisable(nullptr);
    throw utils::InternalFault("the interpreter could not make a value");
  }
  return object;
}

void raise_transient(const ast::TransientFailure& failure) {
  if (dynamic_cast<const ast::Interrupted*>(&failure) != nullptr) {
    if (!PyErr_Occurred()) raise_panic("a signal handler failed without an exception");
    return;
  }
  PyObject* type = dynamic_cast<const ast::ReentrantRequest*>(&failure) != nullptr
                       ? PyExc_RuntimeError
                       : PyExc_RecursionError;
  PyErr_SetString(type, failure.what());
}

bool InterpreterThread::run_signal_handlers() {
  if (released_ == nullptr) return PyErr_CheckSignals() == 0;
  // Marked as held before it is taken: should the interpreter end the thread right there, the
  // unwinding that follows takes it nowhere a second time.
  PyEval_RestoreThread(std::exchange(released_, nullptr));
  int failed = PyErr_CheckSignals();
  released_ = PyEval_SaveThread();
  return failed == 0;
}

void InterpreterThread::suspend() {
  if (released_ != nullptr) return;  // already released around the whole native call
  released_ = PyEval_SaveThread();
  suspended_ = true;
}

void InterpreterThread::resume() {
  if (!suspended_) return;
  suspended_ = false;
  PyEval_RestoreThread(std::exchange(released_, nullptr));
}

void abort_uncaught() {
  std::fputs("uncaught panic at ffi boundary\n", stderr);
  std::abort();
}

}  // namespace tolvo::bindings
