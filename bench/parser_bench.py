"""Our parser against CPython's `ast.parse` over the 3.13 standard library, on one core.

Speed: MB/s of each over the same UTF-8 files, sources already in memory, best of a few rounds.
Memory: every tree of the corpus kept alive at once, as a multiple of the source bytes (resident
size grown by the trees; CPython's measured the same way in a child interpreter). Target for memory:
at most 8 times the source bytes.
"""

import argparse
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

MEMORY_TARGET = 8.0

# Run in a child so that the trees and the interpreter's own heap growth are all it measures.
CPYTHON_MEMORY = """
import ast, sys, warnings
warnings.simplefilter("ignore")
def rss():
    for line in open("/proc/self/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) * 1024
texts = []
for path in open(sys.argv[1]).read().splitlines():
    texts.append(open(path, encoding="utf-8").read())
before = rss()
trees = []
for text in texts:
    try:
        trees.append(ast.parse(text.removeprefix("\\ufeff")))
    except (SyntaxError, ValueError):
        pass
print(rss() - before)
"""


def cpython_seconds(texts, rounds):
    best = float("inf")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for _ in range(rounds):
            start = time.perf_counter()
            for text in texts:
                try:
                    ast_parse(text)
                except (SyntaxError, ValueError):
                    pass
            best = min(best, time.perf_counter() - start)
    return best


def ast_parse(text):
    import ast

    return ast.parse(text.removeprefix("\ufeff"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", type=pathlib.Path,
                        default=REPO / "build" / "bench" / "parser_throughput")
    parser.add_argument("--corpus", type=pathlib.Path, default=compare.DEFAULT_CORPUS)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    if not args.binary.exists():
        print(f"parser_bench: no {args.binary} (build with TOLVO_BUILD_TOOLS=ON)")
        return 1
    files = compare.corpus_files(args.corpus)
    texts = [path.read_text(encoding="utf-8") for path in files]
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as listing:
        listing.write("\n".join(str(p) for p in files) + "\n")
    try:
        out = subprocess.run([str(args.binary), listing.name, str(args.rounds)], check=True,
                             capture_output=True, text=True).stdout
        ours = {key: float(value) for key, value in (line.split() for line in out.splitlines())}
        cpython_memory = int(subprocess.run([sys.executable, "-c", CPYTHON_MEMORY, listing.name],
                                            check=True, capture_output=True,
                                            text=True).stdout)
    finally:
        os.unlink(listing.name)
    source_mb = ours["bytes"] / 1e6
    baseline = source_mb / cpython_seconds(texts, max(1, args.rounds - 1))
    ours_speed = source_mb / ours["seconds"]
    print(f"corpus: {int(ours['files'])} files, {source_mb:.1f} MB, "
          f"{int(ours['accepted'])} accepted by our parser")
    print(f"speed, one core: ast.parse {baseline:.1f} MB/s (baseline), ours {ours_speed:.1f} MB/s, "
          f"ratio {ours_speed / baseline:.1f}x")
    ours_memory = ours["rss_alive_delta"] / ours["bytes"]
    baseline_memory = cpython_memory / ours["bytes"]
    peak = ours["rss_peak_delta"] / ours["bytes"]
    arena = ours["tree_bytes"] / ours["bytes"]
    print(f"memory of all trees alive, per source byte: CPython ast {baseline_memory:.1f}x "
          f"(baseline), ours {ours_memory:.2f}x (peak {peak:.2f}x, arena {arena:.2f}x), ratio "
          f"{ours_memory / baseline_memory:.3f} (target ours <= {MEMORY_TARGET:.0f}x)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
