"""What the benchmarks share: the corpus, CPython's parse of it, timing of small calls, and the
native helper programs in build/bench."""

import ast
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import warnings

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "parser" / "tools"))

import compare  # noqa: E402

CORPUS = compare.DEFAULT_CORPUS


def corpus_paths():
    """The UTF-8 files of the 3.13 standard library, as text paths."""
    return [str(p) for p in compare.corpus_files()]


def cpython_parse_seconds(paths):
    """`ast.parse(open(path).read())` of every file, the baseline of the passes."""
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


def per_call_ns(call, count=20000):
    """The best of five runs of `count` calls, in ns per call."""
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter_ns()
        for _ in range(count):
            call()
        best = min(best, (time.perf_counter_ns() - start) / count)
    return best


def native_figures(program, paths, rounds):
    """Runs build/bench/`program` over the listed paths and reads its "key value" lines; None
    when it has not been built."""
    binary = REPO / "build" / "bench" / program
    if not binary.exists():
        return None
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as listing:
        listing.write("\n".join(paths) + "\n")
    try:
        out = subprocess.run([str(binary), listing.name, str(rounds)], check=True,
                             capture_output=True, text=True).stdout
    finally:
        os.unlink(listing.name)
    return {key: float(value) for key, value in (line.split() for line in out.splitlines())}
