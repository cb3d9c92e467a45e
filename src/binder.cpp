#include "src/binder.h"

#include <string>

#include "src/boundary.h"

namespace tolvo::bindings {
namespace {

[[noreturn]] void too_many_positional(const Signature& signature, Py_ssize_t given) {
  const char* verb = given == 1 ? "was" : "were";
  if (signature.required == signature.count) {
    PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given",
                 signature.call_name, signature.count, given, verb);
  } else {
    PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given",
                 signature.call_name, signature.required, signature.count, given, verb);
  }
  throw PythonErrorSet{};
}

// Fills the slot named by `keyword` with `value`, or raises the binding error for it.
void bind_keyword(const Signature& signature, PyObject* keyword, PyObject* value,
                  PyObject** slots) {
  if (PyUnicode_Check(keyword)) {
    for (size_t i = 0; i < signature.count; ++i) {
      if (PyUnicode_CompareWithASCIIString(keyword, signature.parameters[i]) != 0) continue;
      if (slots[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                     signature.call_name, signature.parameters[i]);
        throw PythonErrorSet{};
      }
      slots[i] = value;
      return;
    }
  }
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", signature.call_name,
               keyword);
  throw PythonErrorSet{};
}

void check_required(const Signature& signature, PyObject** slots) {
  size_t missing = 0;
  for (size_t i = 0; i < signature.required; ++i) missing += slots[i] == nullptr;
  if (missing == 0) return;
  std::string names;
  size_t listed = 0;
  for (size_t i = 0; i < signature.required; ++i) {
    if (slots[i] != nullptr) continue;
    ++listed;
    if (listed > 1) {
      if (missing > 2) names += ",";
      names += listed == missing ? " and " : " ";
    }
    names += "'";
    names += signature.parameters[i];
    names += "'";
  }
  PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", signature.call_name,
               missing, missing == 1 ? "argument" : "arguments", names.c_str());
  throw PythonErrorSet{};
}

}  // namespace

void bind_fastcall(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf,
                   PyObject* kwnames, PyObject** slots) {
  Py_ssize_t positional = PyVectorcall_NARGS(nargsf);
  if (static_cast<size_t>(positional) > signature.count) {
    too_many_positional(signature, positional);
  }
  for (size_t i = 0; i < signature.count; ++i) {
    slots[i] = i < static_cast<size_t>(positional) ? args[i] : nullptr;
  }
  if (kwnames != nullptr) {
    Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
      bind_keyword(signature, PyTuple_GET_ITEM(kwnames, k), args[positional + k], slots);
    }
  }
  check_required(signature, slots);
}

void bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** slots) {
  Py_ssize_t positional = PyTuple_GET_SIZE(args);
  if (static_cast<size_t>(positional) > signature.count) {
    too_many_positional(signature, positional);
  }
  for (size_t i = 0; i < signature.count; ++i) {
    slots[i] = i < static_cast<size_t>(positional) ? PyTuple_GET_ITEM(args, i) : nullptr;
  }
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* keyword;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &keyword, &value)) {
      bind_keyword(signature, keyword, value, slots);
    }
  }
  check_required(signature, slots);
}

}  // namespace tolvo::bindings
