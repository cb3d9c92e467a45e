// The Python class StdAstFileSystem over the native file set.
#include "src/std_ast_file_system.h"

#include "src/binder.h"
#include "src/boundary.h"
#include "src/classes.h"
#include "src/convert.h"
#include "src/registry.h"

namespace tolvo::bindings {
namespace {

using FileSet = std::shared_ptr<ast::StdAstFileSystem>;
using FileSetObject = ObjectOf<FileSet>;

constexpr Signature kNew{"StdAstFileSystem.__new__()", {"files"}, 1, 1};
constexpr Signature kReadToString{"StdAstFileSystem.read_to_string()", {"path"}, 1, 1};

PyObject* file_set_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_tuple(kNew, args, kwargs, slots);
    std::vector<std::string> files = text_list_argument(slots[0], "files");
    auto file_set = std::make_shared<ast::StdAstFileSystem>(std::move(files));
    return new_object(type, FileSet(std::move(file_set)));
  });
}

PyObject* read_to_string(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kReadToString, args, nargsf, kwnames, slots);
    FileSetObject* object = object_of<FileSet>(self);
    SharedAccess access(object->operations);
    std::string_view path = text_argument(slots[0], "path");
    const ast::StdAstFileSystem& file_set = *object->native;
    InterpreterThread thread;
    auto text = thread.without_lock([&] { return file_set.read_to_string(path); });
    if (!text) throw_io_error(text.error().text);
    return to_str(*text);
  });
}

PyObject* all_files(PyObject* self, PyObject*) {
  return call_boundary<PyObject*>(nullptr, [&] {
    FileSetObject* object = object_of<FileSet>(self);
    SharedAccess access(object->operations);
    const ast::StdAstFileSystem& file_set = *object->native;
    auto files = without_interpreter_lock([&] { return file_set.all_files(); });
    if (!files) throw_io_error(files.error().text);
    return to_str_list(*files);
  });
}

PyMethodDef methods[] = {
    {"read_to_string", fastcall_entry<read_to_string>(), METH_FASTCALL | METH_KEYWORDS,
     "read_to_string($self, path)\n--\n\n"},
    {"all_files", all_files, METH_NOARGS, "all_files($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("StdAstFileSystem(files)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(file_set_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<FileSet>)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.StdAstFileSystem",
    sizeof(FileSetObject),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

PyObject* type_object = nullptr;

const ClassRegistration registration("StdAstFileSystem", std_ast_file_system_type);

}  // namespace

PyTypeObject* std_ast_file_system_type() {
  return type_from_spec(&type_object, &spec, "StdAstFileSystem");
}

std::shared_ptr<ast::StdAstFileSystem> optional_file_set_argument(PyObject* object,
                                                                  const char* param) {
  if (object == nullptr || object == Py_None) return nullptr;
  if (!PyObject_TypeCheck(object, std_ast_file_system_type())) {
    throw_not_instance(object, param, "StdAstFileSystem");
  }
  FileSetObject* file_set = object_of<FileSet>(object);
  SharedAccess access(file_set->operations);
  return file_set->native;
}

}  // namespace tolvo::bindings
