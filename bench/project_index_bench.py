"""AstProjectIndex over the 3.13 standard library, against CPython in the same run.

- The whole pass on one thread: a lookup by module of a name that no file defines computes every
  file (read, parse, extract). Beside it: `ast.parse` of the same files, our parser alone, and
  where the native pass spends its time (read, parse, extraction). Targets: the pass at least 25
  times faster than `ast.parse`; extraction cheaper than the parse.
- Feature classes: the same files with every class decorated with `features`, once imported from
  tolvo.features (every class is extracted) and once from another module (none is); the
  difference of the two passes is the cost of the feature classes, against the parse alone.
- A lookup of a computed function from Python, and property reads of the record it returns,
  against a `dict` lookup.
"""

import os
import pathlib
import re
import sys
import tempfile
import time

import tolvo_rs
from common import CORPUS, REPO, corpus_paths, cpython_parse_seconds, native_figures, per_call_ns

ROUNDS = 3
PASS_TARGET = 25.0
CLASS_LINE = re.compile(r"^([ \t]*)class ", re.MULTILINE)


def index_pass(paths, root):
    start = time.perf_counter()
    index = tolvo_rs.AstProjectIndex(paths, root)
    assert index.function_ast("no.such.module", "no_such_function") is None
    return time.perf_counter() - start


def lookups():
    root = str(REPO / "examples" / "project")
    paths = [str(p) for p in sorted((REPO / "examples" / "project").rglob("*.py"))]
    index = tolvo_rs.AstProjectIndex(paths, root)
    resolvers = str(REPO / "examples" / "project" / "shop" / "resolvers.py")
    record = index.function_ast("shop.resolvers", "order_total")
    table = {f"name{i}": i for i in range(len(paths) * 8)}
    baseline = per_call_ns(lambda: table["name5"])
    figures = [
        ("function_ast (by module)", per_call_ns(
            lambda: index.function_ast("shop.resolvers", "order_total"))),
        ("function_ast_in_file", per_call_ns(
            lambda: index.function_ast_in_file(resolvers, "order_total"))),
        ("read resolver_name", per_call_ns(lambda: record.resolver_name)),
        ("read resolver_name_location", per_call_ns(lambda: record.resolver_name_location)),
        ("read kwargs", per_call_ns(lambda: record.kwargs)),
        ("read args", per_call_ns(lambda: record.args)),
    ]
    print(f"lookups, from Python: dict lookup {baseline:.0f} ns (baseline)")
    for name, ns in figures:
        print(f"  {name}: {ns:.0f} ns, {ns / baseline:.1f}x the dict lookup")


def parse_only(paths):
    cache = tolvo_rs.AstFileParserCache([], "/")
    start = time.perf_counter()
    for path in paths:
        try:
            cache.get_parsed_file(path)
        except ValueError:
            pass
    return time.perf_counter() - start


def decorated_copies(paths, directory, module):
    """Each file with every class decorated by `features`, imported from `module` at the end (a
    from-import anywhere at the top level counts, and the start may need to stay a __future__
    import)."""
    out = []
    for number, path in enumerate(paths):
        text = pathlib.Path(path).read_text(encoding="utf-8")
        text = CLASS_LINE.sub(lambda m: f"{m.group(1)}@features\n{m.group(1)}class ", text)
        copy = os.path.join(directory, f"{module.replace('.', '_')}{number}.py")
        with open(copy, "w", encoding="utf-8", newline="") as file:
            file.write(text + f"\nfrom {module} import features\n")
        out.append(copy)
    return out


def feature_class_cost(paths):
    with tempfile.TemporaryDirectory() as directory:
        featured = decorated_copies(paths, directory, "tolvo.features")
        plain = decorated_copies(paths, directory, "elsewhere")
        parse = without = with_features = float("inf")
        for _ in range(ROUNDS):
            parse = min(parse, parse_only(featured))
            without = min(without, index_pass(plain, directory))
            with_features = min(with_features, index_pass(featured, directory))
        classes = sum(len(CLASS_LINE.findall(pathlib.Path(p).read_text(encoding="utf-8")))
                      for p in featured)
        cost = with_features - without
        print(f"every class a feature class ({classes} classes): parse alone {parse:.3f} s "
              f"(baseline), index pass {without:.3f} s without feature classes and "
              f"{with_features:.3f} s with them, feature classes {cost:.3f} s, "
              f"ratio parse/feature classes {parse / cost:.1f}x")


def main():
    paths = corpus_paths()
    root = str(CORPUS)
    mb = sum(os.path.getsize(p) for p in paths) / 1e6
    ours = baseline = float("inf")
    for _ in range(ROUNDS):  # alternated, so that machine load weighs on both alike
        baseline = min(baseline, cpython_parse_seconds(paths))
        ours = min(ours, index_pass(paths, root))
    ratio = baseline / ours
    print(f"corpus: {len(paths)} files, {mb:.1f} MB")
    print(f"index pass, one thread: ast.parse(open().read()) {baseline:.2f} s, "
          f"{mb / baseline:.1f} MB/s (baseline); AstProjectIndex {ours:.3f} s, {mb / ours:.1f} MB/s;"
          f" ratio {ratio:.1f}x (target >= {PASS_TARGET:.0f}x)")
    native = native_figures("index_throughput", paths, ROUNDS)
    if native:
        parse_only = native["parse_seconds"] - native["read_seconds"]
        print(f"native pass: read {native['read_seconds']:.3f} s, parse {parse_only:.3f} s "
              f"({mb / parse_only:.1f} MB/s, {baseline / parse_only:.1f}x ast.parse), extraction "
              f"{native['extract_seconds']:.3f} s ({int(native['functions'])} functions, "
              f"{int(native['feature_classes'])} feature classes), extraction/parse "
              f"{native['extract_seconds'] / parse_only:.2f} (target < 1); whole "
              f"{native['index_seconds']:.3f} s")
    feature_class_cost(paths)
    lookups()
    return 0


if __name__ == "__main__":
    sys.exit(main())
