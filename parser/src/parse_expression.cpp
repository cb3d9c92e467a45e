// Expressions: from star_expressions down to atoms, comprehensions, calls, slices, lambdas and
// assignment targets. Binary operators use precedence climbing; prefix operators are collected
// in a loop, so only brackets, lambdas and conditional expressions recurse.
#include <unordered_set>

#include "parser/src/parser_internal.h"

namespace tolvo::parser {

namespace {

bool starts_expression(TokenKind k) {
  switch (k) {
    case TokenKind::kName:
    case TokenKind::kNumber:
    case TokenKind::kString:
    case TokenKind::kFStringStart:
    case TokenKind::kLPar:
    case TokenKind::kLSqb:
    case TokenKind::kLBrace:
    case TokenKind::kMinus:
    case TokenKind::kPlus:
    case TokenKind::kTilde:
    case TokenKind::kNot:
    case TokenKind::kLambda:
    case TokenKind::kAwait:
    case TokenKind::kNone:
    case TokenKind::kTrue:
    case TokenKind::kFalse:
    case TokenKind::kEllipsis:
    case TokenKind::kStar:
      return true;
    default:
      return false;
  }
}

// Binding power of a binary operator, 0 when `k` is none.
int binary_precedence(TokenKind k, Operator* op) {
  switch (k) {
    case TokenKind::kVBar:
      *op = Operator::kBitOr;
      return 1;
    case TokenKind::kCircumflex:
      *op = Operator::kBitXor;
      return 2;
    case TokenKind::kAmper:
      *op = Operator::kBitAnd;
      return 3;
    case TokenKind::kLeftShift:
      *op = Operator::kLShift;
      return 4;
    case TokenKind::kRightShift:
      *op = Operator::kRShift;
      return 4;
    case TokenKind::kPlus:
      *op = Operator::kAdd;
      return 5;
    case TokenKind::kMinus:
      *op = Operator::kSub;
      return 5;
    case TokenKind::kStar:
      *op = Operator::kMult;
      return 6;
    case TokenKind::kSlash:
      *op = Operator::kDiv;
      return 6;
    case TokenKind::kDoubleSlash:
      *op = Operator::kFloorDiv;
      return 6;
    case TokenKind::kPercent:
      *op = Operator::kMod;
      return 6;
    case TokenKind::kAt:
      *op = Operator::kMatMult;
      return 6;
    default:
      return 0;
  }
}

}  // namespace

bool starts_expression_token(TokenKind k) { return starts_expression(k); }

std::string_view Parser::expr_name(const Expr* e) {
  switch (e->kind) {
    case ExprKind::kAttribute:
      return "attribute";
    case ExprKind::kSubscript:
      return "subscript";
    case ExprKind::kStarred:
      return "starred";
    case ExprKind::kName:
      return "name";
    case ExprKind::kList:
      return "list";
    case ExprKind::kTuple:
      return "tuple";
    case ExprKind::kLambda:
      return "lambda";
    case ExprKind::kCall:
      return "function call";
    case ExprKind::kBoolOp:
    case ExprKind::kBinOp:
    case ExprKind::kUnaryOp:
      return "expression";
    case ExprKind::kGeneratorExp:
      return "generator expression";
    case ExprKind::kYield:
    case ExprKind::kYieldFrom:
      return "yield expression";
    case ExprKind::kAwait:
      return "await expression";
    case ExprKind::kListComp:
      return "list comprehension";
    case ExprKind::kSetComp:
      return "set comprehension";
    case ExprKind::kDictComp:
      return "dict comprehension";
    case ExprKind::kDict:
      return "dict literal";
    case ExprKind::kSet:
      return "set display";
    case ExprKind::kJoinedStr:
    case ExprKind::kFormattedValue:
      return "f-string expression";
    case ExprKind::kConstant:
      switch (e->as<ConstantExpr>()->constant) {
        case ConstantKind::kNone:
          return "None";
        case ConstantKind::kTrue:
          return "True";
        case ConstantKind::kFalse:
          return "False";
        case ConstantKind::kEllipsis:
          return "ellipsis";
        default:
          return "literal";
      }
    case ExprKind::kCompare:
      return "comparison";
    case ExprKind::kIfExp:
      return "conditional expression";
    case ExprKind::kNamedExpr:
      return "named expression";
    case ExprKind::kSlice:
      return "slice";
  }
  return "expression";
}

bool Parser::set_target(Expr* e, ExprContext ctx, TargetUse use) {
  auto error = [&](std::string message, TextRange range) {
    fail(std::move(message), range);
    return false;
  };
  switch (e->kind) {
    case ExprKind::kName:
    case ExprKind::kAttribute:
    case ExprKind::kSubscript:
      e->ctx = ctx;
      return true;
    case ExprKind::kStarred:
      if (use == TargetUse::kDelete) return error("cannot delete starred", e->range);
      if (use == TargetUse::kAugmented || use == TargetUse::kAnnotated) break;
      e->ctx = ctx;
      return set_target(e->as<StarredExpr>()->value, ctx, use);
    case ExprKind::kTuple:
    case ExprKind::kList:
      if (use == TargetUse::kAugmented || use == TargetUse::kAnnotated) break;
      e->ctx = ctx;
      for (Expr* elt : e->as<SequenceExpr>()->elts) {
        if (!set_target(elt, ctx, use)) return false;
      }
      return true;
    default:
      break;
  }
  std::string name(expr_name(e));
  switch (use) {
    case TargetUse::kDelete:
      return error("cannot delete " + name, e->range);
    case TargetUse::kAugmented:
      return error("'" + name + "' is an illegal expression for augmented assignment", e->range);
    case TargetUse::kAnnotated:
      if (e->kind == ExprKind::kTuple || e->kind == ExprKind::kList) {
        return error("only single target (not " + name + ") can be annotated", e->range);
      }
      return error("illegal target for annotation", e->range);
    case TargetUse::kAssign:
      if (e->kind != ExprKind::kYield && e->kind != ExprKind::kYieldFrom &&
          e->kind != ExprKind::kStarred && e->kind != ExprKind::kLambda &&
          e->kind != ExprKind::kIfExp && e->kind != ExprKind::kNamedExpr) {
        return error("cannot assign to " + name + " here. Maybe you meant '==' instead of '='?",
                     e->range);
      }
      return error("cannot assign to " + name, e->range);
    default:
      return error("cannot assign to " + name, e->range);
  }
}

void Parser::check_missing_comma(const Expr* last) {
  TokenKind k = kind();
  if (last == nullptr || error_ || !starts_expression_token(k) || k == TokenKind::kStar) return;
  // CPython leaves out a name before a string ("print 'x'") and a soft keyword.
  if (last->kind == ExprKind::kName) {
    std::string_view id = last->as<NameExpr>()->id;
    if (k == TokenKind::kString || k == TokenKind::kFStringStart || id == "match" || id == "case" ||
        id == "type" || id == "_") {
      return;
    }
  }
  uint32_t saved_pos = pos_;
  size_t saved_scratch = scratch_.size();
  Expr* next = parse_expression();
  uint32_t end = next ? prev_end() : tokens_[saved_pos].end;
  error_.reset();
  pos_ = saved_pos;
  scratch_.resize(saved_scratch);
  fail("invalid syntax. Perhaps you forgot a comma?", TextRange{last->range.start, end});
}

Expr* Parser::parse_star_expressions() {
  uint32_t begin = start();
  Expr* first = TRY(parse_star_expression());
  if (!at(TokenKind::kComma)) return first;
  size_t list = mark();
  push(first);
  while (eat(TokenKind::kComma)) {
    if (!starts_expression(kind())) break;
    push(TRY(parse_star_expression()));
  }
  auto* tuple = make<SequenceExpr>(ExprKind::kTuple, from(begin));
  tuple->elts = take<Expr>(list);
  return tuple;
}

Expr* Parser::parse_star_expression() {
  if (!at(TokenKind::kStar)) return parse_expression();
  uint32_t begin = start();
  advance();
  Expr* value = TRY(parse_bitwise_or());
  auto* starred = make<StarredExpr>(ExprKind::kStarred, from(begin));
  starred->value = value;
  return starred;
}

Expr* Parser::parse_star_named_expression() {
  if (!at(TokenKind::kStar)) return parse_named_expression();
  uint32_t begin = start();
  advance();
  Expr* value = TRY(parse_bitwise_or());
  auto* starred = make<StarredExpr>(ExprKind::kStarred, from(begin));
  starred->value = value;
  return starred;
}

Expr* Parser::parse_named_expression() {
  uint32_t begin = start();
  if (at(TokenKind::kName) && peek_token(1).kind == TokenKind::kColonEqual) {
    auto* target = make<NameExpr>(ExprKind::kName, tok().range());
    target->id = identifier(tok()).text;
    target->ctx = ExprContext::kStore;
    pos_ += 2;
    Expr* value = TRY(parse_expression());
    auto* named = make<NamedExpr>(ExprKind::kNamedExpr, from(begin));
    named->target = target;
    named->value = value;
    return named;
  }
  Expr* e = TRY(parse_expression());
  if (at(TokenKind::kColonEqual)) {
    return fail("cannot use assignment expressions with " + std::string(expr_name(e)), e->range);
  }
  return e;
}

Expr* Parser::parse_expression() {
  // Most expressions are one atom followed by a delimiter: skip the rule chain for them.
  switch (kind()) {
    case TokenKind::kName:
    case TokenKind::kNumber:
    case TokenKind::kString:
    case TokenKind::kTrue:
    case TokenKind::kFalse:
    case TokenKind::kNone:
      switch (tokens_[pos_ + 1].kind) {
        case TokenKind::kComma:
        case TokenKind::kRPar:
        case TokenKind::kRSqb:
        case TokenKind::kRBrace:
        case TokenKind::kColon:
        case TokenKind::kEqual:
        case TokenKind::kNewline:
        case TokenKind::kSemi:
          return parse_atom();
        default:
          break;
      }
      break;
    case TokenKind::kLambda:
      return parse_lambda();
    default:
      break;
  }
  uint32_t begin = start();
  Expr* body = TRY(parse_disjunction());
  if (!at(TokenKind::kIf)) return body;
  advance();
  Expr* test = TRY(parse_disjunction());
  if (!eat(TokenKind::kElse)) {
    if (at(TokenKind::kError)) return fail_here();
    return fail("expected 'else' after 'if' expression", from(begin));
  }
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  Expr* orelse = TRY(parse_expression());
  auto* e = make<IfExpExpr>(ExprKind::kIfExp, from(begin));
  e->test = test;
  e->body = body;
  e->orelse = orelse;
  return e;
}

Expr* Parser::parse_yield_expression() {
  uint32_t begin = start();
  advance();
  if (eat(TokenKind::kFrom)) {
    Expr* value = TRY(parse_expression());
    auto* e = make<AwaitExpr>(ExprKind::kYieldFrom, from(begin));
    e->value = value;
    return e;
  }
  Expr* value = nullptr;
  if (starts_expression(kind())) value = TRY(parse_star_expressions());
  auto* e = make<AwaitExpr>(ExprKind::kYield, from(begin));
  e->value = value;
  return e;
}

template <Expr* (Parser::*Operand)()>
Expr* Parser::parse_bool_chain(TokenKind op_token, BoolOperator op) {
  uint32_t begin = start();
  Expr* first = TRY((this->*Operand)());
  if (!at(op_token)) return first;
  size_t list = mark();
  push(first);
  while (eat(op_token)) push(TRY((this->*Operand)()));
  auto* e = make<BoolOpExpr>(ExprKind::kBoolOp, from(begin));
  e->op = op;
  e->values = take<Expr>(list);
  return e;
}

Expr* Parser::parse_disjunction() {
  return parse_bool_chain<&Parser::parse_conjunction>(TokenKind::kOr, BoolOperator::kOr);
}

Expr* Parser::parse_conjunction() {
  return parse_bool_chain<&Parser::parse_inversion>(TokenKind::kAnd, BoolOperator::kAnd);
}

Expr* Parser::parse_inversion() {
  if (!at(TokenKind::kNot)) return parse_comparison();
  uint32_t first = pos_;
  while (at(TokenKind::kNot)) ++pos_;
  uint32_t count = pos_ - first;
  Expr* operand = TRY(parse_comparison());
  uint32_t end = prev_end();
  for (uint32_t i = count; i-- > 0;) {
    auto* e = make<UnaryOpExpr>(ExprKind::kUnaryOp, TextRange{tokens_[first + i].start, end});
    e->op = UnaryOperator::kNot;
    e->operand = operand;
    operand = e;
  }
  return operand;
}

Expr* Parser::parse_comparison() {
  uint32_t begin = start();
  Expr* left = TRY(parse_bitwise_or());
  size_t list = mark();
  while (true) {
    CmpOperator op;
    switch (kind()) {
      case TokenKind::kEqEqual:
        op = CmpOperator::kEq;
        break;
      case TokenKind::kNotEqual:
        op = CmpOperator::kNotEq;
        break;
      case TokenKind::kLess:
        op = CmpOperator::kLt;
        break;
      case TokenKind::kLessEqual:
        op = CmpOperator::kLtE;
        break;
      case TokenKind::kGreater:
        op = CmpOperator::kGt;
        break;
      case TokenKind::kGreaterEqual:
        op = CmpOperator::kGtE;
        break;
      case TokenKind::kIn:
        op = CmpOperator::kIn;
        break;
      case TokenKind::kIs:
        op = CmpOperator::kIs;
        if (peek_token(1).kind == TokenKind::kNot) {
          op = CmpOperator::kIsNot;
          advance();
        }
        break;
      case TokenKind::kNot:
        if (peek_token(1).kind != TokenKind::kIn) goto done;
        op = CmpOperator::kNotIn;
        advance();
        break;
      default:
        goto done;
    }
    advance();
    push(reinterpret_cast<void*>(uintptr_t(op)));
    push(TRY(parse_bitwise_or()));
  }
done:
  if (scratch_.size() == list) return left;
  uint32_t n = uint32_t(scratch_.size() - list) / 2;
  auto* ops = static_cast<CmpOperator*>(arena_.allocate(n, 1));
  for (uint32_t i = 0; i < n; ++i) {
    ops[i] = CmpOperator(reinterpret_cast<uintptr_t>(scratch_[list + 2 * i]));
    scratch_[list + i] = scratch_[list + 2 * i + 1];
  }
  scratch_.resize(list + n);
  auto* e = make<CompareExpr>(ExprKind::kCompare, from(begin));
  e->left = left;
  e->ops = Array<CmpOperator>(ops, n);
  e->comparators = take<Expr>(list);
  return e;
}

Expr* Parser::parse_binary(int min_precedence) {
  uint32_t begin = start();
  Expr* left = TRY(parse_factor());
  while (true) {
    Operator op;
    int precedence = binary_precedence(kind(), &op);
    if (precedence < min_precedence || precedence == 0) return left;
    advance();
    Expr* right = TRY(parse_binary(precedence + 1));
    auto* e = make<BinOpExpr>(ExprKind::kBinOp, from(begin));
    e->left = left;
    e->op = op;
    e->right = right;
    left = e;
  }
}

Expr* Parser::parse_factor() {
  auto is_unary = [](TokenKind k) {
    return k == TokenKind::kPlus || k == TokenKind::kMinus || k == TokenKind::kTilde;
  };
  if (!is_unary(kind())) return parse_power();
  uint32_t first = pos_;
  while (is_unary(kind())) ++pos_;
  uint32_t count = pos_ - first;
  Expr* operand = TRY(parse_power());
  uint32_t end = prev_end();
  for (uint32_t i = count; i-- > 0;) {
    const Token& t = tokens_[first + i];
    auto* e = make<UnaryOpExpr>(ExprKind::kUnaryOp, TextRange{t.start, end});
    e->op = t.kind == TokenKind::kPlus    ? UnaryOperator::kUAdd
            : t.kind == TokenKind::kMinus ? UnaryOperator::kUSub
                                          : UnaryOperator::kInvert;
    e->operand = operand;
    operand = e;
  }
  return operand;
}

Expr* Parser::parse_power() {
  uint32_t begin = start();
  Expr* base;
  if (at(TokenKind::kAwait)) {
    advance();
    Expr* value = TRY(parse_primary());
    auto* e = make<AwaitExpr>(ExprKind::kAwait, from(begin));
    e->value = value;
    base = e;
  } else {
    base = TRY(parse_primary());
  }
  if (!at(TokenKind::kDoubleStar)) return base;
  advance();
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  Expr* exponent = TRY(parse_factor());
  auto* e = make<BinOpExpr>(ExprKind::kBinOp, from(begin));
  e->left = base;
  e->op = Operator::kPow;
  e->right = exponent;
  return e;
}

Expr* Parser::parse_primary() {
  uint32_t begin = start();
  Expr* e = TRY(parse_atom());
  while (true) {
    switch (kind()) {
      case TokenKind::kDot: {
        advance();
        if (!at(TokenKind::kName)) return fail_here();
        auto* attribute = make<AttributeExpr>(ExprKind::kAttribute, TextRange{});
        attribute->value = e;
        attribute->attr = identifier(tok());
        advance();
        attribute->range = from(begin);
        e = attribute;
        break;
      }
      case TokenKind::kLPar:
        e = TRY(parse_call(begin, e));
        break;
      case TokenKind::kLSqb: {
        DepthGuard guard(*this);
        if (!guard.ok()) return nullptr;
        advance();
        Expr* slice = TRY(parse_slices());
        if (!expect(TokenKind::kRSqb)) return nullptr;
        auto* subscript = make<SubscriptExpr>(ExprKind::kSubscript, from(begin));
        subscript->value = e;
        subscript->slice = slice;
        e = subscript;
        break;
      }
      default:
        return e;
    }
  }
}

Expr* Parser::parse_number() {
  std::string_view text = text_of(tok());
  auto* e = make<ConstantExpr>(ExprKind::kConstant, tok().range());
  e->value = text;
  char last = text.back() | 0x20;
  bool prefixed = text.size() > 1 && text[0] == '0' &&
                  ((text[1] | 0x20) == 'x' || (text[1] | 0x20) == 'o' || (text[1] | 0x20) == 'b');
  if (last == 'j') {
    e->constant = ConstantKind::kComplex;
  } else if (!prefixed && text.find_first_of(".eE") != std::string_view::npos) {
    e->constant = ConstantKind::kFloat;
  } else {
    e->constant = ConstantKind::kInt;
    if (!prefixed && text.size() > kMaxIntDigits && !check_int_digits(text)) return nullptr;
  }
  advance();
  return e;
}

bool Parser::check_int_digits(std::string_view text) {
  // CPython converts a decimal literal to its value while parsing, and refuses more digits than
  // its default limit of integer string conversion (a process setting we cannot see, so the
  // default is ours always). Leading zeros only precede more zeros; they count for nothing.
  size_t digits = 0;
  bool leading = true;
  for (char c : text) {
    if (c == '_' || (leading && c == '0')) continue;
    leading = false;
    ++digits;
  }
  if (digits <= kMaxIntDigits) return true;
  fail("Exceeds the limit (" + std::to_string(kMaxIntDigits) +
           " digits) for integer string conversion: value has " + std::to_string(digits) +
           " digits; use sys.set_int_max_str_digits() to increase the limit - Consider "
           "hexadecimal for huge integer literals to avoid decimal conversion limits.",
       tok().range());
  return false;
}

Expr* Parser::parse_atom() {
  const Token& t = tok();
  switch (t.kind) {
    case TokenKind::kName: {
      auto* e = make<NameExpr>(ExprKind::kName, t.range());
      e->id = identifier(t).text;
      advance();
      return e;
    }
    case TokenKind::kTrue:
    case TokenKind::kFalse:
    case TokenKind::kNone:
    case TokenKind::kEllipsis: {
      auto* e = make<ConstantExpr>(ExprKind::kConstant, t.range());
      e->constant = t.kind == TokenKind::kTrue    ? ConstantKind::kTrue
                    : t.kind == TokenKind::kFalse ? ConstantKind::kFalse
                    : t.kind == TokenKind::kNone  ? ConstantKind::kNone
                                                  : ConstantKind::kEllipsis;
      advance();
      return e;
    }
    case TokenKind::kNumber:
      return parse_number();
    case TokenKind::kString:
    case TokenKind::kFStringStart:
      return parse_strings();
    case TokenKind::kLPar:
      return parse_paren_atom();
    case TokenKind::kLSqb:
      return parse_list_atom();
    case TokenKind::kLBrace:
      return parse_brace_atom();
    default:
      return fail_here();
  }
}

Expr* Parser::parse_paren_atom() {
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  uint32_t begin = start();
  advance();
  if (eat(TokenKind::kRPar)) return make<SequenceExpr>(ExprKind::kTuple, from(begin));
  if (at(TokenKind::kYield)) {
    Expr* e = TRY(parse_yield_expression());
    if (!expect(TokenKind::kRPar)) return nullptr;
    e->parenthesized = true;
    return e;
  }
  Expr* first = TRY(parse_star_named_expression());
  if (at(TokenKind::kFor) || at(TokenKind::kAsync)) {
    if (first->kind == ExprKind::kStarred)
      return fail("iterable unpacking cannot be used in comprehension", first->range);
    auto generators = parse_comprehension_clauses();
    if (!generators) return nullptr;
    if (!expect(TokenKind::kRPar)) return nullptr;
    auto* e = make<ComprehensionExpr>(ExprKind::kGeneratorExp, from(begin));
    e->elt = first;
    e->value = nullptr;
    e->generators = *generators;
    return e;
  }
  if (at(TokenKind::kComma)) {
    size_t list = mark();
    push(first);
    while (eat(TokenKind::kComma)) {
      if (at(TokenKind::kRPar)) break;
      push(TRY(parse_star_named_expression()));
    }
    if (!at(TokenKind::kRPar)) check_missing_comma(static_cast<Expr*>(scratch_.back()));
    if (!expect(TokenKind::kRPar)) return nullptr;
    auto* tuple = make<SequenceExpr>(ExprKind::kTuple, from(begin));
    tuple->elts = take<Expr>(list);
    tuple->parenthesized = true;
    return tuple;
  }
  if (!at(TokenKind::kRPar)) {
    check_missing_comma(first);
    return fail_here();
  }
  advance();
  if (first->kind == ExprKind::kStarred) {
    return fail("cannot use starred expression here", first->range);
  }
  first->parenthesized = true;
  return first;
}

Expr* Parser::parse_list_atom() {
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  uint32_t begin = start();
  advance();
  size_t list = mark();
  if (!at(TokenKind::kRSqb)) {
    Expr* first = TRY(parse_star_named_expression());
    if (at(TokenKind::kFor) || at(TokenKind::kAsync)) {
      if (first->kind == ExprKind::kStarred) {
        return fail("iterable unpacking cannot be used in comprehension", first->range);
      }
      auto generators = parse_comprehension_clauses();
      if (!generators) return nullptr;
      if (!expect(TokenKind::kRSqb)) return nullptr;
      auto* e = make<ComprehensionExpr>(ExprKind::kListComp, from(begin));
      e->elt = first;
      e->value = nullptr;
      e->generators = *generators;
      return e;
    }
    push(first);
    while (eat(TokenKind::kComma)) {
      if (at(TokenKind::kRSqb)) break;
      push(TRY(parse_star_named_expression()));
    }
  }
  if (!at(TokenKind::kRSqb) && scratch_.size() > list) {
    check_missing_comma(static_cast<Expr*>(scratch_.back()));
  }
  if (!expect(TokenKind::kRSqb)) return nullptr;
  auto* e = make<SequenceExpr>(ExprKind::kList, from(begin));
  e->elts = take<Expr>(list);
  return e;
}

Expr* Parser::parse_brace_atom() {
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  uint32_t begin = start();
  advance();
  if (eat(TokenKind::kRBrace)) {
    return make<DictExpr>(ExprKind::kDict, from(begin));
  }
  // Dict items go to the scratch list as key, value pairs (a null key for "**").
  size_t list = mark();
  bool is_dict;
  if (at(TokenKind::kDoubleStar)) {
    advance();
    push(nullptr);
    push(TRY(parse_bitwise_or()));
    is_dict = true;
  } else {
    Expr* first = TRY(parse_star_named_expression());
    if (at(TokenKind::kColon) && first->kind != ExprKind::kStarred) {
      // A key is an expression: an assignment expression needs its parentheses there.
      if (first->kind == ExprKind::kNamedExpr && !first->parenthesized) return fail_here();
      advance();
      Expr* value = TRY(parse_expression());
      if (at(TokenKind::kFor) || at(TokenKind::kAsync)) {
        auto generators = parse_comprehension_clauses();
        if (!generators) return nullptr;
        if (!expect(TokenKind::kRBrace)) return nullptr;
        auto* e = make<ComprehensionExpr>(ExprKind::kDictComp, from(begin));
        e->elt = first;
        e->value = value;
        e->generators = *generators;
        return e;
      }
      push(first);
      push(value);
      is_dict = true;
    } else {
      if (at(TokenKind::kFor) || at(TokenKind::kAsync)) {
        if (first->kind == ExprKind::kStarred) {
          return fail("iterable unpacking cannot be used in comprehension", first->range);
        }
        auto generators = parse_comprehension_clauses();
        if (!generators) return nullptr;
        if (!expect(TokenKind::kRBrace)) return nullptr;
        auto* e = make<ComprehensionExpr>(ExprKind::kSetComp, from(begin));
        e->elt = first;
        e->value = nullptr;
        e->generators = *generators;
        return e;
      }
      push(first);
      is_dict = false;
    }
  }
  while (eat(TokenKind::kComma)) {
    if (at(TokenKind::kRBrace)) break;
    if (is_dict) {
      if (eat(TokenKind::kDoubleStar)) {
        push(nullptr);
        push(TRY(parse_bitwise_or()));
      } else {
        push(TRY(parse_expression()));
        if (!expect(TokenKind::kColon)) return nullptr;
        push(TRY(parse_expression()));
      }
    } else {
      push(TRY(parse_star_named_expression()));
    }
  }
  if (!at(TokenKind::kRBrace)) check_missing_comma(static_cast<Expr*>(scratch_.back()));
  if (!expect(TokenKind::kRBrace)) return nullptr;
  if (!is_dict) {
    auto* e = make<SetExpr>(ExprKind::kSet, from(begin));
    e->elts = take<Expr>(list);
    return e;
  }
  uint32_t n = uint32_t(scratch_.size() - list) / 2;
  auto** keys = static_cast<Expr**>(arena_.allocate(n * sizeof(Expr*)));
  auto** values = static_cast<Expr**>(arena_.allocate(n * sizeof(Expr*)));
  for (uint32_t i = 0; i < n; ++i) {
    keys[i] = static_cast<Expr*>(scratch_[list + 2 * i]);
    values[i] = static_cast<Expr*>(scratch_[list + 2 * i + 1]);
  }
  scratch_.resize(list);
  auto* e = make<DictExpr>(ExprKind::kDict, from(begin));
  e->keys = List<Expr>(keys, n);
  e->values = List<Expr>(values, n);
  return e;
}

std::optional<List<Comprehension>> Parser::parse_comprehension_clauses() {
  size_t list = mark();
  while (at(TokenKind::kFor) || (at(TokenKind::kAsync) && peek_token(1).kind == TokenKind::kFor)) {
    auto* c = arena_.make<Comprehension>();
    c->is_async = eat(TokenKind::kAsync);
    advance();
    c->target = parse_star_targets(ExprContext::kStore);
    if (!c->target) return std::nullopt;
    if (!expect(TokenKind::kIn)) return std::nullopt;
    c->iter = parse_disjunction();
    if (!c->iter) return std::nullopt;
    size_t ifs = mark();
    while (eat(TokenKind::kIf)) {
      Expr* cond = parse_disjunction();
      if (!cond) return std::nullopt;
      push(cond);
    }
    c->ifs = take<Expr>(ifs);
    push(c);
  }
  if (scratch_.size() == list) {
    fail_here();
    return std::nullopt;
  }
  return take<Comprehension>(list);
}

Expr* Parser::parse_target_expression() {
  if (at(TokenKind::kStar)) {
    uint32_t begin = start();
    advance();
    Expr* value = TRY(parse_target_expression());
    auto* starred = make<StarredExpr>(ExprKind::kStarred, from(begin));
    starred->value = value;
    return starred;
  }
  return parse_bitwise_or();
}

Expr* Parser::parse_star_targets(ExprContext ctx) {
  uint32_t begin = start();
  Expr* first = TRY(parse_target_expression());
  Expr* result = first;
  if (at(TokenKind::kComma)) {
    size_t list = mark();
    push(first);
    while (eat(TokenKind::kComma)) {
      if (!starts_expression(kind())) break;
      push(TRY(parse_target_expression()));
    }
    auto* tuple = make<SequenceExpr>(ExprKind::kTuple, from(begin));
    tuple->elts = take<Expr>(list);
    result = tuple;
  }
  if (!set_target(result, ctx, ctx == ExprContext::kDel ? TargetUse::kDelete : TargetUse::kFor)) {
    return nullptr;
  }
  return result;
}

Expr* Parser::parse_lambda() {
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  uint32_t begin = start();
  advance();
  Arguments* args = TRY(parse_parameters(true));
  if (!expect(TokenKind::kColon)) return nullptr;
  Expr* body = TRY(parse_expression());
  auto* e = make<LambdaExpr>(ExprKind::kLambda, from(begin));
  e->args = args;
  e->body = body;
  return e;
}

Expr* Parser::parse_call(uint32_t begin, Expr* func) {
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  uint32_t open = start();
  advance();
  // Positional arguments and keywords share the scratch list; a keyword's pointer is tagged with
  // its low bit.
  size_t args = mark();
  uint32_t keyword_count = 0;
  bool seen_keyword = false;
  bool seen_keyword_unpacking = false;
  std::optional<std::unordered_set<std::string_view>> names;  // for calls with many keywords
  auto add_keyword = [&](Keyword* keyword) {
    push(reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(keyword) | 1));
    ++keyword_count;
  };
  auto repeated = [&](std::string_view name) {
    if (names) return !names->insert(name).second;
    for (size_t i = args; i < scratch_.size(); ++i) {
      uintptr_t item = reinterpret_cast<uintptr_t>(scratch_[i]);
      if (!(item & 1)) continue;
      auto* k = reinterpret_cast<Keyword*>(item & ~uintptr_t(1));
      if (k->has_arg && k->arg.text == name) return true;
    }
    if (keyword_count >= 32) {
      names.emplace();
      for (size_t i = args; i < scratch_.size(); ++i) {
        uintptr_t item = reinterpret_cast<uintptr_t>(scratch_[i]);
        auto* k = reinterpret_cast<Keyword*>(item & ~uintptr_t(1));
        if ((item & 1) && k->has_arg) names->insert(k->arg.text);
      }
      names->insert(name);
    }
    return false;
  };
  while (!at(TokenKind::kRPar)) {
    uint32_t item_begin = start();
    if (at(TokenKind::kStar)) {
      advance();
      Expr* value = TRY(parse_expression());
      if (seen_keyword_unpacking) {
        return fail("iterable argument unpacking follows keyword argument unpacking",
                    from(item_begin));
      }
      auto* starred = make<StarredExpr>(ExprKind::kStarred, from(item_begin));
      starred->value = value;
      push(starred);
    } else if (at(TokenKind::kDoubleStar)) {
      advance();
      auto* keyword = arena_.make<Keyword>();
      keyword->value = TRY(parse_expression());
      keyword->has_arg = false;
      keyword->range = from(item_begin);
      add_keyword(keyword);
      seen_keyword_unpacking = true;
    } else if (at(TokenKind::kName) && peek_token(1).kind == TokenKind::kEqual) {
      auto* keyword = arena_.make<Keyword>();
      keyword->arg = identifier(tok());
      keyword->has_arg = true;
      pos_ += 2;
      keyword->value = TRY(parse_expression());
      keyword->range = from(item_begin);
      // The same name twice would make the call fail at run time; refuse it here. A class
      // statement's arguments (no callee) are left to CPython's rules, which accept them.
      if (func && repeated(keyword->arg.text)) {
        return fail("keyword argument repeated: " + std::string(keyword->arg.text),
                    keyword->arg.range);
      }
      add_keyword(keyword);
      seen_keyword = true;
    } else {
      if (at(TokenKind::kTrue) || at(TokenKind::kFalse) || at(TokenKind::kNone)) {
        if (peek_token(1).kind == TokenKind::kEqual) {
          return fail("cannot assign to " + std::string(text_of(tok())), tok().range());
        }
      }
      Expr* value = TRY(parse_named_expression());
      if (at(TokenKind::kFor) || at(TokenKind::kAsync)) {
        auto generators = parse_comprehension_clauses();
        if (!generators) return nullptr;
        bool alone = scratch_.size() == args && at(TokenKind::kRPar);
        if (!alone) {
          return fail("Generator expression must be parenthesized", from(item_begin));
        }
        auto* genexp = make<ComprehensionExpr>(ExprKind::kGeneratorExp, TextRange{open, tok().end});
        genexp->elt = value;
        genexp->value = nullptr;
        genexp->generators = *generators;
        push(genexp);
        break;
      }
      if (at(TokenKind::kEqual)) {
        return fail("expression cannot contain assignment, perhaps you meant \"==\"?",
                    from(item_begin));
      }
      if (seen_keyword_unpacking) {
        return fail("positional argument follows keyword argument unpacking", value->range);
      }
      if (seen_keyword) {
        return fail("positional argument follows keyword argument", value->range);
      }
      push(value);
    }
    if (!eat(TokenKind::kComma)) break;
  }
  if (!at(TokenKind::kRPar) && scratch_.size() > args) {
    uintptr_t item = reinterpret_cast<uintptr_t>(scratch_.back());
    check_missing_comma((item & 1) ? reinterpret_cast<Keyword*>(item & ~uintptr_t(1))->value
                                   : reinterpret_cast<Expr*>(item));
  }
  if (!expect(TokenKind::kRPar)) return nullptr;
  auto* call = make<CallExpr>(ExprKind::kCall, from(begin));
  call->func = func;
  uint32_t positional_count = uint32_t(scratch_.size() - args) - keyword_count;
  auto** positional = static_cast<Expr**>(arena_.allocate(positional_count * sizeof(Expr*) + 1));
  auto** named = static_cast<Keyword**>(arena_.allocate(keyword_count * sizeof(Keyword*) + 1));
  uint32_t p = 0, k = 0;
  for (size_t i = args; i < scratch_.size(); ++i) {
    uintptr_t item = reinterpret_cast<uintptr_t>(scratch_[i]);
    if (item & 1) {
      named[k++] = reinterpret_cast<Keyword*>(item & ~uintptr_t(1));
    } else {
      positional[p++] = reinterpret_cast<Expr*>(item);
    }
  }
  scratch_.resize(args);
  call->args = List<Expr>(positional, positional_count);
  call->keywords = List<Keyword>(named, keyword_count);
  return call;
}

Expr* Parser::parse_slices() {
  uint32_t begin = start();
  Expr* first = TRY(parse_slice());
  if (!at(TokenKind::kComma)) {
    if (first->kind != ExprKind::kStarred) return first;
    // "x[*a]" subscripts with a one-element tuple.
    size_t list = mark();
    push(first);
    auto* tuple = make<SequenceExpr>(ExprKind::kTuple, first->range);
    tuple->elts = take<Expr>(list);
    return tuple;
  }
  size_t list = mark();
  push(first);
  while (eat(TokenKind::kComma)) {
    if (at(TokenKind::kRSqb)) break;
    push(TRY(parse_slice()));
  }
  auto* tuple = make<SequenceExpr>(ExprKind::kTuple, from(begin));
  tuple->elts = take<Expr>(list);
  return tuple;
}

Expr* Parser::parse_slice() {
  uint32_t begin = start();
  if (at(TokenKind::kStar)) {
    advance();
    Expr* value = TRY(parse_bitwise_or());
    auto* starred = make<StarredExpr>(ExprKind::kStarred, from(begin));
    starred->value = value;
    return starred;
  }
  Expr* lower = nullptr;
  if (!at(TokenKind::kColon)) {
    lower = TRY(parse_named_expression());
    if (!at(TokenKind::kColon)) return lower;
    // A slice's bounds are expressions: "x[a := 1]" is a subscript, "x[a := 1:]" is refused.
    if (lower->kind == ExprKind::kNamedExpr && !lower->parenthesized) return fail_here();
  }
  advance();
  Expr* upper = nullptr;
  Expr* step = nullptr;
  if (starts_expression(kind()) && !at(TokenKind::kStar)) upper = TRY(parse_expression());
  if (eat(TokenKind::kColon)) {
    if (starts_expression(kind()) && !at(TokenKind::kStar)) step = TRY(parse_expression());
  }
  auto* slice = make<SliceExpr>(ExprKind::kSlice, from(begin));
  slice->lower = lower;
  slice->upper = upper;
  slice->step = step;
  return slice;
}

}  // namespace tolvo::parser
