// The project-wide index: each requested path computed once (parse, module name, extraction) and
// kept, failures included, for the index's life; lookups by module and name over the file list,
// or by file and name; warming by background workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ast/src/ast_filesystem.h"
#include "ast/src/ast_types.h"
#include "ast/src/lib.h"
#include "ast/src/once_per_path.h"

namespace tolvo::ast {

// The shared state behind every handle of one index.
struct AstProjectIndexInner {
  explicit AstProjectIndexInner(AstFileParserCache parser_cache);

  AstFileParserCache parser_cache;  // the index's own, never shared
  OncePerPathCache<ParsedAstFile> typed_entries;
  // One more than the fork generation of the process that started warming, 0 before: a child made
  // by fork inherits no workers, so its own first call starts them.
  std::atomic<uint32_t> index_started{0};
  // Set when nobody can look the index up any more: workers stop after their current file.
  std::atomic<bool> warming_stopped{false};
};

// A cheap handle: copies share the file list and the state.
class AstProjectIndex {
 public:
  using Result = OncePerPathCache<ParsedAstFile>::Result;

  // An index over `files` exactly as given (order, duplicates and non-Python paths kept), whose
  // parser cache reads through a file set of its own made from them. Never fails; the result form
  // is the constructor's contract with its callers.
  static std::expected<AstProjectIndex, std::string> create(std::string project_root,
                                                            std::vector<std::string> files);

  // The same over a shared file set, whose own list names the modules.
  static std::expected<AstProjectIndex, std::string> with_filesystem(
      std::string project_root, std::vector<std::string> files,
      std::shared_ptr<const AstFileSystem> filesystem);

  // The extraction of `path` as requested, computed on the first request, or the message of
  // the parser cache or of a poisoned lock. Safe from any number of threads.
  Result get_parsed_ast_file(std::string_view path) const;

  // The first function (any definition) or resolver named `name` in the first file of the list,
  // in list order, whose module is `module`. Unreadable and unparsable files are skipped.
  std::optional<ResolverAST> function_ast(std::string_view module, std::string_view name) const;
  std::optional<ResolverAST> resolver_ast(std::string_view module, std::string_view name) const;
  // The first class of that name in the first file of the list that has one whose module is
  // `module`.
  std::optional<FeatureClassAST> feature_class_ast(std::string_view module,
                                                   std::string_view name) const;

  // The first record of that name in the one file `file_path`, listed or not.
  std::optional<ResolverAST> function_ast_in_file(std::string_view file_path,
                                                  std::string_view name) const;
  std::optional<ResolverAST> resolver_ast_in_file(std::string_view file_path,
                                                  std::string_view name) const;
  std::optional<FeatureClassAST> feature_class_ast_in_file(std::string_view file_path,
                                                           std::string_view name) const;

  // Starts warming the index in the background: the first call on an index with files starts
  // one detached worker per available CPU (at most one per file), each computing its share of the
  // list by position; it returns without waiting for them. Every other call in the same process
  // does nothing; the first call in a child made by fork starts the child's own workers.
  // Throws an internal fault "failed to spawn thread: {os error}" when a worker cannot start.
  void nonblocking_start_index() const;

  // Tells the workers that the index will not be looked up again: each stops after the file it is
  // computing. Never waits for them.
  void stop_warming() const;

  const std::vector<std::string>& files() const { return *files_; }

 private:
  AstProjectIndex(std::shared_ptr<const std::vector<std::string>> files,
                  std::shared_ptr<AstProjectIndexInner> inner)
      : files_(std::move(files)), inner_(std::move(inner)) {}

  // The first record of `records` of any file of the list, in list order, with that module and
  // name.
  std::optional<ResolverAST> first_in_list(std::vector<ResolverAST> ParsedAstFile::*records,
                                           std::string_view module, std::string_view name) const;

  // Worker `worker` of `workers`: computes the positions worker, worker + workers, ... of the list.
  void warm(size_t workers, size_t worker) const;

  std::shared_ptr<const std::vector<std::string>> files_;
  std::shared_ptr<AstProjectIndexInner> inner_;
};

// The number of background workers for `file_count` files on `cpus` CPUs: one per CPU, at most
// one per file, at least one.
size_t warming_worker_count(size_t file_count, unsigned cpus);

// The list positions that worker `worker` of `workers` computes, in order.
std::vector<size_t> warming_positions(size_t file_count, size_t workers, size_t worker);

// Makes the once-per-process state that workers reach (Unicode data, the snake_case patterns) now,
// so that no thread is inside its initialisation when another forks.
void initialise_once_only_state();

}  // namespace tolvo::ast
