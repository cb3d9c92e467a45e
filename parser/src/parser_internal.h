// The recursive-descent parser behind parse_module, one function per grammar rule of CPython's
// grammar (Grammar/python.gram), split by area: parse_statement.cpp, parse_expression.cpp,
// parse_pattern.cpp, parse_string.cpp. A function that fails records the first error and returns
// null (or false); callers pass the failure up.
#ifndef TOLVO_PARSER_SRC_PARSER_INTERNAL_H_
#define TOLVO_PARSER_SRC_PARSER_INTERNAL_H_

#include <unicode/utypes.h>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "parser/src/lexer.h"
#include "parser/src/parser.h"
#include "parser/src/syntax_tree.h"

// Propagates a failed sub-parse: evaluates to the (non-null) result or returns from the caller.
#define TRY(expr)                    \
  ({                                 \
    auto try_value_ = (expr);        \
    if (!try_value_) return nullptr; \
    try_value_;                      \
  })
#define TRY_BOOL(expr)             \
  ({                               \
    auto try_value_ = (expr);      \
    if (!try_value_) return false; \
    try_value_;                    \
  })

namespace tolvo::parser {

// Nesting of brackets, blocks, lambdas, conditional expressions, f-strings and patterns that the
// parser follows by recursion. The tokenizer already refuses more than 200 brackets and 100
// indentation levels, as CPython does; this bounds the rest so that a 2 MiB stack suffices.
inline constexpr uint32_t kMaxNestingDepth = 400;
// CPython's default limit of digits in a decimal integer literal (sys.get_int_max_str_digits()).
inline constexpr size_t kMaxIntDigits = 4300;
// Stack the recursion may use below parse_file's frame. Frame sizes differ between builds (a
// sanitizer build's are several times larger), so the depth alone cannot promise that a 2 MiB
// worker stack suffices; this budget does, with a quarter of it left to the caller.
inline constexpr uintptr_t kMaxStackBytes = 1536 << 10;

// Character names of "\N{...}" escapes resolved so far in one parse.
class CharacterNames {
 public:
  // The code point named by `written` (as it appears between the braces), or -1.
  int32_t lookup(std::string_view written);

 private:
  std::unordered_map<std::string, int32_t> cache_;
};

// Throws std::bad_alloc when ICU reported that memory ran out.
void throw_if_out_of_memory(UErrorCode status);

// Whether a token of kind `k` can begin an expression (a star expression included).
bool starts_expression_token(TokenKind k);

class Parser {
 public:
  Parser(std::string_view source, const LexResult& lexed, Arena& arena)
      : source_(source), tokens_(lexed.tokens.data()), lexed_(lexed), arena_(arena) {}

  // file: [statements] ENDMARKER
  std::optional<List<Stmt>> parse_file();
  const std::optional<SyntaxError>& error() const { return error_; }
  // True when recursion stopped because the calling thread's stack ran low.
  bool thread_stack_exhausted() const { return thread_stack_exhausted_; }

 private:
  friend class DepthGuard;
  // --- tokens ---
  const Token& tok() const { return tokens_[pos_]; }
  const Token& peek_token(uint32_t ahead) const;
  TokenKind kind() const { return tokens_[pos_].kind; }
  bool at(TokenKind k) const { return tokens_[pos_].kind == k; }
  bool at_soft_keyword(std::string_view word) const {
    return at(TokenKind::kName) && text_of(tok()) == word;
  }
  bool eat(TokenKind k) {
    if (tokens_[pos_].kind != k) return false;
    ++pos_;
    return true;
  }
  void advance() {
    if (tokens_[pos_].kind != TokenKind::kEndMarker && tokens_[pos_].kind != TokenKind::kError) {
      ++pos_;
    }
  }
  uint32_t start() const { return tokens_[pos_].start; }
  uint32_t prev_end() const { return pos_ > 0 ? tokens_[pos_ - 1].end : 0; }
  // The end of the last token before the current one that is not a NEWLINE, INDENT or DEDENT:
  // where a compound statement that just read its last block ends (a trailing ";" included).
  uint32_t block_end() const {
    uint32_t i = pos_;
    while (i > 0 && (tokens_[i - 1].kind == TokenKind::kNewline ||
                     tokens_[i - 1].kind == TokenKind::kDedent ||
                     tokens_[i - 1].kind == TokenKind::kIndent)) {
      --i;
    }
    return i > 0 ? tokens_[i - 1].end : 0;
  }
  std::string_view text_of(const Token& t) const {
    return source_.substr(t.start, t.end - t.start);
  }
  std::string_view text_of(TextRange r) const { return source_.substr(r.start, r.end - r.start); }

  // --- errors ---
  // Records the first error; a generic "invalid syntax" gives way to a tokenizer error further
  // on, as CPython reports it.
  std::nullptr_t fail(std::string message, TextRange range);
  std::nullptr_t fail_here(std::string message = "invalid syntax");
  std::nullptr_t fail_expected(std::string_view what);
  bool expect(TokenKind k);
  bool enter();  // depth check for recursive rules
  void leave() { --depth_; }

  // --- building ---
  template <typename T>
  T* make(TextRange range) {
    T* node = arena_.make<T>();
    node->range = range;
    return node;
  }
  template <typename T, typename K>
  T* make(K kind, TextRange range) {
    T* node = arena_.make<T>();
    node->kind = kind;
    node->range = range;
    return node;
  }
  TextRange from(uint32_t begin) const { return {begin, prev_end()}; }
  size_t mark() const { return scratch_.size(); }
  void push(void* item) { scratch_.push_back(item); }
  template <typename T>
  List<T> take(size_t mark) {
    uint32_t n = uint32_t(scratch_.size() - mark);
    if (n == 0) return {};
    T** items = static_cast<T**>(arena_.allocate(n * sizeof(T*), alignof(T*)));
    for (uint32_t i = 0; i < n; ++i) items[i] = static_cast<T*>(scratch_[mark + i]);
    scratch_.resize(mark);
    return List<T>(items, n);
  }
  template <typename T>
  Array<T> make_array(const std::vector<T>& values) {
    if (values.empty()) return {};
    T* items = static_cast<T*>(arena_.allocate(values.size() * sizeof(T), alignof(T)));
    for (size_t i = 0; i < values.size(); ++i) new (&items[i]) T(values[i]);
    return Array<T>(items, uint32_t(values.size()));
  }
  Identifier identifier(const Token& t);   // NFKC for non-ASCII names
  std::optional<Identifier> parse_name();  // a NAME token

  // --- statements (parse_statement.cpp) ---
  // One compound statement, or one line of simple statements, pushed to the scratch list.
  bool parse_statement_into();
  bool parse_simple_statements();
  Stmt* parse_simple_statement();
  Stmt* parse_compound_statement();
  // block: NEWLINE INDENT statements DEDENT | simple statements. `what` and `header` (the
  // statement's first byte) name the statement in CPython's message for a missing block.
  std::optional<List<Stmt>> parse_block(std::string_view what, uint32_t header);
  Stmt* parse_expression_statement();
  Stmt* parse_return();
  Stmt* parse_raise();
  Stmt* parse_global(bool nonlocal);
  Stmt* parse_del();
  Stmt* parse_assert();
  Stmt* parse_import();
  Stmt* parse_import_from();
  Stmt* parse_type_alias();
  Stmt* parse_decorated();
  Stmt* parse_function_def(uint32_t begin, List<Expr> decorators, bool is_async);
  Stmt* parse_class_def(uint32_t begin, List<Expr> decorators);
  Stmt* parse_if();
  Stmt* parse_while();
  Stmt* parse_for(uint32_t begin, bool is_async);
  Stmt* parse_with(uint32_t begin, bool is_async);
  Stmt* parse_try();
  Stmt* parse_match();
  bool looks_like_match_statement();
  std::optional<List<TypeParam>> parse_type_params();
  Arguments* parse_parameters(bool lambda);
  bool parse_else_block(List<Stmt>* orelse);

  // --- expressions (parse_expression.cpp) ---
  Expr* parse_expression();        // expression (conditional or lambda)
  Expr* parse_named_expression();  // NAME ':=' expression | expression
  Expr* parse_star_expressions();  // a tuple without parentheses when there is a comma
  Expr* parse_star_expression();
  Expr* parse_star_named_expression();
  Expr* parse_star_named_expressions_tuple(Expr* first);
  Expr* parse_yield_expression();
  Expr* parse_disjunction();
  Expr* parse_conjunction();
  // "a op b op c" of the rule `Operand` as one BoolOp, or the lone operand.
  template <Expr* (Parser::*Operand)()>
  Expr* parse_bool_chain(TokenKind op_token, BoolOperator op);
  Expr* parse_inversion();
  Expr* parse_comparison();
  Expr* parse_bitwise_or() { return parse_binary(1); }
  Expr* parse_binary(int min_precedence);
  Expr* parse_factor();
  Expr* parse_power();
  Expr* parse_primary();
  Expr* parse_atom();
  Expr* parse_paren_atom();
  Expr* parse_list_atom();
  Expr* parse_brace_atom();
  Expr* parse_lambda();
  Expr* parse_call(uint32_t begin, Expr* func);
  Expr* parse_slices();
  Expr* parse_slice();
  Expr* parse_number();
  // Whether a decimal int literal keeps to CPython's digit limit; records the error if not.
  bool check_int_digits(std::string_view text);
  Expr* parse_star_targets(ExprContext ctx);  // for targets, del targets
  Expr* parse_target_expression();            // star_target-level: no comparison
  std::optional<List<Comprehension>> parse_comprehension_clauses();
  Expr* finish_comprehension(ExprKind kind, uint32_t begin, Expr* elt, Expr* value);
  // Checks that `e` may be assigned to (or deleted) and sets its context. `augmented` and
  // `annotated` pick CPython's messages for those statements.
  enum class TargetUse { kAssign, kFor, kDelete, kAugmented, kAnnotated, kWith, kComprehension };
  bool set_target(Expr* e, ExprContext ctx, TargetUse use);
  static std::string_view expr_name(const Expr* e);
  // Inside brackets where an element is followed by another expression instead of a comma or
  // the closing bracket: records CPython's "Perhaps you forgot a comma?" error.
  void check_missing_comma(const Expr* last);
  bool check_no_starred_misuse(Expr* e);

  // --- strings (parse_string.cpp) ---
  Expr* parse_strings();
  // The text a "{x=}" field repeats: its value, its range, and the token after the "=".
  struct DebugText {
    std::string_view text;
    TextRange range;
    uint32_t token = 0;  // 0: not a debug field
  };
  // '{' expression ['='] ['!' NAME] [':' spec] '}'; `debug_text` receives the text a "{x=}"
  // field repeats.
  Expr* parse_fstring_replacement_field(DebugText* debug_text);
  // The text CPython gives a debug field whose "!", ":" or "}" token is `token`, if any.
  std::optional<std::string_view> debug_text_of(uint32_t token);
  bool decode_string(const Token& t, std::string& out, bool* is_bytes, bool* is_u);
  bool decode_fstring_middle(const Token& t, bool raw, std::string& out);

  // --- patterns (parse_pattern.cpp) ---
  bool parse_case_block();
  Pattern* parse_patterns();  // top level of a case: open sequence or one pattern
  Pattern* parse_pattern();   // as_pattern | or_pattern
  Pattern* parse_or_pattern();
  Pattern* parse_closed_pattern();
  Pattern* parse_star_pattern();
  Pattern* parse_sequence_pattern_body(uint32_t begin, TokenKind close);
  Pattern* parse_mapping_pattern();
  Pattern* parse_class_pattern(uint32_t begin, Expr* cls);
  Expr* parse_literal_expression();  // signed numbers, complex, strings
  Expr* parse_value_pattern_name();  // dotted name

  std::string_view source_;
  const Token* tokens_;
  const LexResult& lexed_;
  Arena& arena_;
  uint32_t pos_ = 0;
  uint32_t depth_ = 0;
  std::optional<SyntaxError> error_;
  std::vector<void*> scratch_;
  std::string string_buffer_;  // reused for literal values
  CharacterNames character_names_;
  uintptr_t stack_base_ = 0;
  uintptr_t stack_floor_ = 0;  // of the calling thread: recursion stops below it
  bool thread_stack_exhausted_ = false;
};

// Counts one level of recursion for the life of a scope.
class DepthGuard {
 public:
  explicit DepthGuard(Parser& parser) : parser_(parser), ok_(parser.enter()) {}
  ~DepthGuard() {
    if (ok_) parser_.leave();
  }
  bool ok() const { return ok_; }

 private:
  Parser& parser_;
  bool ok_;
};

}  // namespace tolvo::parser

#endif  // TOLVO_PARSER_SRC_PARSER_INTERNAL_H_
