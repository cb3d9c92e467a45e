"""Indexes the small project in examples/project with tolvo_rs and prints what it finds."""
import os
import sys

import tolvo_rs

# The functions the demo looks up, by file relative to the project root.
FUNCTIONS = {
    "shop/resolvers.py": ["customer_name", "order_total", "order_events", "lookup"],
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
        for name in FUNCTIONS.get(relative, []):
            show_function(index.function_ast_in_file(path, name))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "project"))
