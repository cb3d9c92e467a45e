#include "utils/src/namespace.h"

#include <re2/re2.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/stringpiece.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <atomic>
#include <memory>
#include <new>
#include <utility>

#include "utils/src/fault.h"
#include "utils/src/fork_generation.h"

namespace tolvo::utils {
namespace {

// A pattern compiled on first use in each process of a fork line: a child made by fork compiles
// its own, since a thread of the parent may have been inside the inherited one (holding one of its
// locks) at the fork. Concurrent first users may both compile; one copy wins and the other is
// dropped. Later uses read it without locking. Never freed.
class LazyRegex {
 public:
  constexpr explicit LazyRegex(const char* pattern) : pattern_(pattern) {}

  const RE2& get() const {
    const Compiled* compiled = compiled_.load(std::memory_order_acquire);
    if (compiled != nullptr && compiled->generation == fork_generation()) return compiled->regex;
    return compile(compiled);
  }

 private:
  struct Compiled {
    explicit Compiled(const char* pattern) : regex(pattern), generation(fork_generation()) {}
    RE2 regex;
    uint32_t generation;
  };

  const RE2& compile(const Compiled* seen) const {
    auto fresh = std::make_unique<Compiled>(pattern_);
    if (!fresh->regex.ok()) throw InternalFault("valid regex");
    while (!compiled_.compare_exchange_weak(seen, fresh.get(), std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
      if (seen != nullptr && seen->generation == fresh->generation) return seen->regex;
    }
    // What it replaced, if anything, belongs to an earlier process and is left alone.
    return fresh.release()->regex;
  }

  const char* pattern_;
  mutable std::atomic<const Compiled*> compiled_{nullptr};
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

// In UTF-8 the bytes CE A3 are always U+03A3 (CE is never a continuation byte).
constexpr std::string_view kCapitalSigma = "\xce\xa3";
constexpr std::string_view kSmallSigma = "\xcf\x83";
constexpr std::string_view kFinalSigma = "\xcf\x82";

// The character that starts at `pos` (negative when ill-formed) and its length in bytes. Decodes
// at most four bytes, so ICU's 32-bit indices suffice for texts of any length.
UChar32 char_at(std::string_view text, size_t pos, size_t& length) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + pos);
  const int32_t window = static_cast<int32_t>(std::min<size_t>(text.size() - pos, 4));
  int32_t end = 0;
  UChar32 c;
  U8_NEXT(bytes, end, window, c);
  length = static_cast<size_t>(end);
  return c;
}

// The same for the character that ends just before `pos`.
UChar32 char_before(std::string_view text, size_t pos, size_t& length) {
  const size_t window = std::min<size_t>(pos, 4);
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + pos - window);
  int32_t start = static_cast<int32_t>(window);
  UChar32 c;
  U8_PREV(bytes, 0, start, c);
  length = window - static_cast<size_t>(start);
  return c;
}

// Case-ignorable characters are skipped before the cased test, as ICU's own Final_Sigma does.
bool is_case_ignorable(UChar32 c) { return c >= 0 && u_hasBinaryProperty(c, UCHAR_CASE_IGNORABLE); }
bool is_cased(UChar32 c) { return c >= 0 && u_hasBinaryProperty(c, UCHAR_CASED); }

// Whether the capital sigma at `pos` is final: a cased letter comes before it and none after it,
// case-ignorable characters skipped on both sides.
bool is_final_sigma(std::string_view text, size_t pos) {
  bool preceded = false;
  for (size_t i = pos, length; i > 0; i -= length) {
    const UChar32 c = char_before(text, i, length);
    if (!is_case_ignorable(c)) {
      preceded = is_cased(c);
      break;
    }
  }
  if (!preceded) return false;
  for (size_t i = pos + kCapitalSigma.size(), length; i < text.size(); i += length) {
    const UChar32 c = char_at(text, i, length);
    if (!is_case_ignorable(c)) return !is_cased(c);
  }
  return true;
}

void lowercase_piece(std::string_view piece, icu::StringByteSink<std::string>& sink) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::StringPiece bytes(piece.data(), static_cast<int32_t>(piece.size()));
  icu::CaseMap::utf8ToLower("", 0, bytes, sink, nullptr, status);
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
  if (U_FAILURE(status)) throw InternalFault("could not lowercase text");
}

}  // namespace

namespace internal {

std::string full_lowercase(std::string_view text, size_t max_chunk) {
  std::string out;
  out.reserve(text.size());
  icu::StringByteSink<std::string> sink(&out);
  if (text.size() <= max_chunk) {
    lowercase_piece(text, sink);
    return out;
  }
  // In the root locale only the capital sigma's mapping depends on its neighbours: pieces that
  // hold none lowercase alike wherever they are cut, and each sigma is decided on the whole text.
  for (size_t pos = 0; pos < text.size();) {
    if (text.substr(pos, kCapitalSigma.size()) == kCapitalSigma) {
      out += is_final_sigma(text, pos) ? kFinalSigma : kSmallSigma;
      pos += kCapitalSigma.size();
      continue;
    }
    size_t length = std::min(text.size() - pos, max_chunk);
    const size_t sigma = text.substr(pos, length + 1).find(kCapitalSigma);
    if (sigma != std::string_view::npos) {
      length = sigma;
    } else {
      // Cut between two units as ICU decodes them: characters, or ill-formed byte runs.
      size_t end = length;
      if (pos + end < text.size() && is_continuation_byte(text[pos + end])) {
        size_t lead = end;
        for (int back = 0; back < 3 && lead > 0 && is_continuation_byte(text[pos + lead]); ++back) {
          --lead;
        }
        // A lead byte always starts a unit; stray continuation bytes are units of their own.
        if (!is_continuation_byte(text[pos + lead])) {
          size_t unit;
          char_at(text, pos + lead, unit);
          if (lead + unit > end) end = lead > 0 ? lead : unit;
        }
      }
      length = end;
    }
    lowercase_piece(text.substr(pos, length), sink);
    pos += length;
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

void initialise_snake_case() {
  for (const Pass* pass : {&kPass1, &kPass2, &kPass3}) pass->regex.get();
}

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
