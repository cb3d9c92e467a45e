// Tokens of Python 3.13 source: a kind and a byte range. The lexer hands out nothing else; the
// parser reads text and values back from the source through the range.
#ifndef TOLVO_PARSER_SRC_TOKEN_H_
#define TOLVO_PARSER_SRC_TOKEN_H_

#include <cstdint>
#include <string_view>

namespace tolvo::parser {

// A byte range into the source, end exclusive.
struct TextRange {
  uint32_t start = 0;
  uint32_t end = 0;
  friend bool operator==(TextRange, TextRange) = default;
};

enum class TokenKind : uint8_t {
  kEndMarker,
  kError,  // the lexer stopped here; its error is reported when the parser reaches it
  kNewline,
  kIndent,
  kDedent,
  kName,
  kNumber,
  kString,        // a whole non-f string literal with its prefix
  kFStringStart,  // prefix and opening quote(s) of an f-string
  kFStringMiddle,
  kFStringEnd,
  // Operators and delimiters.
  kLPar,
  kRPar,
  kLSqb,
  kRSqb,
  kLBrace,
  kRBrace,
  kColon,
  kComma,
  kSemi,
  kPlus,
  kMinus,
  kStar,
  kSlash,
  kVBar,
  kAmper,
  kLess,
  kGreater,
  kEqual,
  kDot,
  kPercent,
  kEqEqual,
  kNotEqual,
  kLessEqual,
  kGreaterEqual,
  kTilde,
  kCircumflex,
  kLeftShift,
  kRightShift,
  kDoubleStar,
  kPlusEqual,
  kMinEqual,
  kStarEqual,
  kSlashEqual,
  kPercentEqual,
  kAmperEqual,
  kVBarEqual,
  kCircumflexEqual,
  kLeftShiftEqual,
  kRightShiftEqual,
  kDoubleStarEqual,
  kDoubleSlash,
  kDoubleSlashEqual,
  kAt,
  kAtEqual,
  kRArrow,
  kEllipsis,
  kColonEqual,
  kExclamation,
  // Hard keywords. Soft keywords (match, case, type, _) are names.
  kFalse,
  kNone,
  kTrue,
  kAnd,
  kAs,
  kAssert,
  kAsync,
  kAwait,
  kBreak,
  kClass,
  kContinue,
  kDef,
  kDel,
  kElif,
  kElse,
  kExcept,
  kFinally,
  kFor,
  kFrom,
  kGlobal,
  kIf,
  kImport,
  kIn,
  kIs,
  kLambda,
  kNonlocal,
  kNot,
  kOr,
  kPass,
  kRaise,
  kReturn,
  kTry,
  kWhile,
  kWith,
  kYield,
};

// Token flags.
inline constexpr uint8_t kTokenNonAscii = 1;  // a name with non-ASCII characters (needs NFKC)

struct Token {
  TokenKind kind = TokenKind::kEndMarker;
  uint8_t flags = 0;
  uint32_t start = 0;
  uint32_t end = 0;
  TextRange range() const { return {start, end}; }
};

// The hard keyword spelled by `text`, or kName when it is none.
TokenKind keyword_kind(std::string_view text);

// The source spelling of an operator or keyword kind ("(" or "def"), or a description of the
// other kinds ("NAME", "NEWLINE").
std::string_view token_kind_text(TokenKind kind);

inline bool is_keyword(TokenKind kind) { return kind >= TokenKind::kFalse; }

}  // namespace tolvo::parser

#endif  // TOLVO_PARSER_SRC_TOKEN_H_
