#include "ast/src/project_index.h"

#include "ast/src/type_parsing.h"

namespace tolvo::ast {
namespace {

// The first record of `records` named `name`, copied.
template <typename Record, typename Name>
std::optional<Record> first_named(const std::vector<Record>& records, Name name_of,
                                  std::string_view name) {
  for (const Record& record : records) {
    if (name_of(record) == name) return record;
  }
  return std::nullopt;
}

const std::string& resolver_name(const ResolverAST& record) { return record.resolver_name; }
const std::string& class_name(const FeatureClassAST& record) { return record.class_name; }

}  // namespace

AstProjectIndexInner::AstProjectIndexInner(AstFileParserCache parser_cache)
    : parser_cache(std::move(parser_cache)),
      typed_entries("typed AST entry map lock poisoned", "typed AST cache lock poisoned for ") {}

std::expected<AstProjectIndex, std::string> AstProjectIndex::create(
    std::string project_root, std::vector<std::string> files) {
  auto file_set = std::make_shared<StdAstFileSystem>(files);
  return with_filesystem(std::move(project_root), std::move(files), std::move(file_set));
}

std::expected<AstProjectIndex, std::string> AstProjectIndex::with_filesystem(
    std::string project_root, std::vector<std::string> files,
    std::shared_ptr<const AstFileSystem> filesystem) {
  auto inner = std::make_shared<AstProjectIndexInner>(
      AstFileParserCache::with_filesystem(std::move(project_root), std::move(filesystem)));
  return AstProjectIndex(std::make_shared<const std::vector<std::string>>(std::move(files)),
                         std::move(inner));
}

AstProjectIndex::Result AstProjectIndex::get_parsed_ast_file(std::string_view path) const {
  return inner_->typed_entries.get(path, [&]() -> Result {
    auto parsed = inner_->parser_cache.get_parsed_file(path);
    if (!parsed) return std::unexpected(std::move(parsed.error()));
    std::string module = inner_->parser_cache.module_name_for_path(path);
    return std::make_shared<const ParsedAstFile>(
        parse_ast_file_with_feature_module(**parsed, module));
  });
}

std::optional<ResolverAST> AstProjectIndex::function_ast(std::string_view module,
                                                         std::string_view name) const {
  for (const std::string& path : *files_) {
    auto file = get_parsed_ast_file(path);
    if (!file) continue;
    for (const ResolverAST& record : (*file)->functions) {
      if (record.module == module && record.resolver_name == name) return record;
    }
  }
  return std::nullopt;
}

std::optional<ResolverAST> AstProjectIndex::resolver_ast(std::string_view module,
                                                         std::string_view name) const {
  for (const std::string& path : *files_) {
    auto file = get_parsed_ast_file(path);
    if (!file) continue;
    for (const ResolverAST& record : (*file)->resolvers) {
      if (record.module == module && record.resolver_name == name) return record;
    }
  }
  return std::nullopt;
}

std::optional<FeatureClassAST> AstProjectIndex::feature_class_ast(std::string_view module,
                                                                  std::string_view name) const {
  for (const std::string& path : *files_) {
    std::optional<FeatureClassAST> found = feature_class_ast_in_file(path, name);
    if (found && found->module == module) return found;
  }
  return std::nullopt;
}

std::optional<ResolverAST> AstProjectIndex::function_ast_in_file(std::string_view file_path,
                                                                 std::string_view name) const {
  auto file = get_parsed_ast_file(file_path);
  if (!file) return std::nullopt;
  return first_named((*file)->functions, resolver_name, name);
}

std::optional<ResolverAST> AstProjectIndex::resolver_ast_in_file(std::string_view file_path,
                                                                 std::string_view name) const {
  auto file = get_parsed_ast_file(file_path);
  if (!file) return std::nullopt;
  return first_named((*file)->resolvers, resolver_name, name);
}

std::optional<FeatureClassAST> AstProjectIndex::feature_class_ast_in_file(
    std::string_view file_path, std::string_view name) const {
  auto file = get_parsed_ast_file(file_path);
  if (!file) return std::nullopt;
  return first_named((*file)->feature_classes, class_name, name);
}

void AstProjectIndex::nonblocking_start_index() const {}

}  // namespace tolvo::ast
