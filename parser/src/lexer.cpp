#include "parser/src/lexer.h"

#include <unicode/uchar.h>

#include <cstdio>
#include <cstring>

namespace tolvo::parser {

namespace {

// Character classes of the ASCII fast path; bytes >= 0x80 may start or continue an identifier and
// are checked against XID_Start / XID_Continue afterwards.
constexpr uint8_t kStart = 1;
constexpr uint8_t kContinue = 2;

struct CharTable {
  uint8_t cls[256] = {};
  constexpr CharTable() {
    for (int c = 'a'; c <= 'z'; ++c) cls[c] = kStart | kContinue;
    for (int c = 'A'; c <= 'Z'; ++c) cls[c] = kStart | kContinue;
    for (int c = '0'; c <= '9'; ++c) cls[c] = kContinue;
    cls[int('_')] = kStart | kContinue;
    for (int c = 0x80; c < 256; ++c) cls[c] = kStart | kContinue;
  }
};
constexpr CharTable kChars;

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Python 3.13 uses Unicode 15.1; the ICU we build with may know only 15.0, which lacks these
// identifier characters: the CJK ideographs of Extension I, and four joiners and middle dots that
// 15.1 made XID_Continue.
bool is_unicode_15_1_id_start(uint32_t cp) { return cp >= 0x2EBF0 && cp <= 0x2EE5D; }
bool is_unicode_15_1_id_continue(uint32_t cp) {
  return is_unicode_15_1_id_start(cp) || cp == 0x200C || cp == 0x200D || cp == 0x30FB ||
         cp == 0xFF65;
}
bool is_hex_digit(unsigned char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Python's str.isprintable for one code point.
bool is_printable(uint32_t cp) {
  if (cp == ' ') return true;
  switch (u_charType(UChar32(cp))) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_SPACE_SEPARATOR:
      return false;
    default:
      return true;
  }
}

std::string invalid_character_message(uint32_t cp, std::string_view utf8) {
  char buffer[64];
  if (is_printable(cp)) {
    std::snprintf(buffer, sizeof buffer, "invalid character '%.*s' (U+%04X)", int(utf8.size()),
                  utf8.data(), cp);
  } else {
    std::snprintf(buffer, sizeof buffer, "invalid non-printable character U+%04X", cp);
  }
  return buffer;
}

}  // namespace

uint32_t line_of_offset(std::string_view source, uint32_t offset) {
  uint32_t line = 1;
  for (uint32_t i = 0; i < offset && i < source.size(); ++i) {
    if (source[i] == '\n') {
      ++line;
    } else if (source[i] == '\r') {
      if (i + 1 < source.size() && source[i + 1] == '\n') ++i;
      ++line;
    }
  }
  return line;
}

LexResult lex(std::string_view source) { return Lexer(source).run(); }

LexResult Lexer::run() {
  tokens_.reserve(source_.size() / 4 + 16);
  if (source_.size() >= 0xFFFFFFF0u) {
    fail("source is too large", 0, 0);
  } else if (const void* nul =
                 source_.empty() ? nullptr : std::memchr(source_.data(), 0, source_.size())) {
    uint32_t at = uint32_t(static_cast<const char*>(nul) - source_.data());
    fail("source code cannot contain null bytes", at, at + 1);
  } else {
    // A byte order mark is not part of the text.
    if (source_.substr(0, 3) == "\xEF\xBB\xBF") cursor_.set_pos(3);
    while (next_token()) {
    }
  }
  LexResult result;
  result.tokens = std::move(tokens_);
  result.comments = std::move(comments_);
  result.field_texts = std::move(field_texts_);
  result.error = std::move(error_);
  return result;
}

bool Lexer::fail(std::string message, uint32_t start, uint32_t end) {
  uint32_t size = uint32_t(source_.size());
  start = start > size ? size : start;
  end = end > size ? size : end < start ? start : end;
  error_ = LexError{std::move(message), {start, end}};
  push(TokenKind::kError, start, end);
  return false;
}

bool Lexer::next_token() {
  if (!fstrings_.empty()) {
    FString& fs = fstrings_.back();
    if (brackets_.size() == fs.bracket_base) return lex_fstring_middle(fs, FieldPart::kExpression);
    const Bracket& top = brackets_.back();
    if (top.open == 'F' && top.part != FieldPart::kExpression) {
      return lex_fstring_middle(fs, top.part);
    }
  }
  if (at_line_start_ && brackets_.empty()) {
    if (!begin_line()) return false;
  }
  unsigned char c = cursor_.peek();
  if (c == ' ') {  // the usual single space between tokens, without a call
    cursor_.advance();
    c = cursor_.peek();
  }
  if (c == ' ' || c == '\t' || c == '\f' || c == '\\') {
    if (!skip_whitespace_and_continuations()) return false;
    c = cursor_.peek();
  }
  uint32_t start = cursor_.pos();
  if (c == 0) return finish();
  if (c == '#') {
    cursor_.skip_to_line_end();
    comments_.push_back({start, cursor_.pos()});
    return true;
  }
  if (c == '\n' || c == '\r') {
    cursor_.advance();
    if (c == '\r') cursor_.eat('\n');
    if (brackets_.empty()) {
      push(TokenKind::kNewline, start, cursor_.pos());
      at_line_start_ = true;
    }
    return true;
  }
  if (kChars.cls[c] & kStart) return lex_name_or_prefixed_string();
  if (is_digit(c) || (c == '.' && is_digit(cursor_.peek(1)))) return lex_number();
  if (c == '\'' || c == '"') return lex_string(start, start);
  return lex_operator();
}

bool Lexer::lex_name_or_prefixed_string() {
  uint32_t start = cursor_.pos();
  cursor_.skip_while([](unsigned char c) { return c < 0x80 && (kChars.cls[c] & kContinue); });
  bool non_ascii = cursor_.peek() >= 0x80;
  if (non_ascii) cursor_.skip_while([](unsigned char c) { return kChars.cls[c] & kContinue; });
  uint32_t end = cursor_.pos();
  unsigned char next = cursor_.peek();
  if (!non_ascii && end - start <= 2 && (next == '\'' || next == '"')) {
    bool r = false, b = false, u = false, f = false, valid = true;
    for (uint32_t i = start; i < end; ++i) {
      switch (source_[i] | 0x20) {
        case 'r':
          valid &= !r;
          r = true;
          break;
        case 'b':
          valid &= !b;
          b = true;
          break;
        case 'u':
          valid &= !u;
          u = true;
          break;
        case 'f':
          valid &= !f;
          f = true;
          break;
        default:
          valid = false;
      }
    }
    valid &= !(u && end - start > 1) && !(b && f);
    if (valid) return f ? start_fstring(start, end, r) : lex_string(start, end);
  }
  if (non_ascii) {
    if (!check_identifier(start, end)) return false;
    push(TokenKind::kName, start, end, kTokenNonAscii);
    return true;
  }
  push(keyword_kind(source_.substr(start, end - start)), start, end);
  return true;
}

bool Lexer::check_identifier(uint32_t start, uint32_t end) {
  Cursor cursor(source_);
  cursor.set_pos(start);
  bool first = true;
  while (cursor.pos() < end) {
    uint32_t length = 0;
    uint32_t cp = cursor.peek_code_point(&length);
    bool ok;
    if (cp < 0x80) {
      ok = first ? (kChars.cls[cp] & kStart) != 0 : (kChars.cls[cp] & kContinue) != 0;
    } else {
      ok = u_hasBinaryProperty(UChar32(cp), first ? UCHAR_XID_START : UCHAR_XID_CONTINUE) ||
           (first ? is_unicode_15_1_id_start(cp) : is_unicode_15_1_id_continue(cp));
    }
    if (!ok) {
      uint32_t at = cursor.pos();
      return fail(invalid_character_message(cp, source_.substr(at, length)), at, at + length);
    }
    cursor.advance(length);
    first = false;
  }
  return true;
}

bool Lexer::lex_string(uint32_t start, uint32_t prefix_end) {
  // A backslash escapes the next character for termination in raw strings too.
  cursor_.set_pos(prefix_end);
  unsigned char quote = cursor_.peek();
  cursor_.advance();
  uint32_t quote_size = 1;
  if (cursor_.peek() == quote) {
    if (cursor_.peek(1) == quote) {
      quote_size = 3;
      cursor_.advance(2);
    } else {
      cursor_.advance();
      push(TokenKind::kString, start, cursor_.pos());
      return true;
    }
  }
  while (true) {
    cursor_.skip_plain_string_text(quote);
    unsigned char c = cursor_.peek();
    if (c == quote) {
      if (quote_size == 1) {
        cursor_.advance();
        break;
      }
      if (cursor_.peek(1) == quote && cursor_.peek(2) == quote) {
        cursor_.advance(3);
        break;
      }
      cursor_.advance();
    } else if (c == '\\') {
      cursor_.advance();
      if (cursor_.peek() == '\r' && cursor_.peek(1) == '\n') {
        cursor_.advance(2);
      } else if (cursor_.peek() != 0) {
        cursor_.advance();
      }
    } else if (c == 0 || (quote_size == 1 && (c == '\n' || c == '\r'))) {
      char buffer[96];
      std::snprintf(buffer, sizeof buffer,
                    quote_size == 1 ? "unterminated string literal (detected at line %u)"
                                    : "unterminated triple-quoted string literal (detected at "
                                      "line %u)",
                    line_of_offset(source_, quote_size == 1 ? start : cursor_.pos()));
      return fail(buffer, start, start + 1);
    } else {
      cursor_.advance();
    }
  }
  push(TokenKind::kString, start, cursor_.pos());
  return true;
}

bool Lexer::verify_end_of_number(uint32_t start, const char* kind) {
  unsigned char c = cursor_.peek();
  if (!(kChars.cls[c] & kContinue)) return true;
  // CPython accepts a keyword glued to a number ("1if x else y") with a warning.
  auto follows = [&](const char* rest) {
    for (uint32_t i = 0; rest[i]; ++i) {
      if (cursor_.peek(i + 1) != static_cast<unsigned char>(rest[i])) return false;
    }
    return true;
  };
  bool keyword = false;
  switch (c) {
    case 'a':
      keyword = follows("nd");
      break;
    case 'e':
      keyword = follows("lse");
      break;
    case 'f':
      keyword = follows("or");
      break;
    case 'i':
      keyword = follows("f") || follows("n") || follows("s");
      break;
    case 'n':
      keyword = follows("ot");
      break;
    case 'o':
      keyword = follows("r");
      break;
    default:
      break;
  }
  if (keyword) return true;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "invalid %s literal", kind);
  return fail(buffer, start, cursor_.pos() + 1);
}

bool Lexer::lex_number() {
  uint32_t start = cursor_.pos();
  auto decimal_tail = [&]() {
    while (true) {
      while (is_digit(cursor_.peek())) cursor_.advance();
      if (cursor_.peek() != '_') return true;
      cursor_.advance();
      if (!is_digit(cursor_.peek())) return fail("invalid decimal literal", start, cursor_.pos());
    }
  };
  unsigned char c = cursor_.peek();
  unsigned char base = cursor_.peek(1) | 0x20;
  if (c == '0' && (base == 'x' || base == 'o' || base == 'b')) {
    const char* kind = base == 'x' ? "hexadecimal" : base == 'o' ? "octal" : "binary";
    auto in_base = [&](unsigned char d) {
      return base == 'x'   ? is_hex_digit(d)
             : base == 'o' ? (d >= '0' && d <= '7')
                           : (d == '0' || d == '1');
    };
    cursor_.advance(2);
    auto bad_digit = [&]() {
      unsigned char d = cursor_.peek();
      char buffer[64];
      if (base != 'x' && is_digit(d)) {
        std::snprintf(buffer, sizeof buffer, "invalid digit '%c' in %s literal", d, kind);
        return fail(buffer, cursor_.pos(), cursor_.pos() + 1);
      }
      std::snprintf(buffer, sizeof buffer, "invalid %s literal", kind);
      return fail(buffer, start, cursor_.pos() + 1);
    };
    do {
      cursor_.eat('_');
      if (!in_base(cursor_.peek())) return bad_digit();
      while (in_base(cursor_.peek())) cursor_.advance();
    } while (cursor_.peek() == '_');
    if (is_digit(cursor_.peek())) return bad_digit();
    if (!verify_end_of_number(start, kind)) return false;
    push(TokenKind::kNumber, start, cursor_.pos());
    return true;
  }
  if (c == '0') {
    while (cursor_.peek() == '0') {
      cursor_.advance();
      if (cursor_.eat('_') && !is_digit(cursor_.peek())) {
        return fail("invalid decimal literal", start, cursor_.pos());
      }
    }
    bool nonzero = false;
    if (is_digit(cursor_.peek())) {
      nonzero = true;
      if (!decimal_tail()) return false;
    }
    unsigned char d = cursor_.peek();
    if (nonzero && d != '.' && (d | 0x20) != 'e' && (d | 0x20) != 'j') {
      return fail(
          "leading zeros in decimal integer literals are not permitted; use an 0o prefix for "
          "octal integers",
          start, cursor_.pos());
    }
  } else if (c != '.') {
    if (!decimal_tail()) return false;
  }
  if (cursor_.peek() == '.') {
    cursor_.advance();
    if (is_digit(cursor_.peek()) && !decimal_tail()) return false;
  }
  if ((cursor_.peek() | 0x20) == 'e') {
    uint32_t save = cursor_.pos();
    cursor_.advance();
    bool sign = cursor_.peek() == '+' || cursor_.peek() == '-';
    if (sign) cursor_.advance();
    if (!is_digit(cursor_.peek())) {
      if (sign) return fail("invalid decimal literal", start, cursor_.pos());
      cursor_.set_pos(save);
      if (!verify_end_of_number(start, "decimal")) return false;
      push(TokenKind::kNumber, start, cursor_.pos());
      return true;
    }
    if (!decimal_tail()) return false;
  }
  if ((cursor_.peek() | 0x20) == 'j') {
    cursor_.advance();
    if (!verify_end_of_number(start, "imaginary")) return false;
  } else if (!verify_end_of_number(start, "decimal")) {
    return false;
  }
  push(TokenKind::kNumber, start, cursor_.pos());
  return true;
}

bool Lexer::lex_operator() {
  uint32_t start = cursor_.pos();
  unsigned char c = cursor_.peek();
  unsigned char c1 = cursor_.peek(1);
  unsigned char c2 = cursor_.peek(2);
  TokenKind kind;
  uint32_t length = 1;
  auto with_equal = [&](TokenKind plain, TokenKind equal) {
    if (c1 == '=') {
      length = 2;
      return equal;
    }
    return plain;
  };
  switch (c) {
    case '(':
    case '[':
    case '{': {
      if (brackets_.size() >= kMaxParenDepth) {
        return fail("too many nested parentheses", start, start + 1);
      }
      if (c == '{' && in_fstring_field()) track_field_punctuation('{', start);
      brackets_.push_back(Bracket{char(c), FieldPart::kExpression, start});
      kind = c == '(' ? TokenKind::kLPar : c == '[' ? TokenKind::kLSqb : TokenKind::kLBrace;
      break;
    }
    case ')':
    case ']':
    case '}': {
      char buffer[128];
      if (brackets_.empty()) {
        std::snprintf(buffer, sizeof buffer, "unmatched '%c'", c);
        return fail(buffer, start, start + 1);
      }
      const Bracket& open = brackets_.back();
      char expected = c == ')' ? '(' : c == ']' ? '[' : '{';
      char actual = open.open == 'F' ? '{' : open.open;
      if (actual != expected) {
        if (open.open == 'F') {
          std::snprintf(buffer, sizeof buffer, "f-string: unmatched '%c'", c);
        } else {
          uint32_t open_line = line_of_offset(source_, open.offset);
          if (open_line != line_of_offset(source_, start)) {
            std::snprintf(buffer, sizeof buffer,
                          "closing parenthesis '%c' does not match opening parenthesis '%c' on "
                          "line %u",
                          c, actual, open_line);
          } else {
            std::snprintf(buffer, sizeof buffer,
                          "closing parenthesis '%c' does not match opening parenthesis '%c'", c,
                          actual);
          }
        }
        return fail(buffer, start, start + 1);
      }
      bool closes_field = open.open == 'F';
      if (c == '}' && in_fstring_field()) track_field_punctuation('}', start);
      brackets_.pop_back();
      if (closes_field) {
        FString& fs = fstrings_.back();
        fs.spec_flag = fs.saw_equal = false;
        if (!brackets_.empty() && brackets_.back().part == FieldPart::kSpec) {
          brackets_.back().part = FieldPart::kSpecAfterField;
        }
      }
      kind = c == ')' ? TokenKind::kRPar : c == ']' ? TokenKind::kRSqb : TokenKind::kRBrace;
      break;
    }
    case ':':
      if (in_fstring_field()) track_field_punctuation(':', start);
      if (!brackets_.empty() && brackets_.back().open == 'F' &&
          brackets_.back().part == FieldPart::kExpression) {
        // The colon of a replacement field starts its format spec.
        brackets_.back().part = FieldPart::kSpec;
        fstrings_.back().spec_flag = true;
        kind = TokenKind::kColon;
      } else {
        kind = with_equal(TokenKind::kColon, TokenKind::kColonEqual);
      }
      break;
    case ',':
      kind = TokenKind::kComma;
      break;
    case ';':
      kind = TokenKind::kSemi;
      break;
    case '~':
      kind = TokenKind::kTilde;
      break;
    case '+':
      kind = with_equal(TokenKind::kPlus, TokenKind::kPlusEqual);
      break;
    case '-':
      if (c1 == '>') {
        kind = TokenKind::kRArrow;
        length = 2;
      } else {
        kind = with_equal(TokenKind::kMinus, TokenKind::kMinEqual);
      }
      break;
    case '*':
      if (c1 == '*') {
        kind = c2 == '=' ? TokenKind::kDoubleStarEqual : TokenKind::kDoubleStar;
        length = c2 == '=' ? 3 : 2;
      } else {
        kind = with_equal(TokenKind::kStar, TokenKind::kStarEqual);
      }
      break;
    case '/':
      if (c1 == '/') {
        kind = c2 == '=' ? TokenKind::kDoubleSlashEqual : TokenKind::kDoubleSlash;
        length = c2 == '=' ? 3 : 2;
      } else {
        kind = with_equal(TokenKind::kSlash, TokenKind::kSlashEqual);
      }
      break;
    case '|':
      kind = with_equal(TokenKind::kVBar, TokenKind::kVBarEqual);
      break;
    case '&':
      kind = with_equal(TokenKind::kAmper, TokenKind::kAmperEqual);
      break;
    case '^':
      kind = with_equal(TokenKind::kCircumflex, TokenKind::kCircumflexEqual);
      break;
    case '%':
      kind = with_equal(TokenKind::kPercent, TokenKind::kPercentEqual);
      break;
    case '@':
      kind = with_equal(TokenKind::kAt, TokenKind::kAtEqual);
      break;
    case '=':
      kind = with_equal(TokenKind::kEqual, TokenKind::kEqEqual);
      if (kind == TokenKind::kEqual && in_fstring_field()) fstrings_.back().saw_equal = true;
      break;
    case '!':
      if (in_fstring_field()) track_field_punctuation('!', start);
      kind = with_equal(TokenKind::kExclamation, TokenKind::kNotEqual);
      break;
    case '<':
      if (c1 == '<') {
        kind = c2 == '=' ? TokenKind::kLeftShiftEqual : TokenKind::kLeftShift;
        length = c2 == '=' ? 3 : 2;
      } else if (c1 == '>') {
        return fail("invalid syntax", start, start + 2);
      } else {
        kind = with_equal(TokenKind::kLess, TokenKind::kLessEqual);
      }
      break;
    case '>':
      if (c1 == '>') {
        kind = c2 == '=' ? TokenKind::kRightShiftEqual : TokenKind::kRightShift;
        length = c2 == '=' ? 3 : 2;
      } else {
        kind = with_equal(TokenKind::kGreater, TokenKind::kGreaterEqual);
      }
      break;
    case '.':
      if (c1 == '.' && c2 == '.') {
        kind = TokenKind::kEllipsis;
        length = 3;
      } else {
        kind = TokenKind::kDot;
      }
      break;
    default: {
      if (c < 0x80) {
        if (c == '$' || c == '?' || c == '`') return fail("invalid syntax", start, start + 1);
        return fail(invalid_character_message(c, source_.substr(start, 1)), start, start + 1);
      }
      uint32_t n = 0;
      uint32_t cp = cursor_.peek_code_point(&n);
      return fail(invalid_character_message(cp, source_.substr(start, n)), start, start + n);
    }
  }
  cursor_.advance(length);
  push(kind, start, start + length);
  return true;
}

}  // namespace tolvo::parser
