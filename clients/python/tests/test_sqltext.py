"""The row rule and the packing of parameters, without a server."""

import datetime
import decimal

import pytest

import velmora
from velmora.binding import packed_list
from velmora.dataset import FT
from velmora.sqltext import returns_rows

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


# Each value travels as itself with the field type of its Python type; nothing is rendered.
PACKED = [
    (None, "ftUnknown", None),
    (True, "ftBoolean", True),
    (42, "ftInteger", 42),
    (-2**31, "ftInteger", -2**31),
    (2**31, "ftLargeint", 2**31),
    (1.5, "ftFloat", 1.5),
    (decimal.Decimal("-12.340"), "ftFMTBcd", "-12.34"),
    ("it's -- /* ; ?\r\n\x00", "ftWideString", "it's -- /* ; ?\r\n\x00"),
    (b"\x00\xff'", "ftBlob", b"\x00\xff'"),
    (datetime.date(2024, 3, 5), "ftDate", datetime.date(2024, 3, 5)),
    (datetime.time(12, 30, 1, 250000), "ftTime", datetime.time(12, 30, 1, 250000)),
    (datetime.datetime(2024, 3, 5, 12, 0), "ftDateTime", datetime.datetime(2024, 3, 5, 12, 0)),
]


@pytest.mark.parametrize("value,type_name,sent", PACKED)
def test_values_are_packed_with_their_type(value, type_name, sent):
    [entry] = packed_list([value])
    assert entry[0] == ""
    assert entry[1] == sent
    assert entry[2].value == FT[type_name]
    assert entry[3].value == 1  # an input


def test_a_list_keeps_the_order_and_an_empty_one_sends_none():
    assert [e[1] for e in packed_list((3, "b", None))] == [3, "b", None]
    assert packed_list([]) is None


@pytest.mark.parametrize("params", [
    "a", {"a": 1}, 5,
    [datetime.datetime(2024, 3, 5, tzinfo=datetime.timezone.utc)],
    ["\udcff"],
    [object()],
], ids=repr)
def test_what_cannot_be_sent_is_refused(params):
    with pytest.raises(velmora.ProgrammingError):
        packed_list(params)
