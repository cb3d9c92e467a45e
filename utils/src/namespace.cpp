#include "utils/src/namespace.h"

#include <re2/re2.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/stringpiece.h>
#include <unicode/utypes.h>

#include <limits>
#include <utility>

#include "utils/src/fault.h"

namespace tolvo::utils {
namespace {

// Each pattern is compiled once per process, on first use (a function-local static: concurrent
// first callers wait for the one compilation); later uses read it without locking.
const RE2* compile(const char* pattern) {
  auto* regex = new RE2(pattern);  // Kept until the process ends, like every static.
  if (!regex->ok()) throw InternalFault("valid regex");
  return regex;
}

const RE2& snake_sub_1() {
  static const RE2* const regex = compile("(.)([A-Z][a-z]+)");
  return *regex;
}
const RE2& snake_sub_2() {
  static const RE2* const regex = compile("__([A-Z])");
  return *regex;
}
const RE2& snake_sub_3() {
  static const RE2* const regex = compile("([a-z0-9])([A-Z])");
  return *regex;
}

// One piece of a replacement: a capture group, or literal text.
struct TemplatePiece {
  int group;  // 0 for literal text.
  std::string_view literal;
};

// Replaces every non-overlapping match, leftmost first, by the template into `out`. Returns false
// (leaving `out` untouched) when nothing matched, so the caller can keep reading its input.
template <size_t N>
bool replace_all(const RE2& regex, std::string_view input, const TemplatePiece (&pieces)[N],
                 std::string& out) {
  constexpr int kGroups = 3;
  re2::StringPiece match[kGroups];
  size_t pos = 0;
  bool matched = false;
  std::string result;
  while (pos < input.size() &&
         regex.Match(input, pos, input.size(), RE2::UNANCHORED, match, kGroups)) {
    if (!matched) {
      result.reserve(input.size() + 8);
      matched = true;
    }
    const size_t start = static_cast<size_t>(match[0].data() - input.data());
    result.append(input.substr(pos, start - pos));
    for (const TemplatePiece& piece : pieces) {
      if (piece.group == 0) {
        result.append(piece.literal);
      } else {
        result.append(match[piece.group].data(), match[piece.group].size());
      }
    }
    // None of the patterns matches the empty text, so the search always moves forward.
    pos = start + match[0].size();
  }
  if (!matched) return false;
  result.append(input.substr(pos));
  out = std::move(result);
  return true;
}

constexpr TemplatePiece kJoinGroups[] = {{1, {}}, {0, "_"}, {2, {}}};
constexpr TemplatePiece kUnderscoreGroup[] = {{0, "_"}, {1, {}}};

bool is_ascii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Full Unicode lowercase of the root locale (no Turkish or Lithuanian rules), Final_Sigma included.
std::string to_lower(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return out;
  }
  // ICU measures text in 32-bit lengths.
  if (text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    throw InternalFault("text too long to lowercase");
  }
  std::string out;
  out.reserve(text.size());
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode status = U_ZERO_ERROR;
  icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())),
                            sink, nullptr, status);
  if (U_FAILURE(status)) throw InternalFault("could not lowercase text");
  return out;
}

}  // namespace

std::string to_snake_case(std::string_view text) {
  // Each pass reads the output of the one before; a pass without a match keeps its input as is.
  std::string first, second, third;
  std::string_view current = text;
  if (replace_all(snake_sub_1(), current, kJoinGroups, first)) current = first;
  if (replace_all(snake_sub_2(), current, kUnderscoreGroup, second)) current = second;
  if (replace_all(snake_sub_3(), current, kJoinGroups, third)) current = third;
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
