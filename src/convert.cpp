#include "src/convert.h"

#include <algorithm>

#include "src/boundary.h"

namespace tolvo::bindings {
namespace {

// The qualified name of collections.abc.Sequence, looked up once per process and only to name it
// in a refusal.
const char* sequence_type_name() {
  static std::string name;
  if (name.empty()) {
    name = "Sequence";
    PyRef abc = PyRef::steal(PyImport_ImportModule("collections.abc"));
    PyRef sequence = abc ? PyRef::steal(PyObject_GetAttrString(abc.get(), "Sequence")) : PyRef();
    PyRef qualname =
        sequence ? PyRef::steal(PyObject_GetAttrString(sequence.get(), "__qualname__")) : PyRef();
    const char* utf8 = qualname ? PyUnicode_AsUTF8(qualname.get()) : nullptr;
    if (utf8 != nullptr) {
      name = utf8;
    } else {
      PyErr_Clear();
    }
  }
  return name.c_str();
}

std::string_view utf8_of(PyObject* text) {
  Py_ssize_t size;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) throw_pending_error();
  return std::string_view(data, static_cast<size_t>(size));
}

}  // namespace

void throw_not_instance_of(PyObject* object, const char* expected) {
  if (object == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
  } else {
    PyRef type_name = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
    if (!type_name) throw_pending_error();
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", type_name.get(),
                 expected);
  }
  throw PythonErrorSet{};
}

void throw_not_instance(PyObject* object, const char* param, const char* expected) {
  try {
    throw_not_instance_of(object, expected);
  } catch (const PythonErrorSet&) {
    throw_wrapped_argument_error(param);
  }
}

void throw_wrapped_argument_error(const char* param) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw_pending_error();
  PyObject* original = PyErr_GetRaisedException();
  if (Py_TYPE(original) != (PyTypeObject*)PyExc_TypeError) {
    PyErr_SetRaisedException(original);
    throw_pending_error();
  }
  PyRef owned = PyRef::steal(original);
  PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %S", param, original));
  if (!message) throw_pending_error();
  PyRef wrapped = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!wrapped) throw_pending_error();
  if (PyObject* cause = PyException_GetCause(original)) PyException_SetCause(wrapped.get(), cause);
  PyErr_SetRaisedException(wrapped.release());
  throw PythonErrorSet{};
}

std::string_view text_argument(PyObject* object, const char* param) {
  if (!PyUnicode_Check(object)) throw_not_instance(object, param, "str");
  return utf8_of(object);
}

std::string copied_text_argument(PyObject* object, const char* param) {
  return std::string(text_argument(object, param));
}

std::optional<std::string_view> optional_text_argument(PyObject* object, const char* param) {
  if (object == nullptr || object == Py_None) return std::nullopt;
  return text_argument(object, param);
}

std::vector<std::string> text_list_argument(PyObject* object, const char* param) {
  if (PyUnicode_Check(object)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': Can't extract `str` to `Vec`", param);
    throw PythonErrorSet{};
  }
  if (!PySequence_Check(object)) throw_not_instance(object, param, sequence_type_name());

  std::vector<std::string> texts;
  Py_ssize_t length = PyObject_Length(object);
  if (length < 0) {
    // The length only sizes the list, so its error is dropped; but a KeyboardInterrupt, a
    // SystemExit or a PanicException is not an error of the length.
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw_pending_error();
    PyErr_Clear();
  } else {
    // An exact list or tuple holds its items already; any other sequence, subclasses of list and
    // tuple included, may report a length it never yields (an overridden __len__), so its hint is
    // capped rather than trusted with the process's memory.
    constexpr Py_ssize_t kMaxHintedLength = 4096;
    if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object)) {
      length = std::min(length, kMaxHintedLength);
    }
    texts.reserve(static_cast<size_t>(length));
  }
  // An error raised while iterating is the conversion's own: an exact TypeError is wrapped like
  // every other refusal, anything else passes unchanged.
  PyRef iterator = PyRef::steal(PyObject_GetIter(object));
  if (!iterator) throw_wrapped_argument_error(param);
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    texts.emplace_back(text_argument(item.get(), param));
  }
  if (PyErr_Occurred()) throw_wrapped_argument_error(param);
  return texts;
}

double float_argument(PyObject* object, const char* param) {
  if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
  double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) throw_wrapped_argument_error(param);
  return value;
}

PyObject* to_str(std::string_view text) {
  // A string literal's escapes can make lone surrogates, which native texts hold in their
  // three-byte form; they come back as the same code points, as CPython's own tree has them.
  return made(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
}

PyObject* to_str_list(const std::vector<std::string>& texts) {
  PyRef list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(texts.size()))));
  for (size_t i = 0; i < texts.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_str(texts[i]));
  }
  return list.release();
}

}  // namespace tolvo::bindings
