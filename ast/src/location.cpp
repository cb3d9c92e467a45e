#include "ast/src/location.h"

#include <uriparser/Uri.h>

#include <climits>
#include <cstdlib>

#include "ast/src/ast_filesystem.h"

namespace tolvo::ast {
namespace {

// The canonical absolute form of a relative `path` against the current working directory, or none
// when the file does not exist or cannot be resolved.
std::optional<std::string> canonical_path(std::string_view path) {
  // The C call would silently resolve only the part before an embedded NUL.
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  char resolved[PATH_MAX];
  if (::realpath(std::string(path).c_str(), resolved) == nullptr) return std::nullopt;
  return std::string(resolved);
}

// The URI text of `path` before validation: backslashes as "/", a leading "/", spaces escaped.
std::string uri_text(std::string_view path) {
  std::string text = "file://";
  text.reserve(text.size() + path.size() + 1);
  if (path.empty() || (path.front() != '/' && path.front() != '\\')) text += '/';
  for (char c : path) {
    if (c == '\\') {
      text += '/';
    } else if (c == ' ') {
      text += "%20";
    } else {
      text += c;
    }
  }
  return text;
}

// True when the whole of `text` is one URI under RFC 3986.
bool parses_as_uri(const std::string& text) {
  UriUriA uri;
  const char* error_position = nullptr;
  if (uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &error_position) !=
      URI_SUCCESS) {
    return false;
  }
  uriFreeUriMembersA(&uri);
  return true;
}

}  // namespace

bool operator==(const Location& a, const Location& b) {
  if (a.range != b.range) return false;
  if (a.uri == nullptr || b.uri == nullptr) return a.uri == b.uri;
  return *a.uri == *b.uri;
}

SourceContext::SourceContext(std::string_view source)
    : source_(source), index_(parser::LineIndex::from_source_text(source)) {}

Position SourceContext::position(uint32_t offset) const {
  parser::LineColumn one_based = index_.line_column(offset, source_, &line_hint_);
  return Position{one_based.line - 1, one_based.column - 1};
}

Range SourceContext::range(parser::TextRange range) const {
  return Range{position(range.start), position(range.end)};
}

Range expr_to_range(const parser::Expr& expr, const SourceContext& context) {
  return context.range(expr.range);
}

std::optional<Uri> file_uri(std::string_view path) {
  std::optional<std::string> canonical;
  if (!path.starts_with('/')) {
    canonical = canonical_path(path);
    if (!canonical) return std::nullopt;
    path = *canonical;
  }
  // Invalid UTF-8 would become U+FFFD, and no non-ASCII character survives the URI parse anyway.
  if (!is_valid_utf8(path)) return std::nullopt;
  std::string text = uri_text(path);
  if (!parses_as_uri(text)) return std::nullopt;
  return std::make_shared<const std::string>(std::move(text));
}

}  // namespace tolvo::ast
