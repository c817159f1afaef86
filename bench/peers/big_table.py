#!/usr/bin/env python3
"""BIG_TABLE for the peer comparison: the shape and rows of the generated test database
(tools/self_host/fixture_db.cpp), for SQLite and for PostgreSQL.

  big_table.py sqlite PATH [ROWS]   writes a SQLite database file at PATH
  big_table.py pg [ROWS]            prints SQL for psql that creates and fills the table
"""
import sqlite3
import sys

SQLITE_SCHEMA = """CREATE TABLE BIG_TABLE (
  ID INTEGER PRIMARY KEY, NAME VARCHAR(40) NOT NULL, AMOUNT DECIMAL(12,2), PRICE REAL,
  CREATED DATETIME, NOTE TEXT, FLAG BOOLEAN, DATA BLOB)"""

# The same types in PostgreSQL's words; the rows come from one INSERT ... SELECT so that no data
# travels through the client.
PG_SQL = """DROP TABLE IF EXISTS big_table;
CREATE TABLE big_table (
  id integer PRIMARY KEY, name varchar(40) NOT NULL, amount numeric(12,2), price real,
  created timestamp, note text, flag boolean, data bytea);
INSERT INTO big_table
SELECT id,
  CASE WHEN id % 10 = 0 THEN '名称 ' || id || ' ü' ELSE 'Name ' || id END,
  (id * 125 % 100000) / 100.0,
  id * 0.5,
  make_timestamp(2000 + id % 30, id % 12 + 1, id % 28 + 1, id % 24, id % 60, id % 59),
  CASE WHEN id % 7 = 0 THEN NULL ELSE 'Note for row ' || id || ' with some text to carry' END,
  id % 2 = 1,
  CASE WHEN id % 5 = 0 THEN
    (SELECT decode(string_agg(lpad(to_hex((id * 7 + k) % 256), 2, '0'), '' ORDER BY k), 'hex')
       FROM generate_series(0, 15) k)
  END
FROM generate_series(1, {rows}) id;
VACUUM ANALYZE big_table;
"""


def rows(n):
    for i in range(1, n + 1):
        name = f"名称 {i} ü" if i % 10 == 0 else f"Name {i}"
        created = (f"20{i % 30:02}-{i % 12 + 1:02}-{i % 28 + 1:02} "
                   f"{i % 24:02}:{i % 60:02}:{i % 59:02}")
        note = None if i % 7 == 0 else f"Note for row {i} with some text to carry"
        data = bytes((i * 7 + k) % 256 for k in range(16)) if i % 5 == 0 else None
        yield (i, name, (i * 125 % 100000) / 100.0, i * 0.5, created, note, i % 2, data)


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "sqlite":
        n = int(sys.argv[3]) if len(sys.argv) > 3 else 100000
        db = sqlite3.connect(sys.argv[2])
        db.execute("PRAGMA journal_mode=WAL")
        db.execute(SQLITE_SCHEMA)
        db.executemany("INSERT INTO BIG_TABLE VALUES (?, ?, ?, ?, ?, ?, ?, ?)", rows(n))
        db.commit()
        db.close()
    elif len(sys.argv) >= 2 and sys.argv[1] == "pg":
        n = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
        sys.stdout.write(PG_SQL.format(rows=n))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
