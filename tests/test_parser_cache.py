"""AstFileParserCache: each path text read and parsed once, failures kept, import maps."""
import ast
import faulthandler
import os
import pathlib
import threading

import pytest

import tolvo_rs

Cache = tolvo_rs.AstFileParserCache
FS = tolvo_rs.StdAstFileSystem


def parsed(tmp_path, source, name="m.py"):
    path = tmp_path / name
    path.write_bytes(source.encode("utf-8", "surrogatepass"))
    return Cache([], str(tmp_path)).get_parsed_file(str(path))


IMPORT_MAPS = [
    ("from a import b as c, b\n", {"a": {"b": ["b", "c"]}}),
    ("from x import B, a as B\n", {"x": {"B": ["B"], "a": ["B"]}}),
    ("from m import n as alpha, n as Zed, n as _\n", {"m": {"n": ["Zed", "_", "alpha"]}}),
    ("from a.b import c as d, e\nfrom a.b import c\nfrom m import *\nimport x\n"
     "from . import y\nfrom .z import w\nif True:\n    from q import r\n",
     {"a.b": {"c": ["c", "d"], "e": ["e"]}, "m": {"*": ["*"]}}),
    ("from m import *\nfrom m import a as b\nfrom m import *\n", {"m": {"*": ["*"], "a": ["b"]}}),
    ("import os\nimport os.path as p\n", {}),
    ("from . import a\nfrom .. m import b\nfrom .pkg.sub import c\n", {}),
    ("def f():\n    from a import b\nclass C:\n    from c import d\ntry:\n    from e import f\n"
     "except E:\n    from g import h\nwith x:\n    from i import j\nfor k in l:\n"
     "    from m import n\nwhile o:\n    from p import q\nmatch r:\n    case _:\n"
     "        from s import t\n", {}),
    ("from  a . b  import (c,\n    d as e,)\n", {"a.b": {"c": ["c"], "d": ["e"]}}),
    ("from ﬁle import ｘ as ℌ\n", {"file": {"x": ["H"]}}),
    ("from tolvo import online\nfrom tolvo.features import features as F, online\n",
     {"tolvo": {"online": ["online"]}, "tolvo.features": {"features": ["F"], "online": ["online"]}}),
    ("", {}),
    ("# only a comment\n", {}),
]


@pytest.mark.parametrize("source,expected", IMPORT_MAPS)
def test_import_map(tmp_path, source, expected):
    path, text, imports = parsed(tmp_path, source)
    assert text == source
    assert imports == expected
    assert imports == reference_import_map(source)


def reference_import_map(source):
    """The import map as CPython's own tree gives it, local names sorted by bytes."""
    imports = {}
    for statement in ast.parse(source).body:
        if isinstance(statement, ast.ImportFrom) and statement.level == 0:
            names = imports.setdefault(statement.module, {})
            for alias in statement.names:
                names.setdefault(alias.name, set()).add(alias.asname or alias.name)
    return {module: {name: sorted(local, key=lambda s: s.encode("utf-8", "surrogatepass"))
                     for name, local in names.items()} for module, names in imports.items()}


def test_import_maps_of_the_standard_library_match_cpythons_tree():
    root = pathlib.Path(os.__file__).parent
    cache = Cache([], str(root))
    checked = 0
    for path in sorted(root.glob("*.py"))[:200]:
        source = path.read_bytes().decode("utf-8")
        try:
            expected = reference_import_map(source)
        except SyntaxError:
            continue
        assert cache.get_parsed_file(str(path))[2] == expected, path
        checked += 1
    assert checked > 100


@pytest.mark.parametrize("content", [
    "",
    "# only a comment",
    "\ufeffx = 1\r\ny = '''a\r\nb\rc'''\n",
    "s = '\ud800'  # a lone surrogate escape is text, not bytes\n".replace("\ud800", "\\ud800"),
    "é = 'ü'\n",
])
def test_record_keeps_path_and_text_unchanged(tmp_path, content):
    path = tmp_path / "m.py"
    path.write_bytes(content.encode("utf-8"))
    result = Cache([], "/elsewhere").get_parsed_file(str(path))
    assert type(result) is tuple and len(result) == 3
    assert result[0] == str(path) and result[1] == content and type(result[2]) is dict


def test_each_path_text_is_its_own_entry_and_keeps_its_first_result(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "a.py").write_text("x = 1\n")
    cache = Cache(["a.py"], str(tmp_path))
    first = cache.get_parsed_file("a.py")
    (tmp_path / "a.py").write_text("x = 2\n")
    assert cache.get_parsed_file("./a.py") == ("./a.py", "x = 2\n", {})
    assert cache.get_parsed_file(str(tmp_path / "a.py"))[1] == "x = 2\n"
    again = cache.get_parsed_file("a.py")
    assert again == first == ("a.py", "x = 1\n", {})
    assert again is not first and again[2] is not first[2]


def test_failures_are_kept_as_messages(tmp_path):
    cache = Cache([], str(tmp_path))
    missing = str(tmp_path / "later.py")
    expected = f"Failed to read {missing}: No such file or directory (os error 2)"
    for create_between in (False, True):
        with pytest.raises(ValueError) as raised:
            cache.get_parsed_file(missing)
        assert raised.value.args == (expected,)
        if not create_between:
            pathlib.Path(missing).write_text("x = 1\n")

    bad = tmp_path / "bad.py"
    bad.write_text("x = (1,\n")
    message = f"Failed to parse {bad}: '(' was never closed at byte range 4..5"
    for _ in range(2):
        with pytest.raises(ValueError) as raised:
            cache.get_parsed_file(str(bad))
        assert raised.value.args == (message,)

    undecodable = tmp_path / "latin.py"
    undecodable.write_bytes(b"x = '\xe9'\n")
    with pytest.raises(ValueError, match="^Failed to read .*latin.py: stream did not contain "
                                         "valid UTF-8$"):
        cache.get_parsed_file(str(undecodable))


def test_paths_outside_the_list_are_parsed(tmp_path):
    (tmp_path / "listed.py").write_text("")
    (tmp_path / "other.txt").write_text("from a import b\n")
    cache = Cache([str(tmp_path / "listed.py")], str(tmp_path))
    assert cache.get_parsed_file(str(tmp_path / "other.txt"))[2] == {"a": {"b": ["b"]}}


def test_all_files_is_the_file_sets_list(tmp_path):
    assert Cache(["b.py", "a.py", "b.py", "c.txt"], ".").all_files() == ["a.py", "b.py"]
    shared = FS(["z.py", "y.py"])
    cache = Cache(["ignored.py"], ".", shared)
    assert cache.all_files() == ["y.py", "z.py"]
    assert Cache(files=["x.py"], project_root=".", filesystem=None).all_files() == ["x.py"]
    assert shared.all_files() == ["y.py", "z.py"], "the file set stays usable"


# The constructor converts in parameter order; the first bad argument decides the error.
CONSTRUCTOR_ERRORS = [
    (("a.py", None, "x"), "argument 'files': Can't extract `str` to `Vec`"),
    ((3, ".", FS([])), "argument 'files': 'int' object is not an instance of 'Sequence'"),
    (([1], ".", FS([])), "argument 'files': 'int' object is not an instance of 'str'"),
    (([], None, "x"), "argument 'project_root': 'None' is not an instance of 'str'"),
    (([], b".", None), "argument 'project_root': 'bytes' object is not an instance of 'str'"),
    (([], ".", "x"), "argument 'filesystem': 'str' object is not an instance of 'StdAstFileSystem'"),
    (([], ".", Cache([], ".")),
     "argument 'filesystem': 'AstFileParserCache' object is not an instance of 'StdAstFileSystem'"),
]


@pytest.mark.parametrize("args,message", CONSTRUCTOR_ERRORS)
def test_constructor_conversion_errors(args, message):
    with pytest.raises(TypeError) as raised:
        Cache(*args)
    assert type(raised.value) is TypeError and str(raised.value) == message


@pytest.mark.parametrize("call,error,message", [
    (lambda c: c.get_parsed_file(None), TypeError,
     "argument 'path': 'None' is not an instance of 'str'"),
    (lambda c: c.get_parsed_file(), TypeError,
     "AstFileParserCache.get_parsed_file() missing 1 required positional argument: 'path'"),
    (lambda c: c.get_parsed_file("a", path="a"), TypeError,
     "AstFileParserCache.get_parsed_file() got multiple values for argument 'path'"),
    (lambda c: c.get_parsed_file("\ud800"), UnicodeEncodeError, None),
    (lambda c: c.all_files(1), TypeError, None),
])
def test_method_errors(call, error, message):
    with pytest.raises(error) as raised:
        call(Cache([], "."))
    assert type(raised.value) is error
    if message is not None:
        assert str(raised.value) == message


def test_class_conventions():
    assert Cache.get_parsed_file.__text_signature__ == "($self, path)"
    assert Cache.all_files.__text_signature__ == "($self)"
    assert [name for name in vars(Cache) if not name.startswith("__")] == [
        "all_files", "get_parsed_file"]


class Watchdog:
    """Ends the process with a traceback instead of hanging the suite."""

    def __enter__(self):
        faulthandler.dump_traceback_later(120, exit=True)

    def __exit__(self, *exc):
        faulthandler.cancel_dump_traceback_later()


def test_concurrent_first_requests_read_the_file_once(tmp_path):
    """32 threads ask for a FIFO that is written once: a second read would wait for a writer that
    never comes, so it is detected by the timeout below and not by hanging."""
    fifo = tmp_path / "once.py"
    os.mkfifo(fifo)
    cache = Cache([], str(tmp_path))
    start = threading.Barrier(33)
    results = [None] * 32

    def ask(i):
        start.wait()
        results[i] = cache.get_parsed_file(str(fifo))

    with Watchdog():
        threads = [threading.Thread(target=ask, args=(i,)) for i in range(32)]
        for thread in threads:
            thread.start()
        start.wait()
        with open(fifo, "w") as pipe:
            pipe.write("from a import b\n")
        for thread in threads:
            thread.join(timeout=30)
        stuck = [thread for thread in threads if thread.is_alive()]
        if stuck:
            # Lets the second reader finish before failing.
            with open(fifo, "w"):
                pass
            for thread in stuck:
                thread.join()
        assert not stuck, "the file was read more than once"
    assert results == [(str(fifo), "from a import b\n", {"a": {"b": ["b"]}})] * 32


def test_a_slow_read_blocks_neither_other_paths_nor_other_threads(tmp_path):
    fifo = tmp_path / "slow.py"
    os.mkfifo(fifo)
    (tmp_path / "quick.py").write_text("from q import r\n")
    cache = Cache([], str(tmp_path))
    result = {}

    def slow():
        result["slow"] = cache.get_parsed_file(str(fifo))

    with Watchdog():
        thread = threading.Thread(target=slow)
        thread.start()
        # The slow request holds its own entry only: this thread runs Python code and gets
        # another path parsed while that read waits for a writer.
        assert cache.get_parsed_file(str(tmp_path / "quick.py"))[2] == {"q": {"r": ["r"]}}
        with open(fifo, "w") as pipe:
            pipe.write("x = 1\n")
        thread.join()
    assert result["slow"][1] == "x = 1\n"

