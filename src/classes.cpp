#include "src/classes.h"

namespace tolvo::bindings {
namespace {
constexpr int64_t kExclusive = -1;
}  // namespace

SharedAccess::SharedAccess(std::atomic<int64_t>& operations) : operations_(operations) {
  int64_t current = operations_.load(std::memory_order_relaxed);
  do {
    if (current == kExclusive) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      throw PythonErrorSet{};
    }
  } while (!operations_.compare_exchange_weak(current, current + 1, std::memory_order_acquire));
}

PyTypeObject* type_from_spec(PyObject** cache, PyType_Spec* spec, const char* class_name) {
  if (*cache != nullptr) return reinterpret_cast<PyTypeObject*>(*cache);
  PyObject* type = PyType_FromSpec(spec);
  if (type == nullptr) {
    PyObject* cause = PyErr_GetRaisedException();
    PyErr_Format(PyExc_RuntimeError, "An error occurred while initializing class %s", class_name);
    PyObject* error = PyErr_GetRaisedException();
    PyException_SetCause(error, cause);
    PyErr_SetRaisedException(error);
    throw PythonErrorSet{};
  }
  *cache = type;
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace tolvo::bindings
