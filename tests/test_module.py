"""The module as the interpreter sees it: registration, class and function conventions, and the
argument binding texts shared by every entry point."""
import inspect
import weakref

import pytest

import tolvo_rs

CLASSES = [
    "StdAstFileSystem",
    "AstFileParserCache",
    "FeatureFieldAST",
    "FeatureClassAST",
    "FunctionArgAST",
    "ResolverAST",
    "AstProjectIndex",
]
FUNCTIONS = [
    "parse_duration_ms",
    "parse_duration_s",
    "seconds_to_duration_string",
    "parse_iso_date",
    "parse_iso_time",
    "parse_datetime",
    "parse_iso_duration",
    "duration_isoformat",
    "timezone_from_name",
    "to_snake_case",
    "build_namespaced_name",
]
SERVICE_SIGNATURES = {
    "StdAstFileSystem": "(files)",
    "AstFileParserCache": "(files, project_root, filesystem=None)",
    "AstProjectIndex": "(files, project_root, filesystem=None)",
}
FUNCTION_SIGNATURES = {
    "parse_duration_ms": "(s)",
    "parse_duration_s": "(s)",
    "seconds_to_duration_string": "(total_seconds)",
    "parse_iso_date": "(s)",
    "parse_iso_time": "(s)",
    "parse_datetime": "(s)",
    "parse_iso_duration": "(s)",
    "duration_isoformat": "(tduration)",
    "timezone_from_name": "(name)",
    "to_snake_case": "(name)",
    "build_namespaced_name": "(namespace=None, name=None)",
}


def registered(names):
    return [name for name in names if hasattr(tolvo_rs, name)]


def test_module_attributes():
    assert tolvo_rs.__doc__ == ""
    assert tolvo_rs.__name__ == "tolvo_rs"
    # __all__ lists the registered names once each, classes first, in the fixed order.
    assert tolvo_rs.__all__ == registered(CLASSES) + registered(FUNCTIONS)
    assert "StdAstFileSystem" in tolvo_rs.__all__
    assert not hasattr(tolvo_rs, "PanicException")


@pytest.mark.parametrize("name", registered(SERVICE_SIGNATURES))
def test_service_class_conventions(name):
    cls = getattr(tolvo_rs, name)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__text_signature__ == SERVICE_SIGNATURES[name]
    assert cls.__doc__ == ""
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    for attribute, member in vars(cls).items():
        if callable(member) and not attribute.startswith("__"):
            assert member.__doc__ is None
            assert member.__text_signature__.startswith("($self")


@pytest.mark.parametrize("name", registered(["FeatureFieldAST", "FeatureClassAST",
                                              "FunctionArgAST", "ResolverAST"]))
def test_record_class_conventions(name):
    cls = getattr(tolvo_rs, name)
    assert cls.__module__ == "builtins"
    assert cls.__doc__ is None
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


@pytest.mark.parametrize("name", registered(FUNCTIONS))
def test_function_conventions(name):
    function = getattr(tolvo_rs, name)
    assert function.__module__ == "tolvo_rs"
    assert function.__self__ is tolvo_rs
    assert function.__doc__ is None
    assert function.__text_signature__ == FUNCTION_SIGNATURES[name]
    assert str(inspect.signature(function)) == FUNCTION_SIGNATURES[name]


def test_file_set_methods_and_objects():
    cls = tolvo_rs.StdAstFileSystem
    assert cls.read_to_string.__text_signature__ == "($self, path)"
    assert cls.all_files.__text_signature__ == "($self)"
    files = cls([])
    assert repr(files).startswith("<builtins.StdAstFileSystem object at ")
    with pytest.raises(AttributeError):
        files.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(files)
    assert files == files and files != cls([])
    assert hash(files) == hash(files)


def test_reimport_makes_a_new_module_with_the_same_classes():
    import importlib
    import sys

    first = sys.modules.pop("tolvo_rs")
    try:
        second = importlib.import_module("tolvo_rs")
        assert second is not first
        assert second.__all__ == first.__all__ and second.__all__ is not first.__all__
        assert second.StdAstFileSystem is first.StdAstFileSystem
    finally:
        sys.modules["tolvo_rs"] = first


class ListSubclass(list):
    pass


class StrSubclass(str):
    pass


def failing_iteration(error=KeyError("boom")):
    class Failing:
        def __len__(self):
            raise RuntimeError("length is not asked for")

        def __getitem__(self, index):
            if index == 1:
                raise error
            return "a.py"

    return Failing()


class TypeErrorSubclass(TypeError):
    pass


class OverstatedLength:
    """A sequence whose length claims far more items than it yields."""

    def __len__(self):
        return 2**62

    def __getitem__(self, index):
        if index > 0:
            raise IndexError(index)
        return "a.py"


def overstated(base, claimed):
    """A list or tuple subclass holding ["a.py"] whose __len__ claims `claimed` items."""
    return type(f"Overstated{base.__name__}", (base,), {"__len__": lambda self: claimed})(["a.py"])


FS = tolvo_rs.StdAstFileSystem

# (callable, args, kwargs, expected exception type, expected message or None for any)
BINDING_CASES = [
    (FS, ("a.py", "b.py"), {}, TypeError,
     "StdAstFileSystem.__new__() takes 1 positional arguments but 2 were given"),
    (FS, (), {}, TypeError,
     "StdAstFileSystem.__new__() missing 1 required positional argument: 'files'"),
    (FS, ([],), {"files": []}, TypeError,
     "StdAstFileSystem.__new__() got multiple values for argument 'files'"),
    (FS, (), {"file": []}, TypeError,
     "StdAstFileSystem.__new__() got an unexpected keyword argument 'file'"),
    (FS, ("a.py",), {}, TypeError, "argument 'files': Can't extract `str` to `Vec`"),
    (FS, (StrSubclass("a.py"),), {}, TypeError, "argument 'files': Can't extract `str` to `Vec`"),
    (FS, (None,), {}, TypeError, "argument 'files': 'None' is not an instance of 'Sequence'"),
    (FS, ({"a.py": 1},), {}, TypeError,
     "argument 'files': 'dict' object is not an instance of 'Sequence'"),
    (FS, ({"a.py"},), {}, TypeError,
     "argument 'files': 'set' object is not an instance of 'Sequence'"),
    (FS, ((p for p in ["a.py"]),), {}, TypeError,
     "argument 'files': 'generator' object is not an instance of 'Sequence'"),
    (FS, (3,), {}, TypeError, "argument 'files': 'int' object is not an instance of 'Sequence'"),
    (FS, (["a.py", 3],), {}, TypeError,
     "argument 'files': 'int' object is not an instance of 'str'"),
    (FS, (["a.py", None],), {}, TypeError,
     "argument 'files': 'None' is not an instance of 'str'"),
    (FS, (b"ab",), {}, TypeError, "argument 'files': 'int' object is not an instance of 'str'"),
    (FS, (["\udc80.py"],), {}, UnicodeEncodeError, None),
    (FS, (failing_iteration(),), {}, KeyError, None),
    # A TypeError raised while iterating is a conversion error like any other; a subclass is not.
    (FS, (failing_iteration(TypeError("boom")),), {}, TypeError, "argument 'files': boom"),
    (FS, (failing_iteration(TypeErrorSubclass("boom")),), {}, TypeErrorSubclass, None),
    (FS([]).read_to_string, (), {}, TypeError,
     "StdAstFileSystem.read_to_string() missing 1 required positional argument: 'path'"),
    (FS([]).read_to_string, ("a", "b"), {}, TypeError,
     "StdAstFileSystem.read_to_string() takes 1 positional arguments but 2 were given"),
    (FS([]).read_to_string, ("a",), {"path": "a"}, TypeError,
     "StdAstFileSystem.read_to_string() got multiple values for argument 'path'"),
    (FS([]).read_to_string, (), {"paths": "a"}, TypeError,
     "StdAstFileSystem.read_to_string() got an unexpected keyword argument 'paths'"),
    (FS([]).read_to_string, (None,), {}, TypeError,
     "argument 'path': 'None' is not an instance of 'str'"),
    (FS([]).read_to_string, (b"a.py",), {}, TypeError,
     "argument 'path': 'bytes' object is not an instance of 'str'"),
    (FS([]).read_to_string, ("\ud800",), {}, UnicodeEncodeError, None),
    (FS([]).all_files, (1,), {}, TypeError, None),
    (FS([]).all_files, (), {"x": 1}, TypeError, None),
]
if hasattr(tolvo_rs, "build_namespaced_name"):
    BINDING_CASES.append((tolvo_rs.build_namespaced_name, ("a", "b", "c"), {}, TypeError,
                          "build_namespaced_name() takes from 0 to 2 positional arguments but 3 "
                          "were given"))
if hasattr(tolvo_rs, "AstFileParserCache"):
    BINDING_CASES += [
        (tolvo_rs.AstFileParserCache, (), {}, TypeError,
         "AstFileParserCache.__new__() missing 2 required positional arguments: 'files' and "
         "'project_root'"),
        (tolvo_rs.AstFileParserCache, ("bad",), {}, TypeError,
         "AstFileParserCache.__new__() missing 1 required positional argument: 'project_root'"),
        (tolvo_rs.AstFileParserCache, ([], ".", "x"), {}, TypeError,
         "argument 'filesystem': 'str' object is not an instance of 'StdAstFileSystem'"),
    ]
if hasattr(tolvo_rs, "AstProjectIndex"):
    BINDING_CASES.append((tolvo_rs.AstProjectIndex, ([], ".", None, 4), {}, TypeError,
                          "AstProjectIndex.__new__() takes from 2 to 3 positional arguments but 4 "
                          "were given"))


@pytest.mark.parametrize("call,args,kwargs,error,message", BINDING_CASES)
def test_binding_and_conversion_errors(call, args, kwargs, error, message):
    with pytest.raises(error) as raised:
        call(*args, **kwargs)
    assert type(raised.value) is error
    if message is not None:
        assert str(raised.value) == message
        assert raised.value.__cause__ is None


def test_wrapped_conversion_error_keeps_the_original_cause():
    root = ValueError("root")
    error = TypeError("boom")
    error.__cause__ = root
    with pytest.raises(TypeError) as raised:
        FS(failing_iteration(error))
    assert str(raised.value) == "argument 'files': boom"
    assert raised.value is not error and raised.value.__cause__ is root


@pytest.mark.parametrize("files,expected", [
    (["b.py", "a.py", "notes.txt", "b.py"], ["a.py", "b.py"]),
    (("z.py", "y.py"), ["y.py", "z.py"]),
    (ListSubclass(["x.py"]), ["x.py"]),
    ([StrSubclass("s.py")], ["s.py"]),
    ([], []),
    ((), []),
    (b"", []),
    (["notes.txt", "x.pyi"], []),
    (OverstatedLength(), ["a.py"]),
    (overstated(list, 2**40), ["a.py"]),
    (overstated(list, 2**62), ["a.py"]),
    (overstated(tuple, 2**40), ["a.py"]),
    (overstated(tuple, 2**62), ["a.py"]),
])
def test_accepted_file_lists(files, expected):
    assert FS(files).all_files() == expected
    assert FS(files=files).all_files() == expected


def test_any_object_for_any_parameter_raises_only_named_errors():
    odd_values = [None, 0, 1.5, b"x", bytearray(b"x"), object(), [], {}, set(), (1,), "\udfff",
                  "x" * 1_000_000, "\x00", float("nan"), FS([]), type, ...]
    allowed = (TypeError, UnicodeEncodeError, OSError, ValueError)
    for value in odd_values:
        for call in (FS, FS([]).read_to_string):
            try:
                call(value)
            except allowed:
                pass


class RaisingLength:
    """A sequence of ["a.py"] whose __len__ raises `error`."""

    def __init__(self, error):
        self.error = error

    def __len__(self):
        raise self.error

    def __getitem__(self, index):
        if index > 0:
            raise IndexError(index)
        return "a.py"


def test_an_error_asking_the_length_is_dropped():
    for error in (ValueError("no length"), RuntimeError("no length"), MemoryError()):
        assert FS(RaisingLength(error)).all_files() == ["a.py"]


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3), GeneratorExit()],
                         ids=lambda e: type(e).__name__)
def test_what_is_not_an_exception_passes_on_from_the_length(error):
    with pytest.raises(type(error)):
        FS(RaisingLength(error))


def test_a_panic_from_the_length_passes_on(panic_exception_type, capfd):
    with pytest.raises(BaseException) as raised:
        FS(RaisingLength(panic_exception_type("from __len__")))
    assert type(raised.value).__name__ == "PanicException"
    assert str(raised.value) == "from __len__"
    capfd.readouterr()


def test_panic_exception_from_python_code_continues_as_fault(panic_exception_type, capfd):
    assert issubclass(panic_exception_type, BaseException)
    assert not issubclass(panic_exception_type, Exception)

    class Raising:
        def __len__(self):
            return 1

        def __getitem__(self, index):
            raise panic_exception_type("deliberate")

    with pytest.raises(BaseException) as raised:
        try:
            FS(Raising())
        except Exception:  # a fault must not be caught here
            pytest.fail("PanicException caught as Exception")
    assert type(raised.value).__name__ == "PanicException"
    assert str(raised.value) == "deliberate"
    assert "PanicException" in capfd.readouterr().err


class AllSubclass(list):
    pass


@pytest.mark.parametrize("existing,error", [
    (["earlier"], None),
    (AllSubclass(["earlier"]), None),
    (("earlier",), "'tuple' object is not an instance of 'list'"),
])
def test_registration_uses_an_existing_all(existing, error):
    import importlib.util

    spec = importlib.util.find_spec("tolvo_rs")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = existing
    if error is None:
        spec.loader.exec_module(module)
        assert module.__all__ is existing
        assert module.__all__ == ["earlier"] + tolvo_rs.__all__
    else:
        with pytest.raises(TypeError) as raised:
            spec.loader.exec_module(module)
        assert str(raised.value) == error
        assert not hasattr(module, "StdAstFileSystem")
