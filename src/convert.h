#pragma once

#include "src/py_ref.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvo::bindings {

// Argument conversions. Each takes the bound argument and its parameter name; on refusal it
// raises TypeError "argument '{param}': {why}" (other exceptions, such as the UnicodeEncodeError of
// a lone surrogate, pass unchanged) and throws PythonErrorSet.

// A `str` (or subclass) read in place: the view stays valid while the caller holds the argument.
std::string_view text_argument(PyObject* object, const char* param);

// The same, copied into a native text.
std::string copied_text_argument(PyObject* object, const char* param);

// None or absent gives none; otherwise text read in place.
std::optional<std::string_view> optional_text_argument(PyObject* object, const char* param);

// Any sequence but a `str`, its items `str`, copied in iteration order.
std::vector<std::string> text_list_argument(PyObject* object, const char* param);

// Whatever the interpreter's float conversion accepts.
double float_argument(PyObject* object, const char* param);

// Raises TypeError "'{type}' object is not an instance of '{expected}'" (or "'None' is not an
// instance of '{expected}'" for None), for values that are not arguments.
[[noreturn]] void throw_not_instance_of(PyObject* object, const char* expected);

// Raises TypeError "argument '{param}': '{type}' object is not an instance of '{expected}'" (or
// "'None' is not an instance of '{expected}'" for None).
[[noreturn]] void throw_not_instance(PyObject* object, const char* param, const char* expected);

// Re-raises a pending conversion error: an exact TypeError becomes TypeError "argument '{param}':
// {message}" keeping its cause; any other exception passes unchanged.
[[noreturn]] void throw_wrapped_argument_error(const char* param);

// Result conversions: new references; a value the interpreter cannot make is an internal fault.
PyObject* to_str(std::string_view text);
PyObject* to_str_list(const std::vector<std::string>& texts);

}  // namespace tolvo::bindings
