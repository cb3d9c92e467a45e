// The per-file extraction: from one parsed file, every function definition (the resolvers among
// them) and every feature class, with their locations.
#pragma once

#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ast/src/ast_types.h"
#include "ast/src/location.h"
#include "ast/src/parser_cache_types.h"
#include "parser/src/syntax_tree.h"
#include "parser/src/thread_stack.h"

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
// enclosing definition before the ones inside it. Expressions are not entered. Throws
// ThreadStackExhausted where the calling thread's stack runs low.
class DefinitionCollector {
 public:
  void visit_stmt(const parser::Stmt& stmt);

  std::vector<const parser::ClassDefStmt*> class_defs;
  std::vector<const parser::FunctionDefStmt*> function_defs;

 private:
  uintptr_t stack_floor_ = parser::stack_floor();
};

// Every return statement below a list of statements, nested definitions included, in source
// pre-order. Throws ThreadStackExhausted where the calling thread's stack runs low.
class ReturnStatementCollector {
 public:
  explicit ReturnStatementCollector(uintptr_t stack_floor) : stack_floor_(stack_floor) {}
  void visit_stmt(const parser::Stmt& stmt);

  std::vector<const parser::ReturnStmt*> return_stmts;

 private:
  uintptr_t stack_floor_;
};

// One record per function definition of `function_defs`, in that order, each carrying `module`
// and located in the file of `uri`.
std::vector<ResolverAST> collect_function_asts(
    const ParsedFileCache& file, const std::vector<const parser::FunctionDefStmt*>& function_defs,
    std::string_view module, const Uri& uri);

// `text` without the characters of the Unicode White_Space set at either end (tab, LF, VT, FF,
// CR, space, U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
std::string_view trim_white_space(std::string_view text);

// The comment data of one field name, from the block of own-line comments directly above it.
struct FieldCommentMetadata {
  // The block's lines joined with "\n".
  std::optional<std::string> comment;
  // The lines that are neither ":owner:" nor ":tags:" lines; absent when they are only white space.
  std::optional<std::string> description;
  // The text after ":owner:" on the block's last owner line, trimmed.
  std::optional<std::string> owner;
  // The words of all ":tags:" lines, split at commas and white space, in order.
  std::vector<std::string> tags;
};

// Field name -> the comment data of its name.
using FieldCommentMap = TextMap<FieldCommentMetadata>;

// The name a class-body statement declares as a field: the target of an assignment to one plain
// name, or of an annotated assignment to a plain name (with or without a value); none for any
// other statement. The view points into the statement's tree.
std::optional<std::string_view> feature_field_name(const parser::Stmt& stmt);

// The field statements standing directly in the body it is walked over, in body order; the
// statements of methods, nested classes and compound statements are not fields of that class.
class FeatureFieldStatementCollector {
 public:
  void visit_stmt(const parser::Stmt& stmt);

  std::vector<const parser::Stmt*> field_statements;
};

// The comment data of the field statements of one class (in body order): for each statement, the
// block of own-line comments on the consecutive lines directly above it, among the comments of
// `comment_ranges` (sorted) that lie inside the class. Each comment belongs to at most the first
// statement below it; of two statements of one name the later block wins.
FieldCommentMap collect_field_comment_metadata(
    const parser::ClassDefStmt& class_def, std::span<const parser::Stmt* const> field_statements,
    const SourceContext& context, const std::vector<parser::TextRange>& comment_ranges);

// The comment data of a non-empty block of cleaned comment lines. `comment` is the lines joined
// with "\n" (present even when empty). The joined text is then read line by line (split at LF, a
// CR before it dropped, no line after a final LF): a line that begins with ":owner:" once trimmed
// sets `owner` (the last such line wins), one that begins with ":tags:" adds its words, and every
// other line, untrimmed, is a description line; `description` is absent when there is none or
// when they join to only white space.
FieldCommentMetadata parse_field_comment_metadata(std::span<const std::string_view> block);

// A field record with its name, the name's place and copies of `comments` (none when null); no
// annotation, no value and empty keyword maps.
FeatureFieldAST new_feature_field_ast(std::string field_name, Location field_name_location,
                                      const FieldCommentMetadata* comments);

// One record per class of `class_defs` (in that order) that carries the `features` decorator
// under a name the file imports it as from tolvo.features, each carrying `module` and located in
// the file of `uri`; other classes are left out. The namespace is the decorator's `name` keyword
// when that is one plain string literal, else the snake_case class name. The source runs from
// the line of the first decorator to the end of the class's last line with its line break
// (lines end at LF, CR LF and a lone CR), without the indentation its non-blank lines share and
// with its blank lines emptied.
std::vector<FeatureClassAST> collect_feature_class_asts(
    const ParsedFileCache& file, const std::vector<const parser::ClassDefStmt*>& class_defs,
    std::string_view module, const Uri& uri);

// Everything extracted from one parsed file whose module is named `module`. Never fails for the
// file's content: when its path gives no URI, every construct is left out. Throws
// ThreadStackExhausted where the calling thread's stack is too small for the file's nesting.
ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& file,
                                                 std::string_view module);

}  // namespace tolvo::ast
