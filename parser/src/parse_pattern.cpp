// The match statement and its patterns.
#include "parser/src/parser_internal.h"

namespace tolvo::parser {

bool Parser::looks_like_match_statement() {
  // "match" is a keyword only where a match statement parses: try the subject and the colon,
  // then rewind (the speculative nodes stay unused in the arena).
  TokenKind next = peek_token(1).kind;
  if (!starts_expression_token(next)) return false;
  uint32_t saved_pos = pos_;
  size_t saved_scratch = scratch_.size();
  uint32_t saved_depth = depth_;
  advance();
  Expr* subject = parse_star_named_expression();
  if (subject && at(TokenKind::kComma)) subject = parse_star_named_expressions_tuple(subject);
  bool ok = subject != nullptr && at(TokenKind::kColon);
  pos_ = saved_pos;
  scratch_.resize(saved_scratch);
  depth_ = saved_depth;
  error_.reset();
  return ok;
}

Expr* Parser::parse_star_named_expressions_tuple(Expr* first) {
  size_t list = mark();
  push(first);
  while (eat(TokenKind::kComma)) {
    if (!starts_expression_token(kind())) break;
    push(TRY(parse_star_named_expression()));
  }
  auto* tuple = make<SequenceExpr>(ExprKind::kTuple, TextRange{first->range.start, prev_end()});
  tuple->elts = take<Expr>(list);
  return tuple;
}

Stmt* Parser::parse_match() {
  uint32_t begin = start();
  advance();
  uint32_t subject_begin = start();
  Expr* subject = TRY(parse_star_named_expression());
  if (at(TokenKind::kComma)) {
    subject = TRY(parse_star_named_expressions_tuple(subject));
    subject->range.start = subject_begin;
  } else if (subject->kind == ExprKind::kStarred) {
    return fail_here();
  }
  if (!expect(TokenKind::kColon)) return nullptr;
  if (!expect(TokenKind::kNewline)) return nullptr;
  if (!at(TokenKind::kIndent)) {
    return fail_here("expected an indented block after 'match' statement on line " +
                     std::to_string(line_of_offset(source_, begin)));
  }
  advance();
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  size_t cases = mark();
  while (!at(TokenKind::kDedent)) {
    if (!at_soft_keyword("case")) return fail_here();
    if (!parse_case_block()) return nullptr;
  }
  advance();
  auto* s = make<MatchStmt>(StmtKind::kMatch, TextRange{});
  s->subject = subject;
  s->cases = take<MatchCase>(cases);
  s->range = {begin, block_end()};
  return s;
}

bool Parser::parse_case_block() {
  uint32_t header = start();
  advance();
  auto* c = arena_.make<MatchCase>();
  c->pattern = TRY_BOOL(parse_patterns());
  if (eat(TokenKind::kIf)) c->guard = TRY_BOOL(parse_named_expression());
  if (!expect(TokenKind::kColon)) return false;
  auto body = parse_block("'case' statement", header);
  if (!body) return false;
  c->body = *body;
  push(c);
  return true;
}

Pattern* Parser::parse_patterns() {
  uint32_t begin = start();
  Pattern* first = TRY(at(TokenKind::kStar) ? parse_star_pattern() : parse_pattern());
  if (!at(TokenKind::kComma)) {
    // A star pattern is only an item of a sequence: "case *a:" has none.
    if (first->kind == PatternKind::kMatchStar) return fail_here();
    return first;
  }
  size_t list = mark();
  push(first);
  while (eat(TokenKind::kComma)) {
    if (at(TokenKind::kColon) || at(TokenKind::kIf)) break;
    push(TRY(at(TokenKind::kStar) ? parse_star_pattern() : parse_pattern()));
  }
  auto* seq = make<MatchSequencePattern>(PatternKind::kMatchSequence, from(begin));
  seq->patterns = take<Pattern>(list);
  return seq;
}

Pattern* Parser::parse_pattern() {
  uint32_t begin = start();
  Pattern* pattern = TRY(parse_or_pattern());
  if (!at(TokenKind::kAs)) return pattern;
  advance();
  if (!at(TokenKind::kName)) return fail_here("invalid pattern target");
  if (text_of(tok()) == "_") return fail("cannot use '_' as a target", tok().range());
  auto* as = make<MatchAsPattern>(PatternKind::kMatchAs, TextRange{});
  as->pattern = pattern;
  as->name = identifier(tok());
  as->has_name = true;
  advance();
  as->range = from(begin);
  return as;
}

Pattern* Parser::parse_or_pattern() {
  uint32_t begin = start();
  Pattern* first = TRY(parse_closed_pattern());
  if (!at(TokenKind::kVBar)) return first;
  size_t list = mark();
  push(first);
  while (eat(TokenKind::kVBar)) push(TRY(parse_closed_pattern()));
  auto* alternatives = make<MatchSequencePattern>(PatternKind::kMatchOr, from(begin));
  alternatives->patterns = take<Pattern>(list);
  return alternatives;
}

Pattern* Parser::parse_star_pattern() {
  uint32_t begin = start();
  advance();
  if (!at(TokenKind::kName)) return fail_here();
  auto* star = make<MatchAsPattern>(PatternKind::kMatchStar, TextRange{});
  star->pattern = nullptr;
  star->has_name = text_of(tok()) != "_";
  if (star->has_name) star->name = identifier(tok());
  advance();
  star->range = from(begin);
  return star;
}

Expr* Parser::parse_literal_expression() {
  // signed_number ['+' | '-' imaginary_number] | strings
  uint32_t begin = start();
  if (at(TokenKind::kString) || at(TokenKind::kFStringStart)) {
    // An f-string here is refused by CPython's compiler, not by its parser.
    return parse_strings();
  }
  bool negative = at(TokenKind::kMinus);
  if (negative) advance();
  if (!at(TokenKind::kNumber)) return fail_here();
  Expr* number = TRY(parse_number());
  Expr* left = number;
  if (negative) {
    auto* unary = make<UnaryOpExpr>(ExprKind::kUnaryOp, from(begin));
    unary->op = UnaryOperator::kUSub;
    unary->operand = number;
    left = unary;
  }
  if (at(TokenKind::kPlus) || at(TokenKind::kMinus)) {
    if (number->as<ConstantExpr>()->constant == ConstantKind::kComplex) {
      return fail("real number required in complex literal", number->range);
    }
    Operator op = at(TokenKind::kPlus) ? Operator::kAdd : Operator::kSub;
    advance();
    if (!at(TokenKind::kNumber)) return fail_here();
    Expr* imaginary = TRY(parse_number());
    if (imaginary->as<ConstantExpr>()->constant != ConstantKind::kComplex) {
      return fail("imaginary number required in complex literal", imaginary->range);
    }
    auto* binary = make<BinOpExpr>(ExprKind::kBinOp, from(begin));
    binary->left = left;
    binary->op = op;
    binary->right = imaginary;
    return binary;
  }
  return left;
}

Expr* Parser::parse_value_pattern_name() {
  uint32_t begin = start();
  auto* name = make<NameExpr>(ExprKind::kName, tok().range());
  name->id = identifier(tok()).text;
  advance();
  Expr* e = name;
  while (at(TokenKind::kDot)) {
    advance();
    if (!at(TokenKind::kName)) return fail_here();
    auto* attribute = make<AttributeExpr>(ExprKind::kAttribute, TextRange{});
    attribute->value = e;
    attribute->attr = identifier(tok());
    advance();
    attribute->range = from(begin);
    e = attribute;
  }
  return e;
}

Pattern* Parser::parse_closed_pattern() {
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  uint32_t begin = start();
  switch (kind()) {
    case TokenKind::kNone:
    case TokenKind::kTrue:
    case TokenKind::kFalse: {
      auto* singleton = make<MatchValuePattern>(PatternKind::kMatchSingleton, tok().range());
      singleton->value = TRY(parse_atom());
      return singleton;
    }
    case TokenKind::kMinus:
    case TokenKind::kNumber:
    case TokenKind::kString:
    case TokenKind::kFStringStart: {
      Expr* value = TRY(parse_literal_expression());
      auto* pattern = make<MatchValuePattern>(PatternKind::kMatchValue, value->range);
      pattern->value = value;
      return pattern;
    }
    case TokenKind::kName: {
      TokenKind next = peek_token(1).kind;
      if (next == TokenKind::kDot || next == TokenKind::kLPar) {
        Expr* value = TRY(parse_value_pattern_name());
        if (at(TokenKind::kLPar)) return parse_class_pattern(begin, value);
        if (value->kind == ExprKind::kName) return fail_here();
        auto* pattern = make<MatchValuePattern>(PatternKind::kMatchValue, value->range);
        pattern->value = value;
        return pattern;
      }
      auto* capture = make<MatchAsPattern>(PatternKind::kMatchAs, tok().range());
      capture->pattern = nullptr;
      capture->has_name = text_of(tok()) != "_";
      if (capture->has_name) capture->name = identifier(tok());
      advance();
      return capture;
    }
    case TokenKind::kLPar: {
      advance();
      if (eat(TokenKind::kRPar)) {
        return make<MatchSequencePattern>(PatternKind::kMatchSequence, from(begin));
      }
      Pattern* first = TRY(at(TokenKind::kStar) ? parse_star_pattern() : parse_pattern());
      if (at(TokenKind::kRPar)) {
        // A group holds a pattern, never a star pattern; "(*a,)" is the sequence.
        if (first->kind == PatternKind::kMatchStar) return fail_here();
        advance();
        return first;
      }
      size_t list = mark();
      push(first);
      while (eat(TokenKind::kComma)) {
        if (at(TokenKind::kRPar)) break;
        push(TRY(at(TokenKind::kStar) ? parse_star_pattern() : parse_pattern()));
      }
      if (!expect(TokenKind::kRPar)) return nullptr;
      auto* seq = make<MatchSequencePattern>(PatternKind::kMatchSequence, from(begin));
      seq->patterns = take<Pattern>(list);
      return seq;
    }
    case TokenKind::kLSqb: {
      advance();
      size_t list = mark();
      while (!at(TokenKind::kRSqb)) {
        push(TRY(at(TokenKind::kStar) ? parse_star_pattern() : parse_pattern()));
        if (!eat(TokenKind::kComma)) break;
      }
      if (!expect(TokenKind::kRSqb)) return nullptr;
      auto* seq = make<MatchSequencePattern>(PatternKind::kMatchSequence, from(begin));
      seq->patterns = take<Pattern>(list);
      return seq;
    }
    case TokenKind::kLBrace:
      return parse_mapping_pattern();
    default:
      return fail_here();
  }
}

Pattern* Parser::parse_mapping_pattern() {
  uint32_t begin = start();
  advance();
  auto* mapping = make<MatchMappingPattern>(PatternKind::kMatchMapping, TextRange{});
  mapping->has_rest = false;
  // Keys and patterns alternate on the scratch list.
  size_t list = mark();
  while (!at(TokenKind::kRBrace)) {
    if (mapping->has_rest) return fail_here();
    if (at(TokenKind::kDoubleStar)) {
      advance();
      if (!at(TokenKind::kName) || text_of(tok()) == "_") return fail_here();
      mapping->rest = identifier(tok());
      mapping->has_rest = true;
      advance();
    } else {
      Expr* key;
      if (at(TokenKind::kName)) {
        key = TRY(parse_value_pattern_name());
        if (key->kind == ExprKind::kName) return fail_here();
      } else if (at(TokenKind::kNone) || at(TokenKind::kTrue) || at(TokenKind::kFalse)) {
        key = TRY(parse_atom());
      } else {
        key = TRY(parse_literal_expression());
      }
      if (!expect(TokenKind::kColon)) return nullptr;
      push(key);
      push(TRY(parse_pattern()));
    }
    if (!eat(TokenKind::kComma)) break;
  }
  if (!expect(TokenKind::kRBrace)) return nullptr;
  uint32_t n = uint32_t(scratch_.size() - list) / 2;
  auto** keys = static_cast<Expr**>(arena_.allocate((n ? n : 1) * sizeof(Expr*)));
  auto** patterns = static_cast<Pattern**>(arena_.allocate((n ? n : 1) * sizeof(Pattern*)));
  for (uint32_t i = 0; i < n; ++i) {
    keys[i] = static_cast<Expr*>(scratch_[list + 2 * i]);
    patterns[i] = static_cast<Pattern*>(scratch_[list + 2 * i + 1]);
  }
  scratch_.resize(list);
  mapping->keys = List<Expr>(keys, n);
  mapping->patterns = List<Pattern>(patterns, n);
  mapping->range = from(begin);
  return mapping;
}

Pattern* Parser::parse_class_pattern(uint32_t begin, Expr* cls) {
  advance();
  auto* pattern = make<MatchClassPattern>(PatternKind::kMatchClass, TextRange{});
  pattern->cls = cls;
  size_t positional = mark();
  std::vector<Identifier> names;
  std::vector<Pattern*> keyword_patterns;
  while (!at(TokenKind::kRPar)) {
    if (at(TokenKind::kName) && peek_token(1).kind == TokenKind::kEqual) {
      names.push_back(identifier(tok()));
      pos_ += 2;
      keyword_patterns.push_back(TRY(parse_pattern()));
    } else {
      Pattern* p = TRY(parse_pattern());
      if (!names.empty()) return fail("positional patterns follow keyword patterns", p->range);
      push(p);
    }
    if (!eat(TokenKind::kComma)) break;
  }
  if (!expect(TokenKind::kRPar)) return nullptr;
  pattern->patterns = take<Pattern>(positional);
  pattern->kwd_attrs = make_array(names);
  size_t keywords = mark();
  for (Pattern* p : keyword_patterns) push(p);
  pattern->kwd_patterns = take<Pattern>(keywords);
  pattern->range = from(begin);
  return pattern;
}

}  // namespace tolvo::parser
