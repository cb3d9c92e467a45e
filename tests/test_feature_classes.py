"""FeatureClassAST and FeatureFieldAST through the project index: which classes are feature
classes, and their namespace, source, locations, keyword maps, fields and field comments."""
import re

import pytest

import tolvo_rs

IMPORT = "from tolvo.features import features, feature\n"

CLASS_PROPERTIES = ["module", "namespace", "class_name", "source", "class_name_location",
                    "class_definition_location", "decorator_location", "kwarg_names", "kwargs",
                    "fields", "annotations"]
FIELD_PROPERTIES = ["field_name", "field_name_location", "comment", "description", "owner", "tags",
                    "annotation", "feature_call", "kwarg_names", "kwargs"]


def write(tmp_path, text, name="m.py"):
    path = tmp_path / name
    path.write_bytes(text.encode("utf-8"))
    return str(path)


def index_of(tmp_path, text, name="m.py"):
    path = write(tmp_path, text, name)
    return tolvo_rs.AstProjectIndex([path], str(tmp_path)), path


def feature_class(tmp_path, text, class_name):
    index, path = index_of(tmp_path, text)
    return index.feature_class_ast_in_file(path, class_name)


class Text:
    """A fixture's text and places in it as the index reports them: 0-based lines that end at LF,
    CR LF or a lone CR, characters counted in code points, a leading byte-order mark not counted,
    ends exclusive."""

    def __init__(self, text):
        self.text = text

    def position(self, index):
        starts = [m.end() for m in re.finditer(r"\r\n|\r|\n", self.text) if m.end() <= index]
        character = index - (starts[-1] if starts else 0)
        if not starts and self.text.startswith("\ufeff"):
            character = max(character - 1, 0)
        return len(starts), character

    def location(self, start, end):
        return self.position(start) + self.position(end)

    def find(self, needle, nth=0, after=0):
        """The index of the nth occurrence of needle at or after `after`; a name counts only as a
        whole word."""
        pattern = re.escape(needle)
        if needle.isidentifier():
            pattern = rf"(?<!\w){pattern}(?!\w)"
        matches = list(re.compile(pattern).finditer(self.text, after))
        assert len(matches) > nth, f"{needle!r} #{nth} not in fixture"
        return matches[nth].start()

    def find_target(self, name, nth=0, after=0):
        """The index of the nth assignment target `name` at or after `after`."""
        pattern = re.compile(rf"(?<![\w.]){re.escape(name)}(?=\)?[ \t]*(:|=[^=]))")
        matches = list(pattern.finditer(self.text, after))
        assert len(matches) > nth, f"target {name!r} #{nth} not in fixture"
        return matches[nth].start()

    def at(self, needle, nth=0, after=0):
        start = self.find(needle, nth, after)
        return self.location(start, start + len(needle))

    def line_of(self, index):
        """The location of the whole line holding index, its line break excluded but the CR of a
        CR LF pair included."""
        start = max(self.text.rfind("\n", 0, index), self.text.rfind("\r", 0, index)) + 1
        end = re.compile(r"\n|\r(?!\n)|$").search(self.text, index).start()
        return self.location(start, end)


def keyword_maps(t, kwargs, after):
    """The two keyword maps of a call starting at `after`: each keyword's name and the given text
    of its value, both searched from there on."""
    names, values = {}, {}
    for keyword, value in kwargs.items():
        start = t.find(keyword, after=after)
        names[keyword] = t.at(keyword, after=after)
        values[keyword] = t.at(value, after=start + len(keyword))
    return names, values


def expected_field(t, name, nth=0, annotation=None, value=None, value_nth=None, kwargs=None,
                   comments=None, after=0):
    """A field record: its name is the nth target `name` after `after`; the annotation and the
    value are searched after that target, or for the value after target number `value_nth`;
    `kwargs` (keyword -> value text) are searched after the value; comments are (comment,
    description, owner, tags)."""
    start = t.find_target(name, nth, after)
    value_from = start if value_nth is None else t.find_target(name, value_nth, after)
    call = t.find(value, after=value_from) if value is not None else None
    names, values = keyword_maps(t, kwargs or {}, call) if kwargs else ({}, {})
    comment, description, owner, tags = comments or (None, None, None, [])
    return {
        "field_name": name,
        "field_name_location": t.location(start, start + len(name)),
        "comment": comment,
        "description": description,
        "owner": owner,
        "tags": tags,
        "annotation": t.at(annotation, after=start) if annotation is not None else None,
        "feature_call": t.at(value, after=value_from) if value is not None else None,
        "kwarg_names": names,
        "kwargs": values,
    }


def field_properties(field):
    assert type(field) is tolvo_rs.FeatureFieldAST
    return {name: getattr(field, name) for name in FIELD_PROPERTIES}


def class_properties(record):
    assert type(record) is tolvo_rs.FeatureClassAST
    found = {name: getattr(record, name) for name in CLASS_PROPERTIES}
    found["fields"] = {name: field_properties(field) for name, field in found["fields"].items()}
    found["annotations"] = [field_properties(field) for field in found["annotations"]]
    return found


def expected_class(t, class_name, source, namespace=None, decorator="features", kwargs=None,
                   fields=(), annotations=(), module="m", nth=0):
    """A class record; `fields` and `annotations` are lists of expected_field arguments (names
    searched after the class header), and a field given by its name alone is annotated with int."""
    header = t.find("class " + class_name, nth)
    decorator_start = t.text.rfind("@" + decorator, 0, header) + 1
    names, values = keyword_maps(t, kwargs, decorator_start) if kwargs else ({}, {})

    def field(spec):
        spec = {"name": spec, "annotation": "int"} if isinstance(spec, str) else spec
        return expected_field(t, **spec, after=header + len("class " + class_name))

    return {
        "module": module,
        "namespace": namespace if namespace is not None else tolvo_rs.to_snake_case(class_name),
        "class_name": class_name,
        "source": source,
        "class_name_location": t.at(class_name, after=header),
        "class_definition_location": t.line_of(header + 6),
        "decorator_location": t.location(decorator_start, decorator_start + len(decorator)),
        "kwarg_names": names,
        "kwargs": values,
        "fields": {f["field_name"]: f for f in map(field, fields)},
        "annotations": [field(spec) for spec in annotations],
    }


# ---------------------------------------------------------------------------------------------
# A whole class.

CUSTOMER = IMPORT + '''

@features(name="customer", owner="data-team@example.com")
class Customer:
    # The customer's primary key.
    id: int

    # Full name, as entered at sign-up.
    # :owner: growth@example.com
    # :tags: pii, profile
    name: str

    created_at: datetime = feature(max_staleness="1d")

    # Orders placed in the last thirty days.
    recent_orders: DataFrame = feature(version={"v1": "count"}, **extra)
    legacy = 5
'''


def test_a_whole_class_reads_field_by_field(tmp_path):
    t = Text(CUSTOMER)
    name_comments = ("Full name, as entered at sign-up.\n:owner: growth@example.com\n"
                     ":tags: pii, profile", "Full name, as entered at sign-up.",
                     "growth@example.com", ["pii", "profile"])
    orders = {"name": "recent_orders", "annotation": "DataFrame",
              "value": 'feature(version={"v1": "count"}, **extra)',
              "kwargs": {"version": '{"v1": "count"}'},
              "comments": same("Orders placed in the last thirty days.")}
    annotated = [
        {"name": "id", "annotation": "int",
         "comments": same("The customer's primary key.")},
        {"name": "name", "annotation": "str", "comments": name_comments},
        {"name": "created_at", "annotation": "datetime", "value": 'feature(max_staleness="1d")',
         "kwargs": {"max_staleness": '"1d"'}},
        orders,
    ]
    expected = expected_class(
        t, "Customer", CUSTOMER[CUSTOMER.index("@features("):], namespace="customer",
        decorator='features(name="customer", owner="data-team@example.com")',
        kwargs={"name": '"customer"', "owner": '"data-team@example.com"'},
        annotations=annotated, fields=annotated + [{"name": "legacy", "value": "5"}])
    assert class_properties(feature_class(tmp_path, CUSTOMER, "Customer")) == expected
    # Spot checks of the helper's arithmetic on this fixture.
    assert expected["class_name_location"] == (4, 6, 4, 14)
    assert expected["decorator_location"] == (3, 1, 3, 57)


# ---------------------------------------------------------------------------------------------
# Which classes are feature classes.

RECOGNITION = [
    ("alias", "from tolvo.features import features as F\n@F\nclass A:\n    x: int\n", "F"),
    ("alias call", "from tolvo.features import features as F\n@F()\nclass A:\n    x: int\n", "F()"),
    ("plain name", IMPORT + "@features\nclass A:\n    x: int\n", "features"),
    ("two local names", "from tolvo.features import features as F, features\n@features\n"
     "class A:\n    x: int\n", "features"),
    ("unrelated decorator first",
     IMPORT + "@dataclass(frozen=True)\n@features\n@other\nclass A:\n    x: int\n", "features"),
    ("first recognised of two", "from tolvo.features import features as F, features as G\n"
     "@x.y\n@G(name='g')\n@F\nclass A:\n    x: int\n", "G(name='g')"),
    ("rebound later still counts", IMPORT + "features = 1\n@features\nclass A:\n    x: int\n",
     "features"),
    ("unimported name beside an alias",
     "from tolvo.features import features as F\n@features\nclass A:\n    x: int\n", None),
    ("dotted name", "import tolvo.features\n@tolvo.features.features\nclass A:\n    x: int\n",
     None),
    ("dotted call", IMPORT + "import tolvo\n@tolvo.features.features()\nclass A:\n    x: int\n",
     None),
    ("attribute of the name", IMPORT + "@features.x\nclass A:\n    x: int\n", None),
    ("call of a call", IMPORT + "@features()()\nclass A:\n    x: int\n", None),
    ("subscript", IMPORT + "@features[0]\nclass A:\n    x: int\n", None),
    ("from tolvo", "from tolvo import features\n@features\nclass A:\n    x: int\n", None),
    ("other module", "from other import features\n@features\nclass A:\n    x: int\n", None),
    ("parent module name only", "from tolvo.features.sub import features\n@features\n"
     "class A:\n    x: int\n", None),
    ("relative import", "from .tolvo.features import features\n@features\nclass A:\n    x: int\n",
     None),
    ("plain import", "import tolvo.features as features\n@features\nclass A:\n    x: int\n", None),
    ("nested import", "if True:\n    from tolvo.features import features\n@features\n"
     "class A:\n    x: int\n", None),
    ("star import", "from tolvo.features import *\n@features\nclass A:\n    x: int\n", None),
    ("other symbol", "from tolvo.features import feature\n@feature\nclass A:\n    x: int\n", None),
    ("no decorator", IMPORT + "class A:\n    x: int\n", None),
    ("case differs", "from tolvo.features import Features\n@Features\nclass A:\n    x: int\n",
     None),
]


@pytest.mark.parametrize("text,decorator", [c[1:] for c in RECOGNITION],
                         ids=[c[0] for c in RECOGNITION])
def test_recognition_by_import(tmp_path, text, decorator):
    record = feature_class(tmp_path, text, "A")
    if decorator is None:
        assert record is None
        return
    t = Text(text)
    kwargs = {"name": "'g'"} if "name=" in decorator else None
    namespace = "g" if kwargs else None
    source = text[text.index("\n@") + 1:]
    expected = expected_class(t, "A", source, namespace=namespace, decorator=decorator,
                              kwargs=kwargs, fields=["x"], annotations=["x"])
    assert class_properties(record) == expected


# ---------------------------------------------------------------------------------------------
# The namespace.

NAMESPACES = [
    ("features", None, {}),
    ("features()", None, {}),
    ('features(name="user_data")', "user_data", {"name": '"user_data"'}),
    ("features(name='')", "", {"name": "''"}),
    ('features(name="a" "b")', None, {"name": '"a" "b"'}),
    ('features(name=f"x")', None, {"name": 'f"x"'}),
    ('features(name=f"{x}")', None, {"name": 'f"{x}"'}),
    ('features(name=b"x")', None, {"name": 'b"x"'}),
    ("features(name=x)", None, {"name": "x"}),
    ("features(name=1)", None, {"name": "1"}),
    ('features(name=("a"))', "a", {"name": '"a"'}),
    ('features(name=u"u")', "u", {"name": 'u"u"'}),
    ('features(name=r"a\\tb")', "a\\tb", {"name": 'r"a\\tb"'}),
    ('features(name="a\\tb\\x41\\u00e9\\N{GREEK SMALL LETTER ALPHA}")', "a\tbAéα",
     {"name": '"a\\tb\\x41\\u00e9\\N{GREEK SMALL LETTER ALPHA}"'}),
    ('features(name="\\ud800")', "\ud800", {"name": '"\\ud800"'}),
    ('features(name="schön")', "schön", {"name": '"schön"'}),
    ('features(name="""multi\nline""")', "multi\nline", {"name": '"""multi\nline"""'}),
    ('features(owner="o", name="second")', "second", {"owner": '"o"', "name": '"second"'}),
    ('features(**{"name": "x"})', None, {}),
    ('features(**extra, name="after_star")', "after_star", {"name": '"after_star"'}),
]


@pytest.mark.parametrize("decorator,namespace,kwargs", NAMESPACES)
def test_namespace(tmp_path, decorator, namespace, kwargs):
    text = IMPORT + f"@{decorator}\nclass UserProfile:\n    x: int\n"
    t = Text(text)
    expected = expected_class(t, "UserProfile", text[len(IMPORT):],
                              namespace="user_profile" if namespace is None else namespace,
                              decorator=decorator, kwargs=kwargs, fields=["x"], annotations=["x"])
    assert class_properties(feature_class(tmp_path, text, "UserProfile")) == expected


# A namespace written over several lines keeps the line breaks of its literal as the file wrote
# them; a backslash before a line break removes the whole break.
@pytest.mark.parametrize("newline,literal,namespace", [
    ("\r\n", "'''a\r\nb'''", "a\r\nb"),
    ("\r", "'''a\rb'''", "a\rb"),
    ("\n", "'''a\nb'''", "a\nb"),
    ("\r\n", "'a\\\r\nb'", "ab"),
    ("\r\n", "r'''a\\\r\nb'''", "a\\\r\nb"),
])
def test_namespace_keeps_line_breaks_as_written(tmp_path, newline, literal, namespace):
    text = newline.join(IMPORT.splitlines() + [f"@features(name={literal})", "class A:",
                                                "    x: int", ""])
    assert feature_class(tmp_path, text, "A").namespace == namespace


@pytest.mark.parametrize("class_name,namespace", [
    ("UserProfile", "user_profile"), ("XMLParser", "xml_parser"),
    ("already_snake", "already_snake"),
    ("Ünïcode", "ünïcode"), ("ABCDefGhi", "abc_def_ghi"),
])
def test_default_namespace_is_the_snake_case_class_name(tmp_path, class_name, namespace):
    text = IMPORT + f"@features\nclass {class_name}:\n    pass\n"
    assert feature_class(tmp_path, text, class_name).namespace == namespace


# ---------------------------------------------------------------------------------------------
# Fields: which statements declare them and how annotated and plain ones merge.

def a(name, annotation="int", **more):
    return {"name": name, "annotation": annotation, **more}


def p(name, value, **more):
    return {"name": name, "value": value, **more}


FIELDS = [
    ("annotation only", "    x: int\n", [a("x")], [a("x")]),
    ("annotated constant", "    x: int = 5\n", [a("x")], [a("x")]),
    ("annotated call of any callee", "    x: int = Field(a=1)\n",
     [a("x", value="Field(a=1)", kwargs={"a": "1"})],
     [a("x", value="Field(a=1)", kwargs={"a": "1"})]),
    ("annotated dotted call", "    x: int = m.f(1, b=[2], *c, **d)\n",
     [a("x", value="m.f(1, b=[2], *c, **d)", kwargs={"b": "[2]"})],
     [a("x", value="m.f(1, b=[2], *c, **d)", kwargs={"b": "[2]"})]),
    ("keyword written over lines",
     "    x: int = feature(\n        a\n        =\n        2,\n    )\n",
     [a("x", value="feature(\n        a\n        =\n        2,\n    )", kwargs={"a": "2"})],
     [a("x", value="feature(\n        a\n        =\n        2,\n    )", kwargs={"a": "2"})]),
    ("plain call", "    x = feature(a=1)\n", [], [p("x", "feature(a=1)", kwargs={"a": "1"})]),
    ("plain constant", "    x = 5\n", [], [p("x", "5")]),
    ("plain name", "    x = other\n", [], [p("x", "other")]),
    ("annotated call then plain constant", "    x: int = feature(a=1)\n    x = 5\n",
     [a("x", value="feature(a=1)", kwargs={"a": "1"})], [a("x", value="5", value_nth=1)]),
    ("plain constant then annotated call", "    x = 5\n    x: int = feature(a=1)\n",
     [a("x", nth=1, value="feature(a=1)", kwargs={"a": "1"})],
     [a("x", nth=1, value="5", value_nth=0)]),
    ("annotated then plain call", "    x: int\n    x = feature(b=2)\n",
     [a("x")], [a("x", value="feature(b=2)", value_nth=1, kwargs={"b": "2"})]),
    ("two plain assignments: first name, last value", "    x = feature(a=1)\n    x = g()\n", [],
     [p("x", "g()", value_nth=1)]),
    ("last plain value decides", "    x: int\n    x = f(a=1)\n    x = 3\n", [a("x")],
     [a("x", value="3", value_nth=2)]),
    ("same annotated name twice", "    x: int\n    x: str = feature(a=1)\n",
     [a("x"), a("x", nth=1, annotation="str", value="feature(a=1)", kwargs={"a": "1"})],
     [a("x")]),
    ("parenthesised targets", "    (x): int = 1\n    (y) = 2\n", [a("x")], [a("x"), p("y", "2")]),
    ("not fields", "    x = y = 1\n    a, b = 1, 2\n    [c] = [3]\n    self.d = 4\n"
     "    self.e: int = 5\n    f[0] = 6\n    g += 7\n    type H = int\n    i\n"
     "    if True:\n        j = 8\n    for k in l:\n        m: int\n    with n:\n        o = 9\n"
     "    try:\n        q = 1\n    except E:\n        r = 2\n    match s:\n        case _:\n"
     "            u = 3\n    def method(self):\n        v: int = 4\n        return v\n"
     "    class Inner:\n        w: int\n", [], []),
    ("empty body", "    pass\n", [], []),
    ("fields among methods in body order", "    a: int\n    def f(self):\n        b: int\n"
     "    c = feature()\n    d: str\n", [a("a"), a("d", annotation="str")],
     [a("a"), p("c", "feature()"), a("d", annotation="str")]),
    ("one line body", None, [a("x"), a("y", annotation="str")], [a("x"), a("y", annotation="str")]),
    ("non-ASCII names and text", "    é: int = feature(ü='😀', b=1)\n",
     [a("é", value="feature(ü='😀', b=1)", kwargs={"ü": "'😀'", "b": "1"})],
     [a("é", value="feature(ü='😀', b=1)", kwargs={"ü": "'😀'", "b": "1"})]),
    # An identifier written in a compatibility form is not found as written: no keyword entry.
    ("keyword normalised by NFKC", "    x: int = f(ﬁle=1, b=2)\n",
     [a("x", value="f(ﬁle=1, b=2)", kwargs={"b": "2"})],
     [a("x", value="f(ﬁle=1, b=2)", kwargs={"b": "2"})]),
]


def check_class(tmp_path, klass, annotations, fields):
    """The record of class A, written as `klass` after the import line."""
    text = IMPORT + klass
    expected = expected_class(Text(text), "A", klass, fields=fields, annotations=annotations)
    assert class_properties(feature_class(tmp_path, text, "A")) == expected


@pytest.mark.parametrize("body,annotations,fields", [c[1:] for c in FIELDS],
                         ids=[c[0] for c in FIELDS])
def test_fields(tmp_path, body, annotations, fields):
    klass = "@features\nclass A:\n" + body if body is not None else \
        "@features\nclass A: x: int; y: str\n"
    check_class(tmp_path, klass, annotations, fields)


# ---------------------------------------------------------------------------------------------
# Field comments: the own-line block directly above a statement of the field's name.

def same(text, owner=None, tags=()):
    """Comment data whose description is the whole comment."""
    return (text, text, owner, list(tags))


COMMENTS = [
    ("owner and tags", "    # Price of the item.\n    # :owner: pricing\n    # :tags: money, pii\n"
     "    price: float\n",
     [a("price", "float", comments=("Price of the item.\n:owner: pricing\n:tags: money, pii",
                                    "Price of the item.", "pricing", ["money", "pii"]))]),
    ("blank line inside the block", "    # one\n\n    # two\n    x: int\n",
     [a("x", comments=same("two"))]),
    ("blank line before the field", "    # one\n\n    x: int\n", [a("x")]),
    ("method between comment and field", "    # c\n    def f(self):\n        pass\n    x: int\n",
     [a("x")]),
    ("end of a method body, deeper", "    def f(self):\n        pass\n        # c\n    x: int\n",
     [a("x", comments=same("c"))]),
    ("trailing comments belong to nothing",
     "    y = 1  # t1\n    x: int  # t2\n    # a\n    z: int  # t3\n",
     [a("x"), a("z", comments=same("a")), p("y", "1")]),
    ("two fields on one line", "    # c\n    a: int; b: int\n",
     [a("a", comments=same("c")), a("b")]),
    ("number signs and spaces", "    ##  note  \n    x: int\n    # #note\n    y: int\n",
     [a("x", comments=same("note")), a("y", comments=same("#note"))]),
    ("a bare number sign", "    #\n    x: int\n", [a("x", comments=("", None, None, []))]),
    ("empty, text, empty", "    #\n    # text\n    #\n    x: int\n",
     [a("x", comments=("\ntext\n", "\ntext", None, []))]),
    ("empty owner", "    # :owner:\n    x: int\n", [a("x", comments=(":owner:", None, "", []))]),
    ("last owner wins", "    # :owner: a\n    # :owner:  b  \n    x: int\n",
     [a("x", comments=(":owner: a\n:owner:  b", None, "b", []))]),
    ("tags in capitals are description", "    # :TAGS: a\n    x: int\n",
     [a("x", comments=same(":TAGS: a"))]),
    ("incomplete owner tag", "    # :owner x\n    x: int\n", [a("x", comments=same(":owner x"))]),
    ("tags accumulate", "    # :tags: a,b  c\n    # about x\n    # :tags: a\n    x: int\n",
     [a("x", comments=(":tags: a,b  c\nabout x\n:tags: a", "about x", None,
                       ["a", "b", "c", "a"]))]),
    ("separators only", "    # :tags: , ,,\n    x: int\n",
     [a("x", comments=(":tags: , ,,", None, None, []))]),
    ("unicode white space trimmed", "    #\u3000text\u00a0\u2003\n    x: int\n",
     [a("x", comments=same("text"))]),
    ("form feed before the comment", "\f    # c\n    x: int\n", [a("x", comments=same("c"))]),
    ("non-ASCII text", "    # Größe in 😀\n    # :owner: Zoë\n    x: int\n",
     [a("x", comments=("Größe in 😀\n:owner: Zoë", "Größe in 😀", "Zoë", []))]),
    ("inside a call, above the next line", "    x: int = feature(\n        # c\n        a=1)\n",
     [a("x", value="feature(\n        # c\n        a=1)", kwargs={"a": "1"})]),
]


@pytest.mark.parametrize("body,fields", [c[1:] for c in COMMENTS], ids=[c[0] for c in COMMENTS])
def test_field_comments(tmp_path, body, fields):
    annotations = [f for f in fields if "annotation" in f]
    check_class(tmp_path, "@features\nclass A:\n" + body, annotations, fields)


# Comment data is per name: every record of the name carries the block of the last statement of
# that name that has one.
SHARED_COMMENTS = [
    ("each statement with a block", "    # first\n    x: int\n    # second\n    x: str\n",
     [a("x", comments=same("second")), a("x", nth=1, annotation="str", comments=same("second"))],
     [a("x", comments=same("second"))]),
    ("only the first with a block", "    # first\n    x: int\n    x: str\n",
     [a("x", comments=same("first")), a("x", nth=1, annotation="str", comments=same("first"))],
     [a("x", comments=same("first"))]),
    ("plain assignment carries the block", "    x: int\n    # later\n    x = feature()\n",
     [a("x", comments=same("later"))],
     [a("x", value="feature()", value_nth=1, comments=same("later"))]),
]


@pytest.mark.parametrize("body,annotations,fields", [c[1:] for c in SHARED_COMMENTS],
                         ids=[c[0] for c in SHARED_COMMENTS])
def test_comment_data_is_per_name(tmp_path, body, annotations, fields):
    check_class(tmp_path, "@features\nclass A:\n" + body, annotations, fields)


def test_comment_between_decorator_and_header_is_inside_the_class(tmp_path):
    check_class(tmp_path, "@features\n# c\nclass A: x: int\n", [a("x", comments=same("c"))],
                [a("x", comments=same("c"))])


# ---------------------------------------------------------------------------------------------
# Line breaks, indentation and the class source.

SOURCES = [
    ("module level", IMPORT + "@features\nclass A:\n    x: int\n  \n\n    y: int  # t\nz = 1\n",
     "@features\nclass A:\n    x: int\n\n\n    y: int  # t\n", [a("x"), a("y")]),
    ("no final line break", IMPORT + "@features\nclass A:\n    x: int",
     "@features\nclass A:\n    x: int", [a("x")]),
    ("CR LF", IMPORT + "@features\r\nclass A:\r\n    # c\r\n    x: int\r\n  \r\n    y: int  # t\r\n"
     "z = 1\r\n", "@features\r\nclass A:\r\n    # c\r\n    x: int\r\n\r\n    y: int  # t\r\n",
     [a("x", comments=same("c")), a("y")]),
    # A lone CR ends a line of the source as it ends one in every location: the source is the
    # class's lines, not everything from the last LF to the next.
    ("lone CR", IMPORT + "@features\rclass A:\r    # c\r    x: int\r  \r    y: int  # t\rz = 1\r",
     "@features\rclass A:\r    # c\r    x: int\r\r    y: int  # t\r",
     [a("x", comments=same("c")), a("y")]),
    ("lone CR, no final line break", "x = 1\r" + IMPORT.replace("\n", "\r") +
     "@features\rclass A:\r    x: int", "@features\rclass A:\r    x: int", [a("x")]),
    # The mark belongs to the file: a source starting with it would not even parse.
    ("byte-order mark", "\ufeff@features\nclass A:\n    # c\n    x: int\n" + IMPORT,
     "@features\nclass A:\n    # c\n    x: int\n", [a("x", comments=same("c"))]),
    ("tabs under an if",
     IMPORT + "if True:\n\t@features\n\tclass A:\n\t    x: int\n\n\t    y: int\n",
     "@features\nclass A:\n    x: int\n\n    y: int\n", [a("x"), a("y")]),
    ("a tab that shares nothing with four spaces",
     IMPORT + "class Outer:\n    @features\n    class A:\n        x: int = feature(\n\ta=1)\n",
     "    @features\n    class A:\n        x: int = feature(\n\ta=1)\n",
     [a("x", value="feature(\n\ta=1)", kwargs={"a": "1"})]),
    ("indented header in a function", IMPORT + "def f():\n    @features\n    class A:\n"
     "        x: int\n    return A\n", "@features\nclass A:\n    x: int\n", [a("x")]),
    ("a string line narrows the indentation", IMPORT + "if True:\n    @features\n    class A:\n"
     "        '''doc\n  two\n        '''\n        x: int\n",
     "  @features\n  class A:\n      '''doc\ntwo\n      '''\n      x: int\n", [a("x")]),
    ("Unicode white space makes a line blank", IMPORT + "@features\nclass A:\n    '''doc\n"
     "  \u3000\u00a0\n    '''\n    x: int\n\f\n    y: int\n",
     "@features\nclass A:\n    '''doc\n\n    '''\n    x: int\n\n    y: int\n", [a("x"), a("y")]),
    ("a following class is not included", IMPORT + "@features\nclass A:\n    x: int\n"
     "class B:\n    y: int\n", "@features\nclass A:\n    x: int\n", [a("x")]),
    ("one line with a trailing comment", IMPORT + "@features\nclass A: x: int  # t\nB = 1\n",
     "@features\nclass A: x: int  # t\n", [a("x")]),
    ("non-ASCII", IMPORT + "# Größe 😀\n@features\nclass A:\n    é: int = feature(ü='😀', b=1)\n"
     "    # 😀 ö\n    ß = 2\n", "@features\nclass A:\n    é: int = feature(ü='😀', b=1)\n"
     "    # 😀 ö\n    ß = 2\n",
     [a("é", value="feature(ü='😀', b=1)", kwargs={"ü": "'😀'", "b": "1"}),
      p("ß", "2", comments=same("😀 ö"))]),
]


@pytest.mark.parametrize("text,source,fields", [c[1:] for c in SOURCES],
                         ids=[c[0] for c in SOURCES])
def test_line_breaks_indentation_and_source(tmp_path, text, source, fields):
    annotations = [f for f in fields if "annotation" in f]
    expected = expected_class(Text(text), "A", source, fields=fields, annotations=annotations)
    assert class_properties(feature_class(tmp_path, text, "A")) == expected


@pytest.mark.parametrize("text,definition", [
    (IMPORT + "def f():\n    @features\n    class A:\n        x: int\n", (3, 0, 3, 12)),
    (IMPORT + "@features\r\nclass A:  # c\r\n    x: int\r\n", (2, 0, 2, 14)),  # the CR is inside
    # A lone CR ends the line too, so the location is not the whole file.
    (IMPORT.replace("\n", "\r") + "@features\rclass A:\r    x: int\r", (2, 0, 2, 8)),
    ("\ufeff@features\nclass A: x: int\n" + IMPORT, (1, 0, 1, 15)),
    ("\ufeff@features\nclass \\\n  A: x: int\n" + IMPORT, (2, 0, 2, 11)),
])
def test_definition_line_is_the_line_of_the_class_name(tmp_path, text, definition):
    assert feature_class(tmp_path, text, "A").class_definition_location == definition


NESTED = IMPORT + '''
@features
class Outer:
    a: int
    @features(name="in")
    class Inner:
        # c
        b: int = feature(k=1)
        def f(self):
            z: int
    # d
    e: int
'''


def test_nested_feature_classes(tmp_path):
    t = Text(NESTED)
    index, path = index_of(tmp_path, NESTED)
    outer = index.feature_class_ast_in_file(path, "Outer")
    inner = index.feature_class_ast_in_file(path, "Inner")
    outer_source = NESTED[NESTED.index("@features\n"):]
    inner_source = "@features(name=\"in\")\nclass Inner:\n    # c\n    b: int = feature(k=1)\n" \
                   "    def f(self):\n        z: int\n"
    assert class_properties(outer) == expected_class(
        t, "Outer", outer_source, fields=["a", a("e", comments=same("d"))],
        annotations=["a", a("e", comments=same("d"))])
    b = a("b", value="feature(k=1)", kwargs={"k": "1"}, comments=same("c"))
    assert class_properties(inner) == expected_class(
        t, "Inner", inner_source, namespace="in", decorator='features(name="in")',
        kwargs={"name": '"in"'}, fields=[b], annotations=[b])


def test_of_two_classes_of_one_name_the_outer_first_is_found(tmp_path):
    text = IMPORT + "@features\nclass A:\n    x: int\n    @features\n    class A:\n" \
        "        y: int\n@features\nclass A:\n    z: int\n"
    index, path = index_of(tmp_path, text)
    assert list(index.feature_class_ast_in_file(path, "A").fields) == ["x"]
    assert list(index.feature_class_ast("m", "A").fields) == ["x"]


# ---------------------------------------------------------------------------------------------
# Lookups and the record classes.

def test_lookups_by_module_and_by_file(tmp_path):
    (tmp_path / "pkg").mkdir()
    first = write(tmp_path, IMPORT + "@features\nclass A:\n    x: int\nclass Plain:\n    y: int\n",
                  "pkg/one.py")
    second = write(tmp_path, IMPORT + "@features\nclass A:\n    z: int\n", "pkg/two.py")
    broken = write(tmp_path, IMPORT + "@features\nclass A:\n    z: int\n  (\n", "bad.py")
    index = tolvo_rs.AstProjectIndex([broken, first, second], str(tmp_path))
    assert list(index.feature_class_ast("pkg.one", "A").fields) == ["x"]
    assert list(index.feature_class_ast("pkg.two", "A").fields) == ["z"]
    assert index.feature_class_ast("pkg.two", "A").module == "pkg.two"
    assert list(index.feature_class_ast_in_file(second, "A").fields) == ["z"]
    for found in [index.feature_class_ast("pkg", "A"), index.feature_class_ast("pkg.one", "Plain"),
                  index.feature_class_ast("pkg.one", "a"), index.feature_class_ast("bad", "A"),
                  index.feature_class_ast_in_file(broken, "A"),
                  index.feature_class_ast_in_file(first, "Missing")]:
        assert found is None


def test_a_file_without_a_uri_has_no_feature_classes(tmp_path):
    (tmp_path / "ä").mkdir()
    index, path = index_of(tmp_path, IMPORT + "@features\nclass A:\n    x: int\n", "ä/m.py")
    assert index.feature_class_ast_in_file(path, "A") is None


def test_record_objects_are_read_only_copies(tmp_path):
    record = feature_class(tmp_path, IMPORT + "@features\nclass A:\n    x: int = feature(a=1)\n",
                           "A")
    for cls in (tolvo_rs.FeatureClassAST, tolvo_rs.FeatureFieldAST):
        with pytest.raises(TypeError):
            cls()
    with pytest.raises(AttributeError):
        record.class_name = "B"
    with pytest.raises(AttributeError):
        record.extra = 1
    assert record.class_name == "A"

    first, second = record.fields["x"], record.fields["x"]
    assert first is not second and first != second
    assert field_properties(first) == field_properties(second)
    assert record.annotations[0] is not record.annotations[0]
    with pytest.raises(AttributeError):
        first.owner = "o"

    record.kwargs["added"] = (0, 0, 0, 0)
    record.fields.clear()
    record.annotations.clear()
    assert record.kwargs == {} and list(record.fields) == ["x"] and len(record.annotations) == 1

    field = record.annotations[0]
    del record, first, second
    assert field.kwargs == {"a": (3, 23, 3, 24)}
