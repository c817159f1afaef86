"""Parameters are bound by the server's engine: whatever a value holds, it is data, never part of
the statement, on SQLite and on PostgreSQL; and executemany applies all its sets or none."""

import pytest

import velmora

HOSTILE_TEXTS = [
    "'; DROP TABLE victims; --",
    "x' OR '1'='1",
    "' || (SELECT COUNT(*) FROM victims) || '",
    "-- comment",
    "/* open comment",
    "*/ closed",
    "a; DELETE FROM victims",
    "back\\slash\\' still inside",
    "\\",
    "?",
    "? ?' ?",
    "$$ dollar $$",
    "1'::text; DROP TABLE victims; --",
    "line\nbreak\r\n",
    "中文 ü \u202e reversed",
    "'",
    "''",
    "'?" * 200_000,
]


@pytest.fixture(params=["sqlite", pytest.param("pg", marks=pytest.mark.pg)])
def any_conn(request):
    """A connection to the SQLite server, or to the one on the run's PostgreSQL cluster."""
    server = request.getfixturevalue("server" if request.param == "sqlite" else "pg_server")
    connection = server.connect()
    connection.engine = request.param
    yield connection
    connection.close()


def test_hostile_texts_are_stored_as_they_are(any_conn, table_name):
    cur = any_conn.cursor()
    cur.execute("CREATE TABLE %s (id INT, t TEXT, n INT)" % table_name)
    cur.executemany("INSERT INTO %s (id, t) VALUES (?, ?)" % table_name,
                    list(enumerate(HOSTILE_TEXTS)))
    assert cur.rowcount == len(HOSTILE_TEXTS)
    cur.execute("SELECT t FROM %s ORDER BY id" % table_name)
    assert [r[0] for r in cur.fetchall()] == HOSTILE_TEXTS
    # As a condition, each matches exactly its own row.
    for i, text in enumerate(HOSTILE_TEXTS):
        cur.execute("SELECT id FROM %s WHERE t = ?" % table_name, [text])
        assert cur.fetchall() == [(i,)], text[:40]
    cur.execute("UPDATE %s SET n = 1 - ? WHERE id <= ?" % table_name, [-5, 2])
    assert cur.rowcount == 3
    cur.execute("SELECT n FROM %s WHERE id = ?" % table_name, [0])
    assert cur.fetchall() == [(6,)]


# Texts whose own literals, comments and bodies hold what looks like a marker or a quote: the one
# real marker gets the value, the text's literals stay as written, and no statement is added.
TEXTS = [
    ("sqlite pg", "SELECT 'it''s ?' AS g, ? AS v", "it's ?"),
    ("sqlite pg", "SELECT /* ' ? */ ? AS v, 'x' AS g -- ' ?", "x"),
    ("pg", "SELECT E'what\\'s up?' AS greeting, ?", "what's up?"),
    ("pg", "SELECT $q$ it's ? $q$ AS g, ? AS v", " it's ? "),
    ("pg", "SELECT /* a /* ' ? */ b */ ? AS v, 'x' AS g", "x"),
    ("pg", "SELECT ?::::text AS v, 'x' AS g", "x"),
]


@pytest.mark.parametrize("engines,sql,literal", TEXTS, ids=[t[1][:40] for t in TEXTS])
def test_the_statement_cannot_be_changed(any_conn, table_name, engines, sql, literal):
    if any_conn.engine not in engines.split():
        pytest.skip("a %s text" % engines)
    cur = any_conn.cursor()
    cur.execute("CREATE TABLE %s (id INT)" % table_name)
    value = "' AS a; DROP TABLE %s; --" % table_name
    cur.execute(sql, [value])
    [row] = cur.fetchall()
    names = [d[0].lower() for d in cur.description]
    assert row[names.index("greeting" if "greeting" in names else "g")] == literal
    assert value in row
    cur.execute("SELECT COUNT(*) FROM %s" % table_name)
    assert cur.fetchall() == [(0,)]


def test_executemany_applies_all_sets_or_none(any_conn, table_name):
    cur = any_conn.cursor()
    cur.execute("CREATE TABLE %s (id INT PRIMARY KEY, t TEXT)" % table_name)
    cur.executemany("INSERT INTO %s VALUES (?, ?)" % table_name, [(1, "a"), (2, "b")])
    assert cur.rowcount == 2
    with pytest.raises(velmora.DatabaseError) as failed:
        cur.executemany("INSERT INTO %s VALUES (?, ?)" % table_name,
                        [(3, "c"), (4, "d"), (1, "again"), (5, "e")])
    assert str(failed.value).startswith("Parameter set 3 of 4: ")
    cur.execute("SELECT id FROM %s ORDER BY id" % table_name)
    assert cur.fetchall() == [(1,), (2,)]
    cur.executemany("UPDATE %s SET t = ? WHERE id >= ?" % table_name, [("x", 1), ("y", 2)])
    assert cur.rowcount == 3


def test_bytes_that_are_not_utf8_are_stored_as_they_are(conn):
    cur = conn.cursor()
    cur.execute("CREATE TABLE blobs (id INT, b BLOB)")
    samples = [b"\xff\xfe\x00'--;", bytes(range(256)), b"", b"\x00"]
    cur.executemany("INSERT INTO blobs VALUES (?, ?)", list(enumerate(samples)))
    cur.execute("SELECT b FROM blobs ORDER BY id")
    assert [r[0] for r in cur.fetchall()] == samples


def test_markers_and_values_must_agree(conn):
    cur = conn.cursor()
    for sql, params in [("SELECT ? AS a, ? AS b", [1]), ("SELECT ? AS a", [1, 2]),
                        ("SELECT 1 AS a", [1])]:
        with pytest.raises(velmora.DatabaseError, match="parameter markers"):
            cur.execute(sql, params)


def test_a_nul_is_kept_on_sqlite_and_refused_on_postgresql(any_conn, table_name):
    cur = any_conn.cursor()
    cur.execute("CREATE TABLE %s (t TEXT)" % table_name)
    value = "nul\x00'; DROP TABLE %s; --" % table_name
    if any_conn.engine == "sqlite":
        cur.execute("INSERT INTO %s VALUES (?)" % table_name, [value])
        cur.execute("SELECT t FROM %s" % table_name)
        assert cur.fetchall() == [(value,)]
    else:
        with pytest.raises(velmora.DatabaseError, match="NUL character"):
            cur.execute("INSERT INTO %s VALUES (?)" % table_name, [value])
        cur.execute("SELECT COUNT(*) FROM %s" % table_name)
        assert cur.fetchall() == [(0,)]


def test_a_lone_surrogate_is_refused_before_anything_is_sent(conn, table_name):
    cur = conn.cursor()
    cur.execute("CREATE TABLE %s (t TEXT)" % table_name)
    with pytest.raises(velmora.ProgrammingError):
        cur.execute("INSERT INTO %s VALUES (?)" % table_name, ["\udcff'"])
    cur.execute("SELECT COUNT(*) FROM %s" % table_name)
    assert cur.fetchall() == [(0,)]
