#include "ast/src/lib.h"

#include "ast/src/path_components.h"
#include "ast/src/transient.h"
#include "parser/src/parser.h"

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

namespace {

std::vector<std::string> listed_files(const AstFileSystem& filesystem) {
  auto files = filesystem.all_files();
  if (!files) return {};
  return std::move(*files);
}

}  // namespace

AstFileParserCacheInner::AstFileParserCacheInner(std::shared_ptr<const AstFileSystem> filesystem,
                                                 std::string project_root)
    : filesystem(std::move(filesystem)),
      project_root(std::move(project_root)),
      module_names(listed_files(*this->filesystem), this->project_root),
      parse_entries("AST file entry map lock poisoned", "AST parse cache lock poisoned for ") {}

AstFileParserCache::AstFileParserCache(std::string project_root, std::vector<std::string> files)
    : AstFileParserCache(with_filesystem(std::move(project_root),
                                         std::make_shared<StdAstFileSystem>(std::move(files)))) {}

AstFileParserCache AstFileParserCache::with_filesystem(
    std::string project_root, std::shared_ptr<const AstFileSystem> filesystem) {
  return AstFileParserCache(
      std::make_shared<AstFileParserCacheInner>(std::move(filesystem), std::move(project_root)));
}

AstFileParserCache::Result AstFileParserCache::get_parsed_file(std::string_view path) const {
  return inner_->parse_entries.get(path, [&]() -> Result {
    auto text = inner_->filesystem->read_to_string(path);
    if (!text) {
      return std::unexpected(FileFailure{
          "Failed to read " + std::string(path) + ": " + text.error().text, text.error().transient});
    }
    auto module = parser::parse_module(*text);
    if (!module) {
      if (module.error().thread_stack_exhausted) throw ThreadStackExhausted();
      return std::unexpected(FileFailure{"Failed to parse " + std::string(path) + ": " +
                                         parser::display_text(module.error())});
    }
    // The module holds its own copy of the text; the one that was read goes here.
    text->clear();
    text->shrink_to_fit();
    return std::make_shared<const ParsedFileCache>(std::string(path), std::move(*module));
  });
}

std::expected<std::vector<std::string>, IoError> AstFileParserCache::all_files() const {
  return inner_->filesystem->all_files();
}

std::string AstFileParserCache::module_name_for_path(std::string_view path) const {
  return inner_->module_names.name_for_path(path);
}

}  // namespace tolvo::ast
