#include "parser/src/parser.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <new>

#include "parser/src/lexer.h"
#include "parser/src/parser_internal.h"
#include "parser/src/thread_stack.h"

namespace tolvo::parser {

std::string display_text(const SyntaxError& error) {
  return error.message + " at byte range " + std::to_string(error.range.start) + ".." +
         std::to_string(error.range.end);
}

void throw_if_out_of_memory(UErrorCode status) {
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
}

void initialise_unicode_data() {
  UErrorCode status = U_ZERO_ERROR;
  icu::Normalizer2::getNFKCInstance(status);
  status = U_ZERO_ERROR;
  u_charFromName(U_UNICODE_CHAR_NAME, "LATIN SMALL LETTER A", &status);
}

std::expected<ParsedModule, SyntaxError> parse_module(std::string_view source) {
  // Offsets are 32-bit; refuse what they cannot address before allocating for it.
  if (source.size() >= 0xFFFFFFF0u) {
    return std::unexpected(SyntaxError{"source is too large", {0, 0}});
  }
  // The source copy and the tree take about six bytes per source byte (the standard library's
  // average); blocks of half the source size keep the unused tail small.
  auto arena = std::make_unique<Arena>(source.size() * 5 + 256, source.size() / 2 + 256);
  std::string_view text = arena->copy(source);
  LexResult lexed = lex(text);
  Parser parser(text, lexed, *arena);
  std::optional<List<Stmt>> body = parser.parse_file();
  // Checked first: a speculative parse may have dropped the refusal and gone on at a depth this
  // thread could reach, giving a result that a larger stack might not give.
  if (parser.thread_stack_exhausted()) {
    return std::unexpected(
        SyntaxError{"too deeply nested for this thread's stack", {0, 0}, true});
  }
  if (!body) return std::unexpected(*parser.error());
  std::vector<TextRange> comments = std::move(lexed.comments);
  comments.shrink_to_fit();
  return ParsedModule(std::move(arena), text, *body, std::move(comments));
}

const Token& Parser::peek_token(uint32_t ahead) const {
  // The token list ends with ENDMARKER or an error token; never read past it.
  uint32_t i = pos_;
  while (ahead > 0 && tokens_[i].kind != TokenKind::kEndMarker &&
         tokens_[i].kind != TokenKind::kError) {
    ++i;
    --ahead;
  }
  return tokens_[i];
}

std::nullptr_t Parser::fail(std::string message, TextRange range) {
  if (error_) return nullptr;
  uint32_t size = uint32_t(source_.size());
  range.start = range.start > size ? size : range.start;
  range.end = range.end > size ? size : range.end < range.start ? range.start : range.end;
  if (lexed_.error && (message == "invalid syntax" || tok().kind == TokenKind::kError)) {
    // CPython reports a tokenizer error found further on in place of a generic syntax error, and
    // a parser that stopped at the tokenizer's error reports that error.
    error_ = SyntaxError{lexed_.error->message, lexed_.error->range};
    return nullptr;
  }
  error_ = SyntaxError{std::move(message), range};
  return nullptr;
}

std::nullptr_t Parser::fail_here(std::string message) {
  const Token& t = tok();
  TextRange range = t.range();
  if (t.kind == TokenKind::kNewline || t.kind == TokenKind::kEndMarker ||
      t.kind == TokenKind::kDedent || t.kind == TokenKind::kIndent) {
    if (t.kind == TokenKind::kIndent && message == "invalid syntax") {
      return fail("unexpected indent", range);
    }
    range = {t.start, t.start + (t.end > t.start ? 1u : 0u)};
  }
  return fail(std::move(message), range);
}

std::nullptr_t Parser::fail_expected(std::string_view what) {
  return fail_here("expected '" + std::string(what) + "'");
}

bool Parser::expect(TokenKind k) {
  if (eat(k)) return true;
  if (k == TokenKind::kColon || k == TokenKind::kLPar || k == TokenKind::kIn ||
      k == TokenKind::kEqual) {
    fail_expected(token_kind_text(k));
  } else {
    fail_here();
  }
  return false;
}

bool Parser::enter() {
  uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  // The fixed limits come first, so that their refusals (kept like any syntax error) do not depend
  // on the thread.
  if (depth_ >= kMaxNestingDepth || stack_base_ - here > kMaxStackBytes) {
    fail("Parser stack overflowed - Python source too complex to parse", tok().range());
    return false;
  }
  if (thread_stack_exhausted_ || here < stack_floor_) {
    thread_stack_exhausted_ = true;  // sticky: the whole parse is refused
    fail("too deeply nested for this thread's stack", tok().range());
    return false;
  }
  ++depth_;
  return true;
}

Identifier Parser::identifier(const Token& t) {
  std::string_view text = text_of(t);
  if (!(t.flags & kTokenNonAscii)) return Identifier{text, t.range()};
  // CPython turns every non-ASCII identifier into its NFKC form.
  // ICU reports memory running out as a status or a bogus string, never by throwing; an identifier
  // left unnormalised would be a wrong name, so that becomes std::bad_alloc.
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
  throw_if_out_of_memory(status);
  if (U_FAILURE(status)) return Identifier{text, t.range()};
  icu::UnicodeString input =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
  if (input.isBogus()) throw std::bad_alloc();
  if (nfkc->isNormalized(input, status) && U_SUCCESS(status)) return Identifier{text, t.range()};
  throw_if_out_of_memory(status);
  status = U_ZERO_ERROR;
  icu::UnicodeString normalized = nfkc->normalize(input, status);
  throw_if_out_of_memory(status);
  if (U_FAILURE(status)) return Identifier{text, t.range()};
  if (normalized.isBogus()) throw std::bad_alloc();
  std::string utf8;
  normalized.toUTF8String(utf8);
  return Identifier{arena_.copy(utf8), t.range()};
}

std::optional<Identifier> Parser::parse_name() {
  if (!at(TokenKind::kName)) {
    fail_here();
    return std::nullopt;
  }
  Identifier id = identifier(tok());
  ++pos_;
  return id;
}

std::optional<List<Stmt>> Parser::parse_file() {
  stack_base_ = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  stack_floor_ = stack_floor();
  size_t list = mark();
  while (!at(TokenKind::kEndMarker)) {
    if (at(TokenKind::kError)) {
      fail_here();
      return std::nullopt;
    }
    if (!parse_statement_into()) return std::nullopt;
  }
  return take<Stmt>(list);
}

}  // namespace tolvo::parser
