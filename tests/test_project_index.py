"""AstProjectIndex: its file list, lookups by module and by file, results kept for its life."""
import ast
import os
import pathlib

import pytest

import tolvo_rs
from source_fixtures import project, resolver_properties, write

Index = tolvo_rs.AstProjectIndex
FS = tolvo_rs.StdAstFileSystem

RESOLVERS = "from tolvo import online\n@online\ndef resolver(): pass\ndef plain(): pass\n"


def test_lookups_by_module_scan_the_list_in_its_order(tmp_path):
    """x/__init__.py and x.py both name the module x: the one earlier in the list answers."""
    files = {"x/__init__.py": "def f(): return 'package'\n", "x.py": "\n\ndef f(): return 'x'\n"}
    index, paths = project(tmp_path, files)
    assert index.function_ast("x", "f").resolver_name_location == (0, 4, 0, 5)
    reversed_index = Index(list(reversed(paths)), str(tmp_path))
    assert reversed_index.function_ast("x", "f").resolver_name_location == (2, 4, 2, 5)


def test_function_and_resolver_lookups(tmp_path):
    index, (path,) = project(tmp_path, {"m.py": RESOLVERS})
    for lookup in (lambda n: index.function_ast("m", n),
                   lambda n: index.function_ast_in_file(path, n)):
        assert isinstance(lookup("resolver"), tolvo_rs.ResolverAST)
        assert lookup("plain").decorator_location is None
    assert index.resolver_ast("m", "resolver").decorator_location == (1, 1, 1, 7)
    assert index.resolver_ast_in_file(path, "resolver").resolver_name == "resolver"
    assert index.resolver_ast("m", "plain") is None
    assert index.resolver_ast_in_file(path, "plain") is None
    assert index.function_ast("n", "plain") is None, "the module must match"
    assert index.function_ast("m", "Plain") is None, "names match exactly"


def test_feature_class_lookups_find_no_plain_class(tmp_path):
    index, (path,) = project(tmp_path, {"m.py": "class C: pass\n"})
    assert index.feature_class_ast("m", "C") is None
    assert index.feature_class_ast_in_file(path, "C") is None


def test_files_are_kept_as_given_and_anything_listed_is_parsed(tmp_path):
    """The list is not filtered: notes.txt is read and parsed like Python source."""
    index, _ = project(tmp_path, {"b.py": "def f(): pass\n", "notes.txt": "def g(): pass\n",
                                  "bad.py": "def (:\n"})
    assert index.function_ast("notes.txt", "g").resolver_name == "g"
    assert index.function_ast("b", "f") is not None
    assert index.function_ast("bad", "f") is None


@pytest.mark.parametrize("content", [None, b"def f(:\n", b"\xff\xfe", b"def f(): pass\x00"])
def test_unreadable_or_unparsable_files_give_none(tmp_path, content):
    path = tmp_path / "m.py"
    if content is not None:
        path.write_bytes(content)
    index = Index([str(path)], str(tmp_path))
    for _ in range(2):
        assert index.function_ast("m", "f") is None
        assert index.function_ast_in_file(str(path), "f") is None
        assert index.resolver_ast_in_file(str(path), "f") is None
        assert index.feature_class_ast("m", "f") is None


def test_results_are_kept_for_the_index_life(tmp_path):
    missing = tmp_path / "late.py"
    changing = pathlib.Path(write(tmp_path, "changing.py", "def first(): pass\n"))
    index = Index([str(missing), str(changing)], str(tmp_path))
    assert index.function_ast("late", "f") is None
    assert index.function_ast("changing", "first") is not None
    missing.write_text("def f(): pass\n")
    changing.write_text("def second(): pass\n")
    assert index.function_ast("late", "f") is None, "a failure is kept"
    assert index.function_ast("changing", "second") is None, "so is a result"
    assert Index([str(missing)], str(tmp_path)).function_ast("late", "f") is not None


def test_paths_outside_the_list_and_other_spellings(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    write(tmp_path, "a.py", "def f(): pass\n")
    index = Index([], str(tmp_path))
    assert index.function_ast("a", "f") is None, "an empty list has nothing by module"
    assert index.function_ast_in_file("a.py", "f").module == "a"
    os.rename("a.py", "b.py")
    assert index.function_ast_in_file("a.py", "f") is not None, "kept under its own text"
    assert index.function_ast_in_file("./a.py", "f") is None, "another text is another entry"


def test_a_given_file_set_names_modules_but_the_files_argument_is_scanned(tmp_path):
    listed = write(tmp_path, "listed.py", "def f(): pass\n")
    shared = write(tmp_path, "shared.py", "def g(): pass\n")
    index = Index([listed], str(tmp_path), FS([shared]))
    assert index.function_ast("listed", "f") is not None
    assert index.function_ast("shared", "g") is None, "only `files` is scanned by module"
    assert index.function_ast_in_file(shared, "g").module == "shared"
    index = Index(files=[listed], project_root=str(tmp_path), filesystem=None)
    assert index.function_ast("listed", "f") is not None


def test_lookups_return_new_objects_that_outlive_the_index(tmp_path):
    index, (path,) = project(tmp_path, {"m.py": RESOLVERS})
    first = index.resolver_ast("m", "resolver")
    second = index.resolver_ast("m", "resolver")
    assert first is not second
    assert resolver_properties(first) == resolver_properties(second)
    del index
    assert first.module == "m" and first.decorator_location == (1, 1, 1, 7)


def test_nonblocking_start_index_returns_none(tmp_path):
    index, _ = project(tmp_path, {"m.py": RESOLVERS})
    assert index.nonblocking_start_index() is None
    assert index.nonblocking_start_index() is None
    assert index.resolver_ast("m", "resolver") is not None
    assert Index([], ".").nonblocking_start_index() is None


@pytest.mark.parametrize("call,message", [
    (lambda i: i.resolver_ast(None, "x"), "argument 'module': 'None' is not an instance of 'str'"),
    (lambda i: i.resolver_ast("m", 1),
     "argument 'resolver_name': 'int' object is not an instance of 'str'"),
    (lambda i: i.resolver_ast("m"),
     "AstProjectIndex.resolver_ast() missing 1 required positional argument: 'resolver_name'"),
    (lambda i: i.function_ast("m"),
     "AstProjectIndex.function_ast() missing 1 required positional argument: 'function_name'"),
    (lambda i: i.feature_class_ast_in_file(file_path="a.py"),
     "AstProjectIndex.feature_class_ast_in_file() missing 1 required positional argument: "
     "'class_name'"),
    (lambda i: i.function_ast_in_file("a", "b", "c"),
     "AstProjectIndex.function_ast_in_file() takes 2 positional arguments but 3 were given"),
    (lambda i: i.resolver_ast_in_file("a", resolver_name="b", file_path="c"),
     "AstProjectIndex.resolver_ast_in_file() got multiple values for argument 'file_path'"),
    (lambda i: i.feature_class_ast(module="m", name="n"),
     "AstProjectIndex.feature_class_ast() got an unexpected keyword argument 'name'"),
    (lambda i: Index("a.py", "."), "argument 'files': Can't extract `str` to `Vec`"),
    (lambda i: Index([], None), "argument 'project_root': 'None' is not an instance of 'str'"),
    (lambda i: Index([], ".", "x"),
     "argument 'filesystem': 'str' object is not an instance of 'StdAstFileSystem'"),
    (lambda i: Index([], ".", i),
     "argument 'filesystem': 'AstProjectIndex' object is not an instance of 'StdAstFileSystem'"),
    (lambda i: Index(),
     "AstProjectIndex.__new__() missing 2 required positional arguments: 'files' and "
     "'project_root'"),
    (lambda i: i.nonblocking_start_index(1), None),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as raised:
        call(Index([], "."))
    assert type(raised.value) is TypeError
    if message is not None:
        assert str(raised.value) == message


def test_lookups_take_text_subclasses_and_keywords(tmp_path):
    class Text(str):
        pass

    index, (path,) = project(tmp_path, {"m.py": RESOLVERS})
    assert index.resolver_ast(module=Text("m"), resolver_name="resolver") is not None
    assert index.function_ast_in_file(file_path=path, function_name=Text("plain")) is not None
    with pytest.raises(UnicodeEncodeError):
        index.function_ast("\ud800", "f")


def test_class_conventions():
    assert [name for name in vars(Index) if not name.startswith("__")] == [
        "feature_class_ast", "feature_class_ast_in_file", "resolver_ast", "resolver_ast_in_file",
        "function_ast", "function_ast_in_file", "nonblocking_start_index"]
    assert Index.feature_class_ast.__text_signature__ == "($self, module, class_name)"
    assert Index.function_ast_in_file.__text_signature__ == "($self, file_path, function_name)"
    assert Index.nonblocking_start_index.__text_signature__ == "($self)"


STDLIB = pathlib.Path(os.__file__).parent


def stdlib_files():
    return sorted(str(p) for p in STDLIB.rglob("*.py"))


def test_every_standard_library_file_is_indexed_without_fault():
    files = stdlib_files()
    assert len(files) > 1700
    index = Index(files, str(STDLIB))
    assert index.function_ast("no.such.module", "no_such_function") is None
    assert index.resolver_ast("no.such.module", "no_such_function") is None
    assert index.feature_class_ast("no.such.module", "NoSuchClass") is None
    assert index.function_ast("json.decoder", "py_scanstring").args_in_order == [
        "s", "end", "strict", "_b", "_m"]


def first_definitions(tree):
    """The first function definition of each name, in source pre-order, as CPython sees it."""
    first = {}

    def visit(statements):
        for statement in statements:
            if isinstance(statement, (ast.FunctionDef, ast.AsyncFunctionDef)):
                first.setdefault(statement.name, statement)
            for field in ("body", "orelse", "finalbody", "handlers", "cases"):
                for child in getattr(statement, field, []):
                    visit(child.body if isinstance(child, (ast.ExceptHandler, ast.match_case))
                          else [child])

    visit(tree.body)
    return first


def test_functions_of_standard_library_files_match_cpythons_tree():
    files = stdlib_files()[::12]
    index = Index(files, str(STDLIB))
    checked = 0
    for path in files:
        source = pathlib.Path(path).read_bytes()
        try:
            tree = ast.parse(source)
        except (SyntaxError, ValueError):
            continue
        for name, node in first_definitions(tree).items():
            record = index.function_ast_in_file(path, name)
            assert record is not None, (path, name)
            arguments = node.args
            names = [a.arg for a in arguments.posonlyargs + arguments.args]
            names += [arguments.vararg.arg] if arguments.vararg else []
            names += [a.arg for a in arguments.kwonlyargs]
            names += [arguments.kwarg.arg] if arguments.kwarg else []
            assert record.args_in_order == names, (path, name)
            assert record.resolver_name_location[0] == node.lineno - 1, (path, name)
            last = node.body[-1]
            assert record.body[2] == last.end_lineno - 1, (path, name)
            assert (record.return_annotation is None) == (node.returns is None), (path, name)
            checked += 1
    assert checked > 1000
