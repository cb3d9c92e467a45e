// The Python 3.13 parser: parse_module turns source text into a syntax tree (syntax_tree.h) and
// the ranges of its comments, or into the first syntax error. It accepts exactly what CPython
// 3.13's ast.parse accepts, and also refuses a call that repeats a keyword argument.
#ifndef TOLVO_PARSER_SRC_PARSER_H_
#define TOLVO_PARSER_SRC_PARSER_H_

#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "parser/src/syntax_tree.h"
#include "parser/src/token.h"

namespace tolvo::parser {

// A syntax error: a message in CPython's words and the byte range it concerns.
struct SyntaxError {
  std::string message;
  TextRange range;
  // The refusal came from the calling thread's stack running low, not from the text: a thread with
  // a larger stack parses it.
  bool thread_stack_exhausted = false;
};

// "{message} at byte range {start}..{end}".
std::string display_text(const SyntaxError& error);

// A parsed module. It owns its arena, which also holds a copy of the source text: every
// string_view of the tree points into it, so the tree stays valid for the life of this object
// whatever becomes of the text that was parsed. It is thus its own independent copy of the
// statements: keeping it (in a shared_ptr, say) keeps them, and nothing else of the parse (the
// token list) outlives parse_module. Move-only.
class ParsedModule {
 public:
  ParsedModule(std::unique_ptr<Arena> arena, std::string_view source, List<Stmt> body,
               std::vector<TextRange> comments)
      : arena_(std::move(arena)), source_(source), body_(body), comments_(std::move(comments)) {}
  ParsedModule(ParsedModule&&) = default;
  ParsedModule& operator=(ParsedModule&&) = default;

  // The module's own copy of the source text.
  std::string_view source() const { return source_; }
  // The top-level statements in source order.
  const List<Stmt>& body() const { return body_; }
  // Every comment from its "#" to the end of its line (line break excluded), in source order.
  const std::vector<TextRange>& comments() const { return comments_; }
  // Bytes held by the tree (arena blocks and comment list).
  size_t memory_bytes() const {
    return arena_->bytes_reserved() + comments_.capacity() * sizeof(TextRange);
  }

 private:
  std::unique_ptr<Arena> arena_;
  std::string_view source_;
  List<Stmt> body_;
  std::vector<TextRange> comments_;
};

// Parses `source` (valid UTF-8) as a whole module. Never throws for bad input: any text gives a
// module or the first syntax error, in time linear in its length; recursion is bounded so that a
// 2 MiB stack suffices, and stops where the calling thread's stack runs low (an error marked
// thread_stack_exhausted). Memory running out throws std::bad_alloc.
std::expected<ParsedModule, SyntaxError> parse_module(std::string_view source);

// Makes the once-per-process data of the parser (the NFKC normaliser, the character names) now,
// so that no thread is inside their initialisation when another forks.
void initialise_unicode_data();

// A plain str literal token's value with line breaks as written: the parser's unless it has "\r".
std::string string_value_as_written(std::string_view literal);

}  // namespace tolvo::parser

#endif  // TOLVO_PARSER_SRC_PARSER_H_
