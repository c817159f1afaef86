"""apply(): a change set becomes a delta of the table's current rows, applied by the server."""

import datetime
import decimal

import pytest

import velmora


@pytest.fixture
def orders(conn, table_name):
    cur = conn.cursor()
    cur.execute("CREATE TABLE %s (id INTEGER PRIMARY KEY, name VARCHAR(20), amount NUMERIC(10,2),"
                " day DATE, note TEXT)" % table_name)
    cur.executemany("INSERT INTO %s VALUES (?, ?, ?, ?, ?)" % table_name, [
        (1, "one", decimal.Decimal("1.50"), datetime.date(2024, 1, 1), "keep"),
        (2, "two", decimal.Decimal("2.00"), datetime.date(2024, 1, 2), None),
        (3, "three", None, None, "gone"),
    ])
    return table_name


def rows(conn, table):
    return conn.cursor().execute("SELECT * FROM %s ORDER BY id" % table).fetchall()


def test_insert_update_delete(conn, orders):
    sent = conn.apply(orders, {
        "key": ["ID"],
        "insert": [{"ID": 500, "NAME": "new", "day": "2024-03-05"}],
        "update": [{"ID": 2, "NAME": "TWO", "amount": 2.25}],
        "delete": [{"ID": 3}],
    })
    assert sent == 3
    assert rows(conn, orders) == [
        (1, "one", decimal.Decimal("1.5"), datetime.date(2024, 1, 1), "keep"),
        (2, "TWO", decimal.Decimal("2.25"), datetime.date(2024, 1, 2), None),
        (500, "new", None, datetime.date(2024, 3, 5), None),
    ]


def test_update_by_another_key_and_to_null(conn, orders):
    conn.apply(orders, {"key": ["name"], "update": [{"name": "one", "note": None}]})
    assert rows(conn, orders)[0][4] is None


@pytest.mark.parametrize("changes,text", [
    ({"key": ["id"], "update": [{"id": 9999, "name": "x"}]},
     "The key id=9999 matches no current row of {t}"),
    ({"key": ["note", "amount"], "delete": [{"note": None, "amount": None}]},
     "The key note=null, amount=null matches no current row of {t}"),
    ({"key": ["id"], "update": [{"id": 1}], "delete": [{"id": 1}]}, "names the row id=1 twice"),
    ({"key": ["nope"], "delete": [{"nope": 1}]}, "no such column|Field 'nope' not found"),
    ({"key": ["id"], "update": [{"id": 1, "nope": 2}]}, "Field 'nope' not found"),
    ({"key": ["id"], "update": [{"name": "x"}]}, "lacks key column id"),
    ({"key": [], "insert": [{"id": 9}]}, "must list the key columns"),
    ({"key": ["id"], "upsert": []}, "Unknown entry"),
])
def test_refused_change_sets_send_nothing(conn, orders, changes, text):
    before = rows(conn, orders)
    with pytest.raises(velmora.ProgrammingError, match=text.format(t=orders)):
        conn.apply(orders, {"insert": [{"id": 77}], **changes})
    assert rows(conn, orders) == before


def test_a_refused_row_is_reported_and_the_others_stay(conn, orders):
    with pytest.raises(velmora.IntegrityError,
                       match=r"^UNIQUE constraint failed: %s\.id$" % orders):
        conn.apply(orders, {"key": ["id"], "insert": [{"id": 1, "name": "dup"}],
                            "update": [{"id": 2, "name": "changed"}], "delete": [{"id": 3}]})
    assert [r[:2] for r in rows(conn, orders)] == [(1, "one"), (2, "changed")]


def test_nothing_to_change_sends_nothing(conn, orders):
    assert conn.apply(orders, {"key": ["id"]}) == 0
    assert len(rows(conn, orders)) == 3
