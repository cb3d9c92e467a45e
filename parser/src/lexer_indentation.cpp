// Logical lines: indentation at the start of each line outside brackets, blank and comment-only
// lines, explicit line joining, and the tokens at the end of input.
#include <cstdio>

#include "parser/src/lexer.h"

namespace tolvo::parser {

bool Lexer::skip_whitespace_and_continuations() {
  while (true) {
    unsigned char c = cursor_.peek();
    if (c == ' ' || c == '\t' || c == '\f') {
      cursor_.advance();
    } else if (c == '\\') {
      uint32_t at = cursor_.pos();
      unsigned char next = cursor_.peek(1);
      if (next == '\n') {
        cursor_.advance(2);
      } else if (next == '\r') {
        cursor_.advance(cursor_.peek(2) == '\n' ? 3 : 2);
      } else {
        return fail("unexpected character after line continuation character", at, at + 1);
      }
      if (cursor_.at_end()) return fail("unexpected EOF while parsing", at, at + 1);
    } else {
      return true;
    }
  }
}

bool Lexer::begin_line() {
  while (true) {
    uint32_t line_start = cursor_.pos();
    uint32_t col = 0;
    uint32_t alt_col = 0;
    // Indentation cannot be split by a line continuation: as in CPython, the column of the first
    // backslash counts (unless it stood at column 0, then the column reached after it).
    uint32_t continuation_col = 0;
    while (true) {
      unsigned char c = cursor_.peek();
      if (c == ' ') {
        ++col;
        ++alt_col;
      } else if (c == '\t') {
        col = (col / 8 + 1) * 8;
        ++alt_col;
      } else if (c == '\f') {
        col = alt_col = 0;
      } else if (c == '\\') {
        uint32_t at = cursor_.pos();
        if (continuation_col == 0) continuation_col = col;
        cursor_.advance();
        cursor_.eat('\r');
        if (!cursor_.eat('\n') && !(source_[cursor_.pos() - 1] == '\r' && cursor_.pos() > at + 1)) {
          return fail("unexpected character after line continuation character", at, at + 1);
        }
        if (cursor_.at_end()) return fail("unexpected EOF while parsing", at, at + 1);
        continue;
      } else {
        break;
      }
      cursor_.advance();
    }
    if (continuation_col != 0) col = alt_col = continuation_col;  // CPython sets both alike
    unsigned char c = cursor_.peek();
    if (c == '#' || c == '\n' || c == '\r') {
      // Blank and comment-only lines take no part in indentation and end no statement.
      uint32_t start = cursor_.pos();
      cursor_.skip_to_line_end();
      if (c == '#') comments_.push_back({start, cursor_.pos()});
      if (cursor_.peek() == '\r') cursor_.advance();
      cursor_.eat('\n');
      continue;
    }
    if (c == 0) return true;  // end of input: finish() closes the open blocks
    at_line_start_ = false;
    uint32_t here = cursor_.pos();
    auto inconsistent = [&]() {
      return fail("inconsistent use of tabs and spaces in indentation", line_start, here);
    };
    if (col == indents_.back()) {
      if (alt_col != alt_indents_.back()) return inconsistent();
    } else if (col > indents_.back()) {
      if (alt_col <= alt_indents_.back()) return inconsistent();
      if (indents_.size() >= kMaxIndentDepth) {
        return fail("too many levels of indentation", line_start, here);
      }
      indents_.push_back(col);
      alt_indents_.push_back(alt_col);
      push(TokenKind::kIndent, here, here);
    } else {
      while (indents_.size() > 1 && col < indents_.back()) {
        indents_.pop_back();
        alt_indents_.pop_back();
        push(TokenKind::kDedent, here, here);
      }
      if (col != indents_.back()) {
        return fail("unindent does not match any outer indentation level", line_start, here);
      }
      if (alt_col != alt_indents_.back()) return inconsistent();
    }
    return true;
  }
}

bool Lexer::finish() {
  uint32_t end = cursor_.pos();
  if (!fstrings_.empty()) {
    const FString& fs = fstrings_.back();
    char buffer[96];
    std::snprintf(buffer, sizeof buffer,
                  fs.quote_size == 1
                      ? "unterminated f-string literal (detected at line %u)"
                      : "unterminated triple-quoted f-string literal (detected at line %u)",
                  line_of_offset(source_, end));
    return fail(buffer, fs.start, fs.start + 1);
  }
  if (!brackets_.empty()) {
    const Bracket& open = brackets_.back();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "'%c' was never closed",
                  open.open == 'F' ? '{' : open.open);
    return fail(buffer, open.offset, open.offset + 1);
  }
  if (!tokens_.empty() && tokens_.back().kind != TokenKind::kNewline &&
      tokens_.back().kind != TokenKind::kDedent) {
    push(TokenKind::kNewline, end, end);
  }
  while (indents_.size() > 1) {
    indents_.pop_back();
    push(TokenKind::kDedent, end, end);
  }
  push(TokenKind::kEndMarker, end, end);
  return false;
}

}  // namespace tolvo::parser
