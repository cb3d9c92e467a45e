// parser-dump: prints what the parser makes of Python files, for comparison with CPython's ast.
//
//   parser-dump --check FILE...   one line per file: "ok PATH" or "error PATH: {error display}";
//                                 exits 0 (an unreadable file is "error PATH: cannot read file")
//   parser-dump FILE              the tree of one file as JSON
//
// JSON shape:
//   {"ok": true, "module": <node>, "comments": [[start, end], ...]}
//   {"ok": false, "error": {"message": "...", "range": [start, end]}}
// A node is an object with "_type" (the CPython ast class name), "range": [start, end] (byte
// offsets, end exclusive) for every node that has a location in CPython, and CPython's fields
// under their names: lists as arrays, absent optionals as null, identifiers as strings, operators
// as {"_type": "Add"} and the like, booleans of CPython's int fields (is_async, simple) as 0/1;
// "ctx" is left out. Where our ranges differ from CPython's: a decorated def or class starts at
// its first "@"; a star parameter starts at its star; a parameter never includes its default.
// Extras:
//   FunctionDef/AsyncFunctionDef/ClassDef: "name_range"
//   keyword: "arg_range" (the name's range; null for "**")
//   arguments: "range" is the parameter list with both parentheses (for a lambda from the first
//     parameter to the end of the last; null for a lambda without parameters)
//   Constant: "value" is a string for str, {"bytes": "<hex>"} for bytes, {"int": "<source>"},
//     {"float": "<source>"} or {"complex": "<source>"} for numbers, true/false/null for
//     True/False/None, {"ellipsis": true} for "..."; "kind" is null or "u"; an implicit
//     concatenation has "parts": [[start, end], ...] (each literal), absent for one literal.
//   JoinedStr: "parts" likewise for an implicit concatenation.
// Strings are JSON-escaped; a lone surrogate from an escape such as "\ud800" is written as \ud800.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "parser/src/parser.h"
#include "parser/src/syntax_tree.h"

namespace tolvo::parser {
namespace {

class JsonWriter {
 public:
  std::string out;

  void raw(std::string_view text) { out.append(text); }
  void string(std::string_view text) {
    out.push_back('"');
    for (size_t i = 0; i < text.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      switch (c) {
        case '"':
          out.append("\\\"");
          break;
        case '\\':
          out.append("\\\\");
          break;
        case '\n':
          out.append("\\n");
          break;
        case '\r':
          out.append("\\r");
          break;
        case '\t':
          out.append("\\t");
          break;
        default:
          if (c < 0x20 || c == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out.append(buffer);
          } else if (c == 0xED && i + 2 < text.size() &&
                     (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0xA0) {
            // A surrogate code point in its three-byte form.
            uint32_t cp = ((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F);
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", cp);
            out.append(buffer);
            i += 2;
          } else {
            out.push_back(char(c));
          }
      }
    }
    out.push_back('"');
  }
  void range(TextRange r) {
    out.append("[" + std::to_string(r.start) + "," + std::to_string(r.end) + "]");
  }
  void begin(std::string_view type) {
    out.append("{\"_type\":");
    string(type);
  }
  void begin(std::string_view type, TextRange r) {
    begin(type);
    key("range");
    range(r);
  }
  void key(std::string_view name) {
    out.append(",\"");
    out.append(name);
    out.append("\":");
  }
  void end() { out.push_back('}'); }
  void null() { out.append("null"); }
  void number(int64_t n) { out.append(std::to_string(n)); }
};

class TreeDumper {
 public:
  explicit TreeDumper(JsonWriter& json) : json_(json) {}

  template <typename T, typename F>
  void list(const List<T>& items, F each) {
    json_.raw("[");
    bool first = true;
    for (T* item : items) {
      if (!first) json_.raw(",");
      first = false;
      each(item);
    }
    json_.raw("]");
  }
  void stmts(const List<Stmt>& body) {
    list(body, [&](Stmt* s) { stmt(s); });
  }
  void exprs(const List<Expr>& items) {
    list(items, [&](Expr* e) { expr(e); });
  }
  void opt_expr(const Expr* e) {
    if (e) {
      expr(e);
    } else {
      json_.null();
    }
  }
  void identifier(const Identifier& id) { json_.string(id.text); }
  void op(std::string_view name) {
    json_.begin(name);
    json_.end();
  }
  void parts(const Array<TextRange>& ranges) {
    if (ranges.empty()) return;
    json_.key("parts");
    json_.raw("[");
    for (uint32_t i = 0; i < ranges.size(); ++i) {
      if (i) json_.raw(",");
      json_.range(ranges[i]);
    }
    json_.raw("]");
  }
  void type_params(const List<TypeParam>& params) {
    list(params, [&](TypeParam* p) {
      static constexpr std::string_view kNames[] = {"TypeVar", "ParamSpec", "TypeVarTuple"};
      json_.begin(kNames[int(p->kind)], p->range);
      json_.key("name");
      identifier(p->name);
      if (p->kind == TypeParamKind::kTypeVar) {
        json_.key("bound");
        opt_expr(p->bound);
      }
      json_.key("default_value");
      opt_expr(p->default_value);
      json_.end();
    });
  }
  void arg(const Arg* a) {
    if (!a) {
      json_.null();
      return;
    }
    json_.begin("arg", a->range);
    json_.key("arg");
    identifier(a->arg);
    json_.key("annotation");
    opt_expr(a->annotation);
    json_.key("type_comment");
    json_.null();
    json_.end();
  }
  void arguments(const Arguments* a) {
    json_.begin("arguments");
    json_.key("range");
    if (a->has_range) {
      json_.range(a->range);
    } else {
      json_.null();
    }
    auto args = [&](const List<Arg>& items) { list(items, [&](Arg* x) { arg(x); }); };
    json_.key("posonlyargs");
    args(a->posonlyargs);
    json_.key("args");
    args(a->args);
    json_.key("vararg");
    arg(a->vararg);
    json_.key("kwonlyargs");
    args(a->kwonlyargs);
    json_.key("kw_defaults");
    list(a->kw_defaults, [&](Expr* e) { opt_expr(e); });
    json_.key("kwarg");
    arg(a->kwarg);
    json_.key("defaults");
    exprs(a->defaults);
    json_.end();
  }
  void keywords(const List<Keyword>& items) {
    list(items, [&](Keyword* k) {
      json_.begin("keyword", k->range);
      json_.key("arg");
      if (k->has_arg) {
        identifier(k->arg);
      } else {
        json_.null();
      }
      json_.key("arg_range");
      if (k->has_arg) {
        json_.range(k->arg.range);
      } else {
        json_.null();
      }
      json_.key("value");
      expr(k->value);
      json_.end();
    });
  }
  void aliases(const List<Alias>& items) {
    list(items, [&](Alias* a) {
      json_.begin("alias", a->range);
      json_.key("name");
      identifier(a->name);
      json_.key("asname");
      if (a->has_asname) {
        identifier(a->asname);
      } else {
        json_.null();
      }
      json_.end();
    });
  }
  void body_fields(const List<Stmt>& body, const List<Stmt>* orelse) {
    json_.key("body");
    stmts(body);
    if (orelse) {
      json_.key("orelse");
      stmts(*orelse);
    }
  }

  void stmt(const Stmt* s) {
    switch (s->kind) {
      case StmtKind::kFunctionDef:
      case StmtKind::kAsyncFunctionDef: {
        auto* f = s->as<FunctionDefStmt>();
        json_.begin(s->kind == StmtKind::kFunctionDef ? "FunctionDef" : "AsyncFunctionDef",
                    s->range);
        json_.key("name");
        identifier(f->name);
        json_.key("name_range");
        json_.range(f->name.range);
        json_.key("args");
        arguments(f->args);
        body_fields(f->body, nullptr);
        json_.key("decorator_list");
        exprs(f->decorator_list);
        json_.key("returns");
        opt_expr(f->returns);
        json_.key("type_comment");
        json_.null();
        json_.key("type_params");
        type_params(f->type_params);
        break;
      }
      case StmtKind::kClassDef: {
        auto* c = s->as<ClassDefStmt>();
        json_.begin("ClassDef", s->range);
        json_.key("name");
        identifier(c->name);
        json_.key("name_range");
        json_.range(c->name.range);
        json_.key("bases");
        exprs(c->bases);
        json_.key("keywords");
        keywords(c->keywords);
        body_fields(c->body, nullptr);
        json_.key("decorator_list");
        exprs(c->decorator_list);
        json_.key("type_params");
        type_params(c->type_params);
        break;
      }
      case StmtKind::kReturn:
        json_.begin("Return", s->range);
        json_.key("value");
        opt_expr(s->as<ReturnStmt>()->value);
        break;
      case StmtKind::kExpr:
        json_.begin("Expr", s->range);
        json_.key("value");
        expr(s->as<ExprStmt>()->value);
        break;
      case StmtKind::kDelete:
        json_.begin("Delete", s->range);
        json_.key("targets");
        exprs(s->as<DeleteStmt>()->targets);
        break;
      case StmtKind::kAssign:
        json_.begin("Assign", s->range);
        json_.key("targets");
        exprs(s->as<AssignStmt>()->targets);
        json_.key("value");
        expr(s->as<AssignStmt>()->value);
        json_.key("type_comment");
        json_.null();
        break;
      case StmtKind::kTypeAlias: {
        auto* t = s->as<TypeAliasStmt>();
        json_.begin("TypeAlias", s->range);
        json_.key("name");
        expr(t->name);
        json_.key("type_params");
        type_params(t->type_params);
        json_.key("value");
        expr(t->value);
        break;
      }
      case StmtKind::kAugAssign: {
        auto* a = s->as<AugAssignStmt>();
        json_.begin("AugAssign", s->range);
        json_.key("target");
        expr(a->target);
        json_.key("op");
        binary_operator(a->op);
        json_.key("value");
        expr(a->value);
        break;
      }
      case StmtKind::kAnnAssign: {
        auto* a = s->as<AnnAssignStmt>();
        json_.begin("AnnAssign", s->range);
        json_.key("target");
        expr(a->target);
        json_.key("annotation");
        expr(a->annotation);
        json_.key("value");
        opt_expr(a->value);
        json_.key("simple");
        json_.number(a->simple ? 1 : 0);
        break;
      }
      case StmtKind::kFor:
      case StmtKind::kAsyncFor: {
        auto* f = s->as<ForStmt>();
        json_.begin(s->kind == StmtKind::kFor ? "For" : "AsyncFor", s->range);
        json_.key("target");
        expr(f->target);
        json_.key("iter");
        expr(f->iter);
        body_fields(f->body, &f->orelse);
        json_.key("type_comment");
        json_.null();
        break;
      }
      case StmtKind::kWhile: {
        auto* w = s->as<WhileStmt>();
        json_.begin("While", s->range);
        json_.key("test");
        expr(w->test);
        body_fields(w->body, &w->orelse);
        break;
      }
      case StmtKind::kIf: {
        auto* i = s->as<IfStmt>();
        json_.begin("If", s->range);
        json_.key("test");
        expr(i->test);
        body_fields(i->body, &i->orelse);
        break;
      }
      case StmtKind::kWith:
      case StmtKind::kAsyncWith: {
        auto* w = s->as<WithStmt>();
        json_.begin(s->kind == StmtKind::kWith ? "With" : "AsyncWith", s->range);
        json_.key("items");
        list(w->items, [&](WithItem* item) {
          json_.begin("withitem");
          json_.key("context_expr");
          expr(item->context_expr);
          json_.key("optional_vars");
          opt_expr(item->optional_vars);
          json_.end();
        });
        body_fields(w->body, nullptr);
        json_.key("type_comment");
        json_.null();
        break;
      }
      case StmtKind::kMatch: {
        auto* m = s->as<MatchStmt>();
        json_.begin("Match", s->range);
        json_.key("subject");
        expr(m->subject);
        json_.key("cases");
        list(m->cases, [&](MatchCase* c) {
          json_.begin("match_case");
          json_.key("pattern");
          pattern(c->pattern);
          json_.key("guard");
          opt_expr(c->guard);
          json_.key("body");
          stmts(c->body);
          json_.end();
        });
        break;
      }
      case StmtKind::kRaise:
        json_.begin("Raise", s->range);
        json_.key("exc");
        opt_expr(s->as<RaiseStmt>()->exc);
        json_.key("cause");
        opt_expr(s->as<RaiseStmt>()->cause);
        break;
      case StmtKind::kTry:
      case StmtKind::kTryStar: {
        auto* t = s->as<TryStmt>();
        json_.begin(s->kind == StmtKind::kTry ? "Try" : "TryStar", s->range);
        json_.key("body");
        stmts(t->body);
        json_.key("handlers");
        list(t->handlers, [&](ExceptHandler* h) {
          json_.begin("ExceptHandler", h->range);
          json_.key("type");
          opt_expr(h->type);
          json_.key("name");
          if (h->has_name) {
            identifier(h->name);
          } else {
            json_.null();
          }
          json_.key("body");
          stmts(h->body);
          json_.end();
        });
        json_.key("orelse");
        stmts(t->orelse);
        json_.key("finalbody");
        stmts(t->finalbody);
        break;
      }
      case StmtKind::kAssert:
        json_.begin("Assert", s->range);
        json_.key("test");
        expr(s->as<AssertStmt>()->test);
        json_.key("msg");
        opt_expr(s->as<AssertStmt>()->msg);
        break;
      case StmtKind::kImport:
        json_.begin("Import", s->range);
        json_.key("names");
        aliases(s->as<ImportStmt>()->names);
        break;
      case StmtKind::kImportFrom: {
        auto* i = s->as<ImportFromStmt>();
        json_.begin("ImportFrom", s->range);
        json_.key("module");
        if (i->has_module) {
          identifier(i->module);
        } else {
          json_.null();
        }
        json_.key("names");
        aliases(i->names);
        json_.key("level");
        json_.number(i->level);
        break;
      }
      case StmtKind::kGlobal:
      case StmtKind::kNonlocal: {
        json_.begin(s->kind == StmtKind::kGlobal ? "Global" : "Nonlocal", s->range);
        json_.key("names");
        json_.raw("[");
        const auto& names = s->as<GlobalStmt>()->names;
        for (uint32_t i = 0; i < names.size(); ++i) {
          if (i) json_.raw(",");
          identifier(names[i]);
        }
        json_.raw("]");
        break;
      }
      case StmtKind::kPass:
        json_.begin("Pass", s->range);
        break;
      case StmtKind::kBreak:
        json_.begin("Break", s->range);
        break;
      case StmtKind::kContinue:
        json_.begin("Continue", s->range);
        break;
    }
    json_.end();
  }

  void binary_operator(Operator o) {
    static constexpr std::string_view kNames[] = {"Add",    "Sub",    "Mult",    "MatMult", "Div",
                                                  "Mod",    "Pow",    "LShift",  "RShift",  "BitOr",
                                                  "BitXor", "BitAnd", "FloorDiv"};
    op(kNames[int(o)]);
  }

  void constant_value(const ConstantExpr* c) {
    switch (c->constant) {
      case ConstantKind::kNone:
        json_.null();
        break;
      case ConstantKind::kTrue:
        json_.raw("true");
        break;
      case ConstantKind::kFalse:
        json_.raw("false");
        break;
      case ConstantKind::kEllipsis:
        json_.raw("{\"ellipsis\":true}");
        break;
      case ConstantKind::kStr:
        json_.string(c->value);
        break;
      case ConstantKind::kBytes: {
        std::string hex;
        static constexpr char kDigits[] = "0123456789abcdef";
        for (char ch : c->value) {
          hex.push_back(kDigits[static_cast<unsigned char>(ch) >> 4]);
          hex.push_back(kDigits[static_cast<unsigned char>(ch) & 15]);
        }
        json_.raw("{\"bytes\":");
        json_.string(hex);
        json_.raw("}");
        break;
      }
      case ConstantKind::kInt:
      case ConstantKind::kFloat:
      case ConstantKind::kComplex:
        json_.raw(c->constant == ConstantKind::kInt     ? "{\"int\":"
                  : c->constant == ConstantKind::kFloat ? "{\"float\":"
                                                        : "{\"complex\":");
        json_.string(c->value);
        json_.raw("}");
        break;
    }
  }

  void comprehensions(const List<Comprehension>& generators) {
    list(generators, [&](Comprehension* c) {
      json_.begin("comprehension");
      json_.key("target");
      expr(c->target);
      json_.key("iter");
      expr(c->iter);
      json_.key("ifs");
      exprs(c->ifs);
      json_.key("is_async");
      json_.number(c->is_async ? 1 : 0);
      json_.end();
    });
  }

  void expr(const Expr* e) {
    switch (e->kind) {
      case ExprKind::kBoolOp: {
        auto* b = e->as<BoolOpExpr>();
        json_.begin("BoolOp", e->range);
        json_.key("op");
        op(b->op == BoolOperator::kAnd ? "And" : "Or");
        json_.key("values");
        exprs(b->values);
        break;
      }
      case ExprKind::kNamedExpr:
        json_.begin("NamedExpr", e->range);
        json_.key("target");
        expr(e->as<NamedExpr>()->target);
        json_.key("value");
        expr(e->as<NamedExpr>()->value);
        break;
      case ExprKind::kBinOp: {
        auto* b = e->as<BinOpExpr>();
        json_.begin("BinOp", e->range);
        json_.key("left");
        expr(b->left);
        json_.key("op");
        binary_operator(b->op);
        json_.key("right");
        expr(b->right);
        break;
      }
      case ExprKind::kUnaryOp: {
        static constexpr std::string_view kNames[] = {"Invert", "Not", "UAdd", "USub"};
        auto* u = e->as<UnaryOpExpr>();
        json_.begin("UnaryOp", e->range);
        json_.key("op");
        op(kNames[int(u->op)]);
        json_.key("operand");
        expr(u->operand);
        break;
      }
      case ExprKind::kLambda:
        json_.begin("Lambda", e->range);
        json_.key("args");
        arguments(e->as<LambdaExpr>()->args);
        json_.key("body");
        expr(e->as<LambdaExpr>()->body);
        break;
      case ExprKind::kIfExp: {
        auto* i = e->as<IfExpExpr>();
        json_.begin("IfExp", e->range);
        json_.key("test");
        expr(i->test);
        json_.key("body");
        expr(i->body);
        json_.key("orelse");
        expr(i->orelse);
        break;
      }
      case ExprKind::kDict: {
        auto* d = e->as<DictExpr>();
        json_.begin("Dict", e->range);
        json_.key("keys");
        list(d->keys, [&](Expr* k) { opt_expr(k); });
        json_.key("values");
        exprs(d->values);
        break;
      }
      case ExprKind::kSet:
        json_.begin("Set", e->range);
        json_.key("elts");
        exprs(e->as<SetExpr>()->elts);
        break;
      case ExprKind::kListComp:
      case ExprKind::kSetComp:
      case ExprKind::kGeneratorExp: {
        auto* c = e->as<ComprehensionExpr>();
        json_.begin(e->kind == ExprKind::kListComp  ? "ListComp"
                    : e->kind == ExprKind::kSetComp ? "SetComp"
                                                    : "GeneratorExp",
                    e->range);
        json_.key("elt");
        expr(c->elt);
        json_.key("generators");
        comprehensions(c->generators);
        break;
      }
      case ExprKind::kDictComp: {
        auto* c = e->as<ComprehensionExpr>();
        json_.begin("DictComp", e->range);
        json_.key("key");
        expr(c->elt);
        json_.key("value");
        expr(c->value);
        json_.key("generators");
        comprehensions(c->generators);
        break;
      }
      case ExprKind::kAwait:
      case ExprKind::kYield:
      case ExprKind::kYieldFrom:
        json_.begin(e->kind == ExprKind::kAwait   ? "Await"
                    : e->kind == ExprKind::kYield ? "Yield"
                                                  : "YieldFrom",
                    e->range);
        json_.key("value");
        opt_expr(e->as<AwaitExpr>()->value);
        break;
      case ExprKind::kCompare: {
        static constexpr std::string_view kNames[] = {"Eq",  "NotEq", "Lt",    "LtE", "Gt",
                                                      "GtE", "Is",    "IsNot", "In",  "NotIn"};
        auto* c = e->as<CompareExpr>();
        json_.begin("Compare", e->range);
        json_.key("left");
        expr(c->left);
        json_.key("ops");
        json_.raw("[");
        for (uint32_t i = 0; i < c->ops.size(); ++i) {
          if (i) json_.raw(",");
          op(kNames[int(c->ops[i])]);
        }
        json_.raw("]");
        json_.key("comparators");
        exprs(c->comparators);
        break;
      }
      case ExprKind::kCall: {
        auto* c = e->as<CallExpr>();
        json_.begin("Call", e->range);
        json_.key("func");
        expr(c->func);
        json_.key("args");
        exprs(c->args);
        json_.key("keywords");
        keywords(c->keywords);
        break;
      }
      case ExprKind::kFormattedValue: {
        auto* f = e->as<FormattedValueExpr>();
        json_.begin("FormattedValue", e->range);
        json_.key("value");
        expr(f->value);
        json_.key("conversion");
        json_.number(f->conversion);
        json_.key("format_spec");
        opt_expr(f->format_spec);
        break;
      }
      case ExprKind::kJoinedStr:
        json_.begin("JoinedStr", e->range);
        json_.key("values");
        exprs(e->as<JoinedStrExpr>()->values);
        parts(e->as<JoinedStrExpr>()->parts);
        break;
      case ExprKind::kConstant: {
        auto* c = e->as<ConstantExpr>();
        json_.begin("Constant", e->range);
        json_.key("value");
        constant_value(c);
        json_.key("kind");
        if (c->u_prefix) {
          json_.string("u");
        } else {
          json_.null();
        }
        parts(c->parts);
        break;
      }
      case ExprKind::kAttribute:
        json_.begin("Attribute", e->range);
        json_.key("value");
        expr(e->as<AttributeExpr>()->value);
        json_.key("attr");
        identifier(e->as<AttributeExpr>()->attr);
        break;
      case ExprKind::kSubscript:
        json_.begin("Subscript", e->range);
        json_.key("value");
        expr(e->as<SubscriptExpr>()->value);
        json_.key("slice");
        expr(e->as<SubscriptExpr>()->slice);
        break;
      case ExprKind::kStarred:
        json_.begin("Starred", e->range);
        json_.key("value");
        expr(e->as<StarredExpr>()->value);
        break;
      case ExprKind::kName:
        json_.begin("Name", e->range);
        json_.key("id");
        json_.string(e->as<NameExpr>()->id);
        break;
      case ExprKind::kList:
      case ExprKind::kTuple:
        json_.begin(e->kind == ExprKind::kList ? "List" : "Tuple", e->range);
        json_.key("elts");
        exprs(e->as<SequenceExpr>()->elts);
        break;
      case ExprKind::kSlice: {
        auto* s = e->as<SliceExpr>();
        json_.begin("Slice", e->range);
        json_.key("lower");
        opt_expr(s->lower);
        json_.key("upper");
        opt_expr(s->upper);
        json_.key("step");
        opt_expr(s->step);
        break;
      }
    }
    json_.end();
  }

  void pattern(const Pattern* p) {
    switch (p->kind) {
      case PatternKind::kMatchValue:
        json_.begin("MatchValue", p->range);
        json_.key("value");
        expr(p->as<MatchValuePattern>()->value);
        break;
      case PatternKind::kMatchSingleton:
        json_.begin("MatchSingleton", p->range);
        json_.key("value");
        constant_value(p->as<MatchValuePattern>()->value->as<ConstantExpr>());
        break;
      case PatternKind::kMatchSequence:
      case PatternKind::kMatchOr:
        json_.begin(p->kind == PatternKind::kMatchSequence ? "MatchSequence" : "MatchOr", p->range);
        json_.key("patterns");
        list(p->as<MatchSequencePattern>()->patterns, [&](Pattern* x) { pattern(x); });
        break;
      case PatternKind::kMatchMapping: {
        auto* m = p->as<MatchMappingPattern>();
        json_.begin("MatchMapping", p->range);
        json_.key("keys");
        exprs(m->keys);
        json_.key("patterns");
        list(m->patterns, [&](Pattern* x) { pattern(x); });
        json_.key("rest");
        if (m->has_rest) {
          identifier(m->rest);
        } else {
          json_.null();
        }
        break;
      }
      case PatternKind::kMatchClass: {
        auto* c = p->as<MatchClassPattern>();
        json_.begin("MatchClass", p->range);
        json_.key("cls");
        expr(c->cls);
        json_.key("patterns");
        list(c->patterns, [&](Pattern* x) { pattern(x); });
        json_.key("kwd_attrs");
        json_.raw("[");
        for (uint32_t i = 0; i < c->kwd_attrs.size(); ++i) {
          if (i) json_.raw(",");
          identifier(c->kwd_attrs[i]);
        }
        json_.raw("]");
        json_.key("kwd_patterns");
        list(c->kwd_patterns, [&](Pattern* x) { pattern(x); });
        break;
      }
      case PatternKind::kMatchStar:
      case PatternKind::kMatchAs: {
        auto* a = p->as<MatchAsPattern>();
        json_.begin(p->kind == PatternKind::kMatchStar ? "MatchStar" : "MatchAs", p->range);
        if (p->kind == PatternKind::kMatchAs) {
          json_.key("pattern");
          if (a->pattern) {
            pattern(a->pattern);
          } else {
            json_.null();
          }
        }
        json_.key("name");
        if (a->has_name) {
          identifier(a->name);
        } else {
          json_.null();
        }
        break;
      }
    }
    json_.end();
  }

 private:
  JsonWriter& json_;
};

bool read_file(const char* path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *out = buffer.str();
  return true;
}

int check(int argc, char** argv) {
  std::string source;
  for (int i = 2; i < argc; ++i) {
    if (!read_file(argv[i], &source)) {
      std::printf("error %s: cannot read file\n", argv[i]);
      continue;
    }
    auto result = parse_module(source);
    if (result) {
      std::printf("ok %s\n", argv[i]);
    } else {
      std::printf("error %s: %s\n", argv[i], display_text(result.error()).c_str());
    }
  }
  return 0;
}

int dump(const char* path) {
  std::string source;
  if (!read_file(path, &source)) {
    std::fprintf(stderr, "parser-dump: cannot read %s\n", path);
    return 1;
  }
  auto result = parse_module(source);
  JsonWriter json;
  if (!result) {
    json.raw("{\"ok\":false,\"error\":{\"message\":");
    json.string(result.error().message);
    json.raw(",\"range\":");
    json.range(result.error().range);
    json.raw("}}");
  } else {
    json.raw("{\"ok\":true,\"module\":");
    json.begin("Module");
    json.key("body");
    TreeDumper dumper(json);
    dumper.stmts(result->body());
    json.key("type_ignores");
    json.raw("[]");
    json.end();
    json.raw(",\"comments\":[");
    bool first = true;
    for (TextRange r : result->comments()) {
      if (!first) json.raw(",");
      first = false;
      json.range(r);
    }
    json.raw("]}");
  }
  json.raw("\n");
  std::fwrite(json.out.data(), 1, json.out.size(), stdout);
  return 0;
}

}  // namespace
}  // namespace tolvo::parser

int main(int argc, char** argv) {
  if (argc >= 2 && std::string_view(argv[1]) == "--check") {
    return tolvo::parser::check(argc, argv);
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: parser-dump FILE | parser-dump --check FILE...\n");
    return 2;
  }
  return tolvo::parser::dump(argv[1]);
}
