// The lexer of Python 3.13 source: turns UTF-8 text into tokens (kind and byte range) and the byte
// ranges of its comments. It follows CPython's tokenizer: indentation with its tab rules,
// implicit and explicit line joining, every string prefix, f-strings as PEP 701 made them.
#ifndef TOLVO_PARSER_SRC_LEXER_H_
#define TOLVO_PARSER_SRC_LEXER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parser/src/cursor.h"
#include "parser/src/token.h"

namespace tolvo::parser {

// CPython's limits: bracket nesting, indentation levels and f-string nesting.
inline constexpr uint32_t kMaxParenDepth = 200;
inline constexpr uint32_t kMaxIndentDepth = 100;
inline constexpr uint32_t kMaxFStringDepth = 150;  // nested f-strings: fewer than this

struct LexError {
  std::string message;
  TextRange range;
};

// The text a "{x=}" field repeats, where CPython's tokenizer records it: the source of an
// expression that the "}", "!" or ":" token with index `token` closes.
struct FieldText {
  uint32_t token;
  TextRange text;
};

struct LexResult {
  // Ends with kEndMarker, or with kError when `error` is set.
  std::vector<Token> tokens;
  // Every comment from its "#" to the end of its line (line break excluded), in source order.
  std::vector<TextRange> comments;
  // By token index; only f-string fields after an "=" have one.
  std::vector<FieldText> field_texts;
  std::optional<LexError> error;
};

// Tokenizes the whole of `source` (valid UTF-8). Stops at the first lexical error.
LexResult lex(std::string_view source);

// The 1-based line of byte `offset` (used in messages like CPython's "detected at line N").
uint32_t line_of_offset(std::string_view source, uint32_t offset);

// The lexer's state; its pieces live in lexer.cpp (tokens), lexer_indentation.cpp (logical lines
// and indentation) and lexer_fstring.cpp (f-string modes).
class Lexer {
 public:
  explicit Lexer(std::string_view source) : source_(source), cursor_(source) {}
  LexResult run();

 private:
  // How far a replacement field has got. CPython's tokenizer forgets that it is in a format spec
  // once a nested field in the spec has closed; the spec text after it then reads "{{" as a
  // literal brace, and a line break there ends a single-quoted f-string unterminated.
  enum class FieldPart : uint8_t {
    kExpression,      // the expression and conversion: ordinary tokens
    kSpec,            // format spec text after the ':'
    kSpecAfterField,  // format spec text after a nested replacement field
  };
  struct Bracket {
    char open;       // '(', '[', '{', or 'F' for the brace of an f-string replacement field
    FieldPart part;  // for 'F'
    uint32_t offset;
  };
  struct FString {
    char quote;
    uint8_t quote_size;  // 1 or 3
    bool raw;
    // CPython's tokenizer state behind the text a "{x=}" field repeats. It goes astray in nested
    // format specs and after an "=" inside an expression, and so does the text; following the
    // state gives the same text.
    bool spec_flag;         // CPython's in_format_spec
    bool saw_equal;         // CPython's f_string_debug: an "=" in the current field
    uint32_t expr_start;    // where the last expression recorded starts
    uint32_t expr_end;      // where it ends; kOpen until a "}", "!" or ":" closes it
    uint32_t bracket_base;  // bracket depth when the f-string started
    uint32_t start;
  };
  static constexpr uint32_t kOpen = UINT32_MAX;

  // lexer.cpp
  bool next_token();  // appends one or more tokens; false once done (end or error)
  bool lex_name_or_prefixed_string();
  bool lex_number();
  bool lex_string(uint32_t start, uint32_t prefix_end);
  bool lex_operator();
  bool check_identifier(uint32_t start, uint32_t end);
  bool verify_end_of_number(uint32_t start, const char* kind);
  void push(TokenKind kind, uint32_t start, uint32_t end, uint8_t flags = 0) {
    tokens_.push_back(Token{kind, flags, start, end});
  }
  bool fail(std::string message, uint32_t start, uint32_t end);

  // lexer_indentation.cpp: at the start of a line outside brackets.
  bool begin_line();
  bool finish();  // at the end of input: NEWLINE, DEDENTs, ENDMARKER
  bool skip_whitespace_and_continuations();

  // lexer_fstring.cpp
  bool start_fstring(uint32_t start, uint32_t prefix_end, bool raw);
  bool lex_fstring_middle(FString& fs, FieldPart part);  // part: kExpression at top level
  bool in_fstring_field() const {
    return !fstrings_.empty() && brackets_.size() > fstrings_.back().bracket_base;
  }
  // CPython's bookkeeping at a "{", "}", "!" or ":" at `at` inside a field, before the bracket
  // stack changes: where the expression starts and ends, and the text of a field after "=".
  void track_field_punctuation(char c, uint32_t at);

  std::string_view source_;
  Cursor cursor_;
  std::vector<Token> tokens_;
  std::vector<TextRange> comments_;
  std::vector<FieldText> field_texts_;
  std::optional<LexError> error_;
  std::vector<Bracket> brackets_;
  std::vector<FString> fstrings_;
  // Indentation columns with tabs to multiples of 8, and with tabs as one column (CPython's
  // "altcol"); both must agree in ordering or the indentation is inconsistent.
  std::vector<uint32_t> indents_{0};
  std::vector<uint32_t> alt_indents_{0};
  bool at_line_start_ = true;
};

}  // namespace tolvo::parser

#endif  // TOLVO_PARSER_SRC_LEXER_H_
