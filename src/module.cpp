// The module's entry point and its execution step: registers the classes and functions in their
// fixed order and lists each in __all__.
#include "src/py_ref.h"

#include "ast/src/project_index.h"
#include "src/boundary.h"
#include "src/convert.h"
#include "src/registry.h"

namespace tolvo::bindings {
namespace {

constexpr const char* kClassOrder[] = {
    "StdAstFileSystem", "AstFileParserCache", "FeatureFieldAST", "FeatureClassAST",
    "FunctionArgAST",   "ResolverAST",        "AstProjectIndex",
};

constexpr const char* kFunctionOrder[] = {
    "parse_duration_ms",   "parse_duration_s",   "seconds_to_duration_string",
    "parse_iso_date",      "parse_iso_time",     "parse_datetime",
    "parse_iso_duration",  "duration_isoformat", "timezone_from_name",
    "to_snake_case",       "build_namespaced_name",
};

PyObject* interned(const char* text) {
  PyObject* name = PyUnicode_InternFromString(text);
  if (name == nullptr) throw_pending_error();
  return name;
}

// Appends `name` to the module's __all__ (made when missing) and sets the attribute.
void add_to_module(PyObject* module, PyObject* name, PyObject* value) {
  static PyObject* all_name = interned("__all__");
  PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_pending_error();
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_name, all.get()) < 0) throw_pending_error();
  } else if (!PyList_Check(all.get())) {
    throw_not_instance_of(all.get(), "list");
  }
  if (PyList_Append(all.get(), name) < 0) {
    PyErr_Clear();
    throw utils::InternalFault("could not append __name__ to __all__");
  }
  if (PyObject_SetAttr(module, name, value) < 0) throw_pending_error();
}

void register_class(PyObject* module, const char* name, PyTypeObject* (*make_type)()) {
  PyObject* type = reinterpret_cast<PyObject*>(make_type());
  PyRef text = PyRef::steal(PyUnicode_FromString(name));
  if (!text) throw_pending_error();
  add_to_module(module, text.get(), type);
}

void register_function(PyObject* module, PyMethodDef* definition) {
  static PyObject* name_attribute = interned("__name__");
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) throw_pending_error();
  PyRef function = PyRef::steal(PyCMethod_New(definition, module, module_name.get(), nullptr));
  if (!function) throw_pending_error();
  PyRef name = PyRef::steal(PyObject_GetAttr(function.get(), name_attribute));
  if (!name) throw_pending_error();
  if (!PyUnicode_Check(name.get())) throw_not_instance_of(name.get(), "str");
  add_to_module(module, name.get(), function.get());
}

int exec_module(PyObject* module) {
  return call_boundary(-1, [&] {
    if (module == nullptr) throw_pending_error();
    if (!PyModule_Check(module)) throw_not_instance_of(module, "module");
    // Made now, with the interpreter lock held, so that no thread of ours is ever inside their
    // first initialisation when the process forks.
    ast::initialise_once_only_state();
    for (const char* name : kClassOrder) {
      if (auto make_type = registered_class(name)) register_class(module, name, make_type);
    }
    for (const char* name : kFunctionOrder) {
      if (PyMethodDef* definition = registered_function(name)) {
        register_function(module, definition);
      }
    }
    return 0;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tolvo_rs",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tolvo::bindings

PyMODINIT_FUNC PyInit_tolvo_rs(void) {
  return PyModuleDef_Init(&tolvo::bindings::module_definition);
}
