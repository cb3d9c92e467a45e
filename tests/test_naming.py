"""to_snake_case and build_namespaced_name as Python sees them."""

import concurrent.futures

import pytest

import tolvo_rs
from cases import Raises, check


class Str(str):
    pass


TO_SNAKE_CASE = [
    ("", ""),
    ("XMLParser", "xml_parser"),
    ("getXMLParserName", "get_xml_parser_name"),
    ("UserFeatures", "user_features"),
    (Str("UserFeatures"), "user_features"),
    ("fooBar", "foo_bar"),
    ("already_snake", "already_snake"),
    ("ABCDefGhi", "abc_def_ghi"),
    ("ABC", "abc"),
    ("Ab", "ab"),
    ("getX", "get_x"),
    ("A1B", "a1_b"),
    ("user2FA", "user2_fa"),
    ("Version2Beta", "version2_beta"),
    ("HTTPResponseCode", "http_response_code"),
    # Underscores already there.
    ("Foo_Bar", "foo_bar"),
    ("_Private", "_private"),
    ("A__B", "a_b"),
    ("Foo__Bar", "foo__bar"),
    ("a___B", "a__b"),
    # Only ASCII letters mark words, but every letter is lowercased.
    ("\u00c0Bc", "\u00e0_bc"),
    ("a\u00c0", "a\u00e0"),
    ("\u00e9Foo", "\u00e9_foo"),
    ("\U0001f600Foo", "\U0001f600_foo"),
    ("\u03a3\u0391\u03a3", "\u03c3\u03b1\u03c2"),
    ("\u03a3\u0391\u03a3 X", "\u03c3\u03b1\u03c2 x"),
    ("\u0130", "i\u0307"),
    ("DIVI\u0130", "divii\u0307"),
    ("\u212a", "k"),
    # Only a line feed cannot stand before a capitalised word.
    ("x\nFoo", "x\nfoo"),
    ("x\rFoo", "x\r_foo"),
    ("x\x00Foo", "x\x00_foo"),
    ("\x1b[0mFoo", "\x1b[0m_foo"),
    # Long texts.
    ("FooBar" * 200_000, "_".join(["foo_bar"] * 200_000)),
    ("a" * 1_000_000 + "B", "a" * 1_000_000 + "_b"),
    (
        5,
        Raises(TypeError, "argument 'name': 'int' object is not an instance of 'str'"),
    ),
    (
        None,
        Raises(TypeError, "argument 'name': 'None' is not an instance of 'str'"),
    ),
]


@pytest.mark.parametrize(("name", "expected"), TO_SNAKE_CASE)
def test_to_snake_case(name, expected):
    check(tolvo_rs.to_snake_case, (name,), expected)


CONTROLS = [chr(c) for c in [*range(0x20), *range(0x7F, 0xA0)]]


@pytest.mark.parametrize("control", CONTROLS, ids=[f"U+{ord(c):04X}" for c in CONTROLS])
def test_to_snake_case_control_characters(control):
    expected = "x\nfoo" if control == "\n" else f"x{control}_foo"
    assert tolvo_rs.to_snake_case(f"x{control}Foo") == expected


NOT_STR = "'{}' object is not an instance of 'str'"

BUILD_NAMESPACED_NAME = [
    ((), {}, ""),
    ((None, None), {}, ""),
    (("", ""), {}, ""),
    ((None, ""), {}, ""),
    (("MyApp::UserFeatures", "Total"), {}, "my_app::user_features::Total"),
    ((), {"namespace": "MyApp::UserFeatures", "name": "Total"}, "my_app::user_features::Total"),
    ((Str("MyApp"), Str("Total")), {}, "my_app::Total"),
    (("::Foo::::BarBaz::",), {}, "foo::bar_baz"),
    (("::::", "X"), {}, "X"),
    ((None, "x"), {}, "x"),
    ((), {"name": "x"}, "x"),
    (("Foo", ""), {}, "foo"),
    (("Foo",), {}, "foo"),
    (("a:::b",), {}, "a:::b"),
    (("A:::B", "n"), {}, "a:::b::n"),
    (("Foo", "::Bar"), {}, "foo::::Bar"),
    (("\u03a3\u0391\u03a3::X\nY", "N"), {}, "\u03c3\u03b1\u03c2::x\ny::N"),
    (("A::" * 300_000, "n"), {}, "a::" * 300_000 + "n"),
    (
        (),
        {"namespace": 1},
        Raises(TypeError, "argument 'namespace': " + NOT_STR.format("int")),
    ),
    (
        ("Foo", b"x"),
        {},
        Raises(TypeError, "argument 'name': " + NOT_STR.format("bytes")),
    ),
    (
        ("a", "b", "c"),
        {},
        Raises(
            TypeError,
            "build_namespaced_name() takes from 0 to 2 positional arguments but 3 were given",
        ),
    ),
    (
        ("a",),
        {"namespace": "b"},
        Raises(TypeError, "build_namespaced_name() got multiple values for argument 'namespace'"),
    ),
    (
        (),
        {"names": "b"},
        Raises(TypeError, "build_namespaced_name() got an unexpected keyword argument 'names'"),
    ),
]


@pytest.mark.parametrize(("args", "kwargs", "expected"), BUILD_NAMESPACED_NAME)
def test_build_namespaced_name(args, kwargs, expected):
    check(tolvo_rs.build_namespaced_name, args, expected, kwargs)


TO_SNAKE_CASE_BINDING = [
    ((), {"name": "FooBar"}, "foo_bar"),
    ((), {}, Raises(TypeError, "to_snake_case() missing 1 required positional argument: 'name'")),
    (
        ("A", "B"),
        {},
        Raises(TypeError, "to_snake_case() takes 1 positional arguments but 2 were given"),
    ),
    (
        (),
        {"text": "A"},
        Raises(TypeError, "to_snake_case() got an unexpected keyword argument 'text'"),
    ),
]


@pytest.mark.parametrize(("args", "kwargs", "expected"), TO_SNAKE_CASE_BINDING)
def test_to_snake_case_binding(args, kwargs, expected):
    check(tolvo_rs.to_snake_case, args, expected, kwargs)


@pytest.mark.parametrize(
    ("function", "args"),
    [
        ("to_snake_case", ("Foo\udc80",)),
        ("build_namespaced_name", ("\ud800",)),
        ("build_namespaced_name", ("Foo", "\udfff")),
    ],
)
def test_lone_surrogate_raises_unicode_encode_error(function, args):
    with pytest.raises(UnicodeEncodeError):
        getattr(tolvo_rs, function)(*args)


@pytest.mark.parametrize(
    ("function", "signature"),
    [("to_snake_case", "(name)"), ("build_namespaced_name", "(namespace=None, name=None)")],
)
def test_signature(function, signature):
    value = getattr(tolvo_rs, function)
    assert value.__text_signature__ == signature
    assert value.__doc__ is None
    assert value.__module__ == "tolvo_rs"


def test_calls_from_many_threads_agree():
    # The native work runs with the interpreter lock released, so these calls overlap.
    name = "getXMLParserName" * 5_000
    expected = tolvo_rs.to_snake_case(name)
    namespace = "MyApp::UserFeatures::" * 2_000

    def work(_):
        return (
            tolvo_rs.to_snake_case(name) == expected
            and tolvo_rs.build_namespaced_name(namespace, "T").endswith("user_features::T")
        )

    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        assert all(pool.map(work, range(32)))
