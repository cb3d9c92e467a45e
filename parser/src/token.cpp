#include "parser/src/token.h"

#include <cstring>

namespace tolvo::parser {

namespace {

struct KeywordEntry {
  const char* text;
  TokenKind kind;
};

// Hard keywords grouped by length, so a lookup compares against a handful of candidates.
constexpr KeywordEntry kKeywords2[] = {{"as", TokenKind::kAs},
                                       {"if", TokenKind::kIf},
                                       {"in", TokenKind::kIn},
                                       {"is", TokenKind::kIs},
                                       {"or", TokenKind::kOr}};
constexpr KeywordEntry kKeywords3[] = {{"and", TokenKind::kAnd}, {"def", TokenKind::kDef},
                                       {"del", TokenKind::kDel}, {"for", TokenKind::kFor},
                                       {"not", TokenKind::kNot}, {"try", TokenKind::kTry}};
constexpr KeywordEntry kKeywords4[] = {{"None", TokenKind::kNone}, {"True", TokenKind::kTrue},
                                       {"elif", TokenKind::kElif}, {"else", TokenKind::kElse},
                                       {"from", TokenKind::kFrom}, {"pass", TokenKind::kPass},
                                       {"with", TokenKind::kWith}};
constexpr KeywordEntry kKeywords5[] = {{"False", TokenKind::kFalse}, {"async", TokenKind::kAsync},
                                       {"await", TokenKind::kAwait}, {"break", TokenKind::kBreak},
                                       {"class", TokenKind::kClass}, {"raise", TokenKind::kRaise},
                                       {"while", TokenKind::kWhile}, {"yield", TokenKind::kYield}};
constexpr KeywordEntry kKeywords6[] = {
    {"assert", TokenKind::kAssert}, {"except", TokenKind::kExcept}, {"global", TokenKind::kGlobal},
    {"import", TokenKind::kImport}, {"lambda", TokenKind::kLambda}, {"return", TokenKind::kReturn}};
constexpr KeywordEntry kKeywords7[] = {{"finally", TokenKind::kFinally}};
constexpr KeywordEntry kKeywords8[] = {{"continue", TokenKind::kContinue},
                                       {"nonlocal", TokenKind::kNonlocal}};

template <size_t N>
TokenKind find(const KeywordEntry (&table)[N], std::string_view text) {
  for (const KeywordEntry& entry : table) {
    if (std::memcmp(entry.text, text.data(), text.size()) == 0) return entry.kind;
  }
  return TokenKind::kName;
}

}  // namespace

TokenKind keyword_kind(std::string_view text) {
  switch (text.size()) {
    case 2:
      return find(kKeywords2, text);
    case 3:
      return find(kKeywords3, text);
    case 4:
      return find(kKeywords4, text);
    case 5:
      return find(kKeywords5, text);
    case 6:
      return find(kKeywords6, text);
    case 7:
      return find(kKeywords7, text);
    case 8:
      return find(kKeywords8, text);
    default:
      return TokenKind::kName;
  }
}

std::string_view token_kind_text(TokenKind kind) {
  switch (kind) {
    case TokenKind::kEndMarker:
      return "ENDMARKER";
    case TokenKind::kError:
      return "ERRORTOKEN";
    case TokenKind::kNewline:
      return "NEWLINE";
    case TokenKind::kIndent:
      return "INDENT";
    case TokenKind::kDedent:
      return "DEDENT";
    case TokenKind::kName:
      return "NAME";
    case TokenKind::kNumber:
      return "NUMBER";
    case TokenKind::kString:
      return "STRING";
    case TokenKind::kFStringStart:
      return "FSTRING_START";
    case TokenKind::kFStringMiddle:
      return "FSTRING_MIDDLE";
    case TokenKind::kFStringEnd:
      return "FSTRING_END";
    case TokenKind::kLPar:
      return "(";
    case TokenKind::kRPar:
      return ")";
    case TokenKind::kLSqb:
      return "[";
    case TokenKind::kRSqb:
      return "]";
    case TokenKind::kLBrace:
      return "{";
    case TokenKind::kRBrace:
      return "}";
    case TokenKind::kColon:
      return ":";
    case TokenKind::kComma:
      return ",";
    case TokenKind::kSemi:
      return ";";
    case TokenKind::kPlus:
      return "+";
    case TokenKind::kMinus:
      return "-";
    case TokenKind::kStar:
      return "*";
    case TokenKind::kSlash:
      return "/";
    case TokenKind::kVBar:
      return "|";
    case TokenKind::kAmper:
      return "&";
    case TokenKind::kLess:
      return "<";
    case TokenKind::kGreater:
      return ">";
    case TokenKind::kEqual:
      return "=";
    case TokenKind::kDot:
      return ".";
    case TokenKind::kPercent:
      return "%";
    case TokenKind::kEqEqual:
      return "==";
    case TokenKind::kNotEqual:
      return "!=";
    case TokenKind::kLessEqual:
      return "<=";
    case TokenKind::kGreaterEqual:
      return ">=";
    case TokenKind::kTilde:
      return "~";
    case TokenKind::kCircumflex:
      return "^";
    case TokenKind::kLeftShift:
      return "<<";
    case TokenKind::kRightShift:
      return ">>";
    case TokenKind::kDoubleStar:
      return "**";
    case TokenKind::kPlusEqual:
      return "+=";
    case TokenKind::kMinEqual:
      return "-=";
    case TokenKind::kStarEqual:
      return "*=";
    case TokenKind::kSlashEqual:
      return "/=";
    case TokenKind::kPercentEqual:
      return "%=";
    case TokenKind::kAmperEqual:
      return "&=";
    case TokenKind::kVBarEqual:
      return "|=";
    case TokenKind::kCircumflexEqual:
      return "^=";
    case TokenKind::kLeftShiftEqual:
      return "<<=";
    case TokenKind::kRightShiftEqual:
      return ">>=";
    case TokenKind::kDoubleStarEqual:
      return "**=";
    case TokenKind::kDoubleSlash:
      return "//";
    case TokenKind::kDoubleSlashEqual:
      return "//=";
    case TokenKind::kAt:
      return "@";
    case TokenKind::kAtEqual:
      return "@=";
    case TokenKind::kRArrow:
      return "->";
    case TokenKind::kEllipsis:
      return "...";
    case TokenKind::kColonEqual:
      return ":=";
    case TokenKind::kExclamation:
      return "!";
    case TokenKind::kFalse:
      return "False";
    case TokenKind::kNone:
      return "None";
    case TokenKind::kTrue:
      return "True";
    case TokenKind::kAnd:
      return "and";
    case TokenKind::kAs:
      return "as";
    case TokenKind::kAssert:
      return "assert";
    case TokenKind::kAsync:
      return "async";
    case TokenKind::kAwait:
      return "await";
    case TokenKind::kBreak:
      return "break";
    case TokenKind::kClass:
      return "class";
    case TokenKind::kContinue:
      return "continue";
    case TokenKind::kDef:
      return "def";
    case TokenKind::kDel:
      return "del";
    case TokenKind::kElif:
      return "elif";
    case TokenKind::kElse:
      return "else";
    case TokenKind::kExcept:
      return "except";
    case TokenKind::kFinally:
      return "finally";
    case TokenKind::kFor:
      return "for";
    case TokenKind::kFrom:
      return "from";
    case TokenKind::kGlobal:
      return "global";
    case TokenKind::kIf:
      return "if";
    case TokenKind::kImport:
      return "import";
    case TokenKind::kIn:
      return "in";
    case TokenKind::kIs:
      return "is";
    case TokenKind::kLambda:
      return "lambda";
    case TokenKind::kNonlocal:
      return "nonlocal";
    case TokenKind::kNot:
      return "not";
    case TokenKind::kOr:
      return "or";
    case TokenKind::kPass:
      return "pass";
    case TokenKind::kRaise:
      return "raise";
    case TokenKind::kReturn:
      return "return";
    case TokenKind::kTry:
      return "try";
    case TokenKind::kWhile:
      return "while";
    case TokenKind::kWith:
      return "with";
    case TokenKind::kYield:
      return "yield";
  }
  return "?";
}

}  // namespace tolvo::parser
