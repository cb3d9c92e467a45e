"""AstFileParserCache over the 3.13 standard library, against CPython in the same run.

- First requests: `get_parsed_file` of every file on a new cache (read, parse, import map, tuple)
  against `ast.parse(open(path).read())` of the same files; our parser alone is printed beside.
- Hits: ns per `get_parsed_file` of a cached file of about 2 KB against `open(path).read()`.
- Memory: a cache holding every file, as a multiple of the source bytes (in a child process).
"""

import os
import subprocess
import sys
import tempfile
import time

import tolvo_rs
from common import corpus_paths, cpython_parse_seconds, native_figures, per_call_ns

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


def read_file(path):
    with open(path, encoding="utf-8") as file:
        return file.read()


def main():
    paths = corpus_paths()
    source_bytes = sum(os.path.getsize(p) for p in paths)
    mb = source_bytes / 1e6
    ours = baseline = float("inf")
    for _ in range(ROUNDS):  # alternated, so that machine load weighs on both alike
        baseline = min(baseline, cpython_parse_seconds(paths))
        ours = min(ours, first_requests(paths))
    print(f"corpus: {len(paths)} files, {mb:.1f} MB")
    alone_figures = native_figures("parser_throughput", paths, 2)
    parser_alone = alone_figures and alone_figures["bytes"] / 1e6 / alone_figures["seconds"]
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
