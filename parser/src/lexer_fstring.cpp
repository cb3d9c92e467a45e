// F-string modes (PEP 701): the literal text of an f-string and of a format spec, between
// replacement fields whose expressions the ordinary lexer reads.
#include <cstdio>

#include "parser/src/lexer.h"

namespace tolvo::parser {

bool Lexer::start_fstring(uint32_t start, uint32_t prefix_end, bool raw) {
  if (fstrings_.size() + 1 >= kMaxFStringDepth) {
    return fail("too many nested f-strings", start, prefix_end + 1);
  }
  cursor_.set_pos(prefix_end);
  char quote = char(cursor_.peek());
  uint8_t quote_size = 1;
  if (cursor_.peek(1) == uint8_t(quote) && cursor_.peek(2) == uint8_t(quote)) quote_size = 3;
  cursor_.advance(quote_size);
  push(TokenKind::kFStringStart, start, cursor_.pos());
  fstrings_.push_back(FString{quote, quote_size, raw, false, false, kOpen, kOpen,
                              uint32_t(brackets_.size()), start});
  return true;
}

void Lexer::track_field_punctuation(char c, uint32_t at) {
  // CPython's tokenizer looks at these only at the top of a field's brackets, or one level in
  // once it has seen an "=" or a format spec.
  FString& fs = fstrings_.back();
  uint32_t depth = uint32_t(brackets_.size()) - fs.bracket_base;
  uint32_t cursor = depth - (c != '{');
  if (cursor != 0 && !(cursor == 1 && (fs.saw_equal || fs.spec_flag))) return;
  if (c == '{') {
    fs.expr_start = at + 1;
    fs.expr_end = kOpen;
    return;
  }
  if (fs.expr_end == kOpen) fs.expr_end = at;
  if (fs.saw_equal) {
    field_texts_.push_back(FieldText{uint32_t(tokens_.size()), {fs.expr_start, fs.expr_end}});
  }
}

bool Lexer::lex_fstring_middle(FString& fs, FieldPart part) {
  uint32_t start = cursor_.pos();
  // Where CPython's tokenizer began reading this text: it treats a "{" there apart.
  uint32_t resumed_at = start;
  const unsigned char quote = static_cast<unsigned char>(fs.quote);
  const bool in_format_spec = part != FieldPart::kExpression;
  auto flush = [&]() {
    if (cursor_.pos() > start) push(TokenKind::kFStringMiddle, start, cursor_.pos());
  };
  auto unterminated = [&]() {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer,
                  fs.quote_size == 1
                      ? "unterminated f-string literal (detected at line %u)"
                      : "unterminated triple-quoted f-string literal (detected at line %u)",
                  line_of_offset(source_, cursor_.pos()));
    return fail(buffer, fs.start, fs.start + 1);
  };
  while (true) {
    unsigned char c = cursor_.peek();
    switch (c) {
      case 0:
        return unterminated();
      case '\n':
      case '\r':
        if (fs.quote_size == 1) {
          if (part == FieldPart::kSpec) {
            // Python 3.13.0 ends the format spec here and reads on as the field's expression
            // (later 3.13 releases refuse it; accepting keeps the file). The spec's text token
            // comes even when empty, and keeps a lambda from taking the spec's ':' for its own.
            push(TokenKind::kFStringMiddle, start, cursor_.pos());
            brackets_.back().part = FieldPart::kExpression;
            fs.spec_flag = false;
            return true;
          }
          return unterminated();
        }
        cursor_.advance();
        break;
      case '\\': {
        unsigned char next = cursor_.peek(1);
        if (!fs.raw && next == 'N' && cursor_.peek(2) == '{') {
          // \N{NAME}: its braces are part of the escape.
          cursor_.advance(3);
          while (cursor_.peek() != '}' && cursor_.peek() != quote && cursor_.peek() != '\n' &&
                 cursor_.peek() != 0) {
            cursor_.advance();
          }
          if (cursor_.eat('}')) resumed_at = cursor_.pos();
        } else if (next == '{' || next == '}' || next == 0) {
          cursor_.advance();
        } else {
          // The escaped character, a line break included, is skipped in raw f-strings too.
          cursor_.advance(next == '\r' && cursor_.peek(2) == '\n' ? 3 : 2);
        }
        break;
      }
      case '{':
        if (cursor_.peek(1) == '{' && part != FieldPart::kSpec) {
          fs.expr_start = cursor_.pos() + 1;
          fs.expr_end = kOpen;
          cursor_.advance(2);
          resumed_at = cursor_.pos();
          break;
        }
        flush();
        if (brackets_.size() >= kMaxParenDepth) {
          return fail("too many nested parentheses", cursor_.pos(), cursor_.pos() + 1);
        }
        if (in_format_spec) {
          // CPython allows two levels of replacement fields inside format specs.
          uint32_t spec_fields = 0;
          for (size_t i = fs.bracket_base; i < brackets_.size(); ++i) {
            spec_fields += brackets_[i].open == 'F' && brackets_[i].part != FieldPart::kExpression;
          }
          if (spec_fields >= 3) {
            return fail("f-string: expressions nested too deeply", cursor_.pos(),
                        cursor_.pos() + 1);
          }
        }
        if (cursor_.pos() != resumed_at) {
          fs.expr_start = cursor_.pos() + 1;
          fs.expr_end = kOpen;
          fs.spec_flag = false;
        }
        track_field_punctuation('{', cursor_.pos());
        brackets_.push_back(Bracket{'F', FieldPart::kExpression, cursor_.pos()});
        push(TokenKind::kLBrace, cursor_.pos(), cursor_.pos() + 1);
        cursor_.advance();
        return true;
      case '}':
        if (in_format_spec) {
          flush();
          fs.spec_flag = false;
          track_field_punctuation('}', cursor_.pos());
          push(TokenKind::kRBrace, cursor_.pos(), cursor_.pos() + 1);
          cursor_.advance();
          brackets_.pop_back();
          fs.saw_equal = false;
          if (!brackets_.empty() && brackets_.back().part == FieldPart::kSpec) {
            brackets_.back().part = FieldPart::kSpecAfterField;
          }
          return true;
        }
        if (cursor_.peek(1) == '}') {
          cursor_.advance(2);
          resumed_at = cursor_.pos();
          break;
        }
        return fail("f-string: single '}' is not allowed", cursor_.pos(), cursor_.pos() + 1);
      default:
        if (c == quote) {
          if (fs.quote_size == 3 && !(cursor_.peek(1) == quote && cursor_.peek(2) == quote)) {
            cursor_.advance();
            break;
          }
          if (in_format_spec) {
            return fail("f-string: expecting '}'", cursor_.pos(), cursor_.pos() + 1);
          }
          flush();
          push(TokenKind::kFStringEnd, cursor_.pos(), cursor_.pos() + fs.quote_size);
          cursor_.advance(fs.quote_size);
          fstrings_.pop_back();
          return true;
        }
        cursor_.advance();
    }
  }
}

}  // namespace tolvo::parser
