"""Parameters that try to break out of their literal end up as data, and what has no safe
literal is refused before anything is sent."""

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
    "line\nbreak\n",
    "中文 ü \u202e reversed",
    "'",
    "''",
]


def test_hostile_texts_are_stored_as_they_are(conn):
    cur = conn.cursor()
    cur.execute("CREATE TABLE victims (id INT, t TEXT, n INT)")
    for i, text in enumerate(HOSTILE_TEXTS):
        cur.execute("INSERT INTO victims (id, t) VALUES (?, ?)", [i, text])
    cur.execute("SELECT t FROM victims ORDER BY id")
    assert [r[0] for r in cur.fetchall()] == HOSTILE_TEXTS
    # As a condition, each matches exactly its own row.
    for i, text in enumerate(HOSTILE_TEXTS):
        cur.execute("SELECT id FROM victims WHERE t = ?", [text])
        assert cur.fetchall() == [(i,)], text
    # A negative number after a minus sign does not start a comment.
    cur.execute("UPDATE victims SET n = 1 - ? WHERE id = ?", [-5, 0])
    cur.execute("SELECT n FROM victims WHERE id = ?", [0])
    assert cur.fetchall() == [(6,)]


def test_bytes_that_are_not_utf8_are_stored_as_they_are(conn):
    cur = conn.cursor()
    cur.execute("CREATE TABLE blobs (id INT, b BLOB)")
    samples = [b"\xff\xfe\x00'--;", bytes(range(256)), b"", b"\x00"]
    cur.executemany("INSERT INTO blobs VALUES (?, ?)", list(enumerate(samples)))
    cur.execute("SELECT b FROM blobs ORDER BY id")
    assert [r[0] for r in cur.fetchall()] == samples


@pytest.mark.parametrize("value", ["nul\x00'; DROP TABLE kept; --", "\udcff'", "cr\r'; --"],
                         ids=["NUL", "lone surrogate", "carriage return"])
def test_text_without_a_safe_literal_is_refused_and_nothing_runs(conn, value):
    cur = conn.cursor()
    cur.execute("CREATE TABLE IF NOT EXISTS kept (t TEXT)")
    with pytest.raises(velmora.ProgrammingError):
        cur.execute("INSERT INTO kept VALUES (?)", [value])
    cur.execute("SELECT COUNT(*) FROM kept")
    assert cur.fetchall() == [(0,)]
