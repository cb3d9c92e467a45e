#include "ast/src/project_index.h"

#include <algorithm>

#include "ast/src/cpu_count.h"
#include "ast/src/detached_thread.h"
#include "ast/src/transient.h"
#include "ast/src/type_parsing.h"
#include "parser/src/parser.h"
#include "utils/src/fault.h"
#include "utils/src/fork_generation.h"
#include "utils/src/namespace.h"

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

std::optional<ResolverAST> AstProjectIndex::first_in_list(
    std::vector<ResolverAST> ParsedAstFile::*records, std::string_view module,
    std::string_view name) const {
  for (const std::string& path : *files_) {
    auto file = get_parsed_ast_file(path);
    if (!file) continue;
    for (const ResolverAST& record : (**file).*records) {
      if (record.module == module && record.resolver_name == name) return record;
    }
  }
  return std::nullopt;
}

std::optional<ResolverAST> AstProjectIndex::function_ast(std::string_view module,
                                                         std::string_view name) const {
  return first_in_list(&ParsedAstFile::functions, module, name);
}

std::optional<ResolverAST> AstProjectIndex::resolver_ast(std::string_view module,
                                                         std::string_view name) const {
  return first_in_list(&ParsedAstFile::resolvers, module, name);
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

void AstProjectIndex::nonblocking_start_index() const {
  if (files_->empty()) return;
  // The flag publishes nothing else, so its own atomicity is all the order needed.
  uint32_t started = utils::fork_generation() + 1;
  if (inner_->index_started.exchange(started, std::memory_order_relaxed) == started) return;
  initialise_once_only_state();
  size_t workers = warming_worker_count(files_->size(), available_cpu_count());
  for (size_t worker = 0; worker < workers; ++worker) {
    // Each worker holds its own handle, so the index outlives every other holder while it runs.
    auto started =
        spawn_detached_thread([index = *this, workers, worker] { index.warm(workers, worker); });
    if (!started) throw utils::InternalFault("failed to spawn thread: " + started.error());
  }
}

void AstProjectIndex::stop_warming() const {
  inner_->warming_stopped.store(true, std::memory_order_relaxed);
}

void AstProjectIndex::warm(size_t workers, size_t worker) const {
  try {
    for (size_t position : warming_positions(files_->size(), workers, worker)) {
      if (inner_->warming_stopped.load(std::memory_order_relaxed)) return;
      (void)get_parsed_ast_file((*files_)[position]);
    }
  } catch (const utils::InternalFault&) {
    // Only this worker ends; the file it was computing keeps a poisoned slot, and the rest of
    // its share is computed when a lookup needs it.
  } catch (const std::bad_alloc&) {
    // Memory ran out: the file is left for a later request, and this worker frees what it holds.
  } catch (const TransientFailure&) {
    // Likewise for anything else of the moment.
  }
}

void initialise_once_only_state() {
  parser::initialise_unicode_data();
  utils::initialise_snake_case();
}

size_t warming_worker_count(size_t file_count, unsigned cpus) {
  return std::max<size_t>(1, std::min<size_t>(file_count, cpus));
}

std::vector<size_t> warming_positions(size_t file_count, size_t workers, size_t worker) {
  std::vector<size_t> positions;
  for (size_t position = worker; position < file_count; position += workers) {
    positions.push_back(position);
  }
  return positions;
}

}  // namespace tolvo::ast
