"""Our parser against CPython's: acceptance, token mutations, trees, values and ranges, over the
standard library and over the code snippets of CPython's own grammar tests.

The default run takes a small fixed sample of the standard library and of the snippets' mutants;
TOLVO_FULL_CORPUS=1 takes all of it (`make parser-corpus`). The reports name every disagreement by
class with examples.
"""

import os
import pathlib
import sys

import pytest

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "parser" / "tools"))

import compare  # noqa: E402
import oracle  # noqa: E402

FULL = os.environ.get("TOLVO_FULL_CORPUS") == "1"
DUMP_PATH = pathlib.Path(os.environ.get("TOLVO_PARSER_DUMP", REPO / "build" / "parser-dump"))
SEED = 2024


@pytest.fixture(scope="module")
def dump():
    if not DUMP_PATH.exists():
        pytest.skip(f"no parser-dump at {DUMP_PATH}")
    return compare.ParserDump(DUMP_PATH)


@pytest.fixture(scope="module")
def corpus():
    if not compare.DEFAULT_CORPUS.is_dir():
        pytest.skip(f"no standard library at {compare.DEFAULT_CORPUS}")
    files = compare.corpus_files()
    if FULL:
        return files
    # Always the parser's busiest files, and a fixed sample of the rest.
    pinned = [compare.DEFAULT_CORPUS / name for name in (
        "test/test_grammar.py", "test/test_fstring.py", "test/test_patma.py",
        "test/test_type_params.py", "test/test_unicode_identifiers.py",
        "test/tokenizedata/bad_coding2.py", "test/tokenizedata/badsyntax_3131.py",
        "test/test_tokenize.py")]
    pinned = [p for p in pinned if p in set(files)]
    return pinned + compare.sample([p for p in files if p not in pinned], 32, SEED)


def assert_clean(report):
    print(report.render())
    assert report.failures() == 0, report.render()


def test_acceptance_matches_cpython(dump, corpus):
    report = compare.acceptance(dump, corpus)
    assert_clean(report)
    if FULL:
        assert report.counts["files"] > 1700


def test_mutations_agree_with_cpython(dump, corpus):
    files = [p for p in corpus if p.stat().st_size <= 40000 and
             oracle.verdict(oracle.read_source(p))[0]]
    chosen = compare.file_sources(compare.sample(files, 400 if FULL else 20, SEED))
    cases = compare.mutate(chosen, 10, SEED)
    cases += compare.token_sequences(chosen, 5000 if FULL else 200, SEED)
    report = compare.mutations(dump, cases)
    print(report.render())
    assert compare.agreement_rate(report) >= compare.MUTATION_TARGET, report.render()
    assert_clean(compare.mutant_trees(dump, cases))


def test_trees_match_cpython(dump, corpus):
    assert_clean(compare.trees(dump, corpus))


@pytest.fixture(scope="module")
def snippets():
    cases = compare.snippets()
    if not cases:
        pytest.skip(f"no CPython tests at {compare.DEFAULT_CORPUS / 'test'}")
    return cases


def test_snippets_agree_with_cpython(dump, snippets):
    """Each code snippet of CPython's grammar, pattern and f-string tests (and each doctest of its
    syntax error tests) parsed alone: these sit at the grammar's edges, where a whole file rarely
    goes. The default run compares a sample of the accepted ones' trees."""
    report = compare.snippet_verdicts(dump, snippets)
    assert_clean(report)
    assert report.counts["cases"] > 1000
    chosen = snippets if FULL else compare.sample(snippets, 150, SEED)
    assert_clean(compare.mutant_trees(dump, chosen, "trees of the snippets CPython accepts"))


def test_snippet_mutations_agree_with_cpython(dump, snippets):
    cases = compare.snippet_mutants(snippets, 30 if FULL else 2, SEED)
    cases += compare.token_sequences(snippets, 20000 if FULL else 1000, SEED)
    cases += compare.random_fstrings(20000 if FULL else 1000, SEED)
    assert_clean(compare.mutations(dump, cases, "snippet mutations"))
    accepted = compare.sample(cases, 3000 if FULL else 150, SEED)
    assert_clean(compare.mutant_trees(dump, accepted, "trees of snippet mutations"))


def dump_source(dump, tmp_path, source: str, name="fixture.py"):
    path = tmp_path / name
    path.write_bytes(source.encode("utf-8", "surrogatepass"))
    document, failure = dump.dump(path)
    assert document is not None, failure
    return path, document


# Small sources whose trees must equal CPython's in kinds, identifiers, values and ranges.
TREE_FIXTURES = {
    "nfkc_identifiers": "ﬁle = 1\nℌ = 2\nｘ = ﬁle + ℌ\nµ = 3\ndef ℱ(ａ, *, 𝔟=1): return ａ\n"
                        "class Ⅸ: ᵢ: int = 0\nimport ﬁle.ｍod as ｍ\nf(ｋｗ=1).ａttr\n",
    "non_ascii_offsets": "é = 'ü'; x = é  # ä\n\U0001d49c = ('\U0001f600' 'b')\nd = {'ß': é}\n",
    "string_escapes": r"""a = '\n\t\\\'\"\a\b\f\v\0\x41\101\u00e9\U0001F600'
n = '\N{EM DASH}\N{LATIN SMALL LETTER A}\N{em dash}'
b = b'\x00\xff\n\\' rb'\n' B"\777"
c = r'\n' R'\'' u'u-kind' U"x"
d = '\q \8 \z' '' "\
continued"
e = '''multi
line \
joined'''
""",
    "bytes_and_fstrings": "a = b'x' b'y'\nb = f'{a!r:>{10}} {{}} {a=}' 'tail'\nc = 'x' f'y{1}'\n"
                          "d = f'''{\n a\n}''' rf'\\n{a}'\ne = f'{a:{b}.{c}f}' f\"{'q'}\"\n",
    "crlf_line_ends": "x = '''a\r\nb\rc'''\r\ndef f(\r\n  a,\r\n):\r\n    return a  # c\r\n",
    "lone_cr_line_ends": "x = 1\ry = '''a\rb'''\rif x:\r    z = 2\r",
    "byte_order_mark": "\ufeffx = 'é'\n@d\ndef f(): pass\n",
    "decorators_and_stars": "@a.b(c=1)\n@ x\nclass C(B, metaclass=M):\n    @staticmethod\n"
                            "    async def f(p, /, q: int = 1, *args: str, k, **kw: int) -> None:\n"
                            "        return\n\nlambda *a, **k: 0\ndef g(*, a): ...\n",
    "statements": "from . import (a as b, c)\nfrom ..m.n import *\nx: int\ny: list[int] = []\n"
                  "a = b = c\nd += 1\nwith (open(x) as f, g):\n    pass\n"
                  "match p:\n    case {'k': [1, *r]} | C(x=1) if r:\n        del x\n"
                  "try:\n    pass\nexcept* E as e:\n    raise X from e\nfinally:\n    global q\n"
                  "type T[K: int = str, *Ts, **P] = dict[K, P]\nassert x, 'm'\n",
    "raw_fstring_line_continuation": "x = rf'abc\\\ndef' fr'a\\\r\nb' Rf\"{x}\\\rc\"\n"
                                     "y = f'abc\\\ndef'\n",
    "format_spec_states": "a = f'{x!r:{y}{{z}}}' f\"{x:{y}{{}\"\"\"\nb = f'''{x:{y}a{{b}'''\n"
                          "print(f'{x:\n}', f'{x:ab\n{y}}', f\"{x!r:abc\r\n}\", f'{x:{y:\n}}')\n",
    "fstring_debug_texts": "a = f'{x = !r:>{w}}' f'{\"#\"=}' f'{(lambda a=1: a)=}' f'{a!=b=}'\n"
                           "b = f'{x:{y}{z=}}' f'{x:a{y=}}' f'{x:{y=}}' f'''{x # c\n=}'''\n",
    "fstring_debug_text_crlf": "x = f'''{a # c\r\n=}''' f'''{b\r\n=}'''\r\n",
    "lone_surrogates": "s = '\\ud800' + '\\udfff\\U0010ffff'\n"
                       "t = '\\ud83d\\ude00' + '\\U0001f600'\n",
    "numbers": "a = 0x_ff + 0o17 + 0b1_0 + 1_000 + 00 + 1e-3 + 1.5j + .5 + 5. + 1E5J"
               " + 123456789012345678901234567890\n",
}


@pytest.mark.parametrize("name", sorted(TREE_FIXTURES))
def test_fixture_tree_matches_cpython(dump, tmp_path, name):
    source = TREE_FIXTURES[name]
    assert oracle.verdict(source)[0], "the fixture itself must be valid Python"
    path, document = dump_source(dump, tmp_path, source)
    report = compare.Report(f"fixture {name}")
    compare.compare_documents(path, source, document, report)
    assert_clean(report)


def find_all(node, type_name):
    """Every node of one kind, in source pre-order."""
    found = []
    if isinstance(node, dict):
        if node.get("_type") == type_name:
            found.append(node)
        for value in node.values():
            found.extend(find_all(value, type_name))
    elif isinstance(node, list):
        for item in node:
            found.extend(find_all(item, type_name))
    return found


EXTRA_SOURCE = (
    "@dec\n"                                   # 0..5
    "def f(a, *args, b=1, **kw) -> int:\n"     # 5..40
    "    return g(x=1, **y)\n"                 # 40..63
    "class Cé[T](B):\n"                        # 63..80, é is two bytes
    "    async def h[T](\n"                    # 80..100
    "        p,  # c\n"                        # 100..116
    "    ): pass\n"                            # 116..128
    "x = ('a'\n"                               # 128..137
    "     if 0 else 'b' \"c\")\n"              # 137..
)


def test_extras_that_cpython_lacks(dump, tmp_path):
    assert oracle.verdict(EXTRA_SOURCE)[0]
    _, document = dump_source(dump, tmp_path, EXTRA_SOURCE)
    assert document["ok"], document
    f, h = find_all(document, "FunctionDef") + find_all(document, "AsyncFunctionDef")
    (c,) = find_all(document, "ClassDef")
    assert f["range"][0] == 0, "a decorated definition starts at its at sign"
    assert f["name_range"] == [9, 10]
    assert f["args"]["range"] == [10, 31], "the parameter list includes both parentheses"
    assert f["args"]["vararg"]["range"] == [14, 19], "a star parameter starts at its star"
    assert f["args"]["kwonlyargs"][0]["range"] == [21, 22], "a default is not part of it"
    assert f["args"]["kwarg"]["range"] == [26, 30]
    keywords = find_all(f, "keyword")
    assert [k["arg_range"] for k in keywords] == [[53, 54], None]
    assert c["name_range"] == [69, 72], "a name's range counts bytes"
    assert h["name_range"] == [94, 95]
    assert h["args"]["range"] == [98, 121], "the list starts after the type parameters"
    (concatenation,) = [n for n in find_all(document, "Constant") if n.get("parts")]
    assert concatenation["value"] == "bc"
    assert concatenation["parts"] == [[152, 155], [156, 159]]


def test_syntax_error_has_message_and_range(dump, tmp_path):
    path = tmp_path / "bad.py"
    path.write_text("x = (1,\ny = 2\n")
    (kind, message), = dump.check([path]).values()
    assert kind == "error"
    assert compare.re.search(r" at byte range \d+\.\.\d+$", message), message
    _, document = dump_source(dump, tmp_path, "def f(:\n", "bad2.py")
    assert document["ok"] is False
    start, end = document["error"]["range"]
    assert 0 <= start <= end <= 8


def nesting_cases():
    """Sources at and around CPython's fixed nesting limits, and deep but accepted ones. CPython's
    stack-depth failures ("Parser stack overflowed", RecursionError, from about 3,000 levels) are
    no fixed limits, and our parser bounds its recursion for a 2 MiB stack (a few hundred levels):
    those depths are left to the C++ robustness tests."""
    shapes = {"parentheses": ("(", "x", ")"), "brackets": ("[", "x", "]"),
              "braces": ("{", "x", "}"), "calls": ("f(", "x", ")"), "subscripts": ("x[", "0", "]")}
    for depth in (199, 200, 201):
        for name, (open_, middle, close) in shapes.items():
            yield f"{name}_{depth}", open_ * depth + middle + close * depth
        # A replacement field's brace is one level of the same count.
        inner = depth - 1
        yield f"fstring_parentheses_{depth}", "f'{" + "(" * inner + "x" + ")" * inner + "}'"
    for depth in (149, 150):
        yield f"fstrings_{depth}", "f'{" * depth + "x" + "}'" * depth
    for depth in (99, 100):
        for indent in (" ", "\t"):
            name = "spaces" if indent == " " else "tabs"
            yield f"indentation_{name}_{depth}", "".join(
                indent * i + "if x:\n" for i in range(depth)) + indent * depth + "pass\n"
    deep = {"unary": ("-", "x", ""), "not": ("not ", "x", ""), "lambdas": ("lambda: ", "0", ""),
            "power": ("x**", "x", ""), "conditional": ("x if x else ", "x", ""),
            "attributes": ("", "x", ".a"), "binary": ("", "x", "+x")}
    for name, (open_, middle, close) in deep.items():
        yield f"{name}_300", open_ * 300 + middle + close * 300
    yield "string_concatenation_10000", "x = " + "'a' " * 10000


def test_nesting_limits_match_cpython(dump, tmp_path):
    cases = dict(nesting_cases())
    paths = []
    for name, source in cases.items():
        path = tmp_path / f"{name}.py"
        path.write_text(source)
        paths.append(path)
    ours = dump.check(paths)
    wrong = []
    for path, (name, source) in zip(paths, cases.items()):
        theirs_ok, theirs_message = oracle.verdict(source)
        kind, message = ours[str(path)]
        if kind == "crash" or (kind == "ok") != theirs_ok:
            wrong.append(f"{name}: CPython {theirs_message or 'accepts'}; ours {message or kind}")
    assert not wrong, "\n".join(wrong)


# Small texts where the tokenizer's line structure decides validity; CPython is the judge.
VERDICT_FIXTURES = {
    "continuation_then_indented_statement": "x = 1\n\\\n import re\n",
    "continuation_at_file_start_then_indent": "\\\n import re\n",
    "continuation_then_comment_line": "\\\n # comment\n\nx = 1\n",
    "continuation_then_blank_line": "x = 1\n\\\n\nimport re\n",
    "continuation_then_dedent_mismatch": "if x:\n    y\n\\\n  z\n",
    "continuation_before_block": "if x:\n\\\n    y\n",
    "continuation_inside_statement": "x = 1 + \\\n    2\n",
    "continuation_at_end_of_file": "x = 1\n\\",
    "continuation_then_eof_after_newline": "x = 1\n\\\n",
    "lone_cr_between_statements": "x = 1\ry = 2\r",
    "form_feed_indentation": "if x:\n\f    y\n",
    "tab_and_spaces_consistent": "if x:\n\ty\n\tz\n",
    "tab_then_spaces_inconsistent": "if x:\n\ty\n        z\n",
    "comment_at_deeper_indent": "if x:\n    y\n        # c\nz\n",
    "empty_text": "",
    "only_whitespace": "   \n\t\n",
    "null_byte": "x = 1\0\n",
    "raw_fstring_backslash_line_break": "x = rf'abc\\\ndef'\n",
    "format_spec_line_break": "print(f'{x:\n}')\n",
    "format_spec_line_break_then_text": "print(f'{x:\n abc}')\n",
    "format_spec_line_break_after_nested_field": "print(f'{x:{y}\n}')\n",
    "format_spec_line_break_after_lambda_colon": "f'{lambda :\n x}'\n",
    "format_spec_backslash_line_break": "print(f'{x:a\\\nb}')\n",
}


def test_verdicts_match_cpython_on_line_structure(dump, tmp_path):
    paths = []
    for name, source in VERDICT_FIXTURES.items():
        path = tmp_path / f"{name}.py"
        path.write_bytes(source.encode())
        paths.append(path)
    ours = dump.check(paths)
    wrong = []
    for path, (name, source) in zip(paths, VERDICT_FIXTURES.items()):
        theirs_ok, theirs_message = oracle.verdict(source)
        kind, message = ours[str(path)]
        if kind == "crash" or (kind == "ok") != theirs_ok:
            wrong.append(f"{name} {source!r}: CPython {theirs_message or 'accepts'}; "
                         f"ours {message or kind}")
    assert not wrong, "\n".join(wrong)
