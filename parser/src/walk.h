// Statement walks: a visitor sees a statement, then the statements of its nested bodies in
// source order; expressions (lambdas, decorators, defaults, annotations) are never entered.
//
// A visitor is any object with `void visit_stmt(const Stmt& stmt)` that calls `walk_stmt(*this,
// stmt)` itself to descend (or not, to prune). Nesting is bounded by the parser, so the recursion
// here is too.
#ifndef TOLVO_PARSER_SRC_WALK_H_
#define TOLVO_PARSER_SRC_WALK_H_

#include "parser/src/syntax_tree.h"

namespace tolvo::parser {

// Visits each statement of `body` in order.
template <typename Visitor>
void walk_body(Visitor& visitor, const List<Stmt>& body) {
  for (const Stmt* stmt : body) visitor.visit_stmt(*stmt);
}

// An elif clause is an If inside the orelse of the one before: its bodies belong to the if
// statement that contains it and the clause itself is not visited as a statement.
template <typename Visitor>
void walk_if_clauses(Visitor& visitor, const IfStmt& stmt) {
  const IfStmt* clause = &stmt;
  while (true) {
    walk_body(visitor, clause->body);
    const List<Stmt>& orelse = clause->orelse;
    if (orelse.size() == 1 && orelse[0]->kind == StmtKind::kIf &&
        orelse[0]->template as<IfStmt>()->is_elif) {
      clause = orelse[0]->template as<IfStmt>();
    } else {
      walk_body(visitor, orelse);
      return;
    }
  }
}

// Visits the statements of the nested bodies of `stmt` in this order: a function or class
// definition's body; a loop's body then its else body; an if statement's body then each elif and
// else body; a with statement's body; each case body of a match; a try statement's body, each
// handler's body, the else body, the finally body. Other statements have none.
template <typename Visitor>
void walk_stmt(Visitor& visitor, const Stmt& stmt) {
  switch (stmt.kind) {
    case StmtKind::kFunctionDef:
    case StmtKind::kAsyncFunctionDef:
      walk_body(visitor, stmt.as<FunctionDefStmt>()->body);
      break;
    case StmtKind::kClassDef:
      walk_body(visitor, stmt.as<ClassDefStmt>()->body);
      break;
    case StmtKind::kFor:
    case StmtKind::kAsyncFor:
      walk_body(visitor, stmt.as<ForStmt>()->body);
      walk_body(visitor, stmt.as<ForStmt>()->orelse);
      break;
    case StmtKind::kWhile:
      walk_body(visitor, stmt.as<WhileStmt>()->body);
      walk_body(visitor, stmt.as<WhileStmt>()->orelse);
      break;
    case StmtKind::kIf:
      walk_if_clauses(visitor, *stmt.as<IfStmt>());
      break;
    case StmtKind::kWith:
    case StmtKind::kAsyncWith:
      walk_body(visitor, stmt.as<WithStmt>()->body);
      break;
    case StmtKind::kMatch:
      for (const MatchCase* c : stmt.as<MatchStmt>()->cases) walk_body(visitor, c->body);
      break;
    case StmtKind::kTry:
    case StmtKind::kTryStar: {
      const TryStmt* s = stmt.as<TryStmt>();
      walk_body(visitor, s->body);
      for (const ExceptHandler* h : s->handlers) walk_body(visitor, h->body);
      walk_body(visitor, s->orelse);
      walk_body(visitor, s->finalbody);
      break;
    }
    default:
      break;
  }
}

}  // namespace tolvo::parser

#endif  // TOLVO_PARSER_SRC_WALK_H_
