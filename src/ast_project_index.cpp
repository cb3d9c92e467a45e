// The Python class AstProjectIndex over the native project index.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ast/src/project_index.h"
#include "src/binder.h"
#include "src/boundary.h"
#include "src/classes.h"
#include "src/convert.h"
#include "src/py_ref.h"
#include "src/record_conversions.h"
#include "src/registry.h"
#include "src/std_ast_file_system.h"

namespace tolvo::bindings {
namespace {

using ast::AstProjectIndex;
using IndexObject = ObjectOf<AstProjectIndex>;

constexpr Signature kNew{
    "AstProjectIndex.__new__()", {"files", "project_root", "filesystem"}, 3, 2};

PyObject* project_index_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[3];
    bind_tuple(kNew, args, kwargs, slots);
    std::vector<std::string> files = text_list_argument(slots[0], "files");
    std::string project_root = copied_text_argument(slots[1], "project_root");
    std::shared_ptr<ast::StdAstFileSystem> file_set =
        optional_file_set_argument(slots[2], "filesystem");
    auto index = without_interpreter_lock([&] {
      if (file_set) {
        return AstProjectIndex::with_filesystem(std::move(project_root), std::move(files),
                                                std::move(file_set));
      }
      return AstProjectIndex::create(std::move(project_root), std::move(files));
    });
    if (!index) throw_value_error(index.error());
    return new_object(type, std::move(*index));
  });
}

// One lookup: two text arguments read in place, the native lookup with the interpreter lock held
// while it parses files (released only while it waits for a file that another thread computes),
// and a new record object or None.
template <const Signature& signature, auto lookup>
PyObject* lookup_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* slots[2];
    bind_fastcall(signature, args, nargsf, kwnames, slots);
    IndexObject* object = object_of<AstProjectIndex>(self);
    SharedAccess access(object->operations);
    std::string_view first = text_argument(slots[0], signature.parameters[0]);
    std::string_view second = text_argument(slots[1], signature.parameters[1]);
    InterpreterThread thread;
    auto found = (object->native.*lookup)(first, second);
    if (!found) return Py_NewRef(Py_None);
    return new_record_object(std::move(*found));
  });
}

PyObject* nonblocking_start_index(PyObject* self, PyObject*) {
  return call_boundary<PyObject*>(nullptr, [&] {
    IndexObject* object = object_of<AstProjectIndex>(self);
    SharedAccess access(object->operations);
    object->native.nonblocking_start_index();
    return Py_NewRef(Py_None);
  });
}

constexpr Signature kFeatureClassAst{
    "AstProjectIndex.feature_class_ast()", {"module", "class_name"}, 2, 2};
constexpr Signature kFeatureClassAstInFile{
    "AstProjectIndex.feature_class_ast_in_file()", {"file_path", "class_name"}, 2, 2};
constexpr Signature kResolverAst{
    "AstProjectIndex.resolver_ast()", {"module", "resolver_name"}, 2, 2};
constexpr Signature kResolverAstInFile{
    "AstProjectIndex.resolver_ast_in_file()", {"file_path", "resolver_name"}, 2, 2};
constexpr Signature kFunctionAst{
    "AstProjectIndex.function_ast()", {"module", "function_name"}, 2, 2};
constexpr Signature kFunctionAstInFile{
    "AstProjectIndex.function_ast_in_file()", {"file_path", "function_name"}, 2, 2};

constexpr int kLookupFlags = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"feature_class_ast",
     fastcall_entry<lookup_entry<kFeatureClassAst, &AstProjectIndex::feature_class_ast>>(),
     kLookupFlags, "feature_class_ast($self, module, class_name)\n--\n\n"},
    {"feature_class_ast_in_file",
     fastcall_entry<
         lookup_entry<kFeatureClassAstInFile, &AstProjectIndex::feature_class_ast_in_file>>(),
     kLookupFlags, "feature_class_ast_in_file($self, file_path, class_name)\n--\n\n"},
    {"resolver_ast", fastcall_entry<lookup_entry<kResolverAst, &AstProjectIndex::resolver_ast>>(),
     kLookupFlags, "resolver_ast($self, module, resolver_name)\n--\n\n"},
    {"resolver_ast_in_file",
     fastcall_entry<lookup_entry<kResolverAstInFile, &AstProjectIndex::resolver_ast_in_file>>(),
     kLookupFlags, "resolver_ast_in_file($self, file_path, resolver_name)\n--\n\n"},
    {"function_ast", fastcall_entry<lookup_entry<kFunctionAst, &AstProjectIndex::function_ast>>(),
     kLookupFlags, "function_ast($self, module, function_name)\n--\n\n"},
    {"function_ast_in_file",
     fastcall_entry<lookup_entry<kFunctionAstInFile, &AstProjectIndex::function_ast_in_file>>(),
     kLookupFlags, "function_ast_in_file($self, file_path, function_name)\n--\n\n"},
    {"nonblocking_start_index", nonblocking_start_index, METH_NOARGS,
     "nonblocking_start_index($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// Nobody can look the index up once its object is gone, so its workers stop after their current
// file instead of warming the rest for nobody; they hold the state until then.
void project_index_dealloc(PyObject* self) {
  object_of<AstProjectIndex>(self)->native.stop_warming();
  dealloc_object<AstProjectIndex>(self);
}

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("AstProjectIndex(files, project_root, filesystem=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(project_index_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(project_index_dealloc)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.AstProjectIndex", sizeof(IndexObject), 0, Py_TPFLAGS_DEFAULT, slots,
};

PyObject* type_object = nullptr;

PyTypeObject* project_index_type() {
  return type_from_spec(&type_object, &spec, "AstProjectIndex");
}

const ClassRegistration registration("AstProjectIndex", project_index_type);

}  // namespace
}  // namespace tolvo::bindings
