// The module functions over names: to_snake_case and build_namespaced_name.
#include <optional>
#include <string>
#include <string_view>

#include "src/binder.h"
#include "src/boundary.h"
#include "src/convert.h"
#include "src/py_ref.h"
#include "src/registry.h"
#include "utils/src/namespace.h"

namespace tolvo::bindings {
namespace {

constexpr Signature kToSnakeCase{"to_snake_case()", {"name"}, 1, 1};
constexpr Signature kBuildNamespacedName{"build_namespaced_name()", {"namespace", "name"}, 2, 0};

PyObject* to_snake_case(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kToSnakeCase, args, nargsf, kwnames, slots);
    const std::string_view name = text_argument(slots[0], "name");
    std::string result = without_interpreter_lock([&] { return utils::to_snake_case(name); });
    return to_str(result);
  });
}

PyObject* build_namespaced_name(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[2];
    bind_fastcall(kBuildNamespacedName, args, nargsf, kwnames, slots);
    const std::optional<std::string_view> namespace_path =
        optional_text_argument(slots[0], "namespace");
    const std::optional<std::string_view> name = optional_text_argument(slots[1], "name");
    std::string result = without_interpreter_lock(
        [&] { return utils::build_namespaced_name(namespace_path, name); });
    return to_str(result);
  });
}

PyMethodDef definitions[] = {
    {"to_snake_case", fastcall_entry<to_snake_case>(), METH_FASTCALL | METH_KEYWORDS,
     "to_snake_case(name)\n--\n\n"},
    {"build_namespaced_name", fastcall_entry<build_namespaced_name>(),
     METH_FASTCALL | METH_KEYWORDS, "build_namespaced_name(namespace=None, name=None)\n--\n\n"},
};

const FunctionRegistration registrations[] = {
    FunctionRegistration(&definitions[0]),
    FunctionRegistration(&definitions[1]),
};

}  // namespace
}  // namespace tolvo::bindings
