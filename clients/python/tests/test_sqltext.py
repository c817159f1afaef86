"""The row rule and the rendering of parameters, without a server."""

import datetime
import decimal

import pytest

import velmora
from velmora.sqltext import Literals, returns_rows

ROW_RULE = [
    ("SELECT 1", True),
    ("  select * from t", True),
    ("-- a note\n/* another */ ((SELECT 1))", True),
    ("/* SELECT */ INSERT INTO t VALUES (1)", False),
    ("-- SELECT\nDELETE FROM t", False),
    ("WITH x AS (SELECT 1) SELECT * FROM x", True),
    ("VALUES (1), (2)", True),
    ("TABLE t", True),
    ("SHOW search_path", True),
    ("EXPLAIN QUERY PLAN SELECT 1", True),
    ("DESCRIBE t", True),
    ("PRAGMA table_info(t)", True),
    ("pragma user_version", True),
    ("PRAGMA user_version = 3", False),
    ("PRAGMA table_info('a=b')", True),
    ("PRAGMA journal_mode -- x = y", True),
    ("PRAGMA cache_size /* = */ = 10", False),
    ("INSERT INTO t VALUES (1) RETURNING$x", True),
    ("SELECTé", True),
    ("\u00a0SELECT 1", False),
    ("INSERT INTO t VALUES ('it''s') RETURNING id", True),
    ("INSERT INTO t VALUES ('unclosed RETURNING", False),
    ("INSERT INTO t VALUES (1) RETURNING id", True),
    ("update t set a = 1 returning *", True),
    ("DELETE FROM t WHERE note = 'RETURNING'", False),
    ('INSERT INTO t ("returning") VALUES (1)', False),
    ("INSERT INTO t VALUES (1) -- RETURNING id", False),
    ("INSERT INTO t VALUES (1) /* RETURNING */", False),
    ("INSERT INTO t (returning_id) VALUES (1)", False),
    ("CREATE TABLE selections (a INT)", False),
    ("SELECTED", False),
    ("'SELECT'", False),
    ("", False),
    ("   ", False),
    ("(", False),
]


@pytest.mark.parametrize("sql,rows", ROW_RULE)
def test_row_rule(sql, rows):
    assert returns_rows(sql) is rows


LITERALS = [
    (None, "NULL"),
    (True, "TRUE"),
    (False, "FALSE"),
    (0, "0"),
    (42, "42"),
    (-5, "(-5)"),
    (2**70, str(2**70)),
    (1.5, "1.5"),
    (-0.25, "(-0.25)"),
    (1e300, "1e+300"),
    (decimal.Decimal("12.340"), "12.340"),
    (decimal.Decimal("-1E+3"), "(-1000)"),
    ("", "''"),
    ("it's", "'it''s'"),
    ("''", "''''''"),
    ("back\\slash\\'", "'back\\slash\\'''"),
    ("-- /* ; ?", "'-- /* ; ?'"),
    ("中文", "'中文'"),
    (b"", "X''"),
    (b"\x00\xff'", "X'00FF27'"),
    (bytearray(b"\x01"), "X'01'"),
    (datetime.date(2024, 3, 5), "'2024-03-05'"),
    (datetime.time(12, 30, 1), "'12:30:01'"),
    (datetime.time(12, 30, 1, 250000), "'12:30:01.250'"),
    (datetime.datetime(2024, 3, 5, 12, 0), "'2024-03-05 12:00:00'"),
    (datetime.datetime(2024, 3, 5, 12, 0, 0, 123456), "'2024-03-05 12:00:00.123456'"),
]


@pytest.mark.parametrize("value,literal", LITERALS)
def test_literals(value, literal):
    assert Literals().render(value) == literal


def test_bytes_styles():
    assert Literals("postgresql").render(b"\x0a\x1b") == "CAST('\\x0a1b' AS bytea)"
    with pytest.raises(velmora.ProgrammingError):
        Literals(None).render(b"x")


REFUSED = [
    "a\x00b",
    "a\r\nb",
    "\udcff",
    float("nan"),
    float("inf"),
    decimal.Decimal("NaN"),
    decimal.Decimal("-Infinity"),
    datetime.datetime(2024, 1, 1, tzinfo=datetime.timezone.utc),
    datetime.time(1, 2, tzinfo=datetime.timezone.utc),
    datetime.timedelta(1),
    object(),
    [1, 2],
]


@pytest.mark.parametrize("value", REFUSED, ids=repr)
def test_values_without_a_safe_literal_are_refused(value):
    with pytest.raises(velmora.ProgrammingError):
        Literals().render(value)


SUBSTITUTIONS = [
    ("SELECT ?, ?", (1, "a"), "SELECT 1, 'a'"),
    ("SELECT '?', ?", (1,), "SELECT '?', 1"),
    ('SELECT "a?b", ?', (1,), 'SELECT "a?b", 1'),
    ("SELECT ? -- ?\n, ?", (1, 2), "SELECT 1 -- ?\n, 2"),
    ("SELECT /* ? */ ?", (1,), "SELECT /* ? */ 1"),
    ("SELECT $$?$$, $tag$ ? $tag$, ?", (1,), "SELECT $$?$$, $tag$ ? $tag$, 1"),
    ("SELECT a$b$ + ?", (1,), "SELECT a$b$ + 1"),
    ("SELECT 1 - ?", (-5,), "SELECT 1 - (-5)"),
    ("SELECT ?", ("?",), "SELECT '?'"),
    ("SELECT ?, ?", ("'", "x"), "SELECT '''', 'x'"),
    ("SELECT 'it''s ?', ?", (1,), "SELECT 'it''s ?', 1"),
]


@pytest.mark.parametrize("sql,params,expected", SUBSTITUTIONS)
def test_markers_are_replaced_only_outside_quotes_and_comments(sql, params, expected):
    assert Literals().substitute(sql, params) == expected


@pytest.mark.parametrize("sql,params", [
    ("SELECT ?", ()),
    ("SELECT ?", (1, 2)),
    ("SELECT 1", (1,)),
    ("SELECT ?", "a"),
    ("SELECT ?", {"a": 1}),
    ("SELECT ?", 5),
])
def test_marker_and_parameter_mismatches_are_refused(sql, params):
    with pytest.raises(velmora.ProgrammingError):
        Literals().substitute(sql, params)
