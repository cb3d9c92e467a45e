"""Indexes the small project in examples/project with tolvo_rs and prints what it finds."""
import os
import sys
import time

import tolvo_rs

# The functions and feature classes the demo looks up, by file relative to the project root.
FUNCTIONS = {
    "shop/resolvers.py": ["customer_name", "order_total", "order_events", "lookup"],
}
FEATURE_CLASSES = {
    "shop/features.py": ["Customer", "Order"],
}


def place(location):
    """A location tuple as 1-based line:column, the way an editor shows it."""
    if location is None:
        return "-"
    start_line, start_character, end_line, end_character = location
    return f"{start_line + 1}:{start_character + 1}-{end_line + 1}:{end_character + 1}"


def places(mapping):
    return ", ".join(f"{key} @ {place(value)}" for key, value in sorted(mapping.items())) or "-"


def show_function(record):
    kind = "resolver" if record.decorator_location else "function"
    print(f"    {kind} {record.module}.{record.resolver_name} @ "
          f"{place(record.resolver_name_location)}")
    if record.decorator_location:
        print(f"      decorator {place(record.decorator_location)}; keywords: "
              f"{places(record.kwarg_names)}; values: {places(record.kwargs)}")
    for keyword, keys in sorted(record.kwarg_dict_key_names.items()):
        values = record.kwarg_dict_values[keyword]
        print(f"      {keyword} = {{" + ", ".join(
            f"{key!r} @ {place(at)}: {place(values[key])}" for key, at in sorted(keys.items()))
            + "}")
    for name in record.args_in_order:
        arg = record.args[name]
        print(f"      parameter {name} @ {place(arg.arg_location)}, annotation "
              f"{place(arg.annotation)}")
    returns = place(record.return_annotation) if record.return_annotation else (
        f"missing, would go at {place(record.missing_return_annotation)}")
    print(f"      returns: annotation {returns}; {len(record.return_statements)} return "
          f"statement(s); first returned value {place(record.return_arg)}; body "
          f"{place(record.body)}")


def show_field(field, indent="      "):
    print(f"{indent}{field.field_name} @ {place(field.field_name_location)}: annotation "
          f"{place(field.annotation)}, value {place(field.feature_call)}, keywords "
          f"{places(field.kwarg_names)}")
    if field.comment is not None:
        print(f"{indent}  comment {field.comment!r}; description {field.description!r}; owner "
              f"{field.owner!r}; tags {field.tags}")


def show_feature_class(record):
    print(f"    feature class {record.module}.{record.class_name} @ "
          f"{place(record.class_name_location)}, namespace {record.namespace!r}")
    print(f"      definition line {place(record.class_definition_location)}; decorator "
          f"{place(record.decorator_location)}; keywords {places(record.kwarg_names)}")
    print("      source:")
    for line in record.source.splitlines():
        print(f"        | {line}")
    print(f"      fields: {', '.join(sorted(record.fields))}")
    for name in sorted(record.fields):
        show_field(record.fields[name], indent="        ")
    print(f"      annotated, in order: {', '.join(f.field_name for f in record.annotations)}")


def warm(paths, root):
    """A new index warmed by its background workers; a lookup of a name no file defines returns
    once every file is computed, by the workers or by itself."""
    start = time.perf_counter()
    index = tolvo_rs.AstProjectIndex(paths, root)
    index.nonblocking_start_index()
    index.function_ast("no.such.module", "no_such_function")
    return time.perf_counter() - start


def main(root):
    root = os.path.abspath(root)
    paths = []
    for directory, _, names in os.walk(root):
        paths += [os.path.join(directory, name) for name in names]
    files = tolvo_rs.StdAstFileSystem(paths)
    python_files = files.all_files()
    print(f"{len(paths)} files under {root}, {len(python_files)} of them Python source")

    cache = tolvo_rs.AstFileParserCache([], root, files)
    index = tolvo_rs.AstProjectIndex(python_files, root, files)
    for path in python_files:
        relative = os.path.relpath(path, root)
        _, text, imports = cache.get_parsed_file(path)
        print(f"  {relative}: {len(text.splitlines())} lines")
        for imported_module, names in sorted(imports.items()):
            bound = ", ".join(name if local == [name] else f"{name} as {'/'.join(local)}"
                              for name, local in sorted(names.items()))
            print(f"      from {imported_module} import {bound}")
        for name in FEATURE_CLASSES.get(relative, []):
            show_feature_class(index.feature_class_ast_in_file(path, name))
        for name in FUNCTIONS.get(relative, []):
            show_function(index.function_ast_in_file(path, name))
    print(f"a new index over the {len(python_files)} files, warmed in the background, computed "
          f"every file in {warm(python_files, root) * 1000:.2f} ms")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "project"))
