"""The DB-API surface against the real server: module globals, execute and fetch, the row rule's
choice of method and its override, transactions, errors and their classes, the login."""

import pytest

import velmora

WRONG_CREDENTIALS = ("Authentication manager rejected user credentials. This may due to invalid "
                     "combination of DS user name and password")


def test_module_interface():
    assert (velmora.apilevel, velmora.threadsafety, velmora.paramstyle) == ("2.0", 1, "qmark")
    hierarchy = {
        velmora.Warning: Exception, velmora.Error: Exception,
        velmora.InterfaceError: velmora.Error, velmora.DatabaseError: velmora.Error,
        velmora.DataError: velmora.DatabaseError, velmora.OperationalError: velmora.DatabaseError,
        velmora.IntegrityError: velmora.DatabaseError, velmora.InternalError: velmora.DatabaseError,
        velmora.ProgrammingError: velmora.DatabaseError,
        velmora.NotSupportedError: velmora.DatabaseError,
    }
    for cls, base in hierarchy.items():
        assert issubclass(cls, base), cls
    assert not issubclass(velmora.Warning, velmora.Error)
    assert velmora.Binary(bytearray(b"ab")) == b"ab"
    assert velmora.Date(2024, 1, 2).isoformat() == "2024-01-02"
    assert velmora.TimestampFromTicks(0).year in (1969, 1970)


def test_execute_and_fetch(conn, table_name):
    cur = conn.cursor()
    assert cur.arraysize == 1
    cur.execute("CREATE TABLE %s (id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL)"
                % table_name)
    # A command's rowcount is the rows it changed: none for a CREATE.
    assert (cur.description, cur.rowcount) == (None, 0)
    with pytest.raises(velmora.ProgrammingError):
        cur.fetchone()
    cur.executemany("INSERT INTO %s VALUES (?, ?)" % table_name, [(i, "n%d" % i) for i in range(7)])
    assert cur.rowcount == 7
    assert cur.execute("SELECT id, name FROM %s ORDER BY id" % table_name) is cur
    assert cur.rowcount == 7
    assert [d[0] for d in cur.description] == ["id", "name"]
    assert cur.fetchone() == (0, "n0")
    assert cur.fetchmany() == [(1, "n1")]
    cur.arraysize = 3
    assert cur.fetchmany() == [(2, "n2"), (3, "n3"), (4, "n4")]
    assert cur.fetchmany(5) == [(5, "n5"), (6, "n6")]
    assert (cur.fetchone(), cur.fetchmany(), cur.fetchall()) == (None, [], [])
    cur.execute("SELECT id FROM %s WHERE id >= ? ORDER BY id" % table_name, [5])
    assert list(cur) == [(5,), (6,)]
    cur.execute("SELECT * FROM %s WHERE 1 = 0" % table_name)
    assert (cur.rowcount, cur.fetchall(), len(cur.description)) == (0, [], 2)
    cur.close()
    with pytest.raises(velmora.InterfaceError):
        cur.execute("SELECT 1")


def test_the_row_rule_picks_the_method_and_the_caller_can_force_it(conn, table_name):
    cur = conn.cursor()
    cur.execute("CREATE TABLE %s (id INTEGER PRIMARY KEY, v INT)" % table_name)
    # INSERT ... RETURNING goes through SQL2OleVariant and gives its row back.
    cur.execute("INSERT INTO %s (v) VALUES (?) RETURNING id, v" % table_name, [10])
    assert cur.fetchall() == [(1, 10)]
    # A PRAGMA that sets a value runs as a command; one that reads returns rows.
    cur.execute("PRAGMA user_version = 7")
    assert cur.description is None
    cur.execute("PRAGMA user_version")
    assert cur.fetchall() == [(7,)]
    # Forced to ExecSQL, a statement returns nothing to fetch, whatever its first word.
    cur.execute("SELECT * FROM %s" % table_name, returns_rows=False)
    assert cur.description is None
    cur.execute("/* SELECT */ DELETE FROM %s RETURNING id" % table_name, returns_rows=False)
    assert cur.execute("SELECT COUNT(*) FROM %s" % table_name).fetchall() == [(0,)]
    # Forced to SQL2OleVariant, a command without rows is the server's refusal.
    with pytest.raises(velmora.ProgrammingError, match="does not return a result set"):
        cur.execute("UPDATE %s SET v = 11" % table_name, returns_rows=True)


def test_every_call_commits_on_its_own(server, conn, table_name):
    cur = conn.cursor()
    cur.execute("CREATE TABLE %s (id INT)" % table_name)
    cur.execute("INSERT INTO %s VALUES (1)" % table_name)
    conn.commit()
    with pytest.raises(velmora.NotSupportedError):
        conn.rollback()
    assert conn.autocommit
    with server.connect() as other:
        assert other.cursor().execute("SELECT id FROM %s" % table_name).fetchall() == [(1,)]


ERRORS = [
    ("SELEC 1", velmora.ProgrammingError, "syntax error"),
    ("SELECT * FROM no_such_table", velmora.ProgrammingError, "no such table: no_such_table"),
    ("INSERT INTO no_such_table VALUES (1)", velmora.ProgrammingError, "no such table"),
    ("INSERT INTO errors_table VALUES (1)", velmora.IntegrityError, "UNIQUE constraint failed"),
    ("INSERT INTO errors_table VALUES (NULL)", velmora.IntegrityError, "NOT NULL constraint"),
    ("SELECT * FROM errors_table WHERE id = :ID", velmora.ProgrammingError,
     r"Parameter \[ID\] data type is unknown"),
]


@pytest.mark.parametrize("sql,cls,text", ERRORS, ids=[e[0] for e in ERRORS])
def test_database_messages_raise_their_class_and_the_connection_goes_on(conn, sql, cls, text):
    cur = conn.cursor()
    cur.execute("CREATE TABLE IF NOT EXISTS errors_table (id INT PRIMARY KEY NOT NULL)")
    cur.execute("INSERT OR IGNORE INTO errors_table VALUES (1)")
    with pytest.raises(cls, match=text) as caught:
        cur.execute(sql)
    assert not caught.value.remote
    assert cur.execute("SELECT 1").fetchall() == [(1,)]


def test_remote_errors_keep_the_servers_text(conn):
    with pytest.raises(velmora.ProgrammingError) as caught:
        conn._call("NoSuchMethod")
    assert caught.value.remote
    assert caught.value.message == "Server method TServerModule1.NoSuchMethod not found"
    with pytest.raises(velmora.ProgrammingError, match="expects 1 argument"):
        conn._call("ExecSQL")
    assert conn.cursor().execute("SELECT 2").fetchone() == (2,)


def test_password_from_the_environment(server, monkeypatch):
    monkeypatch.setenv("VELMORA_PASSWORD", "velmo")
    with velmora.connect("127.0.0.1", server.port) as conn:
        assert conn.cursor().execute("SELECT 1").fetchall() == [(1,)]
    monkeypatch.setenv("VELMORA_PASSWORD", "not-it")
    with pytest.raises(velmora.OperationalError, match="rejected user credentials"):
        velmora.connect("127.0.0.1", server.port)


def test_login_refusal_and_closed_connections(server):
    with pytest.raises(velmora.OperationalError) as caught:
        velmora.connect("127.0.0.1", server.port, "admin", "wrong")
    assert caught.value.message == WRONG_CREDENTIALS
    with pytest.raises(velmora.OperationalError, match="Cannot connect"):
        velmora.connect("127.0.0.1", 1, "admin", "velmo", timeout=5)
    conn = server.connect()
    cur = conn.cursor()
    conn.close()
    conn.close()
    for call in (conn.cursor, conn.commit, conn.server_time, lambda: cur.execute("SELECT 1")):
        with pytest.raises(velmora.InterfaceError):
            call()


def test_server_time_is_the_servers_clock(conn):
    import datetime

    before = datetime.datetime.now().replace(microsecond=0)
    stamp = conn.server_time()
    assert before - datetime.timedelta(seconds=2) <= stamp <= datetime.datetime.now() + \
        datetime.timedelta(seconds=2)
