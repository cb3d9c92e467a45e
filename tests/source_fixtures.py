"""Small fixture projects on disk, and the expected location tuples of places in their text."""
import re

import tolvo_rs

LINE_BREAK = re.compile(r"\r\n|\r|\n")


def position(source, offset):
    """The 0-based (line, character) of code point `offset`: lines end after LF, CR LF and a lone
    CR; characters are code points; a leading byte-order mark is not counted on the first line."""
    line, start = 0, 0
    for found in LINE_BREAK.finditer(source, 0, offset):
        if found.end() <= offset:
            line, start = line + 1, found.end()
    character = offset - start
    if line == 0 and source.startswith("\ufeff") and character > 0:
        character -= 1
    return line, character


def span(source, start, end):
    return position(source, start) + position(source, end)


def loc(source, needle, nth=0, after=None):
    """The location tuple of the `nth` occurrence of `needle`, searching from the first occurrence
    of `after` when given."""
    offset = source.index(after) if after is not None else 0
    for _ in range(nth + 1):
        offset = source.index(needle, offset)
        found = offset
        offset += 1
    return span(source, found, found + len(needle))


def write(tmp_path, name, source):
    path = tmp_path / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(source.encode("utf-8", "surrogatepass"))
    return str(path)


def project(tmp_path, files, root=None):
    """An index over the fixture files {relative name: source}, in the given order, rooted at
    tmp_path; returns it with the absolute paths."""
    paths = [write(tmp_path, name, source) for name, source in files.items()]
    return tolvo_rs.AstProjectIndex(paths, str(root or tmp_path)), paths


def one_file(tmp_path, source, name="m.py"):
    """An index over one fixture file named `name` and its path."""
    index, (path,) = project(tmp_path, {name: source})
    return index, path


def resolver_properties(record):
    """Every property of a ResolverAST, its parameters as (name, location, annotation)."""
    return {
        "module": record.module,
        "resolver_name": record.resolver_name,
        "resolver_name_location": record.resolver_name_location,
        "decorator_location": record.decorator_location,
        "kwarg_names": record.kwarg_names,
        "kwargs": record.kwargs,
        "kwarg_dict_key_names": record.kwarg_dict_key_names,
        "kwarg_dict_values": record.kwarg_dict_values,
        "args_in_order": record.args_in_order,
        "args": {name: (arg.arg_name, arg.arg_location, arg.annotation)
                 for name, arg in record.args.items()},
        "return_annotation": record.return_annotation,
        "missing_return_annotation": record.missing_return_annotation,
        "return_statements": record.return_statements,
        "body": record.body,
        "return_arg": record.return_arg,
    }
