#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

}  // namespace tolvo::ast
