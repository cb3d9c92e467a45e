"""parse_duration_ms, parse_duration_s and seconds_to_duration_string as Python sees them."""

import math

import pytest

import tolvo_rs
from cases import Raises, check

UNBOUNDED_MS = 3_153_600_000_000
INT64_MAX = 2**63 - 1


def bad(text, component):
    return Raises(
        ValueError,
        f"The duration '{text}' contained a component '{component}' that could not be parsed. "
        "Please use a valid duration, like '10m', '1h', or '1h30m'. "
        "Read more at README.md#duration-strings",
    )


class Str(str):
    pass


PARSE_DURATION_MS = [
    # The words and the exact-match texts.
    ("", 0),
    ("all", UNBOUNDED_MS),
    ("infinity", UNBOUNDED_MS),
    ("365d", 31_536_000_000),
    ("1w", 604_800_000),
    (Str("1h"), 3_600_000),
    ("ALL", bad("ALL", "ALL")),
    (" all", bad(" all", "all")),
    ("-infinity", bad("-infinity", "infinity")),
    ("   ", bad("   ", "   ")),
    # Groups in any order, joined or spaced.
    ("1h30m", 5_400_000),
    ("30m1h", 5_400_000),
    ("1h 30m", 5_400_000),
    (" 1h30m", 5_400_000),
    ("1h30m ", 5_400_000),
    ("2d12h", 216_000_000),
    ("1w1d", 691_200_000),
    ("5m5ms", 300_005),
    ("1m5s", 65_000),
    ("007s", 7_000),
    ("1w 1d 1h 1m 1s 1ms", 694_861_001),
    # The sign.
    ("-1h", -3_600_000),
    ("- 1h", -3_600_000),
    (" -1h", bad(" -1h", "-1h")),
    ("+1h", bad("+1h", "+1h")),
    ("--1h", bad("--1h", "-1h")),
    ("1h-30m", bad("1h-30m", "-30m")),
    ("-", bad("-", "-")),
    ("-   ", bad("-   ", "-   ")),
    # Groups that do not read.
    ("10", bad("10", "10")),
    ("0", bad("0", "0")),
    ("1h30", bad("1h30", "30")),
    ("1.5h", bad("1.5h", "1.5h")),
    ("1 h", bad("1 h", "1 h")),
    ("1H", bad("1H", "1H")),
    ("1hr", bad("1hr", "1hr")),
    ("1min", bad("1min", "1min")),
    ("1mss", bad("1mss", "1mss")),
    ("1d1d", bad("1d1d", "1d")),
    ("1h1h30m", bad("1h1h30m", "1h30m")),
    ("1h,30m", bad("1h,30m", ",30m")),
    ("1h\u00e9", bad("1h\u00e9", "\u00e9")),
    ("\u0661h", bad("\u0661h", "\u0661h")),
    # Only a space separates groups; other white space ends the reading and is trimmed.
    ("\t1h", bad("\t1h", "1h")),
    ("1h\t", bad("1h\t", "")),
    ("1h\u3000", bad("1h\u3000", "")),
    ("1h \u2003x\u00a0", bad("1h \u2003x\u00a0", "x")),
    # 64-bit limits: the number, and (beyond the range) the product and the total.
    (f"{INT64_MAX}ms", INT64_MAX),
    (f"-{INT64_MAX}ms", -INT64_MAX),
    ("9223372036854775s807ms", INT64_MAX),
    (f"{INT64_MAX + 1}ms", bad(f"{INT64_MAX + 1}ms", str(INT64_MAX + 1))),
    (f"{INT64_MAX}s", bad(f"{INT64_MAX}s", f"{INT64_MAX}s")),
    ("106751991167301d", bad("106751991167301d", "106751991167301d")),
    (f"{INT64_MAX}ms 1s 2m", bad(f"{INT64_MAX}ms 1s 2m", "1s 2m")),
    ("1" * 5000 + "s", bad("1" * 5000 + "s", "1" * 5000)),
    # Long texts.
    (" " * 1_000_000 + "1h" + " " * 1_000_000, 3_600_000),
    ("1h" + "x" * 1_000_000, bad("1h" + "x" * 1_000_000, "1h" + "x" * 1_000_000)),
]


@pytest.mark.parametrize(("text", "expected"), PARSE_DURATION_MS)
def test_parse_duration_ms(text, expected):
    check(tolvo_rs.parse_duration_ms, (text,), expected)


# Characters with the Unicode White_Space property; U+001C to U+001F are not among them.
WHITE_SPACE_CONTROLS = set("\t\n\x0b\x0c\r\x85")
CONTROLS = [chr(c) for c in [*range(0x20), *range(0x7F, 0xA0)]]


@pytest.mark.parametrize("control", CONTROLS, ids=[f"U+{ord(c):04X}" for c in CONTROLS])
def test_parse_duration_ms_control_characters(control):
    check(tolvo_rs.parse_duration_ms, (control,), bad(control, control))
    trailing = "" if control in WHITE_SPACE_CONTROLS else control
    check(tolvo_rs.parse_duration_ms, ("1h" + control,), bad("1h" + control, trailing))


PARSE_DURATION_S = [
    ("1500ms", 1),
    ("-1500ms", -1),
    ("999ms", 0),
    ("1999ms", 1),
    ("-999ms", 0),
    ("1h30m", 5_400),
    ("infinity", 3_153_600_000),
    ("", 0),
    (f"{INT64_MAX}ms", INT64_MAX // 1000),
    ("10", bad("10", "10")),
    ("1h\t", bad("1h\t", "")),
]


@pytest.mark.parametrize(("text", "expected"), PARSE_DURATION_S)
def test_parse_duration_s(text, expected):
    check(tolvo_rs.parse_duration_s, (text,), expected)


class Seconds:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Index:
    def __index__(self):
        return 90


SECONDS_TO_DURATION_STRING = [
    (0, ""),
    (0.0, ""),
    (-0.0, ""),
    (1, "1s"),
    (60, "1m"),
    (90, "1m30s"),
    (61.5, "1m1s500ms"),
    (3600, "1h"),
    (3661, "1h1m1s"),
    (5400, "1h30m"),
    (86400, "1d"),
    (0.0005, "1ms"),
    (0.0004, ""),
    (-0.0004, ""),
    (-0.0005, "-1ms"),
    (-90.5, "-1m30s500ms"),
    (0.9996, "1000ms"),
    (1.9999, "1s1000ms"),
    (3_153_599_999, "36499d23h59m59s"),
    (3_153_600_000, "infinity"),
    (3_153_600_000.0, "infinity"),
    (1e308, "infinity"),
    (math.inf, "infinity"),
    (-3_153_600_000, "-36500d"),
    (math.nan, ""),
    (-math.nan, ""),
    (5e-324, ""),
    (True, "1s"),
    (Seconds(3600.0), "1h"),
    (Index(), "1m30s"),
    # Magnitudes of 2**64 seconds or more are clamped to 2**64 - 1 whole seconds.
    (-(2.0**64), "-213503982334601d7h15s"),
    (-1e300, "-213503982334601d7h15s"),
    (-math.inf, "-213503982334601d7h15s"),
    (10**400, Raises(OverflowError, "int too large to convert to float")),
    ("90", Raises(TypeError, "argument 'total_seconds': must be real number, not str")),
    (None, Raises(TypeError, "argument 'total_seconds': must be real number, not NoneType")),
]


@pytest.mark.parametrize(("seconds", "expected"), SECONDS_TO_DURATION_STRING)
def test_seconds_to_duration_string(seconds, expected):
    check(tolvo_rs.seconds_to_duration_string, (seconds,), expected)


@pytest.mark.parametrize("seconds", [0.9996, 1.9999, 61.5, 3661.25, -90.5, 1234567.891, 7e9 / 3])
def test_printed_durations_read_back(seconds):
    text = tolvo_rs.seconds_to_duration_string(seconds)
    assert tolvo_rs.parse_duration_ms(text) == round(seconds * 1000)


def test_seconds_to_duration_string_passes_errors_of_float_conversion():
    class Broken:
        def __float__(self):
            raise ZeroDivisionError("no float")

    with pytest.raises(ZeroDivisionError, match="no float"):
        tolvo_rs.seconds_to_duration_string(Broken())


PARAMS = {
    "parse_duration_ms": "s",
    "parse_duration_s": "s",
    "seconds_to_duration_string": "total_seconds",
}


def missing(function):
    message = f"{function}() missing 1 required positional argument: '{PARAMS[function]}'"
    return Raises(TypeError, message)

BINDING = [
    ("parse_duration_ms", (), {"s": "1h"}, 3_600_000),
    ("parse_duration_s", (), {"s": "1h"}, 3_600),
    ("seconds_to_duration_string", (), {"total_seconds": 60}, "1m"),
    ("parse_duration_ms", (), {}, missing("parse_duration_ms")),
    ("parse_duration_s", (), {}, missing("parse_duration_s")),
    ("seconds_to_duration_string", (), {}, missing("seconds_to_duration_string")),
    (
        "parse_duration_ms",
        ("1h", "2h"),
        {},
        Raises(TypeError, "parse_duration_ms() takes 1 positional arguments but 2 were given"),
    ),
    (
        "parse_duration_s",
        ("1h",),
        {"s": "2h"},
        Raises(TypeError, "parse_duration_s() got multiple values for argument 's'"),
    ),
    (
        "seconds_to_duration_string",
        (),
        {"seconds": 1},
        Raises(
            TypeError, "seconds_to_duration_string() got an unexpected keyword argument 'seconds'"
        ),
    ),
    (
        "parse_duration_ms",
        (5,),
        {},
        Raises(TypeError, "argument 's': 'int' object is not an instance of 'str'"),
    ),
    (
        "parse_duration_s",
        (None,),
        {},
        Raises(TypeError, "argument 's': 'None' is not an instance of 'str'"),
    ),
    (
        "parse_duration_ms",
        (b"1h",),
        {},
        Raises(TypeError, "argument 's': 'bytes' object is not an instance of 'str'"),
    ),
]


@pytest.mark.parametrize(("function", "args", "kwargs", "expected"), BINDING)
def test_binding(function, args, kwargs, expected):
    check(getattr(tolvo_rs, function), args, expected, kwargs)


@pytest.mark.parametrize("function", ["parse_duration_ms", "parse_duration_s"])
def test_lone_surrogate_raises_unicode_encode_error(function):
    with pytest.raises(UnicodeEncodeError):
        getattr(tolvo_rs, function)("1h\ud800")


@pytest.mark.parametrize(
    ("function", "signature"),
    [
        ("parse_duration_ms", "(s)"),
        ("parse_duration_s", "(s)"),
        ("seconds_to_duration_string", "(total_seconds)"),
    ],
)
def test_signature(function, signature):
    value = getattr(tolvo_rs, function)
    assert value.__text_signature__ == signature
    assert value.__doc__ is None
    assert value.__module__ == "tolvo_rs"
