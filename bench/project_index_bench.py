"""AstProjectIndex over the 3.13 standard library, against CPython in the same run.

- Index pass: one lookup per file on a new index (read, parse, import map, functions, feature
  classes) against `ast.parse(open(path).read())` of the same files.
- Feature classes: the same files with every class decorated with `features`, once imported from
  tolvo.features (every class is extracted) and once from another module (none is); the
  difference of the two index passes is the cost of the feature classes, printed against the
  parse alone (`AstFileParserCache`) of the same files.
"""

import ast
import os
import pathlib
import re
import sys
import tempfile
import time
import warnings

import tolvo_rs

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "parser" / "tools"))

import compare  # noqa: E402

ROUNDS = 3
CLASS_LINE = re.compile(r"^([ \t]*)class ", re.MULTILINE)


def index_pass(paths, root):
    index = tolvo_rs.AstProjectIndex(paths, root)
    start = time.perf_counter()
    for path in paths:
        index.feature_class_ast_in_file(path, "NoSuchClass")
    return time.perf_counter() - start


def parse_only(paths):
    cache = tolvo_rs.AstFileParserCache([], "/")
    start = time.perf_counter()
    for path in paths:
        try:
            cache.get_parsed_file(path)
        except ValueError:
            pass
    return time.perf_counter() - start


def cpython_parses(paths):
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for path in paths:
            with open(path, encoding="utf-8") as file:
                text = file.read()
            try:
                ast.parse(text.removeprefix("\ufeff"))
            except (SyntaxError, ValueError):
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


def main():
    paths = [str(p) for p in compare.corpus_files()]
    mb = sum(os.path.getsize(p) for p in paths) / 1e6
    root = str(compare.DEFAULT_CORPUS)
    ours = baseline = float("inf")
    for _ in range(ROUNDS):  # alternated, so that machine load weighs on both alike
        baseline = min(baseline, cpython_parses(paths))
        ours = min(ours, index_pass(paths, root))
    print(f"corpus: {len(paths)} files, {mb:.1f} MB")
    print(f"index pass: ast.parse(open().read()) {mb / baseline:.1f} MB/s (baseline), "
          f"AstProjectIndex {mb / ours:.1f} MB/s, ratio {baseline / ours:.1f}x")

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
    return 0


if __name__ == "__main__":
    sys.exit(main())
