// Record fields as Python values, for the read-only properties of the record classes. Every read
// builds new values from the object's own record, which it never changes: a location is a tuple
// (start line, start character, end line, end character) without its URI, an absent value None,
// a list a list, a map a dict, a nested record a new object owning a copy.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ast/src/ast_types.h"
#include "src/boundary.h"
#include "src/classes.h"
#include "src/py_ref.h"

namespace tolvo::bindings {

// New objects of the record classes, each owning `record`.
PyObject* new_record_object(ast::FeatureFieldAST record);
PyObject* new_record_object(ast::FeatureClassAST record);
PyObject* new_record_object(ast::FunctionArgAST record);
PyObject* new_record_object(ast::ResolverAST record);

// The conversion of each field type; new references.
PyObject* to_python(const std::string& text);
PyObject* to_python(const std::optional<std::string>& text);
PyObject* to_python(const std::vector<std::string>& texts);
PyObject* to_python(const ast::Location& location);
PyObject* to_python(const std::optional<ast::Location>& location);
PyObject* to_python(const std::vector<ast::Location>& locations);
PyObject* to_python(const ast::LocationMap& map);
PyObject* to_python(const ast::NestedLocationMap& map);

// A dict of new record objects, each owning a copy of its entry.
template <typename Record>
PyObject* to_python(const ast::TextMap<Record>& records) {
  PyRef dict = PyRef::steal(made(PyDict_New()));
  for (const auto& [name, record] : records) {
    PyRef key = PyRef::steal(to_python(name));
    PyRef value = PyRef::steal(new_record_object(record));
    if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) throw_pending_error();
  }
  return dict.release();
}

// A list of new record objects, each owning a copy of its element.
template <typename Record>
PyObject* to_python(const std::vector<Record>& records) {
  PyRef list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(records.size()))));
  for (size_t i = 0; i < records.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_record_object(records[i]));
  }
  return list.release();
}

template <typename Member>
struct MemberTraits;
template <typename Record, typename Field>
struct MemberTraits<Field Record::*> {
  using RecordType = Record;
};

// The getter of a read-only property showing the record field `field`.
template <auto field>
PyObject* record_field_getter(PyObject* self, void*) {
  using Record = typename MemberTraits<decltype(field)>::RecordType;
  return call_boundary<PyObject*>(nullptr, [&] {
    ObjectOf<Record>* object = object_of<Record>(self);
    SharedAccess access(object->operations);
    return to_python(object->native.*field);
  });
}

// A property table entry for `field`.
template <auto field>
constexpr PyGetSetDef record_property(const char* name) {
  return {name, record_field_getter<field>, nullptr, nullptr, nullptr};
}

// The spec of a record class: no constructor (the module makes every object), no documentation,
// not subclassable, only its properties.
template <typename Record>
PyType_Spec record_type_spec(const char* qualified_name, PyType_Slot* slots) {
  return {qualified_name, sizeof(ObjectOf<Record>), 0,
          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
}

}  // namespace tolvo::bindings
