#include "ast/src/lib.h"

#include "ast/src/path_components.h"

namespace tolvo::ast {
namespace {

bool is_absolute(std::string_view path) { return !path.empty() && path[0] == '/'; }

std::string fallback_name(std::string_view path) {
  PathComponent last;
  if (last_path_component(path, &last) && last.kind == PathComponent::Kind::kNormal) {
    return std::string(component_stem(last.text));
  }
  return std::string(path);
}

}  // namespace

std::string absolute_form(std::string_view path, std::string_view project_root) {
  if (is_absolute(path)) return std::string(path);
  std::string joined(project_root);
  if (!joined.empty() && joined.back() != '/') joined.push_back('/');
  joined.append(path);
  return joined;
}

std::string module_name_for_absolute_path(std::string_view path, std::string_view project_root) {
  PathComponentCursor path_cursor(path);
  PathComponentCursor root_cursor(project_root);
  PathComponent component, root_component;
  // Strip the root component by component; a mismatch means the path lies outside it.
  bool have_component = path_cursor.next(&component);
  while (root_cursor.next(&root_component)) {
    if (!have_component || !(component == root_component)) return fallback_name(path);
    have_component = path_cursor.next(&component);
  }

  std::string name;
  bool any_part = false;
  for (; have_component; have_component = path_cursor.next(&component)) {
    if (component.kind != PathComponent::Kind::kNormal) continue;
    std::string_view text = component.text;
    if (text == "__init__.py") continue;
    if (text.ends_with(".py")) text.remove_suffix(3);
    if (any_part) name.push_back('.');
    name.append(text);
    any_part = true;
  }
  if (!any_part) return fallback_name(path);
  return name;
}

size_t ModuleNames::ComponentHash::operator()(std::string_view path) const {
  return hash_components(path);
}

bool ModuleNames::ComponentEqual::operator()(std::string_view a, std::string_view b) const {
  return same_components(a, b);
}

ModuleNames::ModuleNames(const std::vector<std::string>& files, std::string_view project_root)
    : project_root_(project_root) {
  names_.reserve(files.size());
  for (const std::string& file : files) {
    std::string absolute = absolute_form(file, project_root_);
    std::string name = module_name_for_absolute_path(absolute, project_root_);
    auto [it, inserted] = names_.try_emplace(std::move(absolute), name);
    if (!inserted) it->second = std::move(name);
  }
}

std::string ModuleNames::name_for_path(std::string_view path) const {
  std::string absolute = absolute_form(path, project_root_);
  auto it = names_.find(std::string_view(absolute));
  if (it != names_.end()) return it->second;
  return module_name_for_absolute_path(absolute, project_root_);
}

}  // namespace tolvo::ast
