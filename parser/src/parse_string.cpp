// String literals: implicit concatenation, bytes, f-strings (PEP 701) and the values of all of
// them with their escapes resolved as CPython resolves them.
#include <unicode/uchar.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "parser/src/parser_internal.h"

namespace tolvo::parser {

namespace {

struct Prefix {
  bool raw = false;
  bool bytes = false;
  bool u = false;
  bool f = false;
  uint32_t length = 0;  // prefix letters
};

Prefix read_prefix(std::string_view text) {
  Prefix p;
  while (p.length < text.size() && text[p.length] != '\'' && text[p.length] != '"') {
    switch (text[p.length] | 0x20) {
      case 'r':
        p.raw = true;
        break;
      case 'b':
        p.bytes = true;
        break;
      case 'u':
        p.u = true;
        break;
      case 'f':
        p.f = true;
        break;
      default:
        break;
    }
    ++p.length;
  }
  return p;
}

// The body of a string token between its quotes.
std::string_view string_body(std::string_view text, uint32_t prefix_length) {
  std::string_view rest = text.substr(prefix_length);
  uint32_t quote = rest.size() >= 6 && rest[0] == rest[1] && rest[1] == rest[2] ? 3 : 1;
  return rest.substr(quote, rest.size() - 2 * quote);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends `cp` as UTF-8; surrogates (from "\ud800") get the three-byte form of their value.
char* put_code_point(char* out, uint32_t cp) {
  if (cp < 0x80) {
    *out++ = char(cp);
  } else if (cp < 0x800) {
    *out++ = char(0xC0 | (cp >> 6));
    *out++ = char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = char(0xE0 | (cp >> 12));
    *out++ = char(0x80 | ((cp >> 6) & 0x3F));
    *out++ = char(0x80 | (cp & 0x3F));
  } else {
    *out++ = char(0xF0 | (cp >> 18));
    *out++ = char(0x80 | ((cp >> 12) & 0x3F));
    *out++ = char(0x80 | ((cp >> 6) & 0x3F));
    *out++ = char(0x80 | (cp & 0x3F));
  }
  return out;
}

bool needs_decoding(std::string_view body, bool fstring) {
  for (char c : body) {
    if (c == '\\' || c == '\r' || (fstring && (c == '{' || c == '}'))) return true;
  }
  return false;
}

// Resolves escapes of `body` into `out` (which has room for body.size() bytes: no escape grows).
// A line break in the text becomes "\n", as CPython reads it, unless `breaks_as_written`.
// Returns the end of the output, or null with `error` set.
char* decode_body(std::string_view body, bool raw, bool bytes, bool fstring, bool breaks_as_written,
                  char* out, std::string* error, CharacterNames& names) {
  size_t n = body.size();
  char buffer[160];
  for (size_t i = 0; i < n;) {
    char c = body[i];
    if (c == '\r' && !breaks_as_written) {
      *out++ = '\n';
      i += (i + 1 < n && body[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    if (fstring && (c == '{' || c == '}') && i + 1 < n && body[i + 1] == c) {
      *out++ = c;
      i += 2;
      continue;
    }
    if (c != '\\' || raw || i + 1 >= n) {
      *out++ = c;
      ++i;
      continue;
    }
    char e = body[i + 1];
    size_t escape_start = i;
    i += 2;
    switch (e) {
      case '\n':
        break;
      case '\r':
        if (i < n && body[i] == '\n') ++i;
        break;
      case '\\':
        *out++ = '\\';
        break;
      case '\'':
        *out++ = '\'';
        break;
      case '"':
        *out++ = '"';
        break;
      case 'a':
        *out++ = '\a';
        break;
      case 'b':
        *out++ = '\b';
        break;
      case 'f':
        *out++ = '\f';
        break;
      case 'n':
        *out++ = '\n';
        break;
      case 'r':
        *out++ = '\r';
        break;
      case 't':
        *out++ = '\t';
        break;
      case 'v':
        *out++ = '\v';
        break;
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7': {
        uint32_t value = uint32_t(e - '0');
        for (int k = 0; k < 2 && i < n && body[i] >= '0' && body[i] <= '7'; ++k, ++i) {
          value = value * 8 + uint32_t(body[i] - '0');
        }
        if (bytes) {
          *out++ = char(value & 0xFF);
        } else {
          out = put_code_point(out, value);
        }
        break;
      }
      case 'x':
      case 'u':
      case 'U': {
        if (bytes && e != 'x') {
          *out++ = '\\';
          *out++ = e;
          break;
        }
        int digits = e == 'x' ? 2 : e == 'u' ? 4 : 8;
        uint32_t value = 0;
        int k = 0;
        for (; k < digits && i < n && hex_value(body[i]) >= 0; ++k, ++i) {
          value = value * 16 + uint32_t(hex_value(body[i]));
        }
        if (k < digits) {
          if (bytes) {
            std::snprintf(buffer, sizeof buffer, "(value error) invalid \\x escape at position %zu",
                          escape_start);
          } else {
            std::snprintf(buffer, sizeof buffer,
                          "(unicode error) 'unicodeescape' codec can't decode bytes in position "
                          "%zu-%zu: truncated \\%s escape",
                          escape_start, i - 1,
                          e == 'x'   ? "xXX"
                          : e == 'u' ? "uXXXX"
                                     : "UXXXXXXXX");
          }
          *error = buffer;
          return nullptr;
        }
        if (value > 0x10FFFF) {
          std::snprintf(buffer, sizeof buffer,
                        "(unicode error) 'unicodeescape' codec can't decode bytes in position "
                        "%zu-%zu: illegal Unicode character",
                        escape_start, i - 1);
          *error = buffer;
          return nullptr;
        }
        if (bytes) {
          *out++ = char(value);
        } else {
          out = put_code_point(out, value);
        }
        break;
      }
      case 'N': {
        if (bytes) {
          *out++ = '\\';
          *out++ = 'N';
          break;
        }
        size_t close = i < n && body[i] == '{' ? body.find('}', i) : std::string_view::npos;
        bool found = false;
        uint32_t cp = 0;
        if (close != std::string_view::npos && close > i + 1 && close - i < 100) {
          int32_t value = names.lookup(body.substr(i + 1, close - i - 1));
          if (value >= 0) {
            cp = uint32_t(value);
            found = true;
          }
        }
        if (!found) {
          size_t last = close == std::string_view::npos ? n - 1 : close;
          std::snprintf(buffer, sizeof buffer,
                        "(unicode error) 'unicodeescape' codec can't decode bytes in position "
                        "%zu-%zu: %s",
                        escape_start, last,
                        close == std::string_view::npos || close == i + 1
                            ? "malformed \\N character escape"
                            : "unknown Unicode character name");
          *error = buffer;
          return nullptr;
        }
        out = put_code_point(out, cp);
        i = close + 1;
        break;
      }
      default:
        // An unknown escape keeps its backslash (CPython only warns).
        *out++ = '\\';
        i = escape_start + 1;
        break;
    }
  }
  return out;
}

}  // namespace

// `literal` is one plain str literal token the parser accepted, as in the file: prefix, quotes
// and body (the range of a single-literal ConstantExpr). The value has its escapes resolved as
// in the parser's values (a lone surrogate in the same three-byte form), but where the parser
// reads every line break as "\n", as CPython does, this keeps "\r\n" and a lone "\r" as written.
// A backslash before a line break still removes the whole break; in a raw literal both stay.
// Only a text with a "\r" can differ from the parser's value: callers ask only for those.
std::string string_value_as_written(std::string_view literal) {
  Prefix prefix = read_prefix(literal);
  std::string_view body = string_body(literal, prefix.length);
  // Without a backslash the text is the value; a line break in it is one as written.
  if (body.find('\\') == std::string_view::npos) return std::string(body);
  std::string out(body.size(), '\0');
  std::string error;
  CharacterNames names;
  char* end = decode_body(body, prefix.raw, prefix.bytes, false, true, out.data(), &error, names);
  // Only a literal the parser refused has an escape that fails; its text is all there is.
  if (!end) return std::string(body);
  out.resize(size_t(end - out.data()));
  return out;
}

// Builds the values of a JoinedStr: adjacent literal pieces merge into one Constant whose range
// runs from the first piece to the last, as CPython merges them.
class FStringBuilder {
 public:
  FStringBuilder(Arena& arena, std::vector<void*>& scratch)
      : arena_(arena), scratch_(scratch), mark_(scratch.size()) {}
  // `u_prefix`: the piece is a plain literal written with "u"; a merged Constant takes the kind
  // "u" from its first piece, as CPython's does.
  void add_literal(std::string_view text, TextRange range, bool u_prefix = false) {
    if (!has_pending_) {
      pending_start_ = range.start;
      pending_u_prefix_ = u_prefix;
      has_pending_ = true;
    }
    pending_.append(text);
    pending_end_ = range.end;
  }
  void add_value(Expr* value) {
    flush();
    scratch_.push_back(value);
  }
  void flush() {
    if (has_pending_ && !pending_.empty()) {
      auto* c = arena_.make<ConstantExpr>();
      c->kind = ExprKind::kConstant;
      c->constant = ConstantKind::kStr;
      c->value = arena_.copy(pending_);
      c->u_prefix = pending_u_prefix_;
      c->range = {pending_start_, pending_end_};
      scratch_.push_back(c);
    }
    pending_.clear();
    has_pending_ = false;
  }
  size_t mark() const { return mark_; }

 private:
  Arena& arena_;
  std::vector<void*>& scratch_;
  size_t mark_;
  std::string pending_;
  bool has_pending_ = false;
  bool pending_u_prefix_ = false;
  uint32_t pending_start_ = 0;
  uint32_t pending_end_ = 0;
};

bool Parser::decode_string(const Token& t, std::string& out, bool* is_bytes, bool* is_u) {
  std::string_view text = text_of(t);
  Prefix prefix = read_prefix(text);
  *is_bytes = prefix.bytes;
  *is_u = prefix.u;
  std::string_view body = string_body(text, prefix.length);
  if (prefix.bytes) {
    for (char c : body) {
      if (static_cast<unsigned char>(c) >= 0x80) {
        fail("bytes can only contain ASCII literal characters", t.range());
        return false;
      }
    }
  }
  if (!needs_decoding(body, false)) {
    out.append(body);
    return true;
  }
  size_t old = out.size();
  out.resize(old + body.size() + 4);
  std::string error;
  char* end = decode_body(body, prefix.raw, prefix.bytes, false, false, out.data() + old, &error,
                          character_names_);
  if (!end) {
    fail(error, t.range());
    return false;
  }
  out.resize(size_t(end - out.data()));
  return true;
}

bool Parser::decode_fstring_middle(const Token& t, bool raw, std::string& out) {
  std::string_view body = text_of(t);
  if (!needs_decoding(body, true)) {
    out.append(body);
    return true;
  }
  size_t old = out.size();
  out.resize(old + body.size() + 4);
  std::string error;
  char* end =
      decode_body(body, raw, false, true, false, out.data() + old, &error, character_names_);
  if (!end) {
    fail(error, t.range());
    return false;
  }
  out.resize(size_t(end - out.data()));
  return true;
}

Expr* Parser::parse_strings() {
  uint32_t begin = start();
  uint32_t first = pos_;
  // Pass 1: the pieces of the concatenation, their kinds and ranges.
  uint32_t pieces = 0;
  bool any_fstring = false, any_bytes = false, any_text = false;
  uint32_t i = pos_;
  while (tokens_[i].kind == TokenKind::kString || tokens_[i].kind == TokenKind::kFStringStart) {
    if (tokens_[i].kind == TokenKind::kString) {
      bool bytes = read_prefix(text_of(tokens_[i])).bytes;
      (bytes ? any_bytes : any_text) = true;
      ++i;
    } else {
      any_fstring = any_text = true;
      uint32_t depth = 1;
      ++i;
      while (depth > 0 && tokens_[i].kind != TokenKind::kEndMarker &&
             tokens_[i].kind != TokenKind::kError) {
        if (tokens_[i].kind == TokenKind::kFStringStart) ++depth;
        if (tokens_[i].kind == TokenKind::kFStringEnd) --depth;
        ++i;
      }
      if (depth > 0) {
        pos_ = i;
        return fail_here();
      }
    }
    ++pieces;
  }
  uint32_t end_token = i;
  if (any_bytes && any_text) {
    return fail("cannot mix bytes and nonbytes literals",
                TextRange{begin, tokens_[end_token - 1].end});
  }
  Array<TextRange> parts;
  if (pieces > 1) {
    auto* ranges = static_cast<TextRange*>(arena_.allocate(pieces * sizeof(TextRange)));
    uint32_t k = 0;
    for (uint32_t j = first; j < end_token;) {
      uint32_t piece_start = tokens_[j].start;
      if (tokens_[j].kind == TokenKind::kString) {
        ++j;
      } else {
        uint32_t depth = 1;
        ++j;
        while (depth > 0) {
          if (tokens_[j].kind == TokenKind::kFStringStart) ++depth;
          if (tokens_[j].kind == TokenKind::kFStringEnd) --depth;
          ++j;
        }
      }
      ranges[k++] = {piece_start, tokens_[j - 1].end};
    }
    parts = Array<TextRange>(ranges, pieces);
  }
  bool first_u = read_prefix(text_of(tokens_[first])).u;
  if (!any_fstring) {
    auto* c = make<ConstantExpr>(ExprKind::kConstant, TextRange{begin, tokens_[end_token - 1].end});
    c->constant = any_bytes ? ConstantKind::kBytes : ConstantKind::kStr;
    c->u_prefix = first_u;
    c->parts = parts;
    const Token& t = tokens_[first];
    std::string_view text = text_of(t);
    Prefix prefix = read_prefix(text);
    std::string_view body = string_body(text, prefix.length);
    if (pieces == 1 && !needs_decoding(body, false) && !prefix.bytes) {
      c->value = body;  // the arena's copy of the source
    } else {
      string_buffer_.clear();
      bool is_bytes, is_u;
      for (uint32_t j = first; j < end_token; ++j) {
        if (!decode_string(tokens_[j], string_buffer_, &is_bytes, &is_u)) return nullptr;
      }
      c->value = arena_.copy(string_buffer_);
    }
    pos_ = end_token;
    return c;
  }
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  FStringBuilder builder(arena_, scratch_);
  std::string decoded;
  while (at(TokenKind::kString) || at(TokenKind::kFStringStart)) {
    if (at(TokenKind::kString)) {
      decoded.clear();
      bool is_bytes, is_u;
      if (!decode_string(tok(), decoded, &is_bytes, &is_u)) return nullptr;
      builder.add_literal(decoded, tok().range(), is_u);
      advance();
      continue;
    }
    bool raw = read_prefix(text_of(tok())).raw;
    advance();
    while (!at(TokenKind::kFStringEnd)) {
      if (at(TokenKind::kFStringMiddle)) {
        decoded.clear();
        if (!decode_fstring_middle(tok(), raw, decoded)) return nullptr;
        builder.add_literal(decoded, tok().range());
        advance();
      } else if (at(TokenKind::kLBrace)) {
        DebugText debug_text;
        Expr* field = TRY(parse_fstring_replacement_field(&debug_text));
        // A debug field ("{x=}") adds its own text first.
        if (debug_text.token) builder.add_literal(debug_text.text, debug_text.range);
        builder.add_value(field);
      } else {
        return fail_here();
      }
    }
    advance();
  }
  builder.flush();
  auto* joined = make<JoinedStrExpr>(ExprKind::kJoinedStr, from(begin));
  joined->values = take<Expr>(builder.mark());
  joined->parts = parts;
  return joined;
}

std::optional<std::string_view> Parser::debug_text_of(uint32_t token) {
  // The lexer recorded the text where CPython's tokenizer does; where it records none, CPython
  // makes a Constant without a value, which ast.parse refuses.
  const std::vector<FieldText>& texts = lexed_.field_texts;
  auto it = std::lower_bound(texts.begin(), texts.end(), token,
                             [](const FieldText& f, uint32_t at) { return f.token < at; });
  if (it == texts.end() || it->token != token) return std::nullopt;
  std::string_view text = text_of(it->text);
  if (text.find_first_of("\r#") == std::string_view::npos) return text;
  // CPython reads line breaks as "\n", and cuts from every "#" to the end of its line (within a
  // string too).
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '#') {
      while (i < text.size() && text[i] != '\n' && text[i] != '\r') ++i;
      if (i == text.size()) break;
      c = text[i];
    }
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      c = '\n';
    }
    out.push_back(c);
  }
  return arena_.copy(out);
}

Expr* Parser::parse_fstring_replacement_field(DebugText* debug_text) {
  *debug_text = {};
  DepthGuard guard(*this);
  if (!guard.ok()) return nullptr;
  uint32_t open = start();
  advance();
  if (at(TokenKind::kRBrace) || at(TokenKind::kExclamation) || at(TokenKind::kColon) ||
      at(TokenKind::kEqual)) {
    return fail(
        "f-string: valid expression required before '" + std::string(token_kind_text(kind())) + "'",
        tok().range());
  }
  Expr* value = TRY(at(TokenKind::kYield) ? parse_yield_expression() : parse_star_expressions());
  auto* fv = make<FormattedValueExpr>(ExprKind::kFormattedValue, TextRange{});
  fv->value = value;
  fv->conversion = -1;
  fv->format_spec = nullptr;
  bool debug = false;
  if (at(TokenKind::kEqual)) {
    debug = true;
    advance();
    // The repeated text runs up to the conversion, format spec or closing brace, whose token
    // carries it.
    debug_text->range = {open + 1, start()};
    debug_text->token = pos_;
  }
  if (eat(TokenKind::kExclamation)) {
    std::string_view name = at(TokenKind::kName) ? text_of(tok()) : std::string_view();
    if (name.empty()) return fail("f-string: missing conversion character", tok().range());
    if (tok().start != prev_end()) {
      return fail("f-string: conversion type must come right after the exclamanation mark",
                  TextRange{prev_end() - 1, tok().end});
    }
    if (name != "s" && name != "r" && name != "a") {
      return fail("f-string: invalid conversion character '" + std::string(name) +
                      "': expected 's', 'r', or 'a'",
                  tok().range());
    }
    fv->conversion = name[0];
    advance();
  }
  if (at(TokenKind::kColon)) {
    uint32_t spec_begin = start();
    advance();
    FStringBuilder builder(arena_, scratch_);
    std::string decoded;
    while (!at(TokenKind::kRBrace)) {
      if (at(TokenKind::kFStringMiddle)) {
        decoded.clear();
        if (!decode_fstring_middle(tok(), false, decoded)) return nullptr;
        builder.add_literal(decoded, tok().range());
        advance();
      } else if (at(TokenKind::kLBrace)) {
        DebugText debug_text;
        Expr* field = TRY(parse_fstring_replacement_field(&debug_text));
        if (debug_text.token) builder.add_literal(debug_text.text, debug_text.range);
        builder.add_value(field);
      } else {
        return fail_here("f-string: expecting '}', or format specs");
      }
    }
    builder.flush();
    auto* spec = make<JoinedStrExpr>(ExprKind::kJoinedStr, from(spec_begin));
    spec->values = take<Expr>(builder.mark());
    fv->format_spec = spec;
  }
  if (!at(TokenKind::kRBrace)) return fail_here("f-string: expecting '}'");
  if (debug) {
    auto text = debug_text_of(debug_text->token);
    if (!text) return fail("field 'value' is required for Constant", from(open));
    debug_text->text = *text;
  }
  advance();
  fv->range = from(open);
  if (debug && fv->conversion == -1 && !fv->format_spec) fv->conversion = 'r';
  return fv;
}

}  // namespace tolvo::parser
