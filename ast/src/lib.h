// The parser cache, which reads and parses each path once, and the naming of modules after their
// paths.
#pragma once

#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ast/src/ast_filesystem.h"
#include "ast/src/once_per_path.h"
#include "ast/src/parser_cache_types.h"

namespace tolvo::ast {

// The path itself when absolute, else `project_root` + "/" + `path` (the "/" left out when the
// root is empty or already ends in one). Nothing else is normalised.
std::string absolute_form(std::string_view path, std::string_view project_root);

// The dotted module name of `path` under `project_root`, by path components alone: the root is
// stripped, "__init__.py" components dropped, other ".py" endings removed, the rest joined with
// "."; a path outside the root, or one that leaves no part, is named by its file stem (or its
// whole text when it has none). Never fails and never touches the file system.
std::string module_name_for_absolute_path(std::string_view path, std::string_view project_root);

// The memo of module names of a file list, keyed by absolute form and compared by component
// sequence. Immutable after construction, so any number of threads may read it.
class ModuleNames {
 public:
  ModuleNames() = default;

  // Names every path of `files` in order; a later path equal to an earlier one by components
  // replaces its name.
  ModuleNames(const std::vector<std::string>& files, std::string_view project_root);

  // The module name of `path`: from the memo when its absolute form is listed, else computed
  // afresh (and not stored).
  std::string name_for_path(std::string_view path) const;

  size_t size() const { return names_.size(); }

 private:
  struct ComponentHash {
    using is_transparent = void;
    size_t operator()(std::string_view path) const;
  };
  struct ComponentEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };

  std::string project_root_;
  std::unordered_map<std::string, std::string, ComponentHash, ComponentEqual> names_;
};

// The shared state behind every handle of one parser cache.
struct AstFileParserCacheInner {
  AstFileParserCacheInner(std::shared_ptr<const AstFileSystem> filesystem,
                          std::string project_root);

  std::shared_ptr<const AstFileSystem> filesystem;
  std::string project_root;
  ModuleNames module_names;
  OncePerPathCache<ParsedFileCache> parse_entries;
};

// The per-path cache of parsed files over a file set. Each distinct path text is read and parsed
// at most once for the cache's life, however many threads ask at once; read and parse failures
// are stored as messages and returned again. A cheap handle: copies share one state.
class AstFileParserCache {
 public:
  using Result = OncePerPathCache<ParsedFileCache>::Result;

  // A cache over a file set of its own made from `files` (".py" paths, sorted, unique).
  AstFileParserCache(std::string project_root, std::vector<std::string> files);

  // A cache over a shared file set, whose list (read once; an error counts as empty) names the
  // modules.
  static AstFileParserCache with_filesystem(std::string project_root,
                                            std::shared_ptr<const AstFileSystem> filesystem);

  // The parsed file of `path` as requested, or "Failed to read {path}: {error}", "Failed to
  // parse {path}: {syntax error}" or a poisoned-lock message. Safe from any number of threads.
  // Memory running out (std::bad_alloc), the calling thread's stack running low
  // (ThreadStackExhausted) and a host's signal handler that raised (Interrupted) are thrown and
  // leave nothing kept, as does a transient read error, which is returned.
  Result get_parsed_file(std::string_view path) const;

  // The file set's list, asked anew on every call.
  std::expected<std::vector<std::string>, IoError> all_files() const;

  // The dotted module name of `path` under the project root: from the memo of listed files, else
  // computed afresh.
  std::string module_name_for_path(std::string_view path) const;

  const std::string& project_root() const { return inner_->project_root; }

 private:
  explicit AstFileParserCache(std::shared_ptr<AstFileParserCacheInner> inner)
      : inner_(std::move(inner)) {}

  std::shared_ptr<AstFileParserCacheInner> inner_;
};

}  // namespace tolvo::ast
