#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "parser/src/line_index.h"
#include "parser/src/syntax_tree.h"
#include "parser/src/token.h"

namespace tolvo::ast {

// A 0-based line and a 0-based character offset within it, counted in Unicode scalar values.
struct Position {
  uint32_t line = 0;
  uint32_t character = 0;

  friend bool operator==(const Position&, const Position&) = default;
};

// A span of source between two positions; `end` is exclusive.
struct Range {
  Position start;
  Position end;

  friend bool operator==(const Range&, const Range&) = default;
};

// The immutable text of a file URI, shared by every location of one file.
using Uri = std::shared_ptr<const std::string>;

// A range in the file named by `uri`.
struct Location {
  Uri uri;
  Range range;

  // Equal when the URI texts and the ranges are; two absent URIs are equal.
  friend bool operator==(const Location& a, const Location& b);
};

// A file's source text with its line index, built once per extraction pass over the file. It does
// not copy the text: the text must outlive the context. One context serves one thread.
class SourceContext {
 public:
  // Indexes the lines of `source` in one pass.
  explicit SourceContext(std::string_view source);

  // The text the context was built from.
  std::string_view source() const { return source_; }

  // The position of byte `offset`, by the line rules of `parser::LineIndex` (LF, CR LF and a lone
  // CR end a line; a leading byte-order mark is not counted). An offset past the end is read as
  // the end. Costs a bisection and a character count, without allocating.
  Position position(uint32_t offset) const;

  // The positions of both ends of the byte range `range`.
  Range range(parser::TextRange range) const;

 private:
  std::string_view source_;
  parser::LineIndex index_;
  // The line of the last position: extraction asks for nearby offsets in order.
  mutable uint32_t line_hint_ = 0;
};

// The range of the expression's own byte range.
Range expr_to_range(const parser::Expr& expr, const SourceContext& context);

// The "file://" URI of `path`, or none when it cannot be formed. An absolute path is taken as
// written ("." and ".." stay); a relative one is first made canonical against the current working
// directory, so the file must exist. Backslashes become "/" and spaces "%20", nothing else is
// escaped; the result must then parse as an RFC 3986 URI, so a non-ASCII or control character, a
// character allowed nowhere in a URI path, or a "%" without two hex digits gives none, while "?"
// and "#" begin the URI's query and fragment.
std::optional<Uri> file_uri(std::string_view path);

}  // namespace tolvo::ast
