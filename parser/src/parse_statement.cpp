// Statements: simple statements, blocks, compound statements, parameters and type parameters.
#include "parser/src/parser_internal.h"

namespace tolvo::parser {

namespace {

bool augmented_operator(TokenKind k, Operator* op) {
  switch (k) {
    case TokenKind::kPlusEqual:
      *op = Operator::kAdd;
      return true;
    case TokenKind::kMinEqual:
      *op = Operator::kSub;
      return true;
    case TokenKind::kStarEqual:
      *op = Operator::kMult;
      return true;
    case TokenKind::kAtEqual:
      *op = Operator::kMatMult;
      return true;
    case TokenKind::kSlashEqual:
      *op = Operator::kDiv;
      return true;
    case TokenKind::kPercentEqual:
      *op = Operator::kMod;
      return true;
    case TokenKind::kAmperEqual:
      *op = Operator::kBitAnd;
      return true;
    case TokenKind::kVBarEqual:
      *op = Operator::kBitOr;
      return true;
    case TokenKind::kCircumflexEqual:
      *op = Operator::kBitXor;
      return true;
    case TokenKind::kLeftShiftEqual:
      *op = Operator::kLShift;
      return true;
    case TokenKind::kRightShiftEqual:
      *op = Operator::kRShift;
      return true;
    case TokenKind::kDoubleStarEqual:
      *op = Operator::kPow;
      return true;
    case TokenKind::kDoubleSlashEqual:
      *op = Operator::kFloorDiv;
      return true;
    default:
      return false;
  }
}

}  // namespace

bool Parser::parse_statement_into() {
  switch (kind()) {
    case TokenKind::kDef:
    case TokenKind::kIf:
    case TokenKind::kClass:
    case TokenKind::kWith:
    case TokenKind::kFor:
    case TokenKind::kTry:
    case TokenKind::kWhile:
    case TokenKind::kAt:
      push(TRY_BOOL(parse_compound_statement()));
      return true;
    case TokenKind::kAsync: {
      TokenKind next = peek_token(1).kind;
      if (next == TokenKind::kDef || next == TokenKind::kWith || next == TokenKind::kFor) {
        push(TRY_BOOL(parse_compound_statement()));
        return true;
      }
      fail_here();
      return false;
    }
    case TokenKind::kName:
      if (text_of(tok()) == "match" && looks_like_match_statement()) {
        push(TRY_BOOL(parse_match()));
        return true;
      }
      return parse_simple_statements();
    case TokenKind::kIndent:
      fail_here("unexpected indent");
      return false;
    default:
      return parse_simple_statements();
  }
}

bool Parser::parse_simple_statements() {
  while (true) {
    push(TRY_BOOL(parse_simple_statement()));
    if (!eat(TokenKind::kSemi)) break;
    if (at(TokenKind::kNewline)) break;
  }
  if (!eat(TokenKind::kNewline)) {
    // Python 2's "print x" and "exec code" get CPython's hint.
    const auto* last = static_cast<const Stmt*>(scratch_.back());
    if (last->kind == StmtKind::kExpr && starts_expression_token(kind()) && !at(TokenKind::kStar)) {
      const Expr* value = last->as<ExprStmt>()->value;
      std::string_view name =
          value->kind == ExprKind::kName ? value->as<NameExpr>()->id : std::string_view();
      if ((name == "print" || name == "exec") && !value->parenthesized) {
        uint32_t saved_pos = pos_;
        Expr* argument = parse_star_expressions();
        uint32_t end = argument ? prev_end() : tokens_[saved_pos].end;
        error_.reset();
        std::string n(name);
        fail("Missing parentheses in call to '" + n + "'. Did you mean " + n + "(...)?",
             TextRange{value->range.start, end});
        return false;
      }
    }
    fail_here();
    return false;
  }
  return true;
}

Stmt* Parser::parse_compound_statement() {
  uint32_t begin = start();
  switch (kind()) {
    case TokenKind::kDef:
      return parse_function_def(begin, {}, false);
    case TokenKind::kIf:
      return parse_if();
    case TokenKind::kClass:
      return parse_class_def(begin, {});
    case TokenKind::kWith:
      return parse_with(begin, false);
    case TokenKind::kFor:
      return parse_for(begin, false);
    case TokenKind::kTry:
      return parse_try();
    case TokenKind::kWhile:
      return parse_while();
    case TokenKind::kAt:
      return parse_decorated();
    case TokenKind::kAsync:
      advance();
      if (at(TokenKind::kDef)) return parse_function_def(begin, {}, true);
      if (at(TokenKind::kWith)) return parse_with(begin, true);
      return parse_for(begin, true);
    default:
      return fail_here();
  }
}

Stmt* Parser::parse_simple_statement() {
  uint32_t begin = start();
  switch (kind()) {
    case TokenKind::kReturn:
      return parse_return();
    case TokenKind::kRaise:
      return parse_raise();
    case TokenKind::kGlobal:
      return parse_global(false);
    case TokenKind::kNonlocal:
      return parse_global(true);
    case TokenKind::kDel:
      return parse_del();
    case TokenKind::kAssert:
      return parse_assert();
    case TokenKind::kImport:
      return parse_import();
    case TokenKind::kFrom:
      return parse_import_from();
    case TokenKind::kPass:
    case TokenKind::kBreak:
    case TokenKind::kContinue: {
      StmtKind k = at(TokenKind::kPass)    ? StmtKind::kPass
                   : at(TokenKind::kBreak) ? StmtKind::kBreak
                                           : StmtKind::kContinue;
      advance();
      return make<Stmt>(k, from(begin));
    }
    case TokenKind::kName:
      if (text_of(tok()) == "type" && peek_token(1).kind == TokenKind::kName &&
          (peek_token(2).kind == TokenKind::kEqual || peek_token(2).kind == TokenKind::kLSqb)) {
        return parse_type_alias();
      }
      return parse_expression_statement();
    default:
      return parse_expression_statement();
  }
}

Stmt* Parser::parse_expression_statement() {
  uint32_t begin = start();
  auto value_expression = [&]() -> Expr* {
    return at(TokenKind::kYield) ? parse_yield_expression() : parse_star_expressions();
  };
  Expr* first = TRY(value_expression());
  if (at(TokenKind::kColon)) {
    if (!set_target(first, ExprContext::kStore, TargetUse::kAnnotated)) return nullptr;
    advance();
    Expr* annotation = TRY(parse_expression());
    Expr* value = nullptr;
    if (eat(TokenKind::kEqual)) value = TRY(value_expression());
    auto* s = make<AnnAssignStmt>(StmtKind::kAnnAssign, from(begin));
    s->target = first;
    s->annotation = annotation;
    s->value = value;
    s->simple = first->kind == ExprKind::kName && !first->parenthesized;
    return s;
  }
  Operator op;
  if (augmented_operator(kind(), &op)) {
    if (!set_target(first, ExprContext::kStore, TargetUse::kAugmented)) return nullptr;
    advance();
    Expr* value = TRY(value_expression());
    auto* s = make<AugAssignStmt>(StmtKind::kAugAssign, from(begin));
    s->target = first;
    s->op = op;
    s->value = value;
    return s;
  }
  if (at(TokenKind::kEqual)) {
    size_t targets = mark();
    Expr* value = first;
    while (eat(TokenKind::kEqual)) {
      if (!set_target(value, ExprContext::kStore, TargetUse::kAssign)) return nullptr;
      push(value);
      value = TRY(value_expression());
    }
    auto* s = make<AssignStmt>(StmtKind::kAssign, from(begin));
    s->targets = take<Expr>(targets);
    s->value = value;
    return s;
  }
  auto* s = make<ExprStmt>(StmtKind::kExpr, from(begin));
  s->value = first;
  return s;
}

Stmt* Parser::parse_return() {
  uint32_t begin = start();
  advance();
  Expr* value = nullptr;
  if (starts_expression_token(kind())) value = TRY(parse_star_expressions());
  auto* s = make<ReturnStmt>(StmtKind::kReturn, from(begin));
  s->value = value;
  return s;
}

Stmt* Parser::parse_raise() {
  uint32_t begin = start();
  advance();
  Expr* exc = nullptr;
  Expr* cause = nullptr;
  if (starts_expression_token(kind()) && !at(TokenKind::kStar)) {
    exc = TRY(parse_expression());
    if (eat(TokenKind::kFrom)) cause = TRY(parse_expression());
  }
  auto* s = make<RaiseStmt>(StmtKind::kRaise, from(begin));
  s->exc = exc;
  s->cause = cause;
  return s;
}

Stmt* Parser::parse_global(bool nonlocal) {
  uint32_t begin = start();
  advance();
  std::vector<Identifier> names;
  do {
    auto name = parse_name();
    if (!name) return nullptr;
    names.push_back(*name);
  } while (eat(TokenKind::kComma));
  auto* s = make<GlobalStmt>(nonlocal ? StmtKind::kNonlocal : StmtKind::kGlobal, from(begin));
  s->names = make_array(names);
  return s;
}

Stmt* Parser::parse_del() {
  uint32_t begin = start();
  advance();
  size_t targets = mark();
  do {
    if (!starts_expression_token(kind())) break;
    Expr* target = TRY(parse_target_expression());
    if (!set_target(target, ExprContext::kDel, TargetUse::kDelete)) return nullptr;
    push(target);
  } while (eat(TokenKind::kComma));
  if (scratch_.size() == targets) return fail_here();
  auto* s = make<DeleteStmt>(StmtKind::kDelete, from(begin));
  s->targets = take<Expr>(targets);
  return s;
}

Stmt* Parser::parse_assert() {
  uint32_t begin = start();
  advance();
  Expr* test = TRY(parse_expression());
  Expr* msg = nullptr;
  if (eat(TokenKind::kComma)) msg = TRY(parse_expression());
  auto* s = make<AssertStmt>(StmtKind::kAssert, from(begin));
  s->test = test;
  s->msg = msg;
  return s;
}

// A dotted name as one text: "a.b.c" is contiguous in the source unless written with spaces or
// line continuations, in which case the parts are joined into the arena.
static std::optional<Identifier> dotted_name(const Token* tokens, uint32_t& pos,
                                             std::string_view source, Arena& arena,
                                             Identifier first) {
  if (tokens[pos].kind != TokenKind::kDot) return first;
  std::string joined(first.text);
  bool contiguous = true;
  uint32_t end = first.range.end;
  while (tokens[pos].kind == TokenKind::kDot && tokens[pos + 1].kind == TokenKind::kName) {
    contiguous &= tokens[pos].start == end && tokens[pos + 1].start == tokens[pos].end &&
                  !(tokens[pos + 1].flags & kTokenNonAscii);
    joined += '.';
    joined += source.substr(tokens[pos + 1].start, tokens[pos + 1].end - tokens[pos + 1].start);
    end = tokens[pos + 1].end;
    pos += 2;
  }
  if (contiguous && !(tokens[pos].kind == TokenKind::kDot)) {
    return Identifier{source.substr(first.range.start, end - first.range.start),
                      {first.range.start, end}};
  }
  if (tokens[pos].kind == TokenKind::kDot) return std::nullopt;
  return Identifier{arena.copy(joined), {first.range.start, end}};
}

Stmt* Parser::parse_import() {
  uint32_t begin = start();
  advance();
  size_t names = mark();
  do {
    uint32_t alias_begin = start();
    auto first = parse_name();
    if (!first) return nullptr;
    auto name = dotted_name(tokens_, pos_, source_, arena_, *first);
    if (!name) return fail_here();
    auto* alias = arena_.make<Alias>();
    alias->name = *name;
    if (name->text.find('.') != std::string_view::npos) {
      // Each part of a dotted name is an identifier of its own and NFKC applies to each.
      bool non_ascii = false;
      for (uint32_t i = alias_begin; i < name->range.end; ++i) {
        non_ascii |= static_cast<unsigned char>(source_[i]) >= 0x80;
      }
      if (non_ascii) {
        // Rebuild from the tokens of this name.
        std::string joined;
        uint32_t p = pos_;
        while (p > 0 && tokens_[p - 1].start >= alias_begin) --p;
        for (uint32_t i = p; i < pos_; ++i) {
          if (tokens_[i].kind == TokenKind::kDot) {
            joined += '.';
          } else {
            joined += identifier(tokens_[i]).text;
          }
        }
        alias->name.text = arena_.copy(joined);
      }
    }
    alias->has_asname = false;
    if (eat(TokenKind::kAs)) {
      auto asname = parse_name();
      if (!asname) return nullptr;
      alias->asname = *asname;
      alias->has_asname = true;
    }
    alias->range = from(alias_begin);
    push(alias);
  } while (eat(TokenKind::kComma));
  auto* s = make<ImportStmt>(StmtKind::kImport, from(begin));
  s->names = take<Alias>(names);
  return s;
}

Stmt* Parser::parse_import_from() {
  uint32_t begin = start();
  advance();
  uint32_t level = 0;
  while (at(TokenKind::kDot) || at(TokenKind::kEllipsis)) {
    level += at(TokenKind::kDot) ? 1 : 3;
    advance();
  }
  auto* s = make<ImportFromStmt>(StmtKind::kImportFrom, TextRange{});
  s->level = level;
  s->has_module = false;
  if (at(TokenKind::kName)) {
    uint32_t module_begin = pos_;
    auto first = parse_name();
    auto name = dotted_name(tokens_, pos_, source_, arena_, *first);
    if (!name) return fail_here();
    s->module = *name;
    s->has_module = true;
    bool non_ascii = false;
    for (uint32_t i = module_begin; i < pos_; ++i) non_ascii |= tokens_[i].flags & kTokenNonAscii;
    if (non_ascii) {
      std::string joined;
      for (uint32_t i = module_begin; i < pos_; ++i) {
        joined += tokens_[i].kind == TokenKind::kDot ? std::string_view(".")
                                                     : identifier(tokens_[i]).text;
      }
      s->module.text = arena_.copy(joined);
    }
  } else if (level == 0) {
    return fail_here();
  }
  if (!at(TokenKind::kImport)) return fail_here();
  advance();
  size_t names = mark();
  if (at(TokenKind::kStar)) {
    auto* alias = arena_.make<Alias>();
    alias->name = Identifier{"*", tok().range()};
    alias->has_asname = false;
    alias->range = tok().range();
    advance();
    push(alias);
  } else {
    bool parenthesized = eat(TokenKind::kLPar);
    do {
      if (parenthesized && at(TokenKind::kRPar) && scratch_.size() > names) break;
      if (!parenthesized && at(TokenKind::kNewline) && scratch_.size() > names) {
        return fail("trailing comma not allowed without surrounding parentheses",
                    tokens_[pos_ - 1].range());
      }
      uint32_t alias_begin = start();
      auto name = parse_name();
      if (!name) return nullptr;
      auto* alias = arena_.make<Alias>();
      alias->name = *name;
      alias->has_asname = false;
      if (eat(TokenKind::kAs)) {
        auto asname = parse_name();
        if (!asname) return nullptr;
        alias->asname = *asname;
        alias->has_asname = true;
      }
      alias->range = from(alias_begin);
      push(alias);
    } while (eat(TokenKind::kComma));
    if (parenthesized && !expect(TokenKind::kRPar)) return nullptr;
  }
  s->names = take<Alias>(names);
  s->range = from(begin);
  return s;
}

Stmt* Parser::parse_type_alias() {
  uint32_t begin = start();
  advance();
  auto* name = make<NameExpr>(ExprKind::kName, tok().range());
  name->id = identifier(tok()).text;
  name->ctx = ExprContext::kStore;
  advance();
  List<TypeParam> params;
  if (at(TokenKind::kLSqb)) {
    auto parsed = parse_type_params();
    if (!parsed) return nullptr;
    params = *parsed;
  }
  if (!expect(TokenKind::kEqual)) return nullptr;
  Expr* value = TRY(parse_expression());
  auto* s = make<TypeAliasStmt>(StmtKind::kTypeAlias, from(begin));
  s->name = name;
  s->type_params = params;
  s->value = value;
  return s;
}

std::optional<List<TypeParam>> Parser::parse_type_params() {
  advance();
  if (at(TokenKind::kRSqb)) {
    fail("Type parameter list cannot be empty", tok().range());
    return std::nullopt;
  }
  size_t list = mark();
  while (!at(TokenKind::kRSqb)) {
    uint32_t begin = start();
    auto* param = arena_.make<TypeParam>();
    if (eat(TokenKind::kStar)) {
      param->kind = TypeParamKind::kTypeVarTuple;
    } else if (eat(TokenKind::kDoubleStar)) {
      param->kind = TypeParamKind::kParamSpec;
    } else {
      param->kind = TypeParamKind::kTypeVar;
    }
    auto name = parse_name();
    if (!name) return std::nullopt;
    param->name = *name;
    if (at(TokenKind::kColon)) {
      if (param->kind != TypeParamKind::kTypeVar) {
        fail(param->kind == TypeParamKind::kParamSpec ? "cannot use bound with ParamSpec"
                                                      : "cannot use bound with TypeVarTuple",
             tok().range());
        return std::nullopt;
      }
      advance();
      param->bound = parse_expression();
      if (!param->bound) return std::nullopt;
    }
    if (eat(TokenKind::kEqual)) {
      param->default_value = param->kind == TypeParamKind::kTypeVarTuple ? parse_star_expression()
                                                                         : parse_expression();
      if (!param->default_value) return std::nullopt;
    }
    param->range = from(begin);
    push(param);
    if (!eat(TokenKind::kComma)) break;
  }
  if (!expect(TokenKind::kRSqb)) return std::nullopt;
  return take<TypeParam>(list);
}

Arguments* Parser::parse_parameters(bool lambda) {
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  auto* args = arena_.make<Arguments>();
  uint32_t begin = start();
  TokenKind close = lambda ? TokenKind::kColon : TokenKind::kRPar;
  if (!lambda) advance();
  // Parameters go to the scratch list as (parameter, default) pairs in source order.
  size_t list = mark();
  uint32_t positional = 0;
  int32_t slash_at = -1;
  bool star_seen = false;
  bool bare_star = false;
  uint32_t bare_star_at = 0;
  bool seen_default = false;
  uint32_t items_end = begin;  // end of the last parameter (a lambda's range ends there)
  auto parse_param = [&](uint32_t param_begin, bool star_annotation) -> Arg* {
    auto name = parse_name();
    if (!name) return nullptr;
    auto* arg = arena_.make<Arg>();
    arg->arg = *name;
    if (!lambda && eat(TokenKind::kColon)) {
      arg->annotation =
          star_annotation && at(TokenKind::kStar) ? parse_star_expression() : parse_expression();
      if (!arg->annotation) return nullptr;
    }
    arg->range = from(param_begin);
    return arg;
  };
  while (!at(close)) {
    uint32_t item_begin = start();
    if (args->kwarg) return fail("arguments cannot follow var-keyword argument", tok().range());
    if (at(TokenKind::kSlash)) {
      if (star_seen) return fail("/ must be ahead of *", tok().range());
      if (slash_at >= 0) return fail("/ may appear only once", tok().range());
      if (positional == 0) return fail("at least one argument must precede /", tok().range());
      slash_at = int32_t(positional);
      advance();
    } else if (at(TokenKind::kStar)) {
      if (star_seen) return fail("* argument may appear only once", tok().range());
      star_seen = true;
      advance();
      if (at(TokenKind::kComma) || at(close)) {
        bare_star = true;
        bare_star_at = item_begin;
      } else {
        args->vararg = TRY(parse_param(item_begin, true));
        if (at(TokenKind::kEqual)) {
          return fail("var-positional argument cannot have default value", tok().range());
        }
      }
    } else if (at(TokenKind::kDoubleStar)) {
      advance();
      args->kwarg = TRY(parse_param(item_begin, false));
      if (at(TokenKind::kEqual)) {
        return fail("var-keyword argument cannot have default value", tok().range());
      }
    } else {
      Arg* arg = TRY(parse_param(item_begin, false));
      Expr* default_value = nullptr;
      if (eat(TokenKind::kEqual)) default_value = TRY(parse_expression());
      if (!star_seen) {
        if (default_value) {
          seen_default = true;
        } else if (seen_default) {
          return fail("parameter without a default follows parameter with a default", arg->range);
        }
        ++positional;
      }
      push(arg);
      push(default_value);
    }
    items_end = prev_end();
    if (!eat(TokenKind::kComma)) break;
  }
  uint32_t count = uint32_t(scratch_.size() - list) / 2;
  if (bare_star && count == positional) {
    return fail("named arguments must follow bare *", TextRange{bare_star_at, bare_star_at + 1});
  }
  if (!lambda) {
    if (!at(close)) return fail_here();
    advance();
  }
  uint32_t posonly = slash_at < 0 ? 0 : uint32_t(slash_at);
  uint32_t default_count = 0;
  for (uint32_t i = 0; i < positional; ++i) default_count += scratch_[list + 2 * i + 1] != nullptr;
  uint32_t kwonly = count - positional;
  auto array = [&](uint32_t n) {
    return static_cast<void**>(arena_.allocate((n ? n : 1) * sizeof(void*)));
  };
  void** posonly_items = array(posonly);
  void** args_items = array(positional - posonly);
  void** kwonly_items = array(kwonly);
  void** kw_defaults = array(kwonly);
  void** defaults = array(default_count);
  uint32_t d = 0;
  for (uint32_t i = 0; i < count; ++i) {
    void* arg = scratch_[list + 2 * i];
    void* default_value = scratch_[list + 2 * i + 1];
    if (i < posonly) {
      posonly_items[i] = arg;
    } else if (i < positional) {
      args_items[i - posonly] = arg;
    } else {
      kwonly_items[i - positional] = arg;
      kw_defaults[i - positional] = default_value;
    }
    if (i < positional && default_value) defaults[d++] = default_value;
  }
  scratch_.resize(list);
  args->posonlyargs = List<Arg>(reinterpret_cast<Arg**>(posonly_items), posonly);
  args->args = List<Arg>(reinterpret_cast<Arg**>(args_items), positional - posonly);
  args->kwonlyargs = List<Arg>(reinterpret_cast<Arg**>(kwonly_items), kwonly);
  args->kw_defaults = List<Expr>(reinterpret_cast<Expr**>(kw_defaults), kwonly);
  args->defaults = List<Expr>(reinterpret_cast<Expr**>(defaults), default_count);
  if (lambda) {
    args->has_range = items_end > begin;
    args->range = args->has_range ? TextRange{begin, items_end} : TextRange{};
  } else {
    args->has_range = true;
    args->range = from(begin);
  }
  return args;
}

std::optional<List<Stmt>> Parser::parse_block(std::string_view what, uint32_t header) {
  if (!at(TokenKind::kNewline)) {
    size_t list = mark();
    if (!parse_simple_statements()) return std::nullopt;
    return take<Stmt>(list);
  }
  advance();
  if (!at(TokenKind::kIndent)) {
    fail_here("expected an indented block after " + std::string(what) + " on line " +
              std::to_string(line_of_offset(source_, header)));
    return std::nullopt;
  }
  advance();
  DepthGuard guard(*this);
  if (!guard.ok()) return std::nullopt;
  size_t list = mark();
  while (!at(TokenKind::kDedent)) {
    if (at(TokenKind::kEndMarker) || at(TokenKind::kError)) {
      fail_here();
      return std::nullopt;
    }
    if (!parse_statement_into()) return std::nullopt;
  }
  advance();
  return take<Stmt>(list);
}

Stmt* Parser::parse_decorated() {
  uint32_t begin = start();
  size_t list = mark();
  while (eat(TokenKind::kAt)) {
    push(TRY(parse_named_expression()));
    if (!expect(TokenKind::kNewline)) return nullptr;
  }
  List<Expr> decorators = take<Expr>(list);
  if (at(TokenKind::kDef)) return parse_function_def(begin, decorators, false);
  if (at(TokenKind::kAsync) && peek_token(1).kind == TokenKind::kDef) {
    advance();
    return parse_function_def(begin, decorators, true);
  }
  if (at(TokenKind::kClass)) return parse_class_def(begin, decorators);
  return fail_here();
}

Stmt* Parser::parse_function_def(uint32_t begin, List<Expr> decorators, bool is_async) {
  uint32_t header = start();
  advance();
  auto* s = make<FunctionDefStmt>(is_async ? StmtKind::kAsyncFunctionDef : StmtKind::kFunctionDef,
                                  TextRange{});
  auto name = parse_name();
  if (!name) return nullptr;
  s->name = *name;
  s->decorator_list = decorators;
  if (at(TokenKind::kLSqb)) {
    auto params = parse_type_params();
    if (!params) return nullptr;
    s->type_params = *params;
  }
  if (!at(TokenKind::kLPar)) return fail_expected("(");
  s->args = TRY(parse_parameters(false));
  s->returns = nullptr;
  if (eat(TokenKind::kRArrow)) s->returns = TRY(parse_expression());
  if (!expect(TokenKind::kColon)) return nullptr;
  auto body = parse_block("function definition", header);
  if (!body) return nullptr;
  s->body = *body;
  s->range = {begin, block_end()};
  return s;
}

Stmt* Parser::parse_class_def(uint32_t begin, List<Expr> decorators) {
  uint32_t header = start();
  advance();
  auto* s = make<ClassDefStmt>(StmtKind::kClassDef, TextRange{});
  auto name = parse_name();
  if (!name) return nullptr;
  s->name = *name;
  s->decorator_list = decorators;
  if (at(TokenKind::kLSqb)) {
    auto params = parse_type_params();
    if (!params) return nullptr;
    s->type_params = *params;
  }
  if (at(TokenKind::kLPar)) {
    uint32_t open = start();
    auto* call = TRY(parse_call(open, nullptr))->as<CallExpr>();
    if (call->args.size() == 1 && call->args[0]->kind == ExprKind::kGeneratorExp &&
        call->args[0]->range.start == open) {
      return fail("invalid syntax", call->args[0]->range);
    }
    s->bases = call->args;
    s->keywords = call->keywords;
  }
  if (!expect(TokenKind::kColon)) return nullptr;
  auto body = parse_block("class definition", header);
  if (!body) return nullptr;
  s->body = *body;
  s->range = {begin, block_end()};
  return s;
}

bool Parser::parse_else_block(List<Stmt>* orelse) {
  if (!at(TokenKind::kElse)) return true;
  uint32_t header = start();
  advance();
  if (!expect(TokenKind::kColon)) return false;
  auto body = parse_block("'else' statement", header);
  if (!body) return false;
  *orelse = *body;
  return true;
}

Stmt* Parser::parse_if() {
  // The elif clauses are read in a loop and linked from the last one, so a long elif chain does
  // not recurse.
  size_t clauses = mark();
  do {
    uint32_t begin = start();
    advance();
    auto* s = make<IfStmt>(StmtKind::kIf, TextRange{begin, 0});
    s->is_elif = scratch_.size() > clauses;
    s->test = TRY(parse_named_expression());
    if (!expect(TokenKind::kColon)) return nullptr;
    auto body = parse_block(s->is_elif ? "'elif' statement" : "'if' statement", begin);
    if (!body) return nullptr;
    s->body = *body;
    s->range.end = block_end();
    push(s);
  } while (at(TokenKind::kElif));
  List<Stmt> orelse;
  if (!parse_else_block(&orelse)) return nullptr;
  size_t count = scratch_.size() - clauses;
  for (size_t i = count; i-- > 0;) {
    auto* s = static_cast<IfStmt*>(scratch_[clauses + i]);
    s->orelse = orelse;
    s->range.end = block_end();
    if (i > 0) {
      auto** items = static_cast<Stmt**>(arena_.allocate(sizeof(Stmt*)));
      items[0] = s;
      orelse = List<Stmt>(items, 1);
    }
  }
  auto* first = static_cast<IfStmt*>(scratch_[clauses]);
  scratch_.resize(clauses);
  return first;
}

Stmt* Parser::parse_while() {
  uint32_t begin = start();
  advance();
  auto* s = make<WhileStmt>(StmtKind::kWhile, TextRange{});
  s->test = TRY(parse_named_expression());
  if (!expect(TokenKind::kColon)) return nullptr;
  auto body = parse_block("'while' statement", begin);
  if (!body) return nullptr;
  s->body = *body;
  if (!parse_else_block(&s->orelse)) return nullptr;
  s->range = {begin, block_end()};
  return s;
}

Stmt* Parser::parse_for(uint32_t begin, bool is_async) {
  advance();
  auto* s = make<ForStmt>(is_async ? StmtKind::kAsyncFor : StmtKind::kFor, TextRange{});
  s->target = TRY(parse_star_targets(ExprContext::kStore));
  if (!expect(TokenKind::kIn)) return nullptr;
  s->iter = TRY(parse_star_expressions());
  if (!expect(TokenKind::kColon)) return nullptr;
  auto body = parse_block("'for' statement", begin);
  if (!body) return nullptr;
  s->body = *body;
  if (!parse_else_block(&s->orelse)) return nullptr;
  s->range = {begin, block_end()};
  return s;
}

Stmt* Parser::parse_with(uint32_t begin, bool is_async) {
  advance();
  auto* s = make<WithStmt>(is_async ? StmtKind::kAsyncWith : StmtKind::kWith, TextRange{});
  // "with (a as b, c):" holds items in parentheses; "with (a, b) as c:" is an expression. The
  // token after the matching ")" tells them apart.
  bool parenthesized_items = false;
  if (at(TokenKind::kLPar)) {
    uint32_t depth = 0;
    uint32_t i = pos_;
    for (;; ++i) {
      TokenKind k = tokens_[i].kind;
      if (k == TokenKind::kEndMarker || k == TokenKind::kError) break;
      if (k == TokenKind::kLPar || k == TokenKind::kLSqb || k == TokenKind::kLBrace) ++depth;
      if (k == TokenKind::kRPar || k == TokenKind::kRSqb || k == TokenKind::kRBrace) {
        if (--depth == 0) break;
      }
    }
    parenthesized_items =
        tokens_[i].kind == TokenKind::kRPar && tokens_[i + 1].kind == TokenKind::kColon;
  }
  uint32_t saved_pos = pos_;
  size_t items = mark();
  auto parse_items = [&](bool in_parentheses) -> bool {
    if (in_parentheses) advance();
    do {
      if (in_parentheses && at(TokenKind::kRPar) && scratch_.size() > items) break;
      auto* item = arena_.make<WithItem>();
      item->context_expr = TRY_BOOL(parse_expression());
      if (eat(TokenKind::kAs)) {
        item->optional_vars = TRY_BOOL(parse_target_expression());
        if (!set_target(item->optional_vars, ExprContext::kStore, TargetUse::kWith)) {
          return false;
        }
      }
      push(item);
    } while (eat(TokenKind::kComma));
    return !in_parentheses || expect(TokenKind::kRPar);
  };
  if (parenthesized_items && !parse_items(true)) {
    // Not items after all ("with (yield):"): read it as one parenthesized expression.
    pos_ = saved_pos;
    scratch_.resize(items);
    error_.reset();
    parenthesized_items = false;
  }
  if (!parenthesized_items && !parse_items(false)) return nullptr;
  s->items = take<WithItem>(items);
  if (!expect(TokenKind::kColon)) return nullptr;
  auto body = parse_block("'with' statement", begin);
  if (!body) return nullptr;
  s->body = *body;
  s->range = {begin, block_end()};
  return s;
}

Stmt* Parser::parse_try() {
  uint32_t begin = start();
  advance();
  if (!expect(TokenKind::kColon)) return nullptr;
  auto* s = make<TryStmt>(StmtKind::kTry, TextRange{});
  auto body = parse_block("'try' statement", begin);
  if (!body) return nullptr;
  s->body = *body;
  size_t handlers = mark();
  bool any_star = false;
  bool any_plain = false;
  while (at(TokenKind::kExcept)) {
    uint32_t handler_begin = start();
    advance();
    bool star = eat(TokenKind::kStar);
    (star ? any_star : any_plain) = true;
    if (any_star && any_plain) {
      return fail("cannot have both 'except' and 'except*' on the same 'try'",
                  TextRange{handler_begin, prev_end()});
    }
    auto* handler = arena_.make<ExceptHandler>();
    handler->has_name = false;
    if (!at(TokenKind::kColon)) {
      handler->type = TRY(parse_expression());
      if (at(TokenKind::kComma)) {
        return fail("multiple exception types must be parenthesized", handler->type->range);
      }
      if (eat(TokenKind::kAs)) {
        auto name = parse_name();
        if (!name) return nullptr;
        handler->name = *name;
        handler->has_name = true;
      }
    } else if (star) {
      return fail("expected one or more exception types", tok().range());
    }
    if (!expect(TokenKind::kColon)) return nullptr;
    auto handler_body =
        parse_block(star ? "'except*' statement" : "'except' statement", handler_begin);
    if (!handler_body) return nullptr;
    handler->body = *handler_body;
    handler->range = {handler_begin, block_end()};
    push(handler);
  }
  s->handlers = take<ExceptHandler>(handlers);
  if (any_star) s->kind = StmtKind::kTryStar;
  if (!s->handlers.empty() && !parse_else_block(&s->orelse)) return nullptr;
  if (at(TokenKind::kFinally)) {
    uint32_t header = start();
    advance();
    if (!expect(TokenKind::kColon)) return nullptr;
    auto final_body = parse_block("'finally' statement", header);
    if (!final_body) return nullptr;
    s->finalbody = *final_body;
  }
  if (s->handlers.empty() && s->finalbody.empty()) {
    return fail_here("expected 'except' or 'finally' block");
  }
  s->range = {begin, block_end()};
  return s;
}

}  // namespace tolvo::parser
