#pragma once

#include "src/py_ref.h"

namespace tolvo::bindings {

// Each file of the module contributes its classes and functions at load time; the execution step
// registers them in the module's fixed order.
struct ClassRegistration {
  ClassRegistration(const char* name, PyTypeObject* (*type)());
};

struct FunctionRegistration {
  explicit FunctionRegistration(PyMethodDef* definition);
};

// A fast-call-with-keywords entry as the PyCFunction that a method table holds.
template <auto function>
PyCFunction fastcall_entry() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The contributed class of this name (its type maker), or null.
PyTypeObject* (*registered_class(const char* name))();

// The contributed function of this name, or null.
PyMethodDef* registered_function(const char* name);

}  // namespace tolvo::bindings
