#include "src/record_conversions.h"

#include "src/convert.h"

namespace tolvo::bindings {
namespace {

PyObject* location_tuple(const ast::Range& range) {
  PyRef tuple = PyRef::steal(made(PyTuple_New(4)));
  const uint32_t numbers[] = {range.start.line, range.start.character, range.end.line,
                              range.end.character};
  for (Py_ssize_t i = 0; i < 4; ++i) {
    PyTuple_SET_ITEM(tuple.get(), i, made(PyLong_FromUnsignedLong(numbers[i])));
  }
  return tuple.release();
}

template <typename Value>
PyObject* dict_of(const ast::TextMap<Value>& map) {
  PyRef dict = PyRef::steal(made(PyDict_New()));
  for (const auto& [name, value] : map) {
    PyRef key = PyRef::steal(to_python(name));
    PyRef item = PyRef::steal(to_python(value));
    if (PyDict_SetItem(dict.get(), key.get(), item.get()) < 0) throw_pending_error();
  }
  return dict.release();
}

template <typename Value>
PyObject* list_of(const std::vector<Value>& values) {
  PyRef list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(values.size()))));
  for (size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_python(values[i]));
  }
  return list.release();
}

}  // namespace

PyObject* to_python(const std::string& text) { return to_str(text); }

PyObject* to_python(const std::optional<std::string>& text) {
  if (!text) return Py_NewRef(Py_None);
  return to_str(*text);
}

PyObject* to_python(const std::vector<std::string>& texts) { return list_of(texts); }

PyObject* to_python(const ast::Location& location) { return location_tuple(location.range); }

PyObject* to_python(const std::optional<ast::Location>& location) {
  if (!location) return Py_NewRef(Py_None);
  return location_tuple(location->range);
}

PyObject* to_python(const std::vector<ast::Location>& locations) { return list_of(locations); }

PyObject* to_python(const ast::LocationMap& map) { return dict_of(map); }

PyObject* to_python(const ast::NestedLocationMap& map) { return dict_of(map); }

}  // namespace tolvo::bindings
