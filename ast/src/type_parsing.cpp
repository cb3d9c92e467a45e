#include "ast/src/type_parsing.h"

#include <algorithm>
#include <cstring>

#include "ast/src/transient.h"
#include "parser/src/parser.h"
#include "parser/src/walk.h"
#include "utils/src/namespace.h"

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
                            const Uri& uri, uintptr_t stack_floor) {
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

  ReturnStatementCollector returns(stack_floor);
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

// The byte length of the White_Space character that starts at `pos`, or 0 when none does. The
// set is fixed, so its UTF-8 forms are matched byte by byte.
size_t white_space_at(std::string_view text, size_t pos) {
  auto byte = [&](size_t i) { return i < text.size() ? static_cast<uint8_t>(text[i]) : 0; };
  uint8_t first = byte(pos);
  if ((first >= 0x09 && first <= 0x0D) || first == 0x20) return 1;
  if (first == 0xC2) return byte(pos + 1) == 0x85 || byte(pos + 1) == 0xA0 ? 2 : 0;
  uint8_t second = byte(pos + 1);
  uint8_t third = byte(pos + 2);
  switch (first) {
    case 0xE1:  // U+1680
      return second == 0x9A && third == 0x80 ? 3 : 0;
    case 0xE2:  // U+2000..U+200A, U+2028, U+2029, U+202F; U+205F
      if (second == 0x80) {
        return (third >= 0x80 && third <= 0x8A) || third == 0xA8 || third == 0xA9 || third == 0xAF
                   ? 3
                   : 0;
      }
      return second == 0x81 && third == 0x9F ? 3 : 0;
    case 0xE3:  // U+3000
      return second == 0x80 && third == 0x80 ? 3 : 0;
    default:
      return 0;
  }
}

// The byte length of the White_Space character that ends just before `end`, or 0. A lead byte
// never stands inside another character, so a match of the last two or three bytes is one.
size_t white_space_before(std::string_view text, size_t end) {
  if (end >= 1 && white_space_at(text, end - 1) == 1) return 1;
  if (end >= 2 && white_space_at(text, end - 2) == 2) return 2;
  if (end >= 3 && white_space_at(text, end - 3) == 3) return 3;
  return 0;
}

// Calls `word` with each non-empty run of `text` between commas and White_Space characters.
template <typename Word>
void for_each_tag(std::string_view text, Word word) {
  size_t pos = 0;
  size_t start = 0;
  auto flush = [&] {
    if (pos > start) word(text.substr(start, pos - start));
  };
  while (pos < text.size()) {
    size_t separator = text[pos] == ',' ? 1 : white_space_at(text, pos);
    if (separator == 0) {
      ++pos;
      continue;
    }
    flush();
    pos += separator;
    start = pos;
  }
  flush();
}

// The cleaned text of an own-line comment: every leading "#" removed, then White_Space trimmed.
std::string_view comment_line(std::string_view comment) {
  size_t hashes = comment.find_first_not_of('#');
  return trim_white_space(hashes == std::string_view::npos ? std::string_view{}
                                                           : comment.substr(hashes));
}

// True when only spaces, tabs and form feeds stand between the start of the comment's line and
// its "#" (a line starts after a line feed or a carriage return).
bool is_own_line_comment(std::string_view source, uint32_t start) {
  for (uint32_t pos = start; pos > 0; --pos) {
    char c = source[pos - 1];
    if (c == '\n' || c == '\r') return true;
    if (c != ' ' && c != '\t' && c != '\f') return false;
  }
  return true;
}

// One own-line comment as the field comment pass reads it.
struct OwnLineComment {
  uint32_t line = 0;
  std::string_view text;
};

// The own-line comments among sorted comment ranges from `next` on, in order, up to the first
// comment that ends after `limit`; each is read when the pass reaches it.
class OwnLineComments {
 public:
  OwnLineComments(const parser::TextRange* next, const parser::TextRange* end, uint32_t limit,
                  const SourceContext& context)
      : next_(next), end_(end), limit_(limit), context_(context) {
    advance();
  }

  // The next unconsumed own-line comment, or null when none is left.
  const OwnLineComment* peek() const { return has_current_ ? &current_ : nullptr; }

  void advance() {
    std::string_view source = context_.source();
    has_current_ = false;
    for (; next_ != end_ && next_->end <= limit_; ++next_) {
      if (!is_own_line_comment(source, next_->start)) continue;
      current_.line = context_.position(next_->start).line;
      current_.text = comment_line(source.substr(next_->start, next_->end - next_->start));
      has_current_ = true;
      ++next_;
      return;
    }
    next_ = end_;
  }

 private:
  const parser::TextRange* next_;
  const parser::TextRange* end_;
  uint32_t limit_;
  const SourceContext& context_;
  OwnLineComment current_;
  bool has_current_ = false;
};

// The comment data of `name`, or null when it has none. A null rather than a shared empty
// record, which would be a static with a destructor that workers read while the process exits.
const FieldCommentMetadata* comments_of(const FieldCommentMap& comments, std::string_view name) {
  auto found = comments.find(name);
  return found == comments.end() ? nullptr : &found->second;
}

// The offset where the line holding `offset` starts: just after the last LF or CR before it.
uint32_t line_start(std::string_view source, uint32_t offset) {
  while (offset > 0 && source[offset - 1] != '\n' && source[offset - 1] != '\r') --offset;
  return offset;
}

// The offset of the first line break at or after `offset` (a LF, or a CR that no LF follows; the
// CR of a CR LF pair stays on the line), or the end of the text.
uint32_t line_content_end(std::string_view source, uint32_t offset) {
  for (size_t pos = offset; pos < source.size(); ++pos) {
    if (source[pos] == '\n') return static_cast<uint32_t>(pos);
    if (source[pos] == '\r' && (pos + 1 == source.size() || source[pos + 1] != '\n')) {
      return static_cast<uint32_t>(pos);
    }
  }
  return static_cast<uint32_t>(source.size());
}

// The first line of `text` with its line break (CR LF, LF or a lone CR), whose length in bytes
// goes to `break_length`. Without any CR in the text, `has_cr` false, a LF is searched alone.
// (find_first_of would call memchr over the set once per byte.)
std::string_view first_line(std::string_view text, bool has_cr, size_t& break_length) {
  size_t end = 0;
  if (!has_cr) {
    const void* found = std::memchr(text.data(), '\n', text.size());
    end = found == nullptr ? text.size() : static_cast<const char*>(found) - text.data();
  } else {
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
  }
  if (end == text.size()) {
    break_length = 0;
    return text;
  }
  break_length = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
  return text.substr(0, end + break_length);
}

size_t indentation_length(std::string_view content) {
  size_t length = 0;
  while (length < content.size() && (content[length] == ' ' || content[length] == '\t')) ++length;
  return length;
}

// True when the line's content is only White_Space characters, or empty.
bool is_blank(std::string_view content) {
  size_t pos = 0;
  while (size_t length = white_space_at(content, pos)) pos += length;
  return pos == content.size();
}

// The class's lines from the one of its first decorator to its last, with the indentation they
// share removed and blank lines emptied; line breaks stay as written.
std::string class_source(std::string_view source, parser::TextRange class_range) {
  uint32_t start = line_start(source, class_range.start);
  // A byte-order mark belongs to the file, not to the class on its first line.
  if (start == 0 && source.starts_with("\xEF\xBB\xBF")) start = 3;
  uint32_t end = line_content_end(source, class_range.end);
  if (end < source.size()) ++end;  // the line break ending the class's last line
  std::string_view text = source.substr(start, end - start);
  bool has_cr = text.find('\r') != std::string_view::npos;

  // The common indentation: a prefix of the first non-blank line's, narrowed by each later one.
  std::string_view common;
  bool seen_content = false;
  for (std::string_view rest = text; !rest.empty();) {
    size_t break_length;
    std::string_view line = first_line(rest, has_cr, break_length);
    rest.remove_prefix(line.size());
    std::string_view content = line.substr(0, line.size() - break_length);
    if (is_blank(content)) continue;
    std::string_view indentation = content.substr(0, indentation_length(content));
    if (!seen_content) {
      common = indentation;
      seen_content = true;
      continue;
    }
    size_t shared = 0;
    while (shared < common.size() && shared < indentation.size() &&
           common[shared] == indentation[shared]) {
      ++shared;
    }
    common = common.substr(0, shared);
  }

  std::string dedented;
  dedented.reserve(text.size());
  for (std::string_view rest = text; !rest.empty();) {
    size_t break_length;
    std::string_view line = first_line(rest, has_cr, break_length);
    rest.remove_prefix(line.size());
    std::string_view content = line.substr(0, line.size() - break_length);
    if (!is_blank(content)) dedented += content.substr(common.size());
    dedented += line.substr(content.size());
  }
  return dedented;
}

// The decorator's namespace: the value of its keyword "name" when that is one plain string
// literal, else the snake_case class name.
std::string class_namespace(const Expr& decorator, std::string_view class_name,
                            std::string_view source) {
  if (decorator.kind == ExprKind::kCall) {
    for (const parser::Keyword* keyword : decorator.as<parser::CallExpr>()->keywords) {
      if (!keyword->has_arg || keyword->arg.text != "name") continue;
      if (std::optional<std::string> value = plain_string_value(*keyword->value, source)) {
        return std::move(*value);
      }
    }
  }
  return utils::to_snake_case(class_name);
}

// The value of a field statement: its call's place and keyword maps when it is a call.
void set_call_maps(const Expr& value, const SourceContext& context, const Uri& uri,
                   FeatureFieldAST& record) {
  if (value.kind != ExprKind::kCall) {
    record.kwarg_names.clear();
    record.kwargs.clear();
    return;
  }
  KeywordLocationMaps maps =
      keyword_location_maps(value.as<parser::CallExpr>()->keywords, context, uri);
  record.kwarg_names = std::move(maps.names);
  record.kwargs = std::move(maps.values);
}

// The annotated fields in body order, then the fields by name: the first annotated statement of a
// name, whose value and keyword maps each later plain assignment of that name replaces.
void add_fields(const std::vector<const Stmt*>& statements, const FieldCommentMap& comments,
                const SourceContext& context, const Uri& uri, FeatureClassAST& record) {
  for (const Stmt* statement : statements) {
    if (statement->kind != StmtKind::kAnnAssign) continue;
    const auto* assignment = statement->as<parser::AnnAssignStmt>();
    std::string_view name = assignment->target->as<parser::NameExpr>()->id;
    FeatureFieldAST field =
        new_feature_field_ast(std::string(name), located(uri, context, assignment->target->range),
                              comments_of(comments, name));
    field.annotation = located(uri, context, assignment->annotation->range);
    if (assignment->value != nullptr && assignment->value->kind == ExprKind::kCall) {
      field.feature_call = located(uri, context, assignment->value->range);
      set_call_maps(*assignment->value, context, uri, field);
    }
    record.annotations.push_back(std::move(field));
  }
  for (const FeatureFieldAST& field : record.annotations) {
    record.fields.try_emplace(field.field_name, field);
  }
  for (const Stmt* statement : statements) {
    if (statement->kind != StmtKind::kAssign) continue;
    const auto* assignment = statement->as<parser::AssignStmt>();
    const Expr& target = *assignment->targets[0];
    std::string_view name = target.as<parser::NameExpr>()->id;
    auto existing = record.fields.find(name);
    if (existing == record.fields.end()) {
      existing = record.fields
                     .try_emplace(std::string(name),
                                  new_feature_field_ast(std::string(name),
                                                        located(uri, context, target.range),
                                                        comments_of(comments, name)))
                     .first;
    }
    FeatureFieldAST& field = existing->second;
    field.feature_call = located(uri, context, assignment->value->range);
    set_call_maps(*assignment->value, context, uri, field);
  }
}

std::optional<FeatureClassAST> feature_class_record(const parser::ClassDefStmt& class_def,
                                                    const ParsedFileCache& file,
                                                    std::string_view module,
                                                    const TextSet& feature_names,
                                                    const SourceContext& context, const Uri& uri) {
  const Expr* decorator = recognised_decorator(class_def.decorator_list, feature_names);
  if (decorator == nullptr) return std::nullopt;
  std::string_view source = context.source();

  FeatureClassAST record;
  record.module = module;
  record.namespace_ = class_namespace(*decorator, class_def.name.text, source);
  record.class_name = class_def.name.text;
  record.source = class_source(source, class_def.range);
  record.class_name_location = located(uri, context, class_def.name.range);
  uint32_t name_start = class_def.name.range.start;
  record.class_definition_location =
      located(uri, context, {line_start(source, name_start), line_content_end(source, name_start)});
  record.decorator_location = located(uri, context, decorator->range);
  if (decorator->kind == ExprKind::kCall) {
    KeywordLocationMaps maps =
        keyword_location_maps(decorator->as<parser::CallExpr>()->keywords, context, uri);
    record.kwarg_names = std::move(maps.names);
    record.kwargs = std::move(maps.values);
  }

  FeatureFieldStatementCollector collector;
  parser::walk_body(collector, class_def.body);
  FieldCommentMap comments;
  if (!collector.field_statements.empty()) {
    comments = collect_field_comment_metadata(class_def, collector.field_statements, context,
                                              file.comment_ranges());
  }
  add_fields(collector.field_statements, comments, context, uri, record);
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
  if (parser::below_stack_floor(stack_floor_)) throw ThreadStackExhausted();
  if (stmt.kind == StmtKind::kClassDef) {
    class_defs.push_back(stmt.as<parser::ClassDefStmt>());
  } else if (stmt.kind == StmtKind::kFunctionDef || stmt.kind == StmtKind::kAsyncFunctionDef) {
    function_defs.push_back(stmt.as<parser::FunctionDefStmt>());
  }
  parser::walk_stmt(*this, stmt);
}

void ReturnStatementCollector::visit_stmt(const parser::Stmt& stmt) {
  if (parser::below_stack_floor(stack_floor_)) throw ThreadStackExhausted();
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
  uintptr_t stack_floor = parser::stack_floor();
  for (const parser::FunctionDefStmt* function : function_defs) {
    functions.push_back(
        function_record(*function, module, resolver_names, context, uri, stack_floor));
  }
  return functions;
}

std::string_view trim_white_space(std::string_view text) {
  while (size_t length = white_space_at(text, 0)) text.remove_prefix(length);
  while (size_t length = white_space_before(text, text.size())) text.remove_suffix(length);
  return text;
}

std::optional<std::string_view> feature_field_name(const parser::Stmt& stmt) {
  const Expr* target = nullptr;
  if (stmt.kind == StmtKind::kAssign) {
    const auto& targets = stmt.as<parser::AssignStmt>()->targets;
    if (targets.size() == 1) target = targets[0];
  } else if (stmt.kind == StmtKind::kAnnAssign) {
    target = stmt.as<parser::AnnAssignStmt>()->target;
  }
  if (target == nullptr || target->kind != ExprKind::kName) return std::nullopt;
  return target->as<parser::NameExpr>()->id;
}

void FeatureFieldStatementCollector::visit_stmt(const parser::Stmt& stmt) {
  // Only the walked body's own statements can be fields, so the walk does not descend.
  if (feature_field_name(stmt)) field_statements.push_back(&stmt);
}

FieldCommentMap collect_field_comment_metadata(
    const parser::ClassDefStmt& class_def, std::span<const parser::Stmt* const> field_statements,
    const SourceContext& context, const std::vector<parser::TextRange>& comment_ranges) {
  // The candidates: from the first comment that starts inside the class, as long as they end
  // inside it.
  const parser::TextRange* end = comment_ranges.data() + comment_ranges.size();
  const parser::TextRange* first = std::lower_bound(
      comment_ranges.data(), end, class_def.range.start,
      [](parser::TextRange comment, uint32_t start) { return comment.start < start; });
  OwnLineComments candidates(first, end, class_def.range.end, context);

  FieldCommentMap comments;
  std::vector<std::string_view> block;
  for (const Stmt* statement : field_statements) {
    uint32_t statement_line = context.position(statement->range.start).line;
    bool consumed = false;
    uint32_t last_line = 0;
    block.clear();
    for (const OwnLineComment* comment;
         (comment = candidates.peek()) != nullptr && comment->line < statement_line;
         candidates.advance()) {
      if (!consumed || comment->line != last_line + 1) block.clear();
      block.push_back(comment->text);
      consumed = true;
      last_line = comment->line;
    }
    if (consumed && last_line + 1 == statement_line) {
      comments.insert_or_assign(std::string(*feature_field_name(*statement)),
                                parse_field_comment_metadata(block));
    }
  }
  return comments;
}

FieldCommentMetadata parse_field_comment_metadata(std::span<const std::string_view> block) {
  FieldCommentMetadata metadata;
  std::string& comment = metadata.comment.emplace();
  for (size_t i = 0; i < block.size(); ++i) {
    if (i > 0) comment += '\n';
    comment += block[i];
  }

  std::string description;
  bool has_description = false;
  // The joined text's lines: split at LF, a CR before it dropped, no line after a final LF.
  for (std::string_view rest = comment; !rest.empty();) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);

    std::string_view trimmed = trim_white_space(line);
    if (trimmed.starts_with(":owner:")) {
      metadata.owner.emplace(trim_white_space(trimmed.substr(7)));
    } else if (trimmed.starts_with(":tags:")) {
      for_each_tag(trimmed.substr(6),
                   [&](std::string_view tag) { metadata.tags.emplace_back(tag); });
    } else {
      if (has_description) description += '\n';
      description += line;
      has_description = true;
    }
  }
  if (has_description && !trim_white_space(description).empty()) {
    metadata.description = std::move(description);
  }
  return metadata;
}

FeatureFieldAST new_feature_field_ast(std::string field_name, Location field_name_location,
                                      const FieldCommentMetadata* comments) {
  FeatureFieldAST field;
  field.field_name = std::move(field_name);
  field.field_name_location = std::move(field_name_location);
  if (comments != nullptr) {
    field.comment = comments->comment;
    field.description = comments->description;
    field.owner = comments->owner;
    field.tags = comments->tags;
  }
  return field;
}

std::vector<FeatureClassAST> collect_feature_class_asts(
    const ParsedFileCache& file, const std::vector<const parser::ClassDefStmt*>& class_defs,
    std::string_view module, const Uri& uri) {
  std::vector<FeatureClassAST> classes;
  TextSet feature_names = collect_import_names_for_symbols_from_map(
      file.import_map(), {"tolvo.features"}, {"features"});
  if (feature_names.empty()) return classes;
  SourceContext context(file.source());
  for (const parser::ClassDefStmt* class_def : class_defs) {
    if (auto record = feature_class_record(*class_def, file, module, feature_names, context, uri)) {
      classes.push_back(std::move(*record));
    }
  }
  return classes;
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
  result.feature_classes = collect_feature_class_asts(file, definitions.class_defs, module, *uri);
  for (const ResolverAST& function : result.functions) {
    if (function.decorator_location) result.resolvers.push_back(function);
  }
  return result;
}

}  // namespace tolvo::ast
