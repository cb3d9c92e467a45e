#pragma once

#include "src/py_ref.h"

#include <memory>

#include "ast/src/ast_filesystem.h"

namespace tolvo::bindings {

// The StdAstFileSystem class, made once per process.
PyTypeObject* std_ast_file_system_type();

// The `filesystem` argument of the caches and indexes: None or absent gives null, an object of
// StdAstFileSystem shares its native file set; anything else raises TypeError.
std::shared_ptr<ast::StdAstFileSystem> optional_file_set_argument(PyObject* object,
                                                                  const char* param);

}  // namespace tolvo::bindings
