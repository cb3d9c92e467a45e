#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tolvo::ast {

// One component of a "/"-separated path text, read the way module naming and the file set read
// paths: "." and ".." are never resolved, empty components do not exist.
struct PathComponent {
  enum class Kind { kRoot, kCurrent, kParent, kNormal };
  Kind kind = Kind::kNormal;
  std::string_view text;  // the component's bytes; "/" for the root

  bool operator==(const PathComponent& other) const {
    return kind == other.kind && (kind != Kind::kNormal || text == other.text);
  }
};

// Walks the components of a path without allocating: a leading "/" gives a root; empty components
// and "." are skipped, except a "." that stands first in a relative path (a current-directory
// component).
class PathComponentCursor {
 public:
  explicit PathComponentCursor(std::string_view path) : path_(path) {}

  // Stores the next component in `out`; false at the end.
  bool next(PathComponent* out);

 private:
  std::string_view path_;
  size_t pos_ = 0;
  bool started_ = false;
};

// All components of `path`, in order.
std::vector<PathComponent> path_components(std::string_view path);

// The last component of `path`; false when it has none.
bool last_path_component(std::string_view path, PathComponent* out);

// True when both paths have the same component sequence.
bool same_components(std::string_view a, std::string_view b);

// A hash over the component sequence, consistent with `same_components`.
size_t hash_components(std::string_view path);

// The file stem of a normal component: the text before its last ".", or the whole component when
// that "." is its first character or it has none.
std::string_view component_stem(std::string_view component);

// The extension of a normal component: the text after its last ".", provided that "." is not its
// first character; false when there is none.
bool component_extension(std::string_view component, std::string_view* out);

}  // namespace tolvo::ast
