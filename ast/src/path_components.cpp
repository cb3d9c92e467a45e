#include "ast/src/path_components.h"

#include <functional>

namespace tolvo::ast {

bool PathComponentCursor::next(PathComponent* out) {
  if (!started_) {
    started_ = true;
    if (!path_.empty() && path_[0] == '/') {
      pos_ = 1;
      *out = PathComponent{PathComponent::Kind::kRoot, path_.substr(0, 1)};
      return true;
    }
    if (path_ == "." || path_.starts_with("./")) {
      pos_ = 2;
      *out = PathComponent{PathComponent::Kind::kCurrent, path_.substr(0, 1)};
      return true;
    }
  }
  while (pos_ < path_.size()) {
    size_t end = path_.find('/', pos_);
    if (end == std::string_view::npos) end = path_.size();
    std::string_view text = path_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (text.empty() || text == ".") continue;
    *out = PathComponent{text == ".." ? PathComponent::Kind::kParent : PathComponent::Kind::kNormal,
                         text};
    return true;
  }
  return false;
}

std::vector<PathComponent> path_components(std::string_view path) {
  std::vector<PathComponent> components;
  PathComponentCursor cursor(path);
  PathComponent component;
  while (cursor.next(&component)) components.push_back(component);
  return components;
}

bool last_path_component(std::string_view path, PathComponent* out) {
  PathComponentCursor cursor(path);
  bool found = false;
  while (cursor.next(out)) found = true;
  return found;
}

bool same_components(std::string_view a, std::string_view b) {
  PathComponentCursor left(a), right(b);
  PathComponent l, r;
  for (;;) {
    bool has_left = left.next(&l);
    bool has_right = right.next(&r);
    if (has_left != has_right) return false;
    if (!has_left) return true;
    if (!(l == r)) return false;
  }
}

size_t hash_components(std::string_view path) {
  PathComponentCursor cursor(path);
  PathComponent component;
  size_t hash = 0;
  while (cursor.next(&component)) {
    size_t h = component.kind == PathComponent::Kind::kNormal
                   ? std::hash<std::string_view>{}(component.text)
                   : static_cast<size_t>(component.kind) * 0x9E3779B97F4A7C15ULL;
    hash = (hash ^ h) * 0x100000001B3ULL + 0x9E3779B9;
  }
  return hash;
}

std::string_view component_stem(std::string_view component) {
  size_t dot = component.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return component;
  return component.substr(0, dot);
}

bool component_extension(std::string_view component, std::string_view* out) {
  size_t dot = component.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  *out = component.substr(dot + 1);
  return true;
}

}  // namespace tolvo::ast
