"""call_procedure(): the packed parameter list, outputs and rows, on PostgreSQL (which has
functions and procedures) and the refusal on SQLite (which has none); PostgreSQL's column types."""

import datetime
import decimal
import uuid

import pytest

import velmora
from velmora import procedures, wire

D = decimal.Decimal


def test_sqlite_has_no_procedures(conn):
    with pytest.raises(velmora.NotSupportedError,
                       match="^Stored procedures are not supported by the SQLite driver$"):
        conn.call_procedure("ADD_TAX", {"AMOUNT": 100}, ["TOTAL"])


def test_packed_list_and_refused_declarations():
    packed, outs = procedures.pack(
        [("AMOUNT", 100), ("BIG", 2**40), ("RATE", D("0.20")), ("WHEN", "2024-03-05", "date")],
        {"TOTAL": "float", "ANY": None})
    assert outs == ["TOTAL", "ANY"]
    shown = [[e[0], e[1], e[2].value, e[3].value] + e[4:] for e in packed]
    assert shown == [["AMOUNT", 100, 3, 1, 0, 0, 0], ["BIG", 2**40, 25, 1, 0, 0, 0],
                     ["RATE", "0.2", 37, 1, 0, 0, 0], ["WHEN", "2024-03-05", 9, 1, 0, 0, 0],
                     ["TOTAL", wire.EMPTY, 6, 2, 0, 0, 0], ["ANY", wire.EMPTY, 0, 2, 0, 0, 0]]
    # The data type and kind travel as ShortInt variants.
    assert wire.encode_variant(packed[0][2]) == b"\x10\x00\x03"
    with pytest.raises(velmora.ProgrammingError, match="input and as an output"):
        procedures.pack({"X": 1}, ["x"])
    with pytest.raises(velmora.ProgrammingError, match="Unknown parameter type"):
        procedures.pack([("X", 1, "nonsense")], None)
    with pytest.raises(velmora.ProgrammingError):
        procedures.pack({"X": object()}, None)


PG_SCHEMA = [
    "CREATE FUNCTION add_tax(amount integer, rate numeric, OUT total double precision) "
    "AS $$ SELECT amount * (1 + rate) $$ LANGUAGE sql",
    "CREATE FUNCTION squares(n integer) RETURNS TABLE(i integer, sq bigint) "
    "AS $$ SELECT g, CAST(g AS bigint) * g FROM generate_series(1, n) g $$ LANGUAGE sql",
    "CREATE FUNCTION exact_half(x numeric, OUT half numeric, OUT label text) "
    "AS $$ SELECT x / 2, 'half of ' || x $$ LANGUAGE sql",
    "CREATE PROCEDURE double_it(IN x integer, OUT y integer) LANGUAGE plpgsql "
    "AS $$ BEGIN y := x * 2; END $$",
    "CREATE FUNCTION fail_it(n integer) RETURNS integer LANGUAGE plpgsql "
    "AS $$ BEGIN RAISE EXCEPTION 'boom %', n; END $$",
]


@pytest.fixture(scope="module")
def pg(pg_server):
    connection = pg_server.connect()
    cur = connection.cursor()
    for statement in PG_SCHEMA:
        cur.execute(statement)
    yield connection
    connection.close()


@pytest.mark.pg
def test_function_with_outputs_and_rows(pg):
    result = pg.call_procedure("add_tax", {"AMOUNT": 100, "RATE": D("0.2")}, ["TOTAL"], rows=True)
    assert result.outputs == {"TOTAL": 120.0}
    assert [d[0] for d in result.description] == ["total"]
    assert result.rows == [(120.0,)]
    without_rows = pg.call_procedure("add_tax", [("amount", 1), ("rate", D("1"))], ["total"])
    assert (without_rows.outputs, without_rows.rows) == ({"total": 2.0}, None)


@pytest.mark.pg
def test_set_returning_function_rows(pg):
    result = pg.call_procedure("squares", {"n": 4}, rows=True)
    assert result.outputs == {}
    assert [(d[0], repr(d[1])) for d in result.description] == [("i", "ftInteger"),
                                                               ("sq", "ftLargeint")]
    assert result.rows == [(1, 1), (2, 4), (3, 9), (4, 16)]


@pytest.mark.pg
def test_typed_outputs_and_a_procedure(pg):
    result = pg.call_procedure("exact_half", {"x": D("10.5")}, {"half": "decimal", "label": None})
    assert result.outputs == {"half": D("5.25"), "label": "half of 10.5"}
    assert pg.call_procedure("double_it", {"x": 21}, ["y"]).outputs == {"y": 42}


@pytest.mark.pg
@pytest.mark.parametrize("name,inputs,cls,text", [
    ("fail_it", {"n": 7}, velmora.DatabaseError, "boom 7"),
    ("no_such_proc", {"x": 1}, velmora.ProgrammingError, "no_such_proc.*does not exist"),
])
def test_refused_calls_raise_the_databases_message(pg, name, inputs, cls, text):
    with pytest.raises(cls, match=text) as caught:
        pg.call_procedure(name, inputs, rows=True)
    assert not caught.value.remote
    assert pg.call_procedure("double_it", {"x": 1}, ["y"]).outputs == {"y": 2}


PG_COLUMNS = [
    ("oid", 4000000000, "ftLongWord", 4000000000),
    ("smallint", -7, "ftSmallint", -7),
    ("real", 0.5, "ftSingle", 0.5),
    ("double precision", -1e-300, "ftFloat", -1e-300),
    ("numeric(30,10)", D("-12345678901234567890.0123456789"), "ftFMTBcd",
     D("-12345678901234567890.0123456789")),
    ("money", D("-3.50"), "ftCurrency", D("-3.5")),
    ("boolean", False, "ftBoolean", False),
    ("varchar(5)", "a'b", "ftWideString", "a'b"),
    ("char(3)", "x", "ftFixedWideChar", "x  "),
    ("text", "-- /* ?", "ftWideMemo", "-- /* ?"),
    ("bytea", b"\x00\xff'\\", "ftBlob", b"\x00\xff'\\"),
    ("date", datetime.date(1, 1, 1), "ftDate", datetime.date(1, 1, 1)),
    ("time", datetime.time(13, 14, 15, 16000), "ftTime", datetime.time(13, 14, 15, 16000)),
    ("timestamp", datetime.datetime(2030, 12, 31, 23, 59, 59), "ftDateTime",
     datetime.datetime(2030, 12, 31, 23, 59, 59)),
    ("uuid", str(uuid.UUID(int=255)), "ftGuid", "{%s}" % str(uuid.UUID(int=255)).upper()),
]


@pytest.mark.pg
def test_postgresql_column_types(pg):
    cur = pg.cursor()
    cur.execute("CREATE TABLE pg_types (%s)" % ", ".join(
        "c%d %s" % (i, c[0]) for i, c in enumerate(PG_COLUMNS)))
    cur.execute("INSERT INTO pg_types VALUES (%s)" % ", ".join("?" * len(PG_COLUMNS)),
                [c[1] for c in PG_COLUMNS])
    cur.execute("SELECT * FROM pg_types")
    assert [repr(d[1]) for d in cur.description] == [c[2] for c in PG_COLUMNS]
    for (declared, _, _, expected), value in zip(PG_COLUMNS, cur.fetchone()):
        assert (declared, value, type(value)) == (declared, expected, type(expected))
