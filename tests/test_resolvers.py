"""Functions and resolvers as the project index extracts them: every property of ResolverAST and
FunctionArgAST over small fixture files."""
import pytest

import tolvo_rs
from source_fixtures import loc, one_file, project, resolver_properties, span, write

RESOLVER = '''from tolvo import online, offline as off
from tolvo.features import stream as s

@other
@online(environment=["prod"], tags={"team": "growth", 1: "x", **extra, "a" "b": 2,
                                    "d": {"n": 1}}, **more, plain=3)
@off
def resolve(a, /, b: int = 1, *args: str, c, d=lambda: {1: 2}, **kw: int) -> Result:
    """Doc."""
    if a:
        return 1
    def inner():
        return 3
    return 2
'''


def test_resolver_record_has_every_property(tmp_path):
    index, path = one_file(tmp_path, RESOLVER)
    src = RESOLVER
    decorator_start = src.index("online(environment")
    decorator_end = src.index("plain=3)") + len("plain=3)")
    params = src.index("def resolve(")
    expected = {
        "module": "m",
        "resolver_name": "resolve",
        "resolver_name_location": loc(src, "resolve", after="def "),
        "decorator_location": span(src, decorator_start, decorator_end),
        "kwarg_names": {"environment": loc(src, "environment"), "tags": loc(src, "tags"),
                        "plain": loc(src, "plain")},
        "kwargs": {"environment": loc(src, '["prod"]'),
                   "tags": span(src, src.index('{"team"'), src.index("}},") + 2),
                   "plain": loc(src, "3", after="plain=")},
        "kwarg_dict_key_names": {"tags": {"team": loc(src, '"team"'), "d": loc(src, '"d"')}},
        "kwarg_dict_values": {"tags": {"team": loc(src, '"growth"'),
                                       "d": loc(src, '{"n": 1}')}},
        "args_in_order": ["a", "b", "args", "c", "d", "kw"],
        "args": {
            "a": ("a", loc(src, "a", after="resolve("), None),
            "b": ("b", loc(src, "b: int", after="resolve("), loc(src, "int", after="b: ")),
            "args": ("args", loc(src, "*args: str"), loc(src, "str", after="*args")),
            "c": ("c", loc(src, "c", after="str, "), None),
            "d": ("d", loc(src, "d", after="c, "), None),
            "kw": ("kw", loc(src, "**kw: int"), loc(src, "int", after="**kw")),
        },
        "return_annotation": loc(src, "Result"),
        "missing_return_annotation": None,
        "return_statements": [loc(src, "return 1"), loc(src, "return 3"), loc(src, "return 2")],
        "body": span(src, src.index('"""Doc."""'), src.index("return 2") + len("return 2")),
        "return_arg": loc(src, "2", after="return 2"),
    }
    assert params < src.index("Result")
    assert resolver_properties(index.function_ast_in_file(path, "resolve")) == expected
    assert resolver_properties(index.resolver_ast("m", "resolve")) == expected

    inner = resolver_properties(index.function_ast("m", "inner"))
    assert inner == {
        "module": "m",
        "resolver_name": "inner",
        "resolver_name_location": loc(src, "inner"),
        "decorator_location": None,
        "kwarg_names": {}, "kwargs": {}, "kwarg_dict_key_names": {}, "kwarg_dict_values": {},
        "args_in_order": [], "args": {},
        "return_annotation": None,
        "missing_return_annotation": loc(src, ":", after="inner()"),
        "return_statements": [loc(src, "return 3")],
        "body": loc(src, "return 3"),
        "return_arg": loc(src, "3", after="return 3"),
    }
    assert index.resolver_ast("m", "inner") is None


DISCOVERY = '''
def outer():
    def nested(): pass
    lam = lambda: 0
class C:
    def m1(self): pass
    class D:
        def m2(self): pass
if x:
    def in_if(): pass
elif y:
    def in_elif(): pass
else:
    def in_else(): pass
try:
    def in_try(): pass
except E:
    def in_except(): pass
else:
    def in_try_else(): pass
finally:
    def in_finally(): pass
try:
    pass
except* E:
    def in_except_star(): pass
for i in x:
    def in_for(): pass
else:
    def in_for_else(): pass
async def coroutine():
    async for i in x:
        def in_async_for(): pass
    async with x:
        def in_async_with(): pass
while x:
    def in_while(): pass
else:
    def in_while_else(): pass
with x, y:
    def in_with(): pass
match x:
    case 1:
        def in_case(): pass
    case _:
        def in_other_case(): pass
'''


@pytest.mark.parametrize("name", [
    "outer", "nested", "m1", "m2", "in_if", "in_elif", "in_else", "in_try", "in_except",
    "in_try_else", "in_finally", "in_except_star", "in_for", "in_for_else", "coroutine",
    "in_async_for", "in_async_with", "in_while", "in_while_else", "in_with", "in_case",
    "in_other_case",
])
def test_every_function_definition_at_any_depth_is_found(tmp_path, name):
    index, path = one_file(tmp_path, DISCOVERY)
    record = index.function_ast_in_file(path, name)
    assert record is not None
    assert record.resolver_name_location == loc(DISCOVERY, name + "(")[:3] + (
        loc(DISCOVERY, name + "(")[3] - 1,)


@pytest.mark.parametrize("name", ["lam", "C", "D", "x", "i"])
def test_what_is_no_function_definition_is_not_found(tmp_path, name):
    index, path = one_file(tmp_path, DISCOVERY)
    assert index.function_ast_in_file(path, name) is None
    assert index.function_ast("m", name) is None


def test_the_first_definition_in_source_pre_order_wins(tmp_path):
    source = ("def f():\n    def g(): return 'nested'\n    return 0\n"
              "def g(): return 'later'\n"
              "class K:\n    def f(self): pass\n")
    index, path = one_file(tmp_path, source)
    assert index.function_ast_in_file(path, "g").resolver_name_location == (1, 8, 1, 9)
    assert index.function_ast("m", "f").resolver_name_location == (0, 4, 0, 5)


# (imports, decorators, the recognised decorator's text or None)
RECOGNITION = [
    ("from tolvo import online", "@online", "online"),
    ("from tolvo import online", "@online()", "online()"),
    ("from tolvo import online", "@ online (x=1)", "online (x=1)"),
    ("from tolvo import offline", "@offline", "offline"),
    ("from tolvo import stream", "@stream", "stream"),
    ("from tolvo.features import online", "@online", "online"),
    ("from tolvo.features import stream as s", "@s", "s"),
    ("from tolvo.features import stream as s", "@stream", None),
    ("from tolvo import online as o, online", "@online", "online"),
    ("from tolvo import online", "@tolvo.online", None),
    ("import tolvo", "@tolvo.online(x=1)", None),
    ("from tolvo import online", "@online.sub", None),
    ("from tolvo import online", "@online()()", None),
    ("from tolvo import online", "@online[0]", None),
    ("from tolvo import *", "@online", None),
    ("from other import online", "@online", None),
    ("from tolvo import features", "@features", None),
    ("from tolvo.sub import online", "@online", None),
    ("from . import online", "@online", None),
    ("from .tolvo import online", "@online", None),
    ("if True:\n    from tolvo import online", "@online", None),
    ("def setup():\n    from tolvo import online", "@online", None),
    ("from tolvo import online\ndef online(): pass", "@online", "online"),
    ("from tolvo import online, offline", "@unrelated\n@offline(a=1)\n@online", "offline(a=1)"),
    ("from tolvo import Online", "@online", None),
    ("", "@online", None),
]


@pytest.mark.parametrize("imports,decorators,recognised", RECOGNITION)
def test_resolver_decorators_are_recognised_by_import(tmp_path, imports, decorators, recognised):
    source = f"{imports}\n{decorators}\ndef target(): pass\n"
    index, path = one_file(tmp_path, source)
    record = index.function_ast_in_file(path, "target")
    assert record is not None, "every function is a function, resolver or not"
    if recognised is None:
        assert record.decorator_location is None
        assert index.resolver_ast_in_file(path, "target") is None
        assert index.resolver_ast("m", "target") is None
    else:
        expected = loc(source, recognised, after=decorators)
        assert record.decorator_location == expected
        assert index.resolver_ast_in_file(path, "target").decorator_location == expected
    if recognised is None or "(" not in recognised:
        assert (record.kwarg_names, record.kwargs) == ({}, {})


# (decorator call arguments, {keyword: name text}, {keyword: value text}), each text found after
# "@online(" in the source.
KEYWORDS = [
    ("**a", {}, {}),
    ("x=1, **a, y=2", {"x": "x", "y": "y"}, {"x": "1", "y": "2"}),
    ("1, *a, x=[2]", {"x": "x"}, {"x": "[2]"}),
    ("x = 1", {"x": "x"}, {"x": "1"}),
    ("\n    x\n    =\n    f(1)\n", {"x": "x"}, {"x": "f(1)"}),
    ("x  # a comment, then\n    = 1", {"x": "x"}, {"x": "1"}),
    ("xx=1, x=2", {"xx": "xx", "x": "x"}, {"xx": "1", "x": "2"}),
    ("ｘ=1, y=2", {"y": "y"}, {"y": "2"}),
    ("é=1", {"é": "é"}, {"é": "1"}),
]


@pytest.mark.parametrize("arguments,names,values", KEYWORDS)
def test_decorator_keyword_maps(tmp_path, arguments, names, values):
    source = f"from tolvo import online\n@online({arguments})\ndef f(): pass\n"
    index, path = one_file(tmp_path, source)
    record = index.resolver_ast_in_file(path, "f")
    name_at, offset = {}, source.index("@online(")
    for k, text in names.items():  # in source order
        name_at[k] = offset = source.index(text, offset)
        offset += len(text)
    assert record.kwarg_names == {k: span(source, at, at + len(names[k]))
                                  for k, at in name_at.items()}
    value_at = {k: source.index(text, name_at[k]) for k, text in values.items()}
    assert record.kwargs == {k: span(source, at, at + len(values[k])) for k, at in value_at.items()}


# (the value of the keyword `tags`, written on one line; {key: (key text, value text)} or {}).
DICT_KEYWORDS = [
    ('{"a": 1, 2: 3, **m, "b" "c": 4, "d": {"e": 5}}', {"a": ('"a"', "1"),
                                                        "d": ('"d"', '{"e": 5}')}),
    ("{}", {}),
    ("{1: 2, (3,): 4, x: 5}", {}),
    ("dict(a=1)", {}),
    ("{k: v for k, v in x}", {}),
    ("{'a': 1, 'a': [2]}", {"a": ("'a'", "[2]")}),
    ("{b'a': 1, f'a': 2, f'{x}': 3}", {}),
    ("{u'a': 1, r'\\n': 2}", {"a": ("u'a'", "1"), "\\n": ("r'\\n'", "2")}),
    ("{'\\x41\\n\\N{BULLET}': 1}", {"A\n\u2022": ("'\\x41\\n\\N{BULLET}'", "1")}),
    ("{'\\ud800': 1}", {"\ud800": ("'\\ud800'", "1")}),
    ("{('a'): 1}", {"a": ("'a'", "1")}),
    ("{'': 0}", {"": ("''", "0")}),
]


@pytest.mark.parametrize("value,keys", DICT_KEYWORDS)
def test_dict_valued_decorator_keywords(tmp_path, value, keys):
    source = f"from tolvo import online\n@online(tags={value}, plain=1)\ndef f(): pass\n"
    index, path = one_file(tmp_path, source)
    record = index.resolver_ast_in_file(path, "f")
    start = source.index("tags=")
    expected_keys, expected_values = {}, {}
    for k, (key, v) in keys.items():
        key_at = source.rindex(key, start, start + len("tags=") + len(value))  # the last one wins
        value_at = source.index(v, key_at + len(key))
        expected_keys[k] = span(source, key_at, key_at + len(key))
        expected_values[k] = span(source, value_at, value_at + len(v))
    assert record.kwarg_dict_key_names == ({"tags": expected_keys} if keys else {})
    assert record.kwarg_dict_values == ({"tags": expected_values} if keys else {})
    assert set(record.kwarg_names) == set(record.kwargs) == {"tags", "plain"}


# Keys whose literal spans lines: the value keeps the line breaks as the file wrote them.
@pytest.mark.parametrize("newline,key,expected", [
    ("\r\n", "'''a\r\nb'''", "a\r\nb"),
    ("\r", "'''a\rb'''", "a\rb"),
    ("\n", "'''a\nb'''", "a\nb"),
    ("\r\n", "'a\\\r\nb'", "ab"),
    ("\r", "'a\\\rb'", "ab"),
    ("\r\n", "r'''a\\\r\nb'''", "a\\\r\nb"),
    ("\r\n", "'''\\x41\r\n\\ud800'''", "A\r\n\ud800"),
])
def test_dict_keys_keep_line_breaks_as_written(tmp_path, newline, key, expected):
    source = newline.join(["from tolvo import online", f"@online(tags={{{key}: 1}})",
                           "def f(): pass", ""])
    index, path = one_file(tmp_path, source)
    record = index.resolver_ast_in_file(path, "f")
    assert list(record.kwarg_dict_key_names["tags"]) == [expected]
    start = source.index(key)
    assert record.kwarg_dict_key_names["tags"][expected] == span(source, start, start + len(key))


# (signature line, args_in_order, {name: (parameter text, annotation text or None)})
PARAMETERS = [
    ("def f(a, /, b, *args, c, **kw):", ["a", "b", "args", "c", "kw"],
     {"a": ("a", None), "b": ("b", None), "args": ("*args", None), "c": ("c", None),
      "kw": ("**kw", None)}),
    ("def f(*args: int, **kw: 'x'):", ["args", "kw"],
     {"args": ("*args: int", "int"), "kw": ("**kw: 'x'", "'x'")}),
    ("def f(x: int = 5, *, y: list[int] = []):", ["x", "y"],
     {"x": ("x: int", "int"), "y": ("y: list[int]", "list[int]")}),
    ("def f():", [], {}),
    ("def f(*, a):", ["a"], {"a": ("a", None)}),
    ("def f(a, /):", ["a"], {"a": ("a", None)}),
    ("def f[T, *Ts](x: T):", ["x"], {"x": ("x: T", "T")}),
    ("async def f(self, ｘ):", ["self", "x"], {"self": ("self", None), "x": ("ｘ", None)}),
    ("def f(\n    a,  # first\n    b: int\n        = 1,\n):", ["a", "b"],
     {"a": ("a", None), "b": ("b: int", "int")}),
]


@pytest.mark.parametrize("signature,order,params", PARAMETERS)
def test_parameters(tmp_path, signature, order, params):
    source = f"{signature}\n    pass\n"
    index, path = one_file(tmp_path, source)
    record = index.function_ast_in_file(path, "f")
    assert record.args_in_order == order
    after = "("
    expected = {}
    for name, (text, annotation) in params.items():
        where = loc(source, text, after=after)
        expected[name] = (name, where, loc(source, annotation, after=text) if annotation else None)
    assert {name: (a.arg_name, a.arg_location, a.annotation)
            for name, a in record.args.items()} == expected
    assert set(record.args) == set(order)


def test_a_repeated_parameter_name_keeps_both_places_in_order_and_the_later_one_by_name(
        tmp_path):
    index, path = one_file(tmp_path, "def f(a, b, a: int): pass\n")
    record = index.function_ast_in_file(path, "f")
    assert record.args_in_order == ["a", "b", "a"]
    assert set(record.args) == {"a", "b"}
    assert record.args["a"].arg_location == (0, 12, 0, 18)
    assert record.args["a"].annotation == (0, 15, 0, 18)


# (source of one function f, the return annotation's text or None, the colon's position or None)
SIGNATURE_ENDS = [
    ("def f() -> int: pass\n", "int", None),
    ("def f[T](x: T) -> T: pass\n", "T", None),
    ("def f(a=lambda: 1, b={1: 2}, c=x[1:2]):\n    pass\n", None, (0, 38)),
    ("def f(a) \\\n  : pass\n", None, (1, 2)),
    ("def f():  # a colon: in a comment\n    pass\n", None, (0, 7)),
    ("def f(a: int):\r\n    pass\r\n", None, (0, 13)),
    ("def f(é='😀'):\n    pass\n", None, (0, 12)),
]


@pytest.mark.parametrize("source,annotation,colon", SIGNATURE_ENDS)
def test_return_annotation_or_the_colon_where_it_would_go(tmp_path, source, annotation, colon):
    index, path = one_file(tmp_path, source)
    record = index.function_ast_in_file(path, "f")
    if annotation is None:
        assert record.return_annotation is None
        assert record.missing_return_annotation == colon + (colon[0], colon[1] + 1)
    else:
        assert record.return_annotation == loc(source, annotation, after="->")
        assert record.missing_return_annotation is None


# (body of f, indented by four spaces; texts of its return statements; the return value's text;
# the text from the body's first statement to its end)
BODIES = [
    ("return x", ["return x"], "x", "return x"),
    ("if a:\n        return 1\n    return 2", ["return 1", "return 2"], "2",
     "if a:\n        return 1\n    return 2"),
    ("return\n    return 2", ["return", "return 2"], None, "return\n    return 2"),
    ("'''doc'''", [], None, "'''doc'''"),
    ("for x in y:\n        return x\n    else:\n        pass", ["return x"], None,
     "for x in y:\n        return x\n    else:\n        pass"),
    ("class K:\n        def m(self):\n            return 'm'\n    return K",
     ["return 'm'", "return K"], "K", "class K:\n        def m(self):\n            return 'm'\n"
     "    return K"),
    ("x = 1; return x  # trailing", ["return x"], "x", "x = 1; return x"),
    ("lam = lambda: (yield)\n    g = (y for y in z)", [], None,
     "lam = lambda: (yield)\n    g = (y for y in z)"),
]


@pytest.mark.parametrize("body,returns,value,whole", BODIES)
def test_body_and_return_statements(tmp_path, body, returns, value, whole):
    source = f"def f():\n    {body}\n"
    index, path = one_file(tmp_path, source)
    record = index.function_ast_in_file(path, "f")
    starts, offset = [], 0
    for text in returns:
        offset = source.index(text, offset)
        starts.append(span(source, offset, offset + len(text)))
        offset += 1
    assert record.return_statements == starts
    assert record.body == loc(source, whole)
    assert record.return_arg == (None if value is None else loc(source, value, nth=0,
                                                                  after=returns[-1]))


# (source, the name whose location is checked, its expected location)
TEXT_POSITIONS = [
    ("\ufeffdef f(): pass\n", "f", (0, 4, 0, 5)),
    ("\ufeff\ndef f(): pass\n", "f", (1, 4, 1, 5)),
    ("x = 1\r\ndef f(): pass\r\n", "f", (1, 4, 1, 5)),
    ("x = 1\rdef f(): pass\r", "f", (1, 4, 1, 5)),
    ("x = '''a\r\nb\rc'''\ndef f(): pass\n", "f", (3, 4, 3, 5)),
    ("def é(): pass\n", "é", (0, 4, 0, 5)),
    ("s = '😀é'; t = 1\ndef 𝔣(): pass\n", "f", (1, 4, 1, 5)),
    ("def f(x='😀', y=1): pass\n", "f", (0, 4, 0, 5)),
]


@pytest.mark.parametrize("source,name,expected", TEXT_POSITIONS)
def test_positions_count_lines_and_characters(tmp_path, source, name, expected):
    index, path = one_file(tmp_path, source)
    assert index.function_ast_in_file(path, name).resolver_name_location == expected


def test_characters_are_counted_in_code_points(tmp_path):
    source = "def f(x='😀', y: 'é' = 1) -> '𝔘': pass\n"
    index, path = one_file(tmp_path, source)
    record = index.function_ast_in_file(path, "f")
    assert record.args["y"].arg_location == loc(source, "y: 'é'")
    assert record.return_annotation == loc(source, "'𝔘'")
    assert record.return_annotation == (0, 28, 0, 31)


# A path whose file URI cannot be formed gives no records at all; one with a space, "?", "#" or a
# "%" with two hex digits still does.
@pytest.mark.parametrize("directory,found", [
    ("my project", True), ("q?x", True), ("h#x", True), ("%41", True), ("a&b=c;d,e'f", True),
    ("ä", False), ("50%", False), ("%4g", False), ("a#b#c", False), ('quo"te', False),
    ("lt<", False), ("gt>", False), ("pipe|", False), ("brace{", False), ("brace}", False),
    ("caret^", False), ("grave`", False), ("sq[", False), ("sq]", False), ("tab\t", False),
    ("ctl\x01", False), ("del\x7f", False),
])
def test_a_path_without_a_uri_yields_no_records(tmp_path, directory, found):
    source = "from tolvo import online\n@online\ndef f(): pass\n"
    index, path = one_file(tmp_path, source, name=f"{directory}/m.py")
    for record in (index.function_ast_in_file(path, "f"), index.resolver_ast_in_file(path, "f"),
                   index.function_ast(f"{directory}.m", "f")):
        assert (record is not None) is found


def test_a_relative_path_is_located_through_the_working_directory(tmp_path, monkeypatch):
    write(tmp_path, "pkg/rel.py", "def f(): pass\n")
    monkeypatch.chdir(tmp_path)
    index = tolvo_rs.AstProjectIndex(["pkg/rel.py", "./pkg/rel.py"], ".")
    assert index.function_ast("pkg.rel", "f").resolver_name_location == (0, 4, 0, 5)
    assert index.function_ast_in_file("./pkg/rel.py", "f").module == "pkg.rel"
    assert index.function_ast_in_file("pkg/../pkg/rel.py", "f") is not None


def test_record_objects_are_independent_read_only_copies(tmp_path):
    index, path = one_file(tmp_path, RESOLVER)
    first = index.resolver_ast_in_file(path, "resolve")
    second = index.resolver_ast_in_file(path, "resolve")
    assert first is not second and first != second
    assert resolver_properties(first) == resolver_properties(second)
    args = first.args
    assert args is not first.args
    assert args["b"] is not first.args["b"]
    assert (args["b"].arg_name, args["b"].arg_location) == (
        first.args["b"].arg_name, first.args["b"].arg_location)
    first.kwargs["tags"] = None
    first.args_in_order.clear()
    assert resolver_properties(first) == resolver_properties(second)
    with pytest.raises(AttributeError):
        first.resolver_name = "other"
    with pytest.raises(AttributeError):
        del first.body
    with pytest.raises(AttributeError):
        args["b"].annotation = None
    assert first.resolver_name == "resolve"
    del index
    assert first.kwarg_dict_values["tags"]["d"] == second.kwarg_dict_values["tags"]["d"]
    assert isinstance(args["a"], tolvo_rs.FunctionArgAST)
    assert [name for name in vars(tolvo_rs.ResolverAST) if not name.startswith("__")] == list(
        resolver_properties(first))
    assert [name for name in vars(tolvo_rs.FunctionArgAST) if not name.startswith("__")] == [
        "arg_name", "arg_location", "annotation"]


def test_resolvers_from_several_files_carry_their_module(tmp_path):
    index, paths = project(tmp_path, {
        "pkg/__init__.py": "from tolvo import online\n@online\ndef f(): pass\n",
        "pkg/sub/mod.py": "from tolvo import stream\n@stream()\nasync def f(): pass\n",
    })
    assert index.resolver_ast("pkg", "f").decorator_location == (1, 1, 1, 7)
    assert index.resolver_ast("pkg.sub.mod", "f").decorator_location == (1, 1, 1, 9)
    assert index.resolver_ast("pkg.sub", "f") is None
