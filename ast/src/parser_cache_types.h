// The parsed form of one file as the parser cache keeps it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ast/src/text_map.h"
#include "parser/src/parser.h"

namespace tolvo::ast {

// Module path -> imported name -> the local names it is bound to (the alias, or the name itself).
using LocalNames = TextSet;
using ImportMap = TextMap<TextMap<LocalNames>>;

// The import map of a module's top-level absolute from-imports; nested, relative and plain
// imports add nothing, a star import adds "*" under "*".
ImportMap build_import_map(const parser::List<parser::Stmt>& statements);

// One file read and parsed. Immutable; shared by the cache and every caller that received it.
// It keeps the parse's own result, which owns the tree, its copy of the source and the comment
// ranges, so nothing here refers to the text that was read.
class ParsedFileCache {
 public:
  ParsedFileCache(std::string path, parser::ParsedModule module);

  // The path exactly as it was requested.
  const std::string& path() const { return path_; }
  // The whole file text as the file set returned it.
  std::string_view source() const { return module_->source(); }
  // The module's top-level statements in source order.
  const parser::List<parser::Stmt>& module_statements() const { return module_->body(); }
  const ImportMap& import_map() const { return import_map_; }
  // The byte range of every comment, in source order.
  const std::vector<parser::TextRange>& comment_ranges() const { return module_->comments(); }

 private:
  std::string path_;
  std::shared_ptr<const parser::ParsedModule> module_;
  ImportMap import_map_;
};

}  // namespace tolvo::ast
