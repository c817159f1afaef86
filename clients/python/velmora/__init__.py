"""velmora: a DB-API 2.0 (PEP 249) driver for the Velmora application server, pure Python.

    import velmora
    with velmora.connect("127.0.0.1", 211, "admin", "velmo") as conn:
        cur = conn.cursor()
        cur.execute("SELECT * FROM customers WHERE id = ?", [7])
        print(cur.fetchall())

See README.md beside this package for the rules of parameters, the row rule and the methods
beyond the DB-API (files, server time, apply, stored procedures).
"""

from .connection import Connection, Cursor, FileEntry, connect
from .exceptions import (DatabaseError, DataError, Error, IntegrityError, InterfaceError,
                         InternalError, NotSupportedError, OperationalError, ProgrammingError,
                         Warning)
from .procedures import ProcedureResult
from .sqltext import returns_rows
from .types import (BINARY, DATETIME, NUMBER, ROWID, STRING, Binary, Date, DateFromTicks,
                    FieldType, Time, TimeFromTicks, Timestamp, TimestampFromTicks)
from .wire import Interval

apilevel = "2.0"
# Threads may share the module, not connections.
threadsafety = 1
paramstyle = "qmark"

__version__ = "0.1"

__all__ = [
    "apilevel", "threadsafety", "paramstyle", "connect", "Connection", "Cursor", "FileEntry",
    "ProcedureResult", "Interval", "FieldType", "returns_rows", "Warning", "Error",
    "InterfaceError", "DatabaseError", "DataError", "OperationalError", "IntegrityError",
    "InternalError", "ProgrammingError", "NotSupportedError", "Date", "Time", "Timestamp",
    "DateFromTicks", "TimeFromTicks", "TimestampFromTicks", "Binary", "STRING", "BINARY",
    "NUMBER", "DATETIME", "ROWID",
]
