"""AstFileParserCache over the 3.13 standard library, against CPython in the same run.

- First requests: `get_parsed_file` of every file on a new cache (read, parse, import map, tuple)
  against `ast.parse(open(path).read())` of the same files; our parser alone is printed beside.
- Hits: ns per `get_parsed_file` of a cached file of about 2 KB against `open(path).read()`.
- Memory: a cache holding every file, as a multiple of the source bytes (in a child process).
"""

import ast
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import warnings

import tolvo_rs

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "parser" / "tools"))

import compare  # noqa: E402

ROUNDS = 3

MEMORY = """
import sys, tolvo_rs
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1]) * 1024
paths = open(sys.argv[1]).read().splitlines()
before = status("VmRSS:")
cache = tolvo_rs.AstFileParserCache([], "/")
for path in paths:
    try:
        cache.get_parsed_file(path)
    except ValueError:
        pass
print(status("VmRSS:") - before, status("VmHWM:") - before)
"""


def first_requests(paths):
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


def per_call_ns(call, count=20000):
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter_ns()
        for _ in range(count):
            call()
        best = min(best, (time.perf_counter_ns() - start) / count)
    return best


def read_file(path):
    with open(path, encoding="utf-8") as file:
        return file.read()


def parser_alone_mb_s(paths):
    binary = REPO / "build" / "bench" / "parser_throughput"
    if not binary.exists():
        return None
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as listing:
        listing.write("\n".join(paths) + "\n")
    try:
        out = subprocess.run([str(binary), listing.name, "2"], check=True, capture_output=True,
                             text=True).stdout
    finally:
        os.unlink(listing.name)
    figures = dict(line.split() for line in out.splitlines())
    return float(figures["bytes"]) / 1e6 / float(figures["seconds"])


def main():
    paths = [str(p) for p in compare.corpus_files()]
    source_bytes = sum(os.path.getsize(p) for p in paths)
    mb = source_bytes / 1e6
    ours = baseline = float("inf")
    for _ in range(ROUNDS):  # alternated, so that machine load weighs on both alike
        baseline = min(baseline, cpython_parses(paths))
        ours = min(ours, first_requests(paths))
    print(f"corpus: {len(paths)} files, {mb:.1f} MB")
    parser_alone = parser_alone_mb_s(paths)
    alone = f"; our parser alone {parser_alone:.1f} MB/s, ratio {parser_alone / (mb / baseline):.1f}x" \
        if parser_alone else ""
    print(f"first requests: ast.parse(open().read()) {mb / baseline:.1f} MB/s (baseline), "
          f"get_parsed_file {mb / ours:.1f} MB/s, ratio {baseline / ours:.1f}x{alone}")

    small = min(paths, key=lambda p: abs(os.path.getsize(p) - 2048))
    cache = tolvo_rs.AstFileParserCache([], "/")
    cache.get_parsed_file(small)
    hit = per_call_ns(lambda: cache.get_parsed_file(small))
    read = per_call_ns(lambda: read_file(small))
    print(f"hit on a {os.path.getsize(small)}-byte file: open().read() {read:.0f} ns (baseline), "
          f"get_parsed_file {hit:.0f} ns, ratio {read / hit:.1f}x")

    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as listing:
        listing.write("\n".join(paths) + "\n")
    try:
        out = subprocess.run([sys.executable, "-c", MEMORY, listing.name], check=True,
                             capture_output=True, text=True).stdout
    finally:
        os.unlink(listing.name)
    retained, peak = (int(v) for v in out.split())
    print(f"memory of a cache holding every file, per source byte: retained "
          f"{retained / source_bytes:.2f}x, peak {peak / source_bytes:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
