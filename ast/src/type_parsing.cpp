#include "ast/src/type_parsing.h"

#include <cstring>

#include "parser/src/parser.h"
#include "parser/src/walk.h"

namespace tolvo::ast {
namespace {

using parser::Expr;
using parser::ExprKind;
using parser::Stmt;
using parser::StmtKind;

Location located(const Uri& uri, const SourceContext& context, parser::TextRange range) {
  return Location{uri, context.range(range)};
}

// The dict literal keywords of a decorator call: keyword -> string key -> the key, and -> its
// value. Keys that are not one plain string literal, and "**" items, are skipped; the last of
// repeated keys wins; nested dicts are not entered.
void dict_keyword_maps(const parser::List<parser::Keyword>& keywords, const SourceContext& context,
                       const Uri& uri, ResolverAST& record) {
  for (const parser::Keyword* keyword : keywords) {
    if (!keyword->has_arg || keyword->value->kind != ExprKind::kDict) continue;
    const auto* dict = keyword->value->as<parser::DictExpr>();
    LocationMap key_names;
    LocationMap key_values;
    for (uint32_t i = 0; i < dict->keys.size(); ++i) {
      const Expr* key = dict->keys[i];
      if (key == nullptr) continue;
      std::optional<std::string> text = plain_string_value(*key, context.source());
      if (!text) continue;
      key_names.insert_or_assign(*text, located(uri, context, key->range));
      key_values.insert_or_assign(std::move(*text), located(uri, context, dict->values[i]->range));
    }
    if (key_names.empty()) continue;
    std::string name(keyword->arg.text);
    record.kwarg_dict_key_names.insert_or_assign(name, std::move(key_names));
    record.kwarg_dict_values.insert_or_assign(std::move(name), std::move(key_values));
  }
}

void add_parameter(const parser::Arg& arg, const SourceContext& context, const Uri& uri,
                   ResolverAST& record) {
  FunctionArgAST parameter{std::string(arg.arg.text), located(uri, context, arg.range),
                           std::nullopt};
  if (arg.annotation != nullptr) {
    parameter.annotation = located(uri, context, arg.annotation->range);
  }
  record.args_in_order.push_back(parameter.arg_name);
  record.args.insert_or_assign(parameter.arg_name, std::move(parameter));
}

// The colon that ends the signature: the first one between the parameter list and the body.
std::optional<Location> signature_colon(const parser::FunctionDefStmt& function,
                                        const SourceContext& context, const Uri& uri) {
  uint32_t start = function.args->range.end;
  uint32_t end = function.body[0]->range.start;
  std::string_view source = context.source();
  if (start >= end || end > source.size()) return std::nullopt;
  const void* colon = std::memchr(source.data() + start, ':', end - start);
  if (colon == nullptr) return std::nullopt;
  auto offset = static_cast<uint32_t>(static_cast<const char*>(colon) - source.data());
  return located(uri, context, {offset, offset + 1});
}

ResolverAST function_record(const parser::FunctionDefStmt& function, std::string_view module,
                            const TextSet& resolver_names, const SourceContext& context,
                            const Uri& uri) {
  ResolverAST record;
  record.module = module;
  record.resolver_name = function.name.text;
  record.resolver_name_location = located(uri, context, function.name.range);

  const parser::Arguments& parameters = *function.args;
  for (const parser::Arg* arg : parameters.posonlyargs) add_parameter(*arg, context, uri, record);
  for (const parser::Arg* arg : parameters.args) add_parameter(*arg, context, uri, record);
  if (parameters.vararg != nullptr) add_parameter(*parameters.vararg, context, uri, record);
  for (const parser::Arg* arg : parameters.kwonlyargs) add_parameter(*arg, context, uri, record);
  if (parameters.kwarg != nullptr) add_parameter(*parameters.kwarg, context, uri, record);

  if (function.returns != nullptr) {
    record.return_annotation = located(uri, context, function.returns->range);
  } else {
    record.missing_return_annotation = signature_colon(function, context, uri);
  }

  ReturnStatementCollector returns;
  parser::walk_body(returns, function.body);
  record.return_statements.reserve(returns.return_stmts.size());
  for (const parser::ReturnStmt* statement : returns.return_stmts) {
    record.return_statements.push_back(located(uri, context, statement->range));
  }

  record.body =
      located(uri, context, {function.body[0]->range.start, function.body.end()[-1]->range.end});
  for (const Stmt* statement : function.body) {
    if (statement->kind != StmtKind::kReturn) continue;
    if (const Expr* value = statement->as<parser::ReturnStmt>()->value) {
      record.return_arg = located(uri, context, value->range);
    }
    break;
  }

  if (const Expr* decorator = recognised_decorator(function.decorator_list, resolver_names)) {
    record.decorator_location = located(uri, context, decorator->range);
    if (decorator->kind == ExprKind::kCall) {
      const auto& keywords = decorator->as<parser::CallExpr>()->keywords;
      KeywordLocationMaps maps = keyword_location_maps(keywords, context, uri);
      record.kwarg_names = std::move(maps.names);
      record.kwargs = std::move(maps.values);
      dict_keyword_maps(keywords, context, uri, record);
    }
  }
  return record;
}

}  // namespace

KeywordLocationMaps keyword_location_maps(const parser::List<parser::Keyword>& keywords,
                                          const SourceContext& context, const Uri& uri) {
  KeywordLocationMaps maps;
  std::string_view source = context.source();
  for (const parser::Keyword* keyword : keywords) {
    if (!keyword->has_arg) continue;
    uint32_t start = keyword->range.start;
    uint32_t value_start = keyword->value->range.start;
    if (start >= value_start || value_start > source.size()) continue;
    std::string_view name = keyword->arg.text;
    size_t found = source.substr(start, value_start - start).find(name);
    if (found == std::string_view::npos) continue;
    auto name_start = static_cast<uint32_t>(start + found);
    auto name_end = static_cast<uint32_t>(name_start + name.size());
    maps.names.insert_or_assign(std::string(name), located(uri, context, {name_start, name_end}));
    maps.values.insert_or_assign(std::string(name), located(uri, context, keyword->value->range));
  }
  return maps;
}

TextSet collect_import_names_for_symbols_from_map(const ImportMap& import_map,
                                                  std::initializer_list<std::string_view> modules,
                                                  std::initializer_list<std::string_view> symbols) {
  TextSet names;
  if (import_map.empty()) return names;
  for (std::string_view module : modules) {
    auto imported = import_map.find(module);
    if (imported == import_map.end()) continue;
    for (std::string_view symbol : symbols) {
      auto locals = imported->second.find(symbol);
      if (locals == imported->second.end()) continue;
      names.insert(locals->second.begin(), locals->second.end());
    }
  }
  return names;
}

const parser::Expr* recognised_decorator(const parser::List<parser::Expr>& decorators,
                                         const TextSet& names) {
  if (names.empty()) return nullptr;
  for (const Expr* decorator : decorators) {
    const Expr* callee = decorator;
    if (callee->kind == ExprKind::kCall) callee = callee->as<parser::CallExpr>()->func;
    if (callee->kind != ExprKind::kName) continue;
    if (names.contains(callee->as<parser::NameExpr>()->id)) return decorator;
  }
  return nullptr;
}

std::optional<std::string> plain_string_value(const parser::Expr& expr, std::string_view source) {
  if (expr.kind != ExprKind::kConstant) return std::nullopt;
  const auto* constant = expr.as<parser::ConstantExpr>();
  if (constant->constant != parser::ConstantKind::kStr || !constant->parts.empty()) {
    return std::nullopt;
  }
  std::string_view written = source.substr(expr.range.start, expr.range.end - expr.range.start);
  // Only a carriage return inside the literal makes CPython's value differ from the written one.
  if (written.find('\r') == std::string_view::npos) return std::string(constant->value);
  return parser::string_value_as_written(written);
}

void DefinitionCollector::visit_stmt(const parser::Stmt& stmt) {
  if (stmt.kind == StmtKind::kClassDef) {
    class_defs.push_back(stmt.as<parser::ClassDefStmt>());
  } else if (stmt.kind == StmtKind::kFunctionDef || stmt.kind == StmtKind::kAsyncFunctionDef) {
    function_defs.push_back(stmt.as<parser::FunctionDefStmt>());
  }
  parser::walk_stmt(*this, stmt);
}

void ReturnStatementCollector::visit_stmt(const parser::Stmt& stmt) {
  if (stmt.kind == StmtKind::kReturn) return_stmts.push_back(stmt.as<parser::ReturnStmt>());
  parser::walk_stmt(*this, stmt);
}

std::vector<ResolverAST> collect_function_asts(
    const ParsedFileCache& file, const std::vector<const parser::FunctionDefStmt*>& function_defs,
    std::string_view module, const Uri& uri) {
  TextSet resolver_names = collect_import_names_for_symbols_from_map(
      file.import_map(), {"tolvo", "tolvo.features"}, {"online", "offline", "stream"});
  SourceContext context(file.source());
  std::vector<ResolverAST> functions;
  functions.reserve(function_defs.size());
  for (const parser::FunctionDefStmt* function : function_defs) {
    functions.push_back(function_record(*function, module, resolver_names, context, uri));
  }
  return functions;
}

ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& file,
                                                 std::string_view module) {
  ParsedAstFile result;
  DefinitionCollector definitions;
  parser::walk_body(definitions, file.module_statements());
  // One URI for the whole file, so that every construct is located or none is.
  std::optional<Uri> uri = file_uri(file.path());
  if (!uri) return result;
  result.functions = collect_function_asts(file, definitions.function_defs, module, *uri);
  for (const ResolverAST& function : result.functions) {
    if (function.decorator_location) result.resolvers.push_back(function);
  }
  return result;
}

}  // namespace tolvo::ast
