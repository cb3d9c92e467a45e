#pragma once

#include "src/py_ref.h"

#include <cstddef>
#include <initializer_list>

namespace tolvo::bindings {

// The fixed description of a callable used for binding: its call name (as in
// "StdAstFileSystem.read_to_string()"), its parameter names in order and how many of the leading
// ones are required. Every parameter may be given by position or by keyword.
struct Signature {
  static constexpr size_t kMaxParameters = 4;

  const char* call_name;
  const char* parameters[kMaxParameters];
  size_t count;
  size_t required;
};

// Binds a fast call with keywords into `slots` (borrowed references, null where a parameter was
// not given). On a binding error raises TypeError with its text and throws PythonErrorSet.
void bind_fastcall(const Signature& signature, PyObject* const* args, Py_ssize_t nargsf,
                   PyObject* kwnames, PyObject** slots);

// The same for a call through a tuple and a keyword dict (constructors).
void bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** slots);

}  // namespace tolvo::bindings
