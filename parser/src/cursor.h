// A byte cursor over source text. Reading past the end yields '\0', which the lexer treats as end
// of input (sources containing NUL bytes are refused before lexing).
#ifndef TOLVO_PARSER_SRC_CURSOR_H_
#define TOLVO_PARSER_SRC_CURSOR_H_

#include <cstdint>
#include <cstring>
#include <string_view>

namespace tolvo::parser {

class Cursor {
 public:
  explicit Cursor(std::string_view text) : data_(text.data()), size_(uint32_t(text.size())) {}

  uint32_t pos() const { return pos_; }
  void set_pos(uint32_t pos) { pos_ = pos; }
  bool at_end() const { return pos_ >= size_; }
  uint32_t size() const { return size_; }

  // The byte `ahead` positions after the cursor, or '\0' past the end.
  unsigned char peek(uint32_t ahead = 0) const {
    uint64_t at = uint64_t(pos_) + ahead;
    return at < size_ ? static_cast<unsigned char>(data_[at]) : 0;
  }
  void advance(uint32_t n = 1) { pos_ = pos_ + n > size_ ? size_ : pos_ + n; }
  bool eat(char c) {
    if (peek() == static_cast<unsigned char>(c)) {
      ++pos_;
      return true;
    }
    return false;
  }
  // Moves past the bytes for which `accept(byte)` holds, stopping at the end.
  template <typename Accept>
  void skip_while(Accept accept) {
    const auto* base = reinterpret_cast<const unsigned char*>(data_);
    const unsigned char* p = base + pos_;
    const unsigned char* end = base + size_;
    while (p < end && accept(*p)) ++p;
    pos_ = uint32_t(p - base);
  }
  // Moves to the next '\n' or '\r', or to the end.
  void skip_to_line_end() {
    const char* begin = data_ + pos_;
    size_t left = size_ - pos_;
    const void* lf = std::memchr(begin, '\n', left);
    size_t span = lf ? size_t(static_cast<const char*>(lf) - begin) : left;
    const void* cr = span ? std::memchr(begin, '\r', span) : nullptr;
    if (cr) span = size_t(static_cast<const char*>(cr) - begin);
    pos_ += uint32_t(span);
  }
  // Moves past bytes that are none of the quote, '\\', '\n' and '\r' (the plain text of a
  // string literal), stopping at the end.
  void skip_plain_string_text(unsigned char quote) {
    while (pos_ < size_) {
      unsigned char c = static_cast<unsigned char>(data_[pos_]);
      if (c == quote || c == '\\' || c == '\n' || c == '\r') return;
      ++pos_;
    }
  }
  std::string_view slice(uint32_t start, uint32_t end) const {
    return std::string_view(data_ + start, end - start);
  }

  // Decodes the UTF-8 sequence at the cursor (input is valid UTF-8) and returns its code point;
  // `length` receives its byte count.
  uint32_t peek_code_point(uint32_t* length) const {
    unsigned char c = peek();
    if (c < 0x80) {
      *length = 1;
      return c;
    }
    uint32_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    uint32_t cp = c & (0x7F >> n);
    for (uint32_t i = 1; i < n; ++i) cp = (cp << 6) | (peek(i) & 0x3F);
    *length = n;
    return cp;
  }

 private:
  const char* data_;
  uint32_t size_;
  uint32_t pos_ = 0;
};

}  // namespace tolvo::parser

#endif  // TOLVO_PARSER_SRC_CURSOR_H_
