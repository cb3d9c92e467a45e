"""Compares our parser (parser-dump) with CPython's (oracle.py) and prints grouped disagreements.

    compare.py [--parser-dump PATH] [--corpus DIR] acceptance [FILE...]
    compare.py ... mutations [--sample N] [--per-file K] [--sequences M] [--seed S]
    compare.py ... snippets
    compare.py ... trees [FILE...]
    compare.py ... all

acceptance: our parser accepts a file iff `ast.parse` does, over every UTF-8 .py file of the corpus
(by default CPython 3.13's standard library, test/ included, site-packages excluded).
mutations: single-token deletions, insertions and duplications of sampled files (an insertion is
another token of the file, a piece of line structure: a line continuation, a line break, a tab, or
a random run of the file's tokens), and sources that are random runs of tokens; both parsers judge
each and the agreement rate is printed with the disagreements grouped by class; the mutants
CPython accepts then have their trees compared as under trees.
snippets: every string constant of CPython's grammar, pattern matching and f-string tests and
every doctest example of its syntax error tests, each parsed alone, then token edits of them,
random runs of their tokens and random f-strings; every verdict must agree, and the texts CPython
accepts have their trees compared.
trees: for every file both accept, the two trees side by side: kinds, identifiers and literal
values everywhere, byte ranges of the constructs the indexing relies on (gating) and of everything
else (listed, not gating), comments, and the extras CPython lacks (name_range, arg_range, the
parameter list's parenthesised range, the parts of an implicit concatenation).

Ranges are expected to differ from CPython's in two intended ways, which the comparison applies
before comparing: a decorated definition starts at the at sign of its first decorator, and a star
parameter starts at its star. Exit status 1 when a gating disagreement is found.
"""

from __future__ import annotations

import argparse
import ast
import bisect
import collections
import doctest
import io
import json
import os
import pathlib
import random
import re
import subprocess
import sys
import tempfile
import tokenize
import warnings

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import oracle  # noqa: E402

REPO = pathlib.Path(__file__).resolve().parents[2]
DEFAULT_CORPUS = pathlib.Path("/root/.pyenv/versions/3.13.0/lib/python3.13")
DEFAULT_DUMP = REPO / "build" / "parser-dump"
EXAMPLES_PER_CLASS = 4
CHECK_CHUNK = 200
TIMEOUT_SECONDS = 120


# ---------------------------------------------------------------------------------------------
# Corpus and reports


def corpus_files(root: pathlib.Path = DEFAULT_CORPUS) -> list[pathlib.Path]:
    """Every .py file under `root` that decodes as UTF-8, sorted, site-packages left out."""
    out = []
    for path in sorted(root.rglob("*.py")):
        if "site-packages" in path.relative_to(root).parts or not path.is_file():
            continue
        if oracle.read_source(path) is not None:
            out.append(path)
    return out


def sample(items: list, count: int, seed: int) -> list:
    """A deterministic sample, kept in the items' order."""
    if count >= len(items):
        return list(items)
    chosen = set(random.Random(seed).sample(range(len(items)), count))
    return [item for i, item in enumerate(items) if i in chosen]


class Report:
    """Counts and disagreements grouped by class, each class with a few examples."""

    def __init__(self, title: str):
        self.title = title
        self.counts: collections.Counter = collections.Counter()
        self.classes: dict[tuple[bool, str], int] = collections.Counter()
        self.examples: dict[tuple[bool, str], list[str]] = collections.defaultdict(list)

    def add(self, gating: bool, klass: str, example: str) -> None:
        key = (gating, klass)
        self.classes[key] += 1
        if len(self.examples[key]) < EXAMPLES_PER_CLASS:
            self.examples[key].append(example)

    def failures(self) -> int:
        return sum(n for (gating, _), n in self.classes.items() if gating)

    def failure_classes(self) -> list[str]:
        return [klass for (gating, klass) in self.classes if gating]

    def render(self) -> str:
        lines = [f"== {self.title}"]
        for name, value in self.counts.items():
            lines.append(f"  {name}: {value}")
        for gating in (True, False):
            keys = sorted(
                (k for k in self.classes if k[0] == gating), key=lambda k: (-self.classes[k], k[1])
            )
            if not keys:
                continue
            label = "disagreements" if gating else "informational (not gating)"
            total = sum(self.classes[k] for k in keys)
            lines.append(f"  {label}: {total} in {len(keys)} classes")
            for key in keys:
                lines.append(f"  [{self.classes[key]:6d}] {key[1]}")
                for example in self.examples[key]:
                    lines.append(f"           {example}")
        if not self.failures():
            lines.append("  no gating disagreement")
        return "\n".join(lines)


def line_col(data: bytes, offset: int) -> tuple[int, int]:
    line = data.count(b"\n", 0, offset) + 1
    start = data.rfind(b"\n", 0, offset) + 1
    return line, offset - start + 1


def where(path, data: bytes, offset: int) -> str:
    line, col = line_col(data, max(0, min(offset, len(data))))
    return f"{path}:{line}:{col}"


def snippet(data: bytes, start: int, end: int, limit: int = 60) -> str:
    text = data[max(0, start) : max(start, end)].decode("utf-8", "replace")
    return repr(text if len(text) <= limit else text[: limit - 3] + "...")


# ---------------------------------------------------------------------------------------------
# Running parser-dump


class ParserDump:
    def __init__(self, executable: pathlib.Path):
        self.executable = str(executable)

    def check(self, paths: list) -> dict[str, tuple[str, str]]:
        """path -> ("ok" | "error" | "crash", message), chunked; a failed chunk is rerun per file
        so that one crashing input is named, not its neighbours."""
        out = {}
        for i in range(0, len(paths), CHECK_CHUNK):
            chunk = [str(p) for p in paths[i : i + CHECK_CHUNK]]
            result = self._check_run(chunk)
            if result is None:
                for path in chunk:
                    single = self._check_run([path])
                    out[path] = single[path] if single else ("crash", self.last_failure)
            else:
                out.update(result)
        return out

    def _check_run(self, chunk: list[str]):
        try:
            proc = subprocess.run(
                [self.executable, "--check", *chunk], capture_output=True, timeout=TIMEOUT_SECONDS
            )
        except subprocess.TimeoutExpired:
            self.last_failure = f"timeout after {TIMEOUT_SECONDS} s"
            return None
        lines = proc.stdout.decode("utf-8", "replace").splitlines()
        if proc.returncode != 0 or len(lines) != len(chunk):
            self.last_failure = (
                f"exit status {proc.returncode}: {proc.stderr.decode('utf-8', 'replace')[-200:]}"
            )
            return None
        result = {}
        for path, line in zip(chunk, lines):
            if line == f"ok {path}":
                result[path] = ("ok", "")
            elif line.startswith(f"error {path}: "):
                result[path] = ("error", line[len(f"error {path}: ") :])
            else:
                self.last_failure = f"unexpected line {line!r}"
                return None
        return result

    def dump(self, path) -> tuple[dict | None, str]:
        """(document, failure text); the document is None when the tool failed."""
        try:
            proc = subprocess.run(
                [self.executable, str(path)], capture_output=True, timeout=TIMEOUT_SECONDS
            )
        except subprocess.TimeoutExpired:
            return None, f"timeout after {TIMEOUT_SECONDS} s"
        if proc.returncode != 0:
            return None, f"exit status {proc.returncode}: {proc.stderr[-200:]!r}"
        try:
            return load_json(proc.stdout), ""
        except (ValueError, UnicodeDecodeError) as error:
            return None, f"output is not JSON: {error}"


# A \uXXXX escape of a surrogate that is not itself escaped (not preceded by an odd number of
# backslashes).
SURROGATE_ESCAPE = re.compile(r"(?<!\\)((?:\\\\)*)\\u([dD][89a-fA-F][0-9a-fA-F]{2})")
MARK = "\ufdd0"  # a noncharacter, absent from the corpus


def load_json(output: bytes):
    """parser-dump's JSON with every surrogate escape kept as one code point: json.loads would
    join a high and a low escape into one character, so that '\\ud83d\\ude00' (two lone
    surrogates, as CPython keeps them) and '\U0001f600' could not be told apart."""
    text = output.decode("utf-8", "surrogatepass")
    marked = SURROGATE_ESCAPE.sub(lambda m: f"{m.group(1)}{MARK}{m.group(2)}", text)
    document = json.loads(marked)
    return document if marked == text else restore_surrogates(document)


def restore_surrogates(value):
    if isinstance(value, str):
        if MARK not in value:
            return value
        return re.sub(f"{MARK}([0-9a-fA-F]{{4}})", lambda m: chr(int(m.group(1), 16)), value)
    if isinstance(value, list):
        return [restore_surrogates(item) for item in value]
    if isinstance(value, dict):
        return {key: restore_surrogates(item) for key, item in value.items()}
    return value


# ---------------------------------------------------------------------------------------------
# Acceptance and mutations


def normalise_message(message: str) -> str:
    """A message with its positions and quoted details removed, for grouping."""
    message = re.sub(r"\s*\(<unknown>, line \d+\)", "", message)
    message = re.sub(r" at byte range \d+\.\.\d+$", "", message)
    message = re.sub(r"'[^']*'", "'…'", message)
    message = re.sub(r"\d+", "N", message)
    return message[:100]


# Our one rule beyond CPython's: a call that repeats a keyword argument is refused.
INTENDED_REFUSAL = "keyword argument repeated: "
INTENDED_CLASS = "ours refuses a repeated keyword argument (intended)"


def acceptance(dump: ParserDump, files: list, report: Report | None = None) -> Report:
    report = report or Report("acceptance: our parser accepts a file iff ast.parse does")
    ours = dump.check(files)
    for path in files:
        text = oracle.read_source(path)
        theirs_ok, theirs_message = oracle.verdict(text)
        kind, message = ours[str(path)]
        report.counts["files"] += 1
        report.counts["bytes"] += len(text.encode("utf-8", "surrogatepass"))
        if kind == "crash":
            report.add(True, "parser-dump failed", f"{path}: {message}")
            continue
        if theirs_ok == (kind == "ok"):
            report.counts["agree"] += 1
            report.counts["accepted by both" if theirs_ok else "refused by both"] += 1
        elif theirs_ok and message.startswith(INTENDED_REFUSAL):
            report.counts["agree"] += 1
            report.add(False, INTENDED_CLASS, f"{path}: {message}")
        elif theirs_ok:
            report.add(True, f"ours refuses, CPython accepts: {normalise_message(message)}",
                       f"{path}: {message}")
        else:
            report.add(True, f"ours accepts, CPython refuses: {normalise_message(theirs_message)}",
                       f"{path}: {theirs_message}")
    return report


MUTATION_KINDS = ("delete", "insert", "duplicate", "replace", "sequence")
MUTATION_TARGET = 99.5
LAYOUT_PIECES = ("\\\n", "\\\n ", "\n", "\n    ", "\t", " \\\n", ";", "\r")
# Source files whose string constants are snippets of code, many of them near the edge of the
# grammar, and one whose doctests are; paths under the corpus.
SNIPPET_FILES = ("test/test_grammar.py", "test/test_patma.py", "test/test_fstring.py")
DOCTEST_FILES = ("test/test_syntax.py",)


def token_spans(text: str) -> list[tuple[str, int, int]] | None:
    """(exact token name, start, end) in characters of every non-empty token of `text`; None when
    the tokenizer fails."""
    # The tokenizer's rows end at line feeds only; lone carriage returns are given as such.
    tokenized = oracle.LONE_CR.sub("\n", text)
    lines = io.StringIO(tokenized).readlines()
    starts = [0]
    for line in lines:
        starts.append(starts[-1] + len(line))
    spans = []
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for token in tokenize.generate_tokens(io.StringIO(tokenized).readline):
                if token.type in (tokenize.ENDMARKER, tokenize.DEDENT, tokenize.ENCODING):
                    continue
                (row, col), (end_row, end_col) = token.start, token.end
                if row > len(lines) or end_row > len(lines) + 1:
                    continue
                s, e = starts[row - 1] + col, starts[end_row - 1] + end_col
                if e > s:
                    spans.append((tokenize.tok_name[token.exact_type], s, e))
    except (tokenize.TokenError, SyntaxError, IndexError):
        return None
    return spans


def mutants(files: list, per_file: int, seed: int) -> list[tuple[str, str]]:
    """(description, text) of token-level mutations of the files, `per_file` per file."""
    return mutate(file_sources(files), per_file, seed)


def file_sources(files: list) -> list[tuple[str, str]]:
    """(path, text) of the files that decode, without a byte-order mark."""
    out = []
    for path in files:
        text = oracle.read_source(path)
        if text is not None and not text.startswith(oracle.BOM):
            out.append((str(path), text))
    return out


def mutate(sources: list[tuple[str, str]], per_source: int, seed: int,
           shared: bool = False) -> list[tuple[str, str]]:
    """(description, text) of token-level mutations, `per_source` per (name, text) source,
    deterministic: a token deleted, duplicated, replaced, or another token, a piece of line
    structure or a random run of tokens inserted before it. What is put in comes from the
    source's own tokens, or with `shared` from the tokens of all sources (for small ones)."""
    tokenized = [(name, text, token_spans(text)) for name, text in sources]
    tokenized = [(name, text, spans) for name, text, spans in tokenized if spans]
    pool = [text[s:e] for _, text, spans in tokenized for _, s, e in spans] if shared else None
    out = []
    for name, text, spans in tokenized:
        rng = random.Random(f"{seed}:{name}")
        material = pool or [text[s:e] for _, s, e in spans]
        for _ in range(per_source):
            kind = rng.choice(MUTATION_KINDS)
            token, s, e = spans[rng.randrange(len(spans))]
            piece = text[s:e]
            if kind == "delete":
                mutant = text[:s] + text[e:]
                what = f"delete {token} {piece[:30]!r}"
            elif kind == "duplicate":
                mutant = text[:e] + " " + piece + text[e:]
                what = f"duplicate {token} {piece[:30]!r}"
            elif kind == "replace":
                other = rng.choice(material)
                mutant = text[:s] + other + text[e:]
                what = f"replace {token} {piece[:20]!r} by {other[:20]!r}"
            elif kind == "sequence":
                run = random_tokens(rng, material, rng.randint(2, 6))
                mutant = text[:s] + run + " " + text[s:]
                what = f"sequence {run[:40]!r} before {token}"
            elif rng.random() < 0.2:
                # Line structure is not made of tokens, yet the tokenizer's hardest part.
                layout = rng.choice(LAYOUT_PIECES)
                mutant = text[:s] + layout + text[s:]
                what = f"insert {layout!r} before {token}"
            else:
                other = rng.choice(material)
                mutant = text[:s] + other + " " + text[s:]
                what = f"insert {other[:30]!r} before {token}"
            line = text.count("\n", 0, s) + 1
            out.append((f"{name}:{line}: {what}", mutant))
    return out


def random_tokens(rng: random.Random, material: list[str], count: int) -> str:
    """`count` tokens of `material` (or pieces of line structure) picked at random, mostly
    joined by a space."""
    out = []
    for _ in range(count):
        out.append(rng.choice(LAYOUT_PIECES) if rng.random() < 0.1 else rng.choice(material))
        out.append("" if rng.random() < 0.15 else " ")
    return "".join(out[:-1])


def token_sequences(sources: list[tuple[str, str]], count: int,
                    seed: int) -> list[tuple[str, str]]:
    """(description, text) of `count` texts that are random runs of 1 to 12 tokens taken from
    the (name, text) sources: a fast way to meet token orders no source has."""
    material = []
    for _, text in sources:
        spans = token_spans(text)
        if spans:
            material.extend(text[s:e] for _, s, e in spans)
    if not material:
        return []
    rng = random.Random(seed)
    out = []
    for i in range(count):
        text = random_tokens(rng, material, rng.randint(1, 12)) + "\n"
        out.append((f"random #{i}: tokens {text[:50]!r}", text))
    return out


# Pieces of f-string bodies: text, escapes and braces, line breaks of each kind, quotes,
# conversions, debug fields and bits of expressions.
FSTRING_PIECES = ("a", " ", "{{", "}}", "{", "}", "\\", "\n", "\r\n", "\r", "\\\n", "\\\r\n",
                  "\\n", "\\N{DASH}", "\\{", "\\}", "\\\\", "'", '"', "#", "\t", "é", "{x}",
                  "{x!r}", "{x=}", "{x:", ":", "!r", "=", ">10", "x", "(", ")", "[", "]", ",",
                  "lambda", "*")
FSTRING_PREFIXES = ("f", "f", "f", "F", "rf", "fr", "Rf", "fR")
FSTRING_QUOTES = ("'", '"', "'''", '"""')


def random_fstrings(count: int, seed: int) -> list[tuple[str, str]]:
    """(description, text) of `count` statements holding a random f-string: every prefix and
    quote, nested f-strings and format specs, escapes, braces and line breaks in their text.
    Tokenizer modes meet here in orders that files seldom show."""
    rng = random.Random(seed)

    def body(depth: int) -> str:
        out = []
        for _ in range(rng.randint(0, 6)):
            r = rng.random()
            if r < 0.12 and depth < 2:
                out.append(fstring(depth + 1))
            elif r < 0.25 and depth < 3:
                out.append("{x:" + body(depth + 1) + "}")
            else:
                out.append(rng.choice(FSTRING_PIECES))
        return "".join(out)

    def fstring(depth: int) -> str:
        quote = rng.choice(FSTRING_QUOTES)
        return rng.choice(FSTRING_PREFIXES) + quote + body(depth) + quote

    out = []
    for i in range(count):
        text = ("x = {}\n" if rng.random() < 0.7 else "print({})\n").format(fstring(0))
        out.append((f"random #{i}: fstring {text[:50]!r}", text))
    return out


def string_snippets(path) -> list[str]:
    """The str constants of a file, once each in source order, without the literal pieces of
    f-strings (they are parts of a constant, not code)."""
    tree = ast.parse(oracle.read_source(path))
    pieces = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.JoinedStr):
            pieces.update(id(inner) for inner in ast.walk(node) if inner is not node)
    seen = {}
    for node in ast.walk(tree):
        if isinstance(node, ast.Constant) and isinstance(node.value, str):
            if id(node) not in pieces:
                seen.setdefault(node.value, (node.lineno, node.col_offset))
    return [value for value, _ in sorted(seen.items(), key=lambda item: item[1])]


def doctest_snippets(path) -> list[str]:
    """The source of every doctest example in the file's docstrings, once each."""
    tree = ast.parse(oracle.read_source(path))
    parser = doctest.DocTestParser()
    seen = {}
    kinds = (ast.Module, ast.ClassDef, ast.FunctionDef, ast.AsyncFunctionDef)
    for node in ast.walk(tree):
        docstring = ast.get_docstring(node, clean=False) if isinstance(node, kinds) else None
        for example in parser.get_examples(docstring or ""):
            seen.setdefault(example.source, None)
    return list(seen)


def snippets(root: pathlib.Path = DEFAULT_CORPUS) -> list[tuple[str, str]]:
    """(description, text) of each code snippet of SNIPPET_FILES and DOCTEST_FILES, judged alone;
    the description starts with the file's name, "#" and the snippet's number, then ": "."""
    out = []
    for name, extract in [(n, string_snippets) for n in SNIPPET_FILES] + [
            (n, doctest_snippets) for n in DOCTEST_FILES]:
        path = root / name
        if not path.is_file():
            continue
        for i, text in enumerate(extract(path)):
            out.append((f"{pathlib.Path(name).name}#{i}: {text[:50]!r}", text))
    return out


def snippet_verdicts(dump: ParserDump, cases: list[tuple[str, str]]) -> Report:
    """The verdicts on snippets, counted by the file they come from; all must agree."""
    return verdicts(dump, cases, "snippets: CPython's test snippets, each alone",
                    group=lambda description: description.split("#", 1)[0])


def snippet_mutants(cases: list[tuple[str, str]], per_snippet: int,
                    seed: int) -> list[tuple[str, str]]:
    """Token-level mutations of the snippets, with the tokens of all snippets to put in."""
    named = [(description.split(": ", 1)[0], text) for description, text in cases]
    return mutate(named, per_snippet, seed, shared=True)


def verdicts(dump: ParserDump, cases: list[tuple[str, str]], title: str,
             group=lambda description: description.split(" ", 1)[0]) -> Report:
    """Both parsers' verdict on each (description, text) case. `group(description)` names the
    group whose counts (cases, agreeing) the report lists and under which disagreements are
    classed."""
    report = Report(title)
    groups = collections.defaultdict(lambda: [0, 0])
    with tempfile.TemporaryDirectory(prefix="tolvo-verdicts-") as directory:
        paths = []
        for i, (_, text) in enumerate(cases):
            path = os.path.join(directory, f"m{i:06d}.py")
            with open(path, "w", encoding="utf-8", errors="surrogatepass", newline="") as f:
                f.write(text)
            paths.append(path)
        ours = dump.check(paths)
        for (description, text), path in zip(cases, paths):
            theirs_ok, theirs_message = oracle.verdict(text)
            kind, message = ours[path]
            name = group(description)
            report.counts["cases"] += 1
            groups[name][0] += 1
            if kind == "crash":
                report.add(True, "parser-dump failed", f"{description}: {message}")
            elif theirs_ok == (kind == "ok"):
                report.counts["agree"] += 1
                report.counts["refused by both" if not theirs_ok else "accepted by both"] += 1
                groups[name][1] += 1
            elif theirs_ok and message.startswith(INTENDED_REFUSAL):
                report.counts["agree"] += 1
                groups[name][1] += 1
                report.add(False, INTENDED_CLASS, f"{description} -> {message}")
            elif theirs_ok:
                report.add(True, f"ours refuses, CPython accepts ({name}): "
                           f"{normalise_message(message)}", f"{description} -> {message}")
            else:
                report.add(True, f"ours accepts, CPython refuses ({name}): "
                           f"{normalise_message(theirs_message)}",
                           f"{description} -> {theirs_message}")
    for name, (total, agree) in sorted(groups.items()):
        report.counts[f"{name}: agree"] = f"{agree} of {total}"
    if report.counts["cases"]:
        report.counts["agreement"] = f"{agreement_rate(report):.2f}%"
    return report


def mutations(dump: ParserDump, cases: list[tuple[str, str]],
              title: str = "mutations: token edits judged by both parsers") -> Report:
    """The verdicts on mutants, grouped by the kind of edit, with the agreement rate."""
    report = verdicts(dump, cases, title,
                      group=lambda description: description.split(": ", 1)[1].split(" ", 1)[0])
    if report.counts["cases"]:
        report.counts["agreement"] += f" (target {MUTATION_TARGET}%)"
    return report


def agreement_rate(report: Report) -> float:
    total = report.counts["cases"]
    return 100.0 * report.counts["agree"] / total if total else 100.0


# ---------------------------------------------------------------------------------------------
# Trees

STATEMENTS = {cls.__name__ for cls in ast.stmt.__subclasses__()}
DEFINITIONS = {"FunctionDef", "AsyncFunctionDef", "ClassDef"}
REQUIRED_TYPES = {"arg", "keyword", "Call", "Dict", "alias"} | STATEMENTS
REQUIRED_ROLES = {
    "FunctionDef.decorator_list", "AsyncFunctionDef.decorator_list", "ClassDef.decorator_list",
    "FunctionDef.returns", "AsyncFunctionDef.returns", "arg.annotation", "AnnAssign.annotation",
    "AnnAssign.target", "AnnAssign.value", "Assign.targets", "Assign.value", "Return.value",
    "keyword.value", "Dict.keys", "Dict.values",
}
FSTRING_INNER_ROLES = {"JoinedStr.values", "FormattedValue.format_spec"}
MISSING = object()
SPACE = b" \t\f\r\n\\"


def is_string_literal(node: dict) -> bool:
    if node["_type"] == "JoinedStr":
        return True
    value = node.get("value") if node["_type"] == "Constant" else None
    return isinstance(value, str) or (isinstance(value, dict) and "bytes" in value)


def scan_back(data: bytes, pos: int, mark: bytes) -> int | None:
    """Offset of `mark` that precedes `pos` across white space and line continuations."""
    i = pos
    while i > 0 and data[i - 1] in SPACE:
        i -= 1
    if data[i - len(mark) : i] == mark and (mark != b"*" or data[i - 2 : i - 1] != b"*"):
        return i - len(mark)
    return None


def skip_space(data: bytes, pos: int) -> int:
    while pos < len(data) and data[pos] in SPACE:
        pos += 1
    return pos


IDENTIFIER_END = set(b"([:=,)\\# \t\f\r\n")


def identifier_end(data: bytes, pos: int) -> int:
    while pos < len(data) and data[pos] not in IDENTIFIER_END:
        pos += 1
    return pos


def literal_number(value: dict):
    (kind, text), = value.items()
    try:
        number = ast.literal_eval(text)
    except (ValueError, SyntaxError):
        return (kind, "unreadable", text)
    return (kind, type(number).__name__, number)


class TreeComparison:
    """One file's two trees compared; disagreements go to the report."""

    def __init__(self, path, data: bytes, token_list, report: Report):
        self.path = path
        self.data = data
        self.tokens = token_list
        self.token_starts = [s for _, s, _ in token_list] if token_list is not None else None
        self.report = report

    def at(self, offset: int) -> str:
        return where(self.path, self.data, offset)

    def node_name(self, t: dict, role: str) -> str:
        return f"{t['_type']} in {role}" if role else t["_type"]

    def required(self, t: dict, role: str) -> bool:
        if t["_type"] in REQUIRED_TYPES or role in REQUIRED_ROLES:
            return True
        return is_string_literal(t) and role not in FSTRING_INNER_ROLES

    def expected_range(self, t: dict, role: str) -> list[int] | None:
        start, end = t["range"]
        if t["_type"] in DEFINITIONS and t.get("decorator_list"):
            at_sign = scan_back(self.data, t["decorator_list"][0]["range"][0], b"@")
            if at_sign is None:
                return None
            start = at_sign
        elif t["_type"] == "arg" and role in ("arguments.vararg", "arguments.kwarg"):
            star = scan_back(self.data, start, b"*" if role == "arguments.vararg" else b"**")
            if star is None:
                return None
            start = star
        return [start, end]

    def compare(self, o, t: dict, role: str, in_fstring: bool = False) -> None:
        report = self.report
        t_type = t["_type"]
        if not isinstance(o, dict) or o.get("_type") != t_type:
            o_type = o.get("_type") if isinstance(o, dict) else type(o).__name__
            start = t.get("range", [0])[0]
            report.add(True, f"kind: CPython {t_type}, ours {o_type} (as {role})",
                       f"{self.at(start)} {snippet(self.data, start, t.get('range', [0, 0])[1])}")
            return
        if "range" in t:
            self.compare_range(o, t, role)
        for field, t_value in t.items():
            if field in ("_type", "range"):
                continue
            o_value = o.get(field, MISSING)
            child_role = f"{t_type}.{field}"
            if o_value is MISSING:
                # An absent field that CPython leaves empty loses nothing.
                report.add(t_value not in (None, []), f"missing field {child_role}",
                           self.at(t.get("range", [0])[0]))
            elif t_type == "Constant" and field == "value":
                self.compare_constant(o, t, in_fstring)
            elif isinstance(t_value, dict):
                self.compare(o_value, t_value, child_role,
                             in_fstring or t_type in ("JoinedStr", "FormattedValue"))
            elif isinstance(t_value, list):
                if not isinstance(o_value, list) or len(o_value) != len(t_value):
                    start = t.get("range", [0])[0]
                    report.add(True, f"length of {child_role}",
                               f"{self.at(start)} CPython {len(t_value)}, ours "
                               f"{len(o_value) if isinstance(o_value, list) else o_value!r}")
                    continue
                for o_item, t_item in zip(o_value, t_value):
                    if isinstance(t_item, dict):
                        self.compare(o_item, t_item, child_role,
                                     in_fstring or t_type in ("JoinedStr", "FormattedValue"))
                    else:
                        self.compare_scalar(o_item, t_item, t, child_role)
            elif t_value is None and isinstance(o_value, dict):
                report.add(True, f"{child_role}: CPython none, ours {o_value.get('_type')}",
                           self.at(o_value.get("range", [0])[0]))
            else:
                self.compare_scalar(o_value, t_value, t, child_role)
        self.compare_extras(o, t, role)

    def compare_scalar(self, o_value, t_value, t: dict, role: str) -> None:
        if isinstance(t_value, str) and role != "Constant.kind":
            self.report.counts["identifiers compared"] += 1
        if o_value != t_value or type(o_value) is not type(t_value):
            klass = "identifier" if isinstance(t_value, str) else "value"
            self.report.add(True, f"{klass} of {role}",
                            f"{self.at(t.get('range', [0])[0])} CPython {t_value!r}, "
                            f"ours {o_value!r}")

    def compare_constant(self, o: dict, t: dict, in_fstring: bool) -> None:
        t_value, o_value = t["value"], o.get("value")
        start = t.get("range", [0])[0]
        if isinstance(t_value, str):
            self.report.counts["string values compared"] += 1
            kind = "f-string part" if in_fstring else "string"
            if not isinstance(o_value, str):
                self.report.add(True, f"kind of {kind} constant",
                                f"{self.at(start)} CPython str, ours {o_value!r:.60}")
            elif o_value != t_value:
                self.report.add(True, f"value of {kind} literal",
                                f"{self.at(start)} CPython {t_value!r:.60}, ours {o_value!r:.60}")
        elif isinstance(t_value, dict) and "bytes" in t_value:
            self.report.counts["bytes values compared"] += 1
            ours_hex = o_value.get("bytes", "").lower() if isinstance(o_value, dict) else None
            if ours_hex != t_value["bytes"]:
                self.report.add(True, "value of bytes literal",
                                f"{self.at(start)} CPython {t_value}, ours {o_value!r:.60}")
        elif isinstance(t_value, dict) and set(t_value) <= {"int", "float", "complex"}:
            self.report.counts["numbers compared"] += 1
            ok = isinstance(o_value, dict) and len(o_value) == 1 and set(o_value) <= {
                "int", "float", "complex"}
            if not ok or literal_number(o_value) != literal_number(t_value):
                self.report.add(True, "value of number",
                                f"{self.at(start)} CPython {t_value}, ours {o_value!r:.60}")
        elif o_value != t_value or type(o_value) is not type(t_value):
            self.report.add(True, "value of constant",
                            f"{self.at(start)} CPython {t_value!r}, ours {o_value!r:.60}")

    def compare_range(self, o: dict, t: dict, role: str) -> None:
        expected = self.expected_range(t, role)
        required = self.required(t, role)
        name = self.node_name(t, role)
        counts = self.report.counts
        counts["ranges compared (gating)" if required else "ranges compared (other)"] += 1
        if expected is None:
            counts["ranges not verifiable (no mark found before the node)"] += 1
            return
        actual = o.get("range")
        if actual != expected:
            if isinstance(actual, list) and len(actual) == 2:
                delta = f"start {actual[0] - expected[0]:+d}, end {actual[1] - expected[1]:+d}"
                klass = f"range of {name}: " + ", ".join(
                    part for part, d in (("start", actual[0] - expected[0]),
                                         ("end", actual[1] - expected[1])) if d)
            else:
                delta = f"ours {actual!r}"
                klass = f"range of {name}: missing"
            self.report.add(required, klass,
                            f"{self.at(expected[0])} expected {expected} "
                            f"{snippet(self.data, *expected)}, ours {actual} ({delta})")

    def compare_extras(self, o: dict, t: dict, role: str) -> None:
        t_type = t["_type"]
        report = self.report
        if t_type in DEFINITIONS and "range" in t:
            pos = t["range"][0]  # CPython's start: at "def", "async" or "class"
            if self.data.startswith(b"async", pos):
                pos = skip_space(self.data, pos + len(b"async"))
            keyword = b"class" if t_type == "ClassDef" else b"def"
            pos = skip_space(self.data, pos + len(keyword))
            expected = [pos, identifier_end(self.data, pos)]
            report.counts["name ranges compared"] += 1
            if o.get("name_range") != expected:
                report.add(True, f"name_range of {t_type}",
                           f"{self.at(pos)} expected {expected}, ours {o.get('name_range')}")
            if t_type != "ClassDef":
                self.compare_parameter_list(o, t, expected[1])
        elif t_type == "keyword" and "range" in t:
            report.counts["keyword arg ranges compared"] += 1
            if t["arg"] is None:
                expected = None
            else:
                start = t["range"][0]
                expected = [start, identifier_end(self.data, start)]
            if o.get("arg_range", MISSING) != expected:
                report.add(True, "arg_range of keyword",
                           f"{self.at(t['range'][0])} expected {expected}, "
                           f"ours {o.get('arg_range', 'absent')}")
        elif is_string_literal(t) and "range" in t and role not in FSTRING_INNER_ROLES:
            self.compare_parts(o, t)

    def compare_parameter_list(self, o: dict, t: dict, name_end: int) -> None:
        """The parameter list from its "(" to its ")", found by the tokenizer after the name
        (and after the type parameters' brackets)."""
        if self.tokens is None:
            return
        i = bisect.bisect_left(self.token_starts, name_end)
        depth = 0
        start = None
        for kind, s, e in self.tokens[i:]:
            if start is None:
                if kind == tokenize.LSQB:
                    depth += 1
                elif kind == tokenize.RSQB:
                    depth -= 1
                elif kind == tokenize.LPAR and depth == 0:
                    start, depth = s, 1
                continue
            if kind in (tokenize.LPAR, tokenize.LSQB, tokenize.LBRACE):
                depth += 1
            elif kind in (tokenize.RPAR, tokenize.RSQB, tokenize.RBRACE):
                depth -= 1
                if depth == 0:
                    expected = [start, e]
                    break
        else:
            return
        self.report.counts["parameter list ranges compared"] += 1
        actual = o.get("args", {}).get("range") if isinstance(o.get("args"), dict) else None
        if actual != expected:
            self.report.add(True, "range of a function's parameter list (arguments)",
                            f"{self.at(start)} expected {expected} "
                            f"{snippet(self.data, *expected)}, ours {actual}")

    def compare_parts(self, o: dict, t: dict) -> None:
        """Parts of an implicit concatenation: the string tokens inside the constant's range."""
        if self.tokens is None:
            return
        start, end = t["range"]
        i = bisect.bisect_left(self.token_starts, start)
        expected = []
        depth = 0  # of f-strings; only the outermost literals are parts
        for kind, s, e in self.tokens[i:]:
            if s >= end:
                break
            if kind == tokenize.FSTRING_START:
                if depth == 0:
                    fstring_start = s
                depth += 1
            elif kind == tokenize.FSTRING_END:
                depth -= 1
                if depth == 0:
                    expected.append([fstring_start, e])
            elif kind == tokenize.STRING and depth == 0:
                expected.append([s, e])
        actual = o.get("parts")
        if len(expected) <= 1:
            if actual not in (None, [], [[start, end]]):
                self.report.add(True, "parts of a single string literal",
                                f"{self.at(start)} expected none, ours {actual}")
            return
        self.report.counts["implicit concatenations compared"] += 1
        if actual != expected:
            self.report.add(True, "parts of an implicit concatenation",
                            f"{self.at(start)} expected {expected[:4]}, ours {actual}")


def compare_documents(path, text: str, ours: dict, report: Report) -> None:
    """Compares our parser-dump document of one file with CPython's tree of it."""
    source = oracle.Source(text)
    token_list = oracle.tokens(source)
    theirs = oracle.dump(text, with_comments=False)
    comparison = TreeComparison(path, source.data, token_list, report)
    if not ours.get("ok"):
        error = ours.get("error", {})
        intended = str(error.get("message")).startswith(INTENDED_REFUSAL)
        report.add(not intended, INTENDED_CLASS if intended else "ours refuses, CPython accepts",
                   f"{path}: {error.get('message')} at {error.get('range')}")
        return
    report.counts["files compared"] += 1
    comparison.compare(ours.get("module"), theirs["module"], "")
    expected_comments = oracle.comment_ranges(token_list)
    if expected_comments is not None:
        report.counts["comments compared"] += len(expected_comments)
        actual = ours.get("comments")
        if actual != expected_comments:
            actual = actual if isinstance(actual, list) else []
            first = next((i for i, (a, b) in enumerate(zip(actual, expected_comments)) if a != b),
                         min(len(actual), len(expected_comments)))
            offset = expected_comments[first][0] if first < len(expected_comments) else 0
            report.add(True, "comment ranges",
                       f"{where(path, source.data, offset)} CPython {len(expected_comments)} "
                       f"comments, ours {len(actual)}; first difference: CPython "
                       f"{expected_comments[first: first + 1]}, ours {actual[first: first + 1]}")


def trees(dump: ParserDump, files: list, report: Report | None = None) -> Report:
    report = report or Report("trees: kinds, identifiers, values and ranges against CPython's")
    for path in files:
        text = oracle.read_source(path)
        if text is None or not oracle.verdict(text)[0]:
            continue
        ours, failure = dump.dump(path)
        if ours is None:
            report.add(True, "parser-dump failed", f"{path}: {failure}")
            continue
        compare_documents(path, text, ours, report)
    return report


def mutant_trees(dump: ParserDump, cases: list[tuple[str, str]],
                 title: str = "trees of the mutants CPython accepts") -> Report:
    """The trees of the cases (mutants, snippets) that CPython accepts: odd but valid code puts
    ranges and values to a harder test than the corpus as written."""
    report = Report(title)
    with tempfile.TemporaryDirectory(prefix="tolvo-mutants-") as directory:
        for i, (description, text) in enumerate(cases):
            if not oracle.verdict(text)[0]:
                continue
            path = os.path.join(directory, f"m{i:06d}.py")
            with open(path, "w", encoding="utf-8", errors="surrogatepass", newline="") as f:
                f.write(text)
            ours, failure = dump.dump(path)
            failures = report.failures()
            if ours is None:
                report.add(True, "parser-dump failed", f"{description}: {failure}")
            else:
                compare_documents(path, text, ours, report)
            if report.failures() != failures:
                report.add(False, "cases whose tree differs", description)
    return report


# ---------------------------------------------------------------------------------------------


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--parser-dump", type=pathlib.Path, default=DEFAULT_DUMP)
    parser.add_argument("--corpus", type=pathlib.Path, default=DEFAULT_CORPUS)
    commands = parser.add_subparsers(dest="command", required=True)
    for name in ("acceptance", "trees"):
        command = commands.add_parser(name)
        command.add_argument("files", nargs="*", type=pathlib.Path)
    mutations_command = commands.add_parser("mutations")
    snippets_command = commands.add_parser("snippets")
    all_command = commands.add_parser("all")
    for command in (mutations_command, all_command):
        command.add_argument("--sample", type=int, default=400, help="files sampled")
        command.add_argument("--per-file", type=int, default=10)
        command.add_argument("--sequences", type=int, default=4000,
                             help="texts of random tokens from the sampled files")
        command.add_argument("--max-bytes", type=int, default=40000,
                             help="only files up to this size are mutated")
    for command in (snippets_command, all_command):
        command.add_argument("--per-snippet", type=int, default=30, help="mutants of each")
        command.add_argument("--snippet-sequences", type=int, default=20000,
                             help="texts of random tokens from the snippets")
        command.add_argument("--fstrings", type=int, default=20000, help="random f-strings")
    for command in (mutations_command, snippets_command, all_command):
        command.add_argument("--seed", type=int, default=2024)
    args = parser.parse_args(argv)
    if not args.parser_dump.exists():
        print(f"compare.py: no parser-dump at {args.parser_dump}", file=sys.stderr)
        return 2
    sys.setrecursionlimit(100000)
    dump = ParserDump(args.parser_dump)
    files = getattr(args, "files", None)
    if not isinstance(files, list) or not files:
        files = corpus_files(args.corpus)
    else:
        files = [p for p in files if oracle.read_source(p) is not None]  # UTF-8 files only
    reports = []
    failed = False
    if args.command in ("acceptance", "all"):
        reports.append(acceptance(dump, files))
        print(reports[-1].render(), flush=True)
    if args.command in ("mutations", "all"):
        small = [p for p in files if p.stat().st_size <= args.max_bytes and
                 oracle.verdict(oracle.read_source(p))[0]]
        chosen = file_sources(sample(small, args.sample, args.seed))
        cases = mutate(chosen, args.per_file, args.seed)
        cases += token_sequences(chosen, args.sequences, args.seed)
        report = mutations(dump, cases)
        print(report.render(), flush=True)
        if agreement_rate(report) < MUTATION_TARGET:
            failed = True
        reports.append(mutant_trees(dump, cases))
        print(reports[-1].render(), flush=True)
    if args.command in ("snippets", "all"):
        cases = snippets(args.corpus)
        reports.append(snippet_verdicts(dump, cases))
        print(reports[-1].render(), flush=True)
        reports.append(mutant_trees(dump, cases, "trees of the snippets CPython accepts"))
        print(reports[-1].render(), flush=True)
        edited = snippet_mutants(cases, args.per_snippet, args.seed)
        edited += token_sequences(cases, args.snippet_sequences, args.seed)
        edited += random_fstrings(args.fstrings, args.seed)
        reports.append(mutations(dump, edited, "snippet mutations: token edits of the snippets "
                                 "and random runs of their tokens"))
        print(reports[-1].render(), flush=True)
        reports.append(mutant_trees(dump, sample(edited, 3000, args.seed),
                                    "trees of snippet mutations CPython accepts (a sample)"))
        print(reports[-1].render(), flush=True)
    if args.command in ("trees", "all"):
        reports.append(trees(dump, files))
        print(reports[-1].render(), flush=True)
    return 1 if failed or any(r.failures() for r in reports) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
