// The Python class AstFileParserCache over the native parser cache.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "ast/src/lib.h"
#include "src/binder.h"
#include "src/boundary.h"
#include "src/classes.h"
#include "src/convert.h"
#include "src/py_ref.h"
#include "src/registry.h"
#include "src/std_ast_file_system.h"

namespace tolvo::bindings {
namespace {

using CacheObject = ObjectOf<ast::AstFileParserCache>;

constexpr Signature kNew{
    "AstFileParserCache.__new__()", {"files", "project_root", "filesystem"}, 3, 2};
constexpr Signature kGetParsedFile{"AstFileParserCache.get_parsed_file()", {"path"}, 1, 1};

PyObject* parser_cache_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[3];
    bind_tuple(kNew, args, kwargs, slots);
    // Converted in parameter order, `files` even when a file set makes it unused.
    std::vector<std::string> files = text_list_argument(slots[0], "files");
    std::string project_root = copied_text_argument(slots[1], "project_root");
    std::shared_ptr<ast::StdAstFileSystem> file_set =
        optional_file_set_argument(slots[2], "filesystem");
    if (file_set) {
      return new_object(type, ast::AstFileParserCache::with_filesystem(std::move(project_root),
                                                                       std::move(file_set)));
    }
    return new_object(type, ast::AstFileParserCache(std::move(project_root), std::move(files)));
  });
}

PyObject* all_files(PyObject* self, PyObject*) {
  return call_boundary<PyObject*>(nullptr, [&] {
    CacheObject* object = object_of<ast::AstFileParserCache>(self);
    SharedAccess access(object->operations);
    const ast::AstFileParserCache& cache = object->native;
    auto files = without_interpreter_lock([&] { return cache.all_files(); });
    if (!files) throw_io_error(files.error().text);
    return to_str_list(*files);
  });
}

// {module: {name: [local names sorted by bytes]}}.
PyObject* import_map_dict(const ast::ImportMap& import_map) {
  PyRef modules = PyRef::steal(made(PyDict_New()));
  std::vector<std::string_view> sorted;
  for (const auto& [module, names] : import_map) {
    PyRef names_dict = PyRef::steal(made(PyDict_New()));
    for (const auto& [name, locals] : names) {
      sorted.assign(locals.begin(), locals.end());
      std::sort(sorted.begin(), sorted.end());  // string_view compares bytes as unsigned
      PyRef list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(sorted.size()))));
      for (size_t i = 0; i < sorted.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_str(sorted[i]));
      }
      PyRef key = PyRef::steal(to_str(name));
      if (PyDict_SetItem(names_dict.get(), key.get(), list.get()) < 0) throw_pending_error();
    }
    PyRef key = PyRef::steal(to_str(module));
    if (PyDict_SetItem(modules.get(), key.get(), names_dict.get()) < 0) throw_pending_error();
  }
  return modules.release();
}

PyObject* get_parsed_file(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) {
  return call_boundary<PyObject*>(nullptr, [&] {
    PyObject* slots[1];
    bind_fastcall(kGetParsedFile, args, nargsf, kwnames, slots);
    CacheObject* object = object_of<ast::AstFileParserCache>(self);
    SharedAccess access(object->operations);
    std::string_view path = text_argument(slots[0], "path");
    const ast::AstFileParserCache& cache = object->native;
    // Only native values cross into the released stretch: the view of the path (kept alive by
    // the caller's argument) and the cache handle; the result is a native value too.
    InterpreterThread thread;
    auto parsed = thread.without_lock([&] { return cache.get_parsed_file(path); });
    if (!parsed) throw_value_error(parsed.error().message);
    const ast::ParsedFileCache& record = **parsed;
    PyRef path_text = PyRef::steal(to_str(record.path()));
    PyRef source = PyRef::steal(to_str(record.source()));
    PyRef imports = PyRef::steal(import_map_dict(record.import_map()));
    return made(PyTuple_Pack(3, path_text.get(), source.get(), imports.get()));
  });
}

PyMethodDef methods[] = {
    {"all_files", all_files, METH_NOARGS, "all_files($self)\n--\n\n"},
    {"get_parsed_file", fastcall_entry<get_parsed_file>(), METH_FASTCALL | METH_KEYWORDS,
     "get_parsed_file($self, path)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc,
     const_cast<char*>("AstFileParserCache(files, project_root, filesystem=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(parser_cache_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<ast::AstFileParserCache>)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.AstFileParserCache", sizeof(CacheObject), 0, Py_TPFLAGS_DEFAULT, slots,
};

PyObject* type_object = nullptr;

PyTypeObject* parser_cache_type() {
  return type_from_spec(&type_object, &spec, "AstFileParserCache");
}

const ClassRegistration registration("AstFileParserCache", parser_cache_type);

}  // namespace
}  // namespace tolvo::bindings
