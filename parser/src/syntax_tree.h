// The syntax tree of a parsed Python module. Nodes mirror CPython's `ast` classes (same kinds,
// same fields) and live in one arena per parsed file; lists are arena arrays, text (identifiers,
// string values) points into the arena, ranges are u32 byte offsets, end exclusive.
#ifndef TOLVO_PARSER_SRC_SYNTAX_TREE_H_
#define TOLVO_PARSER_SRC_SYNTAX_TREE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "parser/src/token.h"

namespace tolvo::parser {

// Bump allocation in blocks; everything is freed with the arena. Nodes are trivially
// destructible, so nothing runs at release. After the first block every block has the size of
// `later_blocks` (or of the request, when larger), so at most one such block is partly unused:
// trees are kept alive for whole projects, and doubling would waste up to half of them.
class Arena {
 public:
  explicit Arena(size_t first_block = 4096, size_t later_blocks = 4096)
      : next_block_(first_block < 256 ? 256 : first_block),
        later_blocks_(later_blocks < 256 ? 256 : later_blocks) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  void* allocate(size_t size, size_t align = alignof(std::max_align_t)) {
    uintptr_t p = (reinterpret_cast<uintptr_t>(cursor_) + align - 1) & ~(uintptr_t(align) - 1);
    if (cursor_ == nullptr || p + size > reinterpret_cast<uintptr_t>(limit_)) {
      grow(size + align);
      p = (reinterpret_cast<uintptr_t>(cursor_) + align - 1) & ~(uintptr_t(align) - 1);
    }
    cursor_ = reinterpret_cast<char*>(p + size);
    return reinterpret_cast<void*>(p);
  }
  template <typename T>
  T* make() {
    return new (allocate(sizeof(T), alignof(T))) T();
  }
  std::string_view copy(std::string_view text) {
    if (text.empty()) return {};
    char* data = static_cast<char*>(allocate(text.size(), 1));
    std::memcpy(data, text.data(), text.size());
    return {data, text.size()};
  }
  // Bytes held by the arena's blocks.
  size_t bytes_reserved() const { return reserved_; }

 private:
  void grow(size_t at_least) {
    size_t size = next_block_ > at_least ? next_block_ : at_least;
    blocks_.push_back(
        std::unique_ptr<char[]>(new char[size]));  // not zeroed: untouched pages stay free
    cursor_ = blocks_.back().get();
    limit_ = cursor_ + size;
    reserved_ += size;
    next_block_ = later_blocks_;
  }
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  size_t next_block_;
  size_t later_blocks_;
  size_t reserved_ = 0;
};

// An arena array of node pointers.
template <typename T>
class List {
 public:
  List() = default;
  List(T* const* items, uint32_t size) : items_(items), size_(size) {}
  uint32_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* operator[](uint32_t i) const { return items_[i]; }
  T* const* begin() const { return items_; }
  T* const* end() const { return items_ + size_; }

 private:
  T* const* items_ = nullptr;
  uint32_t size_ = 0;
};

// An arena array of plain values (ranges of string parts, identifiers).
template <typename T>
class Array {
 public:
  Array() = default;
  Array(const T* items, uint32_t size) : items_(items), size_(size) {}
  uint32_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T& operator[](uint32_t i) const { return items_[i]; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + size_; }

 private:
  const T* items_ = nullptr;
  uint32_t size_ = 0;
};

// An identifier (NFKC-normalised as CPython does) with the byte range it was written at.
struct Identifier {
  std::string_view text;
  TextRange range;
};

enum class ExprContext : uint8_t { kLoad, kStore, kDel };
enum class BoolOperator : uint8_t { kAnd, kOr };
enum class Operator : uint8_t {
  kAdd,
  kSub,
  kMult,
  kMatMult,
  kDiv,
  kMod,
  kPow,
  kLShift,
  kRShift,
  kBitOr,
  kBitXor,
  kBitAnd,
  kFloorDiv
};
enum class UnaryOperator : uint8_t { kInvert, kNot, kUAdd, kUSub };
enum class CmpOperator : uint8_t { kEq, kNotEq, kLt, kLtE, kGt, kGtE, kIs, kIsNot, kIn, kNotIn };

// The struct of each kind: BoolOpExpr, NamedExpr, BinOpExpr, UnaryOpExpr, LambdaExpr, IfExpExpr,
// DictExpr, SetExpr, ComprehensionExpr (ListComp, SetComp, DictComp, GeneratorExp), AwaitExpr
// (Await, Yield, YieldFrom), CompareExpr, CallExpr, FormattedValueExpr, JoinedStrExpr,
// ConstantExpr, AttributeExpr, SubscriptExpr, StarredExpr, NameExpr, SequenceExpr (List, Tuple),
// SliceExpr.
enum class ExprKind : uint8_t {
  kBoolOp,
  kNamedExpr,
  kBinOp,
  kUnaryOp,
  kLambda,
  kIfExp,
  kDict,
  kSet,
  kListComp,
  kSetComp,
  kDictComp,
  kGeneratorExp,
  kAwait,
  kYield,
  kYieldFrom,
  kCompare,
  kCall,
  kFormattedValue,
  kJoinedStr,
  kConstant,
  kAttribute,
  kSubscript,
  kStarred,
  kName,
  kList,
  kTuple,
  kSlice
};

struct Expr {
  ExprKind kind;
  ExprContext ctx = ExprContext::kLoad;  // for Attribute, Subscript, Starred, Name, List, Tuple
  // Set by the parser on an expression that was written inside parentheses of its own.
  bool parenthesized = false;
  TextRange range;
  template <typename T>
  const T* as() const {
    return static_cast<const T*>(this);
  }
  template <typename T>
  T* as() {
    return static_cast<T*>(this);
  }
};

struct BoolOpExpr : Expr {
  BoolOperator op;
  List<Expr> values;
};
struct NamedExpr : Expr {
  Expr* target;
  Expr* value;
};
struct BinOpExpr : Expr {
  Expr* left;
  Operator op;
  Expr* right;
};
struct UnaryOpExpr : Expr {
  UnaryOperator op;
  Expr* operand;
};
struct Arguments;
struct LambdaExpr : Expr {
  Arguments* args;
  Expr* body;
};
struct IfExpExpr : Expr {
  Expr* test;
  Expr* body;
  Expr* orelse;
};
struct DictExpr : Expr {
  List<Expr> keys;  // a null key is a "**" item
  List<Expr> values;
};
struct SetExpr : Expr {
  List<Expr> elts;
};
struct Comprehension {
  Expr* target;
  Expr* iter;
  List<Expr> ifs;
  bool is_async;
};
struct ComprehensionExpr : Expr {  // ListComp, SetComp, GeneratorExp (value unused), DictComp
  Expr* elt;                       // the key of a DictComp
  Expr* value;                     // DictComp only
  List<Comprehension> generators;
};
struct AwaitExpr : Expr {  // Await, Yield (value optional), YieldFrom
  Expr* value;
};
struct CompareExpr : Expr {
  Expr* left;
  Array<CmpOperator> ops;
  List<Expr> comparators;
};
struct Keyword {
  Identifier arg;  // empty text for "**" unpacking
  bool has_arg;
  Expr* value;
  TextRange range;
};
struct CallExpr : Expr {
  Expr* func;
  List<Expr> args;
  List<Keyword> keywords;
};
struct FormattedValueExpr : Expr {
  Expr* value;
  int32_t conversion;  // -1, 's', 'r' or 'a'
  Expr* format_spec;   // a JoinedStr or null
};
struct JoinedStrExpr : Expr {
  List<Expr> values;       // Constant and FormattedValue parts
  Array<TextRange> parts;  // each literal of an implicit concatenation (empty when single)
};
enum class ConstantKind : uint8_t {
  kNone,
  kTrue,
  kFalse,
  kEllipsis,
  kStr,
  kBytes,
  kInt,
  kFloat,
  kComplex
};
struct ConstantExpr : Expr {
  ConstantKind constant;
  bool u_prefix;  // a string written with the "u" prefix (CPython's kind "u")
  // kStr: the value text (UTF-8, escapes resolved); kBytes: the bytes; numbers: the source text.
  std::string_view value;
  Array<TextRange> parts;  // each literal of an implicit concatenation (empty when single)
};
struct AttributeExpr : Expr {
  Expr* value;
  Identifier attr;
};
struct SubscriptExpr : Expr {
  Expr* value;
  Expr* slice;
};
struct StarredExpr : Expr {
  Expr* value;
};
struct NameExpr : Expr {
  std::string_view id;
};
struct SequenceExpr : Expr {  // List, Tuple
  List<Expr> elts;
};
struct SliceExpr : Expr {
  Expr* lower;
  Expr* upper;
  Expr* step;
};

// Parameters.
struct Arg {
  Identifier arg;
  Expr* annotation;  // optional
  TextRange range;   // from the name (or the star of a star parameter) to the end of annotation
};
struct Arguments {
  List<Arg> posonlyargs;
  List<Arg> args;
  Arg* vararg;
  List<Arg> kwonlyargs;
  List<Expr> kw_defaults;  // one per keyword-only parameter, null when it has none
  Arg* kwarg;
  List<Expr> defaults;  // of the last positional parameters
  // The parameter list with both parentheses; for a lambda from its first parameter to the end of
  // its last one. Empty (0..0) for a lambda without parameters.
  TextRange range;
  bool has_range;
};

// Patterns.
// The struct of each kind: MatchValuePattern (MatchValue, MatchSingleton), MatchSequencePattern
// (MatchSequence, MatchOr), MatchMappingPattern, MatchClassPattern, MatchAsPattern (MatchAs,
// MatchStar).
enum class PatternKind : uint8_t {
  kMatchValue,
  kMatchSingleton,
  kMatchSequence,
  kMatchMapping,
  kMatchClass,
  kMatchStar,
  kMatchAs,
  kMatchOr
};
struct Pattern {
  PatternKind kind;
  TextRange range;
  template <typename T>
  const T* as() const {
    return static_cast<const T*>(this);
  }
};
struct MatchValuePattern : Pattern {  // MatchValue and MatchSingleton (a Constant)
  Expr* value;
};
struct MatchSequencePattern : Pattern {  // MatchSequence and MatchOr
  List<Pattern> patterns;
};
struct MatchMappingPattern : Pattern {
  List<Expr> keys;
  List<Pattern> patterns;
  Identifier rest;  // empty text when absent
  bool has_rest;
};
struct MatchClassPattern : Pattern {
  Expr* cls;
  List<Pattern> patterns;
  Array<Identifier> kwd_attrs;
  List<Pattern> kwd_patterns;
};
struct MatchAsPattern : Pattern {  // MatchAs (pattern optional, name optional) and MatchStar
  Pattern* pattern;
  Identifier name;
  bool has_name;
};

// Type parameters.
enum class TypeParamKind : uint8_t { kTypeVar, kParamSpec, kTypeVarTuple };
struct TypeParam {
  TypeParamKind kind;
  Identifier name;
  Expr* bound;  // TypeVar only
  Expr* default_value;
  TextRange range;
};

struct Stmt;
struct Alias {
  Identifier name;  // a dotted name as one text; "*" for a star import
  Identifier asname;
  bool has_asname;
  TextRange range;
};
struct WithItem {
  Expr* context_expr;
  Expr* optional_vars;
};
struct ExceptHandler {
  Expr* type;
  Identifier name;
  bool has_name;
  List<Stmt> body;
  TextRange range;
};
struct MatchCase {
  Pattern* pattern;
  Expr* guard;
  List<Stmt> body;
};

// The struct of each kind: FunctionDefStmt (also async), ClassDefStmt, ReturnStmt, DeleteStmt,
// AssignStmt, TypeAliasStmt, AugAssignStmt, AnnAssignStmt, ForStmt (also async), WhileStmt, IfStmt,
// WithStmt (also async), MatchStmt, RaiseStmt, TryStmt (also TryStar), AssertStmt, ImportStmt,
// ImportFromStmt, GlobalStmt (also Nonlocal), ExprStmt; Pass, Break and Continue are plain Stmt.
enum class StmtKind : uint8_t {
  kFunctionDef,
  kAsyncFunctionDef,
  kClassDef,
  kReturn,
  kDelete,
  kAssign,
  kTypeAlias,
  kAugAssign,
  kAnnAssign,
  kFor,
  kAsyncFor,
  kWhile,
  kIf,
  kWith,
  kAsyncWith,
  kMatch,
  kRaise,
  kTry,
  kTryStar,
  kAssert,
  kImport,
  kImportFrom,
  kGlobal,
  kNonlocal,
  kExpr,
  kPass,
  kBreak,
  kContinue
};

struct Stmt {
  StmtKind kind;
  TextRange range;
  template <typename T>
  const T* as() const {
    return static_cast<const T*>(this);
  }
  template <typename T>
  T* as() {
    return static_cast<T*>(this);
  }
};

struct FunctionDefStmt : Stmt {  // FunctionDef, AsyncFunctionDef
  Identifier name;
  List<TypeParam> type_params;
  Arguments* args;
  List<Stmt> body;
  List<Expr> decorator_list;  // decorator expressions, without their "@"
  Expr* returns;              // optional
};
struct ClassDefStmt : Stmt {
  Identifier name;
  List<TypeParam> type_params;
  List<Expr> bases;
  List<Keyword> keywords;
  List<Stmt> body;
  List<Expr> decorator_list;
};
struct ReturnStmt : Stmt {
  Expr* value;  // optional
};
struct ExprStmt : Stmt {
  Expr* value;
};
struct DeleteStmt : Stmt {
  List<Expr> targets;
};
struct AssignStmt : Stmt {
  List<Expr> targets;
  Expr* value;
};
struct TypeAliasStmt : Stmt {
  Expr* name;
  List<TypeParam> type_params;
  Expr* value;
};
struct AugAssignStmt : Stmt {
  Expr* target;
  Operator op;
  Expr* value;
};
struct AnnAssignStmt : Stmt {
  Expr* target;
  Expr* annotation;
  Expr* value;  // optional
  bool simple;
};
struct ForStmt : Stmt {  // For, AsyncFor
  Expr* target;
  Expr* iter;
  List<Stmt> body;
  List<Stmt> orelse;
};
struct WhileStmt : Stmt {
  Expr* test;
  List<Stmt> body;
  List<Stmt> orelse;
};
struct IfStmt : Stmt {
  Expr* test;
  List<Stmt> body;
  List<Stmt> orelse;  // an elif clause is one IfStmt here with is_elif set
  bool is_elif;
};
struct WithStmt : Stmt {  // With, AsyncWith
  List<WithItem> items;
  List<Stmt> body;
};
struct MatchStmt : Stmt {
  Expr* subject;
  List<MatchCase> cases;
};
struct RaiseStmt : Stmt {
  Expr* exc;
  Expr* cause;
};
struct TryStmt : Stmt {  // Try, TryStar
  List<Stmt> body;
  List<ExceptHandler> handlers;
  List<Stmt> orelse;
  List<Stmt> finalbody;
};
struct AssertStmt : Stmt {
  Expr* test;
  Expr* msg;
};
struct ImportStmt : Stmt {
  List<Alias> names;
};
struct ImportFromStmt : Stmt {
  Identifier module;  // dotted name as one text; empty when absent
  bool has_module;
  List<Alias> names;
  uint32_t level;
};
struct GlobalStmt : Stmt {  // Global, Nonlocal
  Array<Identifier> names;
};

}  // namespace tolvo::parser

#endif  // TOLVO_PARSER_SRC_SYNTAX_TREE_H_
