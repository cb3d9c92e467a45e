// The per-file extraction: from one parsed file, every function definition (the resolvers among
// them) and every feature class, with their locations.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "ast/src/ast_types.h"
#include "ast/src/location.h"
#include "ast/src/parser_cache_types.h"
#include "parser/src/syntax_tree.h"

namespace tolvo::ast {

// The name map and the value map of one call's keyword arguments.
struct KeywordLocationMaps {
  LocationMap names;   // keyword -> the name as written
  LocationMap values;  // keyword -> the value expression
};

// The places of the named keyword arguments of one call, all located in the file of `uri`. A
// keyword's name is searched as written between the keyword's start and its value; a keyword whose
// name is not found there (an identifier written in a form that normalises to another text) is
// left out of both maps.
KeywordLocationMaps keyword_location_maps(const parser::List<parser::Keyword>& keywords,
                                          const SourceContext& context, const Uri& uri);

// The local names under which the import map binds any of `symbols` imported from any of
// `modules` (exact texts).
TextSet collect_import_names_for_symbols_from_map(const ImportMap& import_map,
                                                  std::initializer_list<std::string_view> modules,
                                                  std::initializer_list<std::string_view> symbols);

// The first decorator that is a plain name, or a call of a plain name, whose text is in `names`;
// null when none is.
const parser::Expr* recognised_decorator(const parser::List<parser::Expr>& decorators,
                                         const TextSet& names);

// The value of a single plain string literal with its escapes resolved and its line breaks as the
// file wrote them (CPython's value turns CR LF and lone CR into LF); none for any other
// expression, an implicit concatenation, bytes or an f-string among them.
std::optional<std::string> plain_string_value(const parser::Expr& expr, std::string_view source);

// Every class and function definition below a list of statements, in source pre-order, an
// enclosing definition before the ones inside it. Expressions are not entered.
class DefinitionCollector {
 public:
  void visit_stmt(const parser::Stmt& stmt);

  std::vector<const parser::ClassDefStmt*> class_defs;
  std::vector<const parser::FunctionDefStmt*> function_defs;
};

// Every return statement below a list of statements, nested definitions included, in source
// pre-order.
class ReturnStatementCollector {
 public:
  void visit_stmt(const parser::Stmt& stmt);

  std::vector<const parser::ReturnStmt*> return_stmts;
};

// One record per function definition of `function_defs`, in that order, each carrying `module`
// and located in the file of `uri`.
std::vector<ResolverAST> collect_function_asts(
    const ParsedFileCache& file, const std::vector<const parser::FunctionDefStmt*>& function_defs,
    std::string_view module, const Uri& uri);

// Everything extracted from one parsed file whose module is named `module`. Never fails: when the
// file's path gives no URI, every construct is left out.
ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& file,
                                                 std::string_view module);

}  // namespace tolvo::ast
