// The records the extraction hands around: plain values that own everything they hold. Copies
// are deep (the URI text of a location is immutable and may be shared, which no holder can tell
// from a copy).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ast/src/location.h"
#include "ast/src/text_map.h"

namespace tolvo::ast {

// Keyword name -> place.
using LocationMap = TextMap<Location>;
// Keyword name -> dict key text -> place.
using NestedLocationMap = TextMap<LocationMap>;

// One field of a feature class.
struct FeatureFieldAST {
  std::string field_name;
  Location field_name_location;
  std::optional<std::string> comment;
  std::optional<std::string> description;
  std::optional<std::string> owner;
  std::vector<std::string> tags;
  std::optional<Location> annotation;
  std::optional<Location> feature_call;
  LocationMap kwarg_names;
  LocationMap kwargs;
};

// One class carrying the recognised feature decorator.
struct FeatureClassAST {
  std::string module;
  std::string namespace_;  // `namespace` is a C++ keyword
  std::string class_name;
  std::string source;
  Location class_name_location;
  Location class_definition_location;
  Location decorator_location;
  LocationMap kwarg_names;
  LocationMap kwargs;
  TextMap<FeatureFieldAST> fields;
  std::vector<FeatureFieldAST> annotations;
};

// One parameter of a function.
struct FunctionArgAST {
  std::string arg_name;
  Location arg_location;
  std::optional<Location> annotation;
};

// One function definition, resolver or not.
struct ResolverAST {
  std::string module;
  std::string resolver_name;
  Location resolver_name_location;
  std::optional<Location> decorator_location;
  LocationMap kwarg_names;
  LocationMap kwargs;
  NestedLocationMap kwarg_dict_key_names;
  NestedLocationMap kwarg_dict_values;
  std::vector<std::string> args_in_order;
  TextMap<FunctionArgAST> args;
  std::optional<Location> return_annotation;
  std::optional<Location> missing_return_annotation;
  std::vector<Location> return_statements;
  std::optional<Location> body;
  std::optional<Location> return_arg;
};

// Everything extracted from one file.
struct ParsedAstFile {
  std::vector<FeatureClassAST> feature_classes;
  // Every function definition at any depth, in source pre-order.
  std::vector<ResolverAST> functions;
  // Copies of the members of `functions` that carry a recognised resolver decorator.
  std::vector<ResolverAST> resolvers;
};

}  // namespace tolvo::ast
