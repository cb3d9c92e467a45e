"""parse_iso_date, parse_iso_time, parse_datetime, parse_iso_duration, duration_isoformat and
timezone_from_name as Python sees them."""

import datetime
import sys
import threading
import types
import zoneinfo
from datetime import date, time, timedelta, timezone

import pytest

import cases
import tolvo_rs
from cases import Raises

UTC = timezone.utc


def host_error(make):
    """The host constructor's own error for a value, so the expectation is never a guess."""
    try:
        make()
    except (ValueError, OverflowError) as error:
        return Raises(type(error), str(error))
    raise AssertionError("the host accepted the value")


def check(function, args, expected, kwargs=None):
    # repr shows the zone's name and whether it is the UTC singleton; == compares offsets only.
    cases.check(function, args, expected, kwargs, same=lambda a, b: repr(a) == repr(b))


class Str(str):
    pass


def date_error(quoted):
    return Raises(ValueError, f"Unrecognised ISO 8601 date format: {quoted}")


def time_error(quoted):
    return Raises(ValueError, f"Unrecognised ISO 8601 time format: {quoted}")


def argument_error(param, type_name):
    if type_name is None:
        return Raises(TypeError, f"argument '{param}': 'None' is not an instance of 'str'")
    message = f"argument '{param}': '{type_name}' object is not an instance of 'str'"
    return Raises(TypeError, message)


def encode_error(text):
    """The interpreter's own error for a text without a UTF-8 form."""
    try:
        text.encode()
    except UnicodeEncodeError as error:
        return Raises(UnicodeEncodeError, str(error))
    raise AssertionError("the text has a UTF-8 form")


PARSE_ISO_DATE = [
    # Calendar, ordinal and week dates, basic and extended, and the reduced forms.
    ("2020-01-02", date(2020, 1, 2)),
    ("20200102", date(2020, 1, 2)),
    ("2020-03", date(2020, 3, 1)),
    ("202003", date(2020, 3, 1)),
    ("2020", date(2020, 1, 1)),
    ("19", date(1901, 1, 1)),
    ("00", date(1, 1, 1)),
    ("99", date(9901, 1, 1)),
    ("2020366", date(2020, 12, 31)),
    ("2020-366", date(2020, 12, 31)),
    ("2020-060", date(2020, 2, 29)),
    ("2021-060", date(2021, 3, 1)),
    ("2020W01", date(2019, 12, 30)),
    ("2020-W01", date(2019, 12, 30)),
    ("2020-W01-1", date(2019, 12, 30)),
    ("2020-W53", date(2020, 12, 28)),
    ("2020W537", date(2021, 1, 3)),
    ("2020-W53-7", date(2021, 1, 3)),
    ("1970-W01-4", date(1970, 1, 1)),
    ("2021-W53-1", date(2022, 1, 3)),
    (Str("2020-01-02"), date(2020, 1, 2)),
    # Values the reader passes on and the host refuses.
    ("2020-13", host_error(lambda: date(2020, 13, 1))),
    ("2020-02-30", host_error(lambda: date(2020, 2, 30))),
    ("20200230", host_error(lambda: date(2020, 2, 30))),
    ("2020-00-00", host_error(lambda: date(2020, 0, 0))),
    ("0000", host_error(lambda: date(0, 1, 1))),
    ("0000-366", host_error(lambda: date(0, 12, 31))),
    ("9999-W53-7", host_error(lambda: date(10000, 1, 9))),
    # Wrong shapes and refused values.
    ("2020-1-1", date_error('"2020-1-1"')),
    ("2020-W1-01", date_error('"2020-W1-01"')),
    ("2020W01-1", date_error('"2020W01-1"')),
    ("2020w01", date_error('"2020w01"')),
    ("2020_03", date_error('"2020_03"')),
    ("+2020", date_error('"+2020"')),
    ("-2020", date_error('"-2020"')),
    ("202", date_error('"202"')),
    ("20201", date_error('"20201"')),
    ("", date_error('""')),
    (" 2020-01-02", date_error('" 2020-01-02"')),
    ("2020-01-02\n", date_error('"2020-01-02\\n"')),
    ("2021366", date_error('"2021366"')),
    ("2020000", date_error('"2020000"')),
    ("2020W538", date_error('"2020W538"')),
    ("2020-W00", date_error('"2020-W00"')),
    ("2020-W54-1", date_error('"2020-W54-1"')),
    # The quoted form: escapes, printable non-ASCII kept, combining and invisible marks shown.
    ('20"0\\01', date_error('"20\\"0\\\\01"')),
    ("2020'01", date_error("\"2020'01\"")),
    ("2020\t01", date_error('"2020\\t01"')),
    ("2020\x1b01", date_error('"2020\\u{1b}01"')),
    ("2020-01-0\u00e9", date_error('"2020-01-0\u00e9"')),
    ("2020-01-0e\u0301", date_error('"2020-01-0e\\u{301}"')),
    ("2020-01-02\u200b", date_error('"2020-01-02\\u{200b}"')),
    ("\u00a0\u2028\ue000\U0001f600", date_error('"\\u{a0}\\u{2028}\\u{e000}\U0001f600"')),
    ("２０２０", date_error('"２０２０"')),
    # Arguments.
    (5, argument_error("s", "int")),
    (None, argument_error("s", None)),
    (b"2020", argument_error("s", "bytes")),
    ("2020-01-0\udc80", encode_error("2020-01-0\udc80")),
    ("9" * 5000, date_error('"' + "9" * 5000 + '"')),
]


@pytest.mark.parametrize(("text", "expected"), PARSE_ISO_DATE)
def test_parse_iso_date(text, expected):
    check(tolvo_rs.parse_iso_date, (text,), expected)


def test_week_and_ordinal_dates_agree_with_the_host_calendar():
    for year in range(1, 10_000):
        last_week = date(year, 12, 28).isocalendar().week
        for week in (1, last_week):
            for weekday in (1, 7):
                if (year, week, weekday) == (9999, 52, 7):
                    continue  # 10000-01-02, beyond the host (see 9999-W53-7 above)
                expected = date.fromisocalendar(year, week, weekday)
                assert tolvo_rs.parse_iso_date(f"{year:04d}-W{week:02d}-{weekday}") == expected
        last_day = 366 if date(year, 12, 31).timetuple().tm_yday == 366 else 365
        for day in (1, 59, 60, last_day):
            expected = date(year, 1, 1) + timedelta(days=day - 1)
            assert tolvo_rs.parse_iso_date(f"{year:04d}{day:03d}") == expected


def offset_zone(seconds, name):
    return timezone(timedelta(seconds=seconds), name)


PARSE_ISO_TIME = [
    ("12:34:56", time(12, 34, 56)),
    ("T12", time(12)),
    ("1200Z", time(12, tzinfo=UTC)),
    ("12:30:00z", time(12, 30, tzinfo=UTC)),
    ("T12:00Z", time(12, tzinfo=UTC)),
    ("T12:34:56.789Z", time(12, 34, 56, 789_000, tzinfo=UTC)),
    ("123456,5+01:30", time(12, 34, 56, 500_000, tzinfo=offset_zone(5_400, "+01:30"))),
    ("120000.5Z", time(12, 0, 0, 500_000, tzinfo=UTC)),
    ("12:30:00+05:30", time(12, 30, tzinfo=offset_zone(19_800, "+05:30"))),
    ("12:30:00-0800", time(12, 30, tzinfo=offset_zone(-28_800, "-0800"))),
    ("12:30:00+23:59", time(12, 30, tzinfo=offset_zone(86_340, "+23:59"))),
    ("12:30:00-2359", time(12, 30, tzinfo=offset_zone(-86_340, "-2359"))),
    # A zero offset keeps its designator as the zone's name; it is not timezone.utc.
    ("12:00-00:00", time(12, tzinfo=offset_zone(0, "-00:00"))),
    ("12:00+00", time(12, tzinfo=offset_zone(0, "+00"))),
    # Fractions: of a second and of a minute truncated, of an hour rounded half to even.
    ("12:00:00.1234567", time(12, 0, 0, 123_456)),
    ("12:00:00.9999999", time(12, 0, 0, 999_999)),
    ("12:00:00." + "9" * 50, time(12, 0, 0, 999_999)),
    ("12:00:00." + "0" * 37 + "9" * 5000, time(12)),
    ("12:30.5", time(12, 30, 30)),
    ("12:30,25", time(12, 30, 15)),
    ("1230.25-05", time(12, 30, 15, tzinfo=offset_zone(-18_000, "-05"))),
    ("12:00.5+05", time(12, 0, 30, tzinfo=offset_zone(18_000, "+05"))),
    ("12.5", time(12, 30)),
    ("12,5", time(12, 30)),
    ("12.25", time(12, 15)),
    ("00.999999999", time(0, 59, 59, 999_996)),
    ("00.00000000125", time(0, 0, 0, 4)),
    ("00.00000000375", time(0, 0, 0, 14)),
    ("00.000000138888", time(0, 0, 0, 500)),
    # An hour fraction rounding up to a whole second carries into the second, minute and hour.
    ("12.9999999999", time(13)),
    ("12.5555555555", time(12, 33, 20)),
    ("22.99999999999Z", time(23, tzinfo=UTC)),
    ("23.99999999999", host_error(lambda: time(24))),
    ("12.999999999", time(12, 59, 59, 999_996)),
    ("1230+0100", time(12, 30, tzinfo=offset_zone(3_600, "+0100"))),
    ("12+01", time(12, tzinfo=offset_zone(3_600, "+01"))),
    (Str("12:30"), time(12, 30)),
    # Values the reader passes on and the host refuses.
    ("24:00", host_error(lambda: time(24))),
    ("12:60", host_error(lambda: time(12, 60))),
    ("12:30:60", host_error(lambda: time(12, 30, 60))),
    ("12:60:99", host_error(lambda: time(12, 60, 99))),
    ("99", host_error(lambda: time(99))),
    # Refused texts; the message quotes the whole input, a leading T included.
    ("12:30:00+24", time_error('"12:30:00+24"')),
    ("12:30:00+12:60", time_error('"12:30:00+12:60"')),
    ("12:30:00+1", time_error('"12:30:00+1"')),
    ("12:30:00+123", time_error('"12:30:00+123"')),
    ("12:30:00 Z", time_error('"12:30:00 Z"')),
    ("t12", time_error('"t12"')),
    ("T", time_error('"T"')),
    ("", time_error('""')),
    ("1", time_error('"1"')),
    ("12:3", time_error('"12:3"')),
    ("12:30:", time_error('"12:30:"')),
    ("12:30:5", time_error('"12:30:5"')),
    ("12.:00", time_error('"12.:00"')),
    ("T12:00\r", time_error('"T12:00\\r"')),
    ("12:00\u00e9", time_error('"12:00\u00e9"')),
    ("12:00\ud800", encode_error("12:00\ud800")),
    (12, argument_error("s", "int")),
    (None, argument_error("s", None)),
]


@pytest.mark.parametrize(("text", "expected"), PARSE_ISO_TIME)
def test_parse_iso_time(text, expected):
    check(tolvo_rs.parse_iso_time, (text,), expected)


class CustomZone(datetime.tzinfo):
    def __init__(self, delta, name):
        self.delta = delta
        self.name = name

    def utcoffset(self, dt):
        return self.delta


def test_parse_iso_time_calls_the_current_datetime_timezone(monkeypatch):
    calls = []

    def fake_timezone(delta, name):
        calls.append((delta, name))
        return CustomZone(delta, name)

    monkeypatch.setattr(datetime, "timezone", fake_timezone)
    zone = tolvo_rs.parse_iso_time("12:00-05:00").tzinfo
    assert type(zone) is CustomZone
    assert (zone.delta, zone.name) == (timedelta(days=-1, seconds=68_400), "-05:00")
    assert type(calls[0][1]) is str
    # Z and naive times do not ask datetime.timezone.
    assert tolvo_rs.parse_iso_time("12:00Z").tzinfo is UTC
    assert tolvo_rs.parse_iso_time("12:00").tzinfo is None
    assert len(calls) == 1


@pytest.mark.parametrize(
    ("returned", "message"),
    [
        (5, "'int' object is not an instance of 'tzinfo'"),
        (None, "'None' is not an instance of 'tzinfo'"),
    ],
)
def test_parse_iso_time_refuses_a_zone_that_is_no_tzinfo(monkeypatch, returned, message):
    monkeypatch.setattr(datetime, "timezone", lambda delta, name: returned)
    check(tolvo_rs.parse_iso_time, ("12:00+01",), Raises(TypeError, message))


def test_parse_iso_time_passes_on_the_error_of_datetime_timezone(monkeypatch):
    def failing(delta, name):
        raise LookupError("no zones today")

    monkeypatch.setattr(datetime, "timezone", failing)
    check(tolvo_rs.parse_iso_time, ("12:00+01",), Raises(LookupError, "no zones today"))


TODAY = date(2001, 2, 3)


class FixedDate(date):
    @classmethod
    def today(cls):
        return cls(TODAY.year, TODAY.month, TODAY.day)


@pytest.fixture
def fixed_today(monkeypatch):
    """datetime.date replaced by a class whose today() is TODAY; parse_datetime asks it."""
    monkeypatch.setattr(datetime, "date", FixedDate)


def unknown(text):
    return Raises(ValueError, f"Unknown string format: {text}")


def dt(*fields, tzinfo=None):
    return datetime.datetime(*fields, tzinfo=tzinfo)


def fixed(hours):
    """A fixed-offset zone without a name of its own."""
    return timezone(timedelta(hours=hours))


JAN5 = (2020, 1, 5)

PARSE_DATETIME = [
    # ISO 8601: a date, T or a blank, and a time; a date alone.
    ("2020-01-02T10:20:30Z", dt(2020, 1, 2, 10, 20, 30, tzinfo=UTC)),
    ("2020-01-02T10:30:00Z", dt(2020, 1, 2, 10, 30, tzinfo=UTC)),
    ("2020-01-02 10:30:00+00:00", dt(2020, 1, 2, 10, 30, tzinfo=UTC)),
    ("2020-01-02T10:30:00-00:00", dt(2020, 1, 2, 10, 30, tzinfo=UTC)),
    ("2020-01-02 10:20:30+05:30", dt(2020, 1, 2, 10, 20, 30, tzinfo=fixed(hours=5.5))),
    ("2020-01-02T10:30:00-05:00", dt(2020, 1, 2, 10, 30, tzinfo=fixed(hours=-5))),
    ("20200102 103000", dt(2020, 1, 2, 10, 30)),
    ("2020-W01-1T12.5", dt(2019, 12, 30, 12, 30)),
    ("2020-01-02", dt(2020, 1, 2)),
    ("  2020-01-02\t\n", dt(2020, 1, 2)),
    # Month names.
    ("Jan 5 2020", dt(*JAN5)),
    ("5 January, 2020", dt(*JAN5)),
    ("Jan, 5 2020", dt(*JAN5)),
    ("JAN 5 2020", dt(*JAN5)),
    ("Sept 5 2020", dt(2020, 9, 5)),
    ("Jan\t5\t2020", dt(*JAN5)),
    ("Jan 5,, 2020,,", dt(*JAN5)),
    ("Jan 5, 2020 10:30", dt(*JAN5, 10, 30)),
    ("Jan 5 2020 1030", dt(*JAN5, 10, 30)),
    ("jan 5 2020 10:30:00 -0800", dt(*JAN5, 10, 30, tzinfo=fixed(hours=-8))),
    ("Jan 5 2020 10:30 +05:00", dt(*JAN5, 10, 30, tzinfo=fixed(hours=5))),
    ("Jan 5 2020 10:30 Z", dt(*JAN5, 10, 30, tzinfo=UTC)),
    ("Jan 5 2020 10:30:15.5 Z", dt(*JAN5, 10, 30, 15, 500_000, tzinfo=UTC)),
    ("Jan 5 2020 9:30 pm", dt(*JAN5, 21, 30)),
    ("Jan 5 2020 12:00 AM", dt(*JAN5, 0, 0)),
    ("May 5 2020 12:30 pm", dt(2020, 5, 5, 12, 30)),
    ("Jan 5 2020 9:30:15 pm", dt(*JAN5, 21, 30, 15)),
    ("Jan 5 2020 9:30Z pm", dt(*JAN5, 21, 30, tzinfo=UTC)),
    ("5 NOV 2020 10:30 PM", dt(2020, 11, 5, 22, 30)),
    # A T cuts the text at once: upper-case month names holding one are refused.
    ("OCT 5 2020", unknown("OCT 5 2020")),
    ("SEPTEMBER 5 2020", unknown("SEPTEMBER 5 2020")),
    ("5 AUGUST 2020 10:30 PM", unknown("5 AUGUST 2020 10:30 PM")),
    ("Jan 5 2020 10:30 EST", unknown("Jan 5 2020 10:30 EST")),
    ("2020-01-02T12.9999999999", dt(2020, 1, 2, 13)),
    ("2020-01-02T23.99999999999", host_error(lambda: dt(2020, 1, 2, 24))),
    # Bare times on today's date.
    ("10:30", dt(2001, 2, 3, 10, 30)),
    ("10:30:00Z", dt(2001, 2, 3, 10, 30, tzinfo=UTC)),
    (" 10:30:00.25+01:00 ", dt(2001, 2, 3, 10, 30, 0, 250_000, tzinfo=fixed(hours=1))),
    # Values the reader passes on and the host refuses.
    ("Feb 30 2020", host_error(lambda: datetime.datetime(2020, 2, 30))),
    ("Jan , 2020", host_error(lambda: datetime.datetime(2020, 1, 0))),
    ("Jan 5 0", host_error(lambda: datetime.datetime(0, 1, 5))),
    ("Jan 5 10000", host_error(lambda: datetime.datetime(10000, 1, 5))),
    ("Jan 5 2147483647", host_error(lambda: datetime.datetime(2147483647, 1, 5))),
    ("2020-01-02T24:00", host_error(lambda: datetime.datetime(2020, 1, 2, 24))),
    ("2020-13-01", host_error(lambda: datetime.datetime(2020, 13, 1))),
    # Refused texts; the message shows the input as passed.
    ("", Raises(ValueError, "String does not contain a date: ")),
    ("   ", Raises(ValueError, "String does not contain a date:    ")),
    ("\t\n\x0b\x0c\r ", Raises(ValueError, "String does not contain a date: \t\n\x0b\x0c\r ")),
    ("  abc  ", unknown("  abc  ")),
    ("2020-01-02Tx", unknown("2020-01-02Tx")),
    ("T10:00", unknown("T10:00")),
    ("2020-01-02T10:00 extra", unknown("2020-01-02T10:00 extra")),
    ("2020-01-02 10:30 pm", unknown("2020-01-02 10:30 pm")),
    ("2020-01-02 10:30:00 +05:00", unknown("2020-01-02 10:30:00 +05:00")),
    ("Jan 5 2020 0:30 am", unknown("Jan 5 2020 0:30 am")),
    ("5 Oct 2020 13:30 pm", unknown("5 Oct 2020 13:30 pm")),
    ("Jan 5 2020 9:30 p.m.", unknown("Jan 5 2020 9:30 p.m.")),
    ("Jan 5 2020 10:30 AM extra", unknown("Jan 5 2020 10:30 AM extra")),
    ("January 5th 2020", unknown("January 5th 2020")),
    ("9:30", unknown("9:30")),
    ("1:30", unknown("1:30")),
    ("10:30 pm", unknown("10:30 pm")),
    ("Jan 256 2020", unknown("Jan 256 2020")),
    ("Jan 5 2147483648", unknown("Jan 5 2147483648")),
    ("Jan 5 " + "9" * 5000, unknown("Jan 5 " + "9" * 5000)),
    ("Jan 5 2020 \u00e9", unknown("Jan 5 2020 \u00e9")),
    ("\u00a02020-01-02", unknown("\u00a02020-01-02")),
    (5, argument_error("s", "int")),
    (None, argument_error("s", None)),
]


@pytest.mark.parametrize(("text", "expected"), PARSE_DATETIME)
def test_parse_datetime(fixed_today, text, expected):
    check(tolvo_rs.parse_datetime, (text,), expected)


def test_parse_datetime_places_a_bare_time_on_the_real_today():
    before = date.today()
    result = tolvo_rs.parse_datetime("10:30")
    assert result.date() in (before, date.today())
    assert result.time() == time(10, 30)


def test_parse_datetime_asks_today_before_parsing(monkeypatch):
    class FailingDate(date):
        @classmethod
        def today(cls):
            raise RuntimeError("no clock")

    monkeypatch.setattr(datetime, "date", FailingDate)
    check(tolvo_rs.parse_datetime, ("2020-01-02",), Raises(RuntimeError, "no clock"))


class DateLike:
    @staticmethod
    def today():
        return "2001-02-03"


class DateTimeToday:
    @staticmethod
    def today():
        return datetime.datetime(1999, 12, 31, 23, 59)


def test_parse_datetime_checks_what_today_returns(monkeypatch):
    monkeypatch.setattr(datetime, "date", DateLike)
    check(
        tolvo_rs.parse_datetime,
        ("10:30",),
        Raises(TypeError, "'str' object is not an instance of 'date'"),
    )
    # A datetime is a date; its stored year, month and day are used.
    monkeypatch.setattr(datetime, "date", DateTimeToday)
    check(tolvo_rs.parse_datetime, ("10:30",), dt(1999, 12, 31, 10, 30))


PARSE_ISO_DURATION = [
    ("P1DT2H", timedelta(days=1, seconds=7_200)),
    ("P1D", timedelta(days=1)),
    ("-P1D", timedelta(days=-1)),
    ("PT36H", timedelta(days=1, seconds=43_200)),
    ("P1W", timedelta(weeks=1)),
    ("P1W1D", timedelta(days=8)),
    ("+PT1S", timedelta(seconds=1)),
    ("-PT1S", timedelta(days=-1, seconds=86_399)),
    ("PT0.5S", timedelta(microseconds=500_000)),
    ("P1.5D", timedelta(days=1, seconds=43_200)),
    ("P1,5D", timedelta(days=1, seconds=43_200)),
    ("PT1H30M", timedelta(seconds=5_400)),
    ("PT1M", timedelta(minutes=1)),
    ("P0Y0M1DT1H1M1.000001S", timedelta(days=1, seconds=3_661, microseconds=1)),
    ("PT0.0000005S", timedelta(0)),
    ("PT0.0000015S", timedelta(microseconds=2)),
    ("PT0.0000025S", timedelta(microseconds=2)),
    ("PT0.0000035S", timedelta(microseconds=4)),
    ("PT0.0000001S", timedelta(0)),
    ("P0Y", timedelta(0)),
    ("P00Y0D", timedelta(0)),
    ("P0.0Y", timedelta(0)),
    ("PT", timedelta(0)),
    ("P0D", timedelta(0)),
    ("P1DT", timedelta(days=1)),
    ("-PT0S", timedelta(0)),
    ("P999999999D", timedelta(days=999_999_999)),
    ("-P999999999D", timedelta(days=-999_999_999)),
    (Str("PT1S"), timedelta(seconds=1)),
    # Years and months have no fixed length.
    *[
        (
            text,
            Raises(
                TypeError,
                f"ISO 8601 duration '{text}' contains year/month components that cannot be "
                "represented as a fixed timedelta",
            ),
        )
        for text in ["P1M", "P1Y", "P1Y1D", "P0.5Y", "-P2M", "P1YT1S"]
    ],
    # Beyond the host's range, or beyond 32-bit days.
    ("P1000000000D", host_error(lambda: timedelta(days=1_000_000_000))),
    ("-P1000000000D", host_error(lambda: timedelta(days=-1_000_000_000))),
    ("P3000000000D", Raises(OverflowError, "Duration value is out of range")),
    ("P" + "9" * 42 + "D", Raises(OverflowError, "Duration value is out of range")),
    ("P" + "9" * 400 + "D", Raises(ValueError, "Duration value is out of range")),
    ("PT" + "9" * 5000 + "S", Raises(ValueError, "Duration value is out of range")),
    # Malformed texts; the message quotes the input.
    *[
        (text, Raises(ValueError, f"Unable to parse duration string {quoted}"))
        for text, quoted in [
            ("PX", '"PX"'),
            ("P", '"P"'),
            ("-P", '"-P"'),
            ("+", '"+"'),
            ("", '""'),
            ("p1d", '"p1d"'),
            ("P1d", '"P1d"'),
            ("P1D1W", '"P1D1W"'),
            ("P1DT1D", '"P1DT1D"'),
            ("PT1H1H", '"PT1H1H"'),
            ("P1", '"P1"'),
            ("P.5D", '"P.5D"'),
            ("P1.D", '"P1.D"'),
            ("PT1.S", '"PT1.S"'),
            ("P1D ", '"P1D "'),
            (" P1D", '" P1D"'),
            ("P-1D", '"P-1D"'),
            ("P1E3D", '"P1E3D"'),
            ("P1Yx", '"P1Yx"'),
            ("P1D\n", '"P1D\\n"'),
            ("P1D\u00e9", '"P1D\u00e9"'),
            ("P1D\u0301", '"P1D\\u{301}"'),
        ]
    ],
    (1, argument_error("s", "int")),
    (None, argument_error("s", None)),
]


@pytest.mark.parametrize(("text", "expected"), PARSE_ISO_DURATION)
def test_parse_iso_duration(text, expected):
    check(tolvo_rs.parse_iso_duration, (text,), expected)


class Delta(timedelta):
    pass


NOT_A_TIMEDELTA = Raises(TypeError, "duration_isoformat expects a datetime.timedelta")

DURATION_ISOFORMAT = [
    (timedelta(0), "P0D"),
    (timedelta(days=1), "P1D"),
    (timedelta(hours=1), "PT1H"),
    (timedelta(minutes=1), "PT1M"),
    (timedelta(days=1, seconds=3_661, microseconds=500_000), "P1DT1H1M1.5S"),
    (timedelta(microseconds=1), "PT0.000001S"),
    (timedelta(microseconds=120_000), "PT0.12S"),
    (timedelta(days=2, microseconds=1_000), "P2DT0.001S"),
    (timedelta(microseconds=-1), "-PT0.000001S"),
    (timedelta(days=-1), "-P1D"),
    (timedelta(hours=-36), "-P1DT12H"),
    (timedelta.max, "P999999999DT23H59M59.999999S"),
    (timedelta.min, "-P999999999D"),
    (Delta(hours=1), "PT1H"),
    (3600, NOT_A_TIMEDELTA),
    (None, NOT_A_TIMEDELTA),
    ("PT1H", NOT_A_TIMEDELTA),
    (datetime.datetime(2020, 1, 1), NOT_A_TIMEDELTA),
]


@pytest.mark.parametrize(("value", "expected"), DURATION_ISOFORMAT)
def test_duration_isoformat(value, expected):
    check(tolvo_rs.duration_isoformat, (value,), expected)


@pytest.mark.parametrize(
    "text", ["P1DT1H1M1.5S", "-PT0.000001S", "P45DT23H59M59.999999S", "P0D", "PT0.12S"]
)
def test_duration_isoformat_reads_back(text):
    assert tolvo_rs.duration_isoformat(tolvo_rs.parse_iso_duration(text)) == text


TIMEZONE_FROM_NAME = [
    ("", None),
    ("Nowhere/Atlantis", None),
    ("../../etc/passwd", None),
    ("/etc/localtime", None),
    ("Europe/Paris\x00", None),
    ("x" * 1_000_000, None),
    (5, argument_error("name", "int")),
    (None, argument_error("name", None)),
]


@pytest.mark.parametrize(("name", "expected"), TIMEZONE_FROM_NAME)
def test_timezone_from_name(name, expected):
    check(tolvo_rs.timezone_from_name, (name,), expected)


def test_timezone_from_name_gives_the_cached_zoneinfo():
    zone = tolvo_rs.timezone_from_name("Europe/Paris")
    assert zone is zoneinfo.ZoneInfo("Europe/Paris")
    assert tolvo_rs.timezone_from_name(Str("Europe/Paris")) is zone
    assert tolvo_rs.timezone_from_name(name="UTC") is zoneinfo.ZoneInfo("UTC")


def test_timezone_from_name_checks_and_passes_on(monkeypatch):
    monkeypatch.setattr(zoneinfo, "ZoneInfo", lambda name: name)
    check(
        tolvo_rs.timezone_from_name,
        ("UTC",),
        Raises(TypeError, "'str' object is not an instance of 'tzinfo'"),
    )

    def interrupted(name):
        raise KeyboardInterrupt

    # An interrupt is no answer about the zone: it is not swallowed into None.
    monkeypatch.setattr(zoneinfo, "ZoneInfo", interrupted)
    with pytest.raises(KeyboardInterrupt):
        tolvo_rs.timezone_from_name("UTC")
    monkeypatch.delattr(zoneinfo, "ZoneInfo")
    with pytest.raises(AttributeError):
        tolvo_rs.timezone_from_name("UTC")
    # The empty name imports nothing.
    assert tolvo_rs.timezone_from_name("") is None


def test_modules_are_imported_as_sys_modules_has_them(monkeypatch):
    # A module replaced in sys.modules is the one asked; a None entry blocks the import.
    replaced = types.ModuleType("datetime")
    replaced.timezone = lambda delta, name: timezone(delta, "zone " + name)
    monkeypatch.setitem(sys.modules, "datetime", replaced)
    check(tolvo_rs.parse_iso_time, ("12:00+01",), time(12, tzinfo=offset_zone(3_600, "zone +01")))
    monkeypatch.setitem(sys.modules, "zoneinfo", None)
    check(
        tolvo_rs.timezone_from_name,
        ("UTC",),
        Raises(ModuleNotFoundError, "import of zoneinfo halted; None in sys.modules"),
    )


TEXT_FUNCTIONS = [
    tolvo_rs.parse_iso_date,
    tolvo_rs.parse_iso_time,
    tolvo_rs.parse_datetime,
    tolvo_rs.parse_iso_duration,
    tolvo_rs.timezone_from_name,
]

HOSTILE_TEXTS = [
    "\udc80",
    "2020-01-0\ud800",
    "x" * 1_000_000,
    "2020-01-02T" + "1" * 1_000_000,
    "12:00:00." + "5" * 1_000_000,
    "P" + "1" * 1_000_000 + "D",
    "PT0." + "1" * 1_000_000 + "S",
    "Jan 5 2020 " + " " * 1_000_000,
    *[chr(c) for c in [*range(0x20), *range(0x7F, 0xA0)]],
    "".join(chr(c) for c in range(0x20)),
]


@pytest.mark.parametrize("function", TEXT_FUNCTIONS, ids=lambda f: f.__name__)
def test_hostile_texts_raise_only_the_named_errors(function):
    for text in HOSTILE_TEXTS:
        try:
            function(text)
        except UnicodeEncodeError:
            assert any(0xD800 <= ord(c) < 0xE000 for c in text)
        except (ValueError, TypeError, OverflowError) as error:
            assert type(error) in (ValueError, TypeError, OverflowError)


@pytest.mark.parametrize("control", range(0x20))
def test_control_characters_are_escaped_in_the_message(control):
    text = "2020-01-0" + chr(control)
    escaped = {0: "\\0", 9: "\\t", 10: "\\n", 13: "\\r"}.get(control, f"\\u{{{control:x}}}")
    check(tolvo_rs.parse_iso_date, (text,), date_error(f'"2020-01-0{escaped}"'))


@pytest.mark.parametrize(
    ("function", "signature"),
    [
        (tolvo_rs.parse_iso_date, "(s)"),
        (tolvo_rs.parse_iso_time, "(s)"),
        (tolvo_rs.parse_datetime, "(s)"),
        (tolvo_rs.parse_iso_duration, "(s)"),
        (tolvo_rs.duration_isoformat, "(tduration)"),
        (tolvo_rs.timezone_from_name, "(name)"),
    ],
    ids=lambda value: getattr(value, "__name__", value),
)
def test_signatures_and_keywords(function, signature):
    assert function.__text_signature__ == signature
    assert function.__doc__ is None
    assert function.__module__ == "tolvo_rs"
    name = function.__name__
    parameter = signature[1:-1]
    argument = timedelta(hours=1) if parameter == "tduration" else "2020-01-02"
    try:
        by_position = function(argument)
    except ValueError:
        by_position = None
    if by_position is not None:
        assert repr(function(**{parameter: argument})) == repr(by_position)
    check(
        function,
        (),
        Raises(TypeError, f"{name}() missing 1 required positional argument: '{parameter}'"),
    )
    check(
        function,
        (argument, argument),
        Raises(TypeError, f"{name}() takes 1 positional arguments but 2 were given"),
    )
    check(
        function,
        (),
        Raises(TypeError, f"{name}() got an unexpected keyword argument 'text'"),
        kwargs={"text": argument},
    )


def test_calls_from_many_threads_agree():
    results = []

    def work():
        for _ in range(2_000):
            results.append(
                (
                    tolvo_rs.parse_iso_date("2020-W53-7"),
                    tolvo_rs.parse_iso_duration("P1DT2H"),
                    tolvo_rs.duration_isoformat(timedelta(hours=1)),
                )
            )

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert set(results) == {(date(2021, 1, 3), timedelta(days=1, seconds=7_200), "PT1H")}
