"""Field types to Python values: the real server's result packets (SQLite), and the storage
format's reader and writer on the documented example and on every field type."""

import datetime
import decimal
import struct

import pytest

import velmora
from velmora import dataset, dates, wire

D = decimal.Decimal

# Declared type, value inserted through a ? parameter, field type of the packet, value read back.
SQLITE_COLUMNS = [
    ("INTEGER", 9007199254740993, "ftLargeint", 9007199254740993),
    ("INT", -2147483648, "ftInteger", -2147483648),
    ("SMALLINT", -32768, "ftSmallint", -32768),
    ("TINYINT", 255, "ftByte", 255),
    ("BOOLEAN", True, "ftBoolean", True),
    ("DOUBLE", 0.1, "ftFloat", 0.1),
    ("FLOAT4", 1.5, "ftSingle", 1.5),
    ("NUMERIC(14,3)", D("-123456789.125"), "ftFMTBcd", D("-123456789.125")),
    ("MONEY", D("12.3456"), "ftCurrency", D("12.3456")),
    ("VARCHAR(10)", "中文'x", "ftWideString", "中文'x"),
    ("CHAR(3)", "abc", "ftFixedWideChar", "abc"),
    ("TEXT", "long " * 1000, "ftWideMemo", "long " * 1000),
    ("BLOB", bytes(range(256)), "ftBlob", bytes(range(256))),
    ("BINARY(4)", b"\x00\x01\x02\x03", "ftBytes", b"\x00\x01\x02\x03"),
    ("VARBINARY(8)", b"\xff", "ftVarBytes", b"\xff"),
    ("DATE", datetime.date(1850, 6, 1), "ftDate", datetime.date(1850, 6, 1)),
    ("TIME", datetime.time(23, 59, 59, 999000), "ftTime", datetime.time(23, 59, 59, 999000)),
    # Before 1899-12-30 the date value's fraction counts forward from midnight.
    ("DATETIME", datetime.datetime(1899, 12, 29, 6, 0), "ftDateTime",
     datetime.datetime(1899, 12, 29, 6, 0)),
    ("TIMESTAMP", datetime.datetime(2024, 3, 5, 12, 0, 0, 123000), "ftDateTime",
     datetime.datetime(2024, 3, 5, 12, 0, 0, 123000)),
    ("GUID", "{0F8FAD5B-D9CB-469F-A165-70867728950E}", "ftGuid",
     "{0F8FAD5B-D9CB-469F-A165-70867728950E}"),
]


def test_every_sqlite_column_type_reads_as_its_python_type(conn):
    cur = conn.cursor()
    names = ["c%d" % i for i in range(len(SQLITE_COLUMNS))]
    cur.execute("CREATE TABLE types_table (%s)" % ", ".join(
        "%s %s" % (n, c[0]) for n, c in zip(names, SQLITE_COLUMNS)))
    markers = ", ".join("?" * len(names))
    cur.execute("INSERT INTO types_table VALUES (%s)" % markers, [c[1] for c in SQLITE_COLUMNS])
    cur.execute("INSERT INTO types_table VALUES (%s)" % markers, [None] * len(names))
    cur.execute("SELECT * FROM types_table ORDER BY c0 IS NULL")
    assert cur.rowcount == 2
    got = [(d[0], repr(d[1])) for d in cur.description]
    assert got == [(n, c[2]) for n, c in zip(names, SQLITE_COLUMNS)]
    full, empty = cur.fetchall()
    for (declared, _, _, expected), value in zip(SQLITE_COLUMNS, full):
        assert (declared, value, type(value)) == (declared, expected, type(expected))
    assert empty == (None,) * len(names)
    # The type objects group the codes.
    groups = [velmora.NUMBER] * 9 + [velmora.STRING] * 3 + [velmora.BINARY] * 3 + \
        [velmora.DATETIME] * 4 + [velmora.STRING]
    assert [d[1] == g for d, g in zip(cur.description, groups)] == [True] * len(groups)
    assert cur.description[0][1] != velmora.STRING


def test_expression_columns_take_the_type_of_their_values(conn):
    cur = conn.cursor()
    cur.execute("SELECT COUNT(*) AS n, 'k' || 'v' AS kv, 2.5 * 2 AS r, NULL AS z")
    assert [repr(d[1]) for d in cur.description] == ["ftLargeint", "ftWideString", "ftFloat",
                                                      "ftWideMemo"]
    assert cur.fetchall() == [(1, "kv", 5.0, None)]


# --- the storage format without a server ---

# The worked example: fields ID (ftInteger, InKey, from Orders.ID) and Name (ftString, size 10);
# cached updates; row 0 unmodified (1, "ab"); row 1 modified from (2, "x") to (2, NULL), error
# "dup".
WORKED_EXAMPLE = bytes.fromhex(
    "564C4453010001" "02000000"
    "020000004944" "0300000000000000000000000004" "060000004F7264657273020000004944"
    "040000004E616D65" "010A000000000000000000000000" "0000000000000000"
    "02000000"
    "00" "000100000002000000" "6162"
    "81" "0202000000" "00020000000100000078" "03000000647570")


def test_the_documented_example_reads_and_writes_byte_for_byte():
    assert len(WORKED_EXAMPLE) == 116
    data = dataset.read_dataset(WORKED_EXAMPLE)
    assert data.cached_updates
    assert [(f.name, f.type_name, f.size, f.attributes, f.origin_table, f.origin_column)
            for f in data.fields] == [("ID", "ftInteger", 0, 4, "Orders", "ID"),
                                      ("Name", "ftString", 10, 0, "", "")]
    assert [(r.state, r.values, r.original, r.error) for r in data.rows] == [
        (0, [1, "ab"], None, None), (1, [2, None], [2, "x"], "dup")]
    assert dataset.write_dataset(data) == WORKED_EXAMPLE


tz = datetime.timezone(datetime.timedelta(hours=-3, minutes=-30))
# Every field type that holds a value, with one value of its Python type.
ROUND_TRIP = [
    ("ftString", "abc"), ("ftSmallint", -2), ("ftInteger", 2**31 - 1), ("ftWord", 65535),
    ("ftBoolean", False), ("ftFloat", -1.25), ("ftCurrency", D("-922337203685477.5808")),
    ("ftBCD", D("-0.5")), ("ftDate", datetime.date(2024, 2, 29)),
    ("ftTime", datetime.time(0, 0, 0, 1000)), ("ftDateTime", datetime.datetime(1, 1, 1)),
    ("ftBytes", b"\x00"), ("ftVarBytes", b""), ("ftAutoInc", 7), ("ftBlob", b"\xff" * 3),
    ("ftMemo", "m"), ("ftGraphic", b"g"), ("ftFmtMemo", "f"), ("ftParadoxOle", b"p"),
    ("ftDBaseOle", b"d"), ("ftTypedBinary", b"t"), ("ftFixedChar", "c"),
    ("ftWideString", "ü"), ("ftLargeint", -2**63), ("ftADT", [1, "a"]), ("ftArray", [None]),
    ("ftReference", 3), ("ftDataSet", b"x"), ("ftOraBlob", b"o"), ("ftOraClob", "o"),
    ("ftVariant", D("1.5")), ("ftGuid", "{00000000-0000-0000-0000-000000000000}"),
    ("ftTimeStamp", datetime.datetime(2024, 3, 5, 1, 2, 3, 456000)), ("ftFMTBcd", D("10")),
    ("ftFixedWideChar", "w"), ("ftWideMemo", "wm"),
    ("ftOraTimeStamp", datetime.datetime(9999, 12, 31, 23, 59, 59, 999000)),
    ("ftOraInterval", wire.Interval(1, -1, 0, 0, 2, 3, 4, 5, 6)), ("ftLongWord", 2**32 - 1),
    ("ftShortint", -128), ("ftByte", 255), ("ftExtended", 1e-300), ("ftParams", ["p", 1]),
    ("ftStream", b"s"),
    ("ftTimeStampOffset", datetime.datetime(2024, 3, 5, 12, 0, tzinfo=tz)),
    ("ftSingle", 0.5),
]
ALWAYS_NULL = ["ftUnknown", "ftCursor", "ftInterface", "ftIDispatch", "ftConnection", "ftObject"]


def test_every_field_type_round_trips_and_always_null_types_stay_null():
    covered = {name for name, _ in ROUND_TRIP} | set(ALWAYS_NULL)
    assert covered == set(dataset.FIELD_TYPE_NAMES)
    names = [n for n, _ in ROUND_TRIP] + ALWAYS_NULL
    fields = [dataset.Field("f%d" % i, dataset.FT[n]) for i, n in enumerate(names)]
    values = [v for _, v in ROUND_TRIP] + [None] * len(ALWAYS_NULL)
    rows = [dataset.Row(0, values), dataset.Row(3, [None] * len(names), values)]
    back = dataset.read_dataset(dataset.write_dataset(dataset.Dataset(fields, rows)))
    for name, value, got in zip(names, values, back.rows[0].values):
        assert (name, got, type(got)) == (name, value, type(value))
    assert back.rows[1].values == [None] * len(names)
    assert back.rows[1].original == values
    assert back.rows[0].values[names.index("ftOraInterval")].to_timedelta() == -datetime.timedelta(
        days=2, hours=3, minutes=4, seconds=5, milliseconds=6)


def _with(offset, replacement):
    return WORKED_EXAMPLE[:offset] + replacement + WORKED_EXAMPLE[offset + len(replacement):]


def _one_field(type_name, record):
    head = b"VLDS\x01\x00\x00\x01\x00\x00\x00" + wire.pack_string("F")
    head += struct.pack("<BiiiB", dataset.FT[type_name], 0, 0, 0, 0) + b"\0" * 8
    return head + b"\x01\x00\x00\x00\x00" + record


MALFORMED = [
    ("magic", _with(0, b"VLDX"), "wrong magic"),
    ("version", _with(4, b"\x02"), "version 2"),
    ("flags", _with(6, b"\x03"), "flags 0x03"),
    ("attributes", _with(30, b"\x14"), "attributes 0x14"),
    ("type code", _with(55, b"\x34"), "code 52"),
    ("field count", _with(7, b"\xff\xff\x00\x00"), "field count of 65535"),
    ("row count", _with(77, b"\x00\x01\x00\x00"), "row count of 256"),
    ("row state", _with(81, b"\x04"), "state 4"),
    ("null flag past the last field", _with(82, b"\x04"), "past the last field"),
    ("truncated", WORKED_EXAMPLE[:-1], "Truncated"),
    ("value for an always-NULL field", _one_field("ftCursor", b"\x00"), "always-NULL"),
    ("boolean 2", _one_field("ftBoolean", b"\x00\x02"), "boolean value of 2"),
    ("decimal with a leading zero", _one_field("ftFMTBcd", b"\x00" + wire.pack_string("01.5")),
     "decimal"),
    ("decimal with a trailing zero", _one_field("ftBCD", b"\x00" + wire.pack_string("1.50")),
     "decimal"),
    ("decimal -0", _one_field("ftBCD", b"\x00" + wire.pack_string("-0")), "decimal"),
    ("decimal text", _one_field("ftBCD", b"\x00" + wire.pack_string("1e5")), "decimal"),
    ("interval kind", _one_field("ftOraInterval", b"\x00\x02\x01" + b"\0" * 28), "kind 2"),
    ("interval sign", _one_field("ftOraInterval", b"\x00\x01\x00" + b"\0" * 28), "sign 0"),
    ("string past the end", _one_field("ftBlob", b"\x00\xff\x00\x00\x00ab"), "Truncated"),
]


@pytest.mark.parametrize("what,data,reason", MALFORMED, ids=[m[0] for m in MALFORMED])
def test_malformed_datasets_are_refused(what, data, reason):
    with pytest.raises(velmora.InterfaceError, match=reason):
        dataset.read_dataset(data)


DATE_VALUES = [
    (45356.5, datetime.datetime(2024, 3, 5, 12, 0)),
    (0.0, datetime.datetime(1899, 12, 30)),
    (-1.25, datetime.datetime(1899, 12, 29, 6, 0)),
    (-1.0, datetime.datetime(1899, 12, 29)),
    (2.0 + 86399999 / 86400000, datetime.datetime(1900, 1, 1, 23, 59, 59, 999000)),
]


@pytest.mark.parametrize("value,moment", DATE_VALUES)
def test_date_values_both_ways(value, moment):
    assert dates.from_ole(value) == moment
    assert dates.to_ole(moment) == pytest.approx(value, abs=1e-9)
