#include "ast/src/parser_cache_types.h"

namespace tolvo::ast {

ImportMap build_import_map(const parser::List<parser::Stmt>& statements) {
  ImportMap map;
  for (const parser::Stmt* statement : statements) {
    if (statement->kind != parser::StmtKind::kImportFrom) continue;
    const auto* import = statement->as<parser::ImportFromStmt>();
    if (import->level != 0 || !import->has_module) continue;
    auto& names = map[std::string(import->module.text)];
    for (const parser::Alias* alias : import->names) {
      std::string_view local = alias->has_asname ? alias->asname.text : alias->name.text;
      names[std::string(alias->name.text)].emplace(local);
    }
  }
  return map;
}

ParsedFileCache::ParsedFileCache(std::string path, parser::ParsedModule module)
    : path_(std::move(path)),
      module_(std::make_shared<const parser::ParsedModule>(std::move(module))),
      import_map_(build_import_map(module_->body())) {}

}  // namespace tolvo::ast
