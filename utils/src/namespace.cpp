#include "utils/src/namespace.h"

#include <re2/re2.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/stringpiece.h>
#include <unicode/uchar.h>
#include <unicode/utypes.h>

#include <limits>
#include <memory>
#include <mutex>
#include <utility>

#include "utils/src/fault.h"

namespace tolvo::utils {
namespace {

// A pattern compiled on first use, once per process: concurrent first users wait for that one
// compilation, and later uses read it without locking. Never freed.
class LazyRegex {
 public:
  constexpr explicit LazyRegex(const char* pattern) : pattern_(pattern) {}

  const RE2& get() const {
    std::call_once(once_, [this] {
      auto regex = std::make_unique<RE2>(pattern_);
      if (!regex->ok()) throw InternalFault("valid regex");
      regex_ = regex.release();
    });
    return *regex_;
  }

 private:
  const char* pattern_;
  mutable std::once_flag once_;
  mutable const RE2* regex_ = nullptr;
};

constinit const LazyRegex SNAKE_SUB_1("(.)([A-Z][a-z]+)");
constinit const LazyRegex SNAKE_SUB_2("__([A-Z])");
constinit const LazyRegex SNAKE_SUB_3("([a-z0-9])([A-Z])");

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_lower_or_digit(char c) { return is_lower(c) || (c >= '0' && c <= '9'); }
bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

constexpr size_t kNone = std::string_view::npos;

// One piece of a replacement template: capture group `group`, or the literal text when it is 0.
struct TemplatePiece {
  int group;
  std::string_view literal;
};

// One replace-all pass: its pattern, its template, and a cheap scan for the next position at or
// after `from` where a match could start (a necessary condition only). The matcher runs anchored at
// those positions alone: trying the candidates in increasing order finds the leftmost match, while
// an unanchored search with captures costs several times more per call on short names.
struct Pass {
  const LazyRegex& regex;
  const TemplatePiece* pieces;
  size_t piece_count;
  size_t (*next_candidate)(std::string_view text, size_t from);
};

constexpr TemplatePiece kJoinGroups[] = {{1, {}}, {0, "_"}, {2, {}}};
constexpr TemplatePiece kUnderscoreGroup[] = {{0, "_"}, {1, {}}};

// "(.)([A-Z][a-z]+)": a match starts at the character before a capital that a small letter follows.
size_t next_capitalised_word(std::string_view text, size_t from) {
  for (size_t i = from + 1; i + 1 < text.size(); ++i) {
    if (!is_upper(text[i]) || !is_lower(text[i + 1])) continue;
    size_t start = i - 1;
    for (int back = 0; back < 3 && start > from && is_continuation_byte(text[start]); ++back) {
      --start;
    }
    if (start >= from) return start;
  }
  return kNone;
}

// "__([A-Z])".
size_t next_double_underscore(std::string_view text, size_t from) {
  for (size_t i = from; i + 2 < text.size(); ++i) {
    if (text[i] == '_' && text[i + 1] == '_' && is_upper(text[i + 2])) return i;
  }
  return kNone;
}

// "([a-z0-9])([A-Z])".
size_t next_small_then_capital(std::string_view text, size_t from) {
  for (size_t i = from; i + 1 < text.size(); ++i) {
    if (is_lower_or_digit(text[i]) && is_upper(text[i + 1])) return i;
  }
  return kNone;
}

constinit const Pass kPass1{SNAKE_SUB_1, kJoinGroups, 3, next_capitalised_word};
constinit const Pass kPass2{SNAKE_SUB_2, kUnderscoreGroup, 2, next_double_underscore};
constinit const Pass kPass3{SNAKE_SUB_3, kJoinGroups, 3, next_small_then_capital};

// Replaces every non-overlapping match, leftmost first, searching on after each match. Returns
// false (leaving `out` untouched) when nothing matched, so the caller keeps reading its input.
bool replace_all(const Pass& pass, std::string_view input, std::string& out) {
  constexpr int kGroups = 3;
  re2::StringPiece groups[kGroups];
  size_t copied = 0;  // input before this is in `result`
  size_t from = 0;
  bool matched = false;
  std::string result;
  for (size_t start; (start = pass.next_candidate(input, from)) != kNone;) {
    if (!pass.regex.get().Match(input, start, input.size(), RE2::ANCHOR_START, groups, kGroups)) {
      from = start + 1;
      continue;
    }
    if (!matched) {
      result.reserve(input.size() + 8);
      matched = true;
    }
    result.append(input.substr(copied, start - copied));
    for (size_t i = 0; i < pass.piece_count; ++i) {
      const TemplatePiece& piece = pass.pieces[i];
      if (piece.group == 0) {
        result.append(piece.literal);
      } else {
        result.append(groups[piece.group].data(), groups[piece.group].size());
      }
    }
    // None of the patterns matches the empty text, so the search always moves forward.
    copied = from = start + groups[0].size();
  }
  if (!matched) return false;
  result.append(input.substr(copied));
  out = std::move(result);
  return true;
}

bool is_ascii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// A character across which no case mapping looks: neither cased nor case-ignorable.
bool breaks_case_context(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code < 0x80 && !u_hasBinaryProperty(code, UCHAR_CASED) &&
         !u_hasBinaryProperty(code, UCHAR_CASE_IGNORABLE);
}

}  // namespace

namespace internal {

std::string full_lowercase(std::string_view text, size_t max_chunk) {
  std::string out;
  out.reserve(text.size());
  icu::StringByteSink<std::string> sink(&out);
  while (!text.empty()) {
    size_t length = text.size();
    if (length > max_chunk) {
      // ICU takes at most max_chunk bytes at once. A chunk ends just after a context break, so
      // that Final_Sigma sees in each chunk what it would see in the whole text.
      length = max_chunk;
      while (length > 0 && !breaks_case_context(text[length - 1])) --length;
      if (length == 0) throw InternalFault("text too long to lowercase");
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(text.data(), static_cast<int32_t>(length)),
                              sink, nullptr, status);
    if (U_FAILURE(status)) throw InternalFault("could not lowercase text");
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace internal

namespace {

// Full Unicode lowercase of the root locale (no Turkish or Lithuanian rules), Final_Sigma included.
std::string to_lower(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return out;
  }
  return internal::full_lowercase(text, std::numeric_limits<int32_t>::max());
}

}  // namespace

std::string to_snake_case(std::string_view text) {
  // Each pass reads the output of the one before; a pass without a match keeps its input as is.
  std::string first, second, third;
  std::string_view current = text;
  if (replace_all(kPass1, current, first)) current = first;
  if (replace_all(kPass2, current, second)) current = second;
  if (replace_all(kPass3, current, third)) current = third;
  return to_lower(current);
}

std::string build_namespaced_name(std::optional<std::string_view> namespace_path,
                                  std::optional<std::string_view> name) {
  constexpr std::string_view kSeparator = "::";
  std::string out;
  bool first = true;
  auto append = [&](std::string_view part) {
    if (!first) out += kSeparator;
    out += part;
    first = false;
  };
  std::string_view rest = namespace_path.value_or(std::string_view{});
  while (true) {
    const size_t separator = rest.find(kSeparator);
    const std::string_view segment = rest.substr(0, separator);
    if (!segment.empty()) append(to_snake_case(segment));
    if (separator == std::string_view::npos) break;
    rest.remove_prefix(separator + kSeparator.size());
  }
  if (name && !name->empty()) append(*name);
  return out;
}

}  // namespace tolvo::utils
