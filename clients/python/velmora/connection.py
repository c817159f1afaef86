"""Connections and cursors.

Every call of the server runs in a transaction of its own and is committed when it succeeds, so a
connection behaves as in autocommit mode: `commit()` does nothing, and `rollback()` raises
NotSupportedError since there is never anything left to roll back. A connection is one TCP (or
TLS) session; it may be used by one thread at a time (threadsafety 1).
"""

import collections
import os
import socket
import ssl
import zlib

from . import binding, dataset, delta, procedures, sqltext, wire
from .exceptions import (Error, InterfaceError, NotSupportedError, OperationalError,
                         ProgrammingError, server_error)
from .types import FieldType

DEFAULT_PORT = 211
DEFAULT_USER = "admin"
# The server's built-in password until the operator sets another, as velmora-cli has it.
DEFAULT_PASSWORD = "velmo"

FileEntry = collections.namedtuple("FileEntry", "name time size")


def connect(host="127.0.0.1", port=DEFAULT_PORT, user=DEFAULT_USER, password=None, *, tls=False,
            cafile=None, timeout=30.0, ssl_context=None):
    """Opens a session and logs in. `password` None takes VELMORA_PASSWORD from the environment,
    else the built-in default. `tls` (or an `ssl_context`) wraps the connection in TLS 1.2 or
    later, checking the server's certificate against `cafile` (the system's CAs without it) and
    the host name or address. `timeout` (seconds, None for none) bounds the connect and every
    wait for the server."""
    if password is None:
        password = os.environ.get("VELMORA_PASSWORD", DEFAULT_PASSWORD)
    try:
        sock = socket.create_connection((host, port), timeout=timeout)
    except socket.timeout:
        raise OperationalError("Cannot connect to %s:%s: timed out" % (host, port)) from None
    except OSError as e:
        raise OperationalError("Cannot connect to %s:%s: %s" % (host, port, e)) from None
    try:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if tls or ssl_context is not None:
            context = ssl_context or ssl.create_default_context(cafile=cafile)
            context.minimum_version = max(context.minimum_version, ssl.TLSVersion.TLSv1_2)
            try:
                sock = context.wrap_socket(sock, server_hostname=host)
            except (ssl.SSLError, ssl.CertificateError, OSError) as e:
                raise OperationalError("TLS handshake with %s:%s failed: %s"
                                       % (host, port, e)) from None
        channel = wire.Channel(sock)
        channel.hello(user, password)
    except BaseException:
        sock.close()
        raise
    return Connection(channel)


class Connection:
    def __init__(self, channel):
        self._channel = channel

    # --- DB-API ---

    @property
    def closed(self):
        return self._channel is None

    @property
    def autocommit(self):
        """Always true: each call commits on its own."""
        return True

    def close(self):
        if self._channel is not None:
            self._channel.close()
            self._channel = None

    def commit(self):
        self._check_open()

    def rollback(self):
        self._check_open()
        raise NotSupportedError("Every statement is committed when its call succeeds; there is "
                                "no transaction to roll back")

    def cursor(self):
        self._check_open()
        return Cursor(self)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- calls ---

    def _check_open(self):
        if self._channel is None:
            raise InterfaceError("The connection is closed")

    def _call(self, method, *args):
        """Calls a method of the server; (result, out-parameters). A failure while sending or
        receiving closes the connection, since the conversation is out of step after it; an
        argument that cannot be encoded or an error the server reports leaves it open."""
        self._check_open()
        try:
            return self._channel.call(method, args)
        except Error:
            if self._channel.broken:
                self.close()
            raise

    def _call_checked(self, method, *args):
        """As _call, for methods whose last out-parameter is ErrMsg: a non-empty one raises."""
        result, outs = self._call(method, *args)
        message = outs[-1] if outs else ""
        if isinstance(message, str) and message:
            raise server_error(message)(message)
        return result, outs

    def query(self, sql, params=None):
        """Runs `sql`: as written with SQL2OleVariant when `params` is None, else with the
        parameters bound to its markers (SQLParams2OleVariant). The Dataset, or None when the
        result is Empty."""
        if params is None:
            result, _ = self._call_checked("SQL2OleVariant", sql)
        else:
            result, _ = self._call_checked("SQLParams2OleVariant", sql,
                                           binding.packed_list(params))
        if result is wire.EMPTY or result is None:
            return None
        return dataset.read_packet(result)

    def execute_sets(self, sql, seq_of_params):
        """Runs the command `sql` once for each parameter sequence, all in one call and one
        transaction (ExecSQLParamSets): all applied or, when one fails, none. (rows affected in
        total, list of rows affected per set)."""
        packed = [binding.packed_list(params) for params in seq_of_params]
        total, outs = self._call_checked("ExecSQLParamSets", sql, packed)
        per_set = outs[0] if outs and isinstance(outs[0], list) else []
        return int(total or 0), [int(n) for n in per_set]

    def server_time(self):
        """The server's clock (a naive datetime in the server's local time)."""
        result, _ = self._call("GetServerDateTime")
        if not hasattr(result, "year"):
            raise InterfaceError("GetServerDateTime answered %r" % (result,))
        return result

    # --- files: the upload folder ---

    def upload(self, name, data):
        """Stores `data` (bytes) as file `name` of the server's upload folder. True when written;
        refusals (a bad name, the limit) raise."""
        result, _ = self._call("UploadFile", bytes(zlib.compress(bytes(data))), name)
        return bool(result)

    def download(self, name):
        """The bytes of file `name` of the upload folder, or None when the server has none."""
        result, outs = self._call("DownLoadFile", name)
        if result is None or result is wire.EMPTY:
            return None
        try:
            data = zlib.decompress(result)
        except (TypeError, zlib.error) as e:
            raise InterfaceError("The download of %s is not a zlib packet: %s" % (name, e)) from None
        if outs and isinstance(outs[0], int) and outs[0] != len(data):
            raise InterfaceError("The download of %s holds %d bytes, the server said %d"
                                 % (name, len(data), outs[0]))
        return data

    def listing(self):
        """The files of the upload folder: FileEntry(name, time, size) tuples, as the server
        lists them (time as its text, size as an int)."""
        count, outs = self._call("CheckUpload")
        if not count:
            return []
        names, times, sizes = (text.split("|") for text in outs[:3])
        if not len(names) == len(times) == len(sizes) == count:
            raise InterfaceError("CheckUpload lists %d files in lists of %d, %d and %d"
                                 % (count, len(names), len(times), len(sizes)))
        return [FileEntry(n, t, int(s)) for n, t, s in zip(names, times, sizes)]

    # --- files: the file store (folders below the application folder) ---

    def read_data(self, path, name):
        """The bytes of file `name` in folder `path`, or None when the server returned none."""
        result, _ = self._call_checked("ReadData", path, name)
        if result is None or result is wire.EMPTY:
            return None
        return result

    def post_data(self, path, name, data):
        """Writes `data` (bytes) as file `name` in folder `path`."""
        self._call_checked("PostData", bytes(data), path, name)

    def delete_data(self, path, name):
        self._call_checked("DeleteData", path, name)

    # --- changes and procedures ---

    def apply(self, table, changes):
        """Applies a change set to `table` as `velmora-cli apply` does (see velmora.delta);
        returns the number of changed rows sent."""
        return delta.apply(self, table, changes)

    def call_procedure(self, name, inputs=None, outputs=None, rows=False):
        """Calls a stored procedure (see velmora.procedures); a ProcedureResult."""
        return procedures.call(self, name, inputs, outputs, rows)


def describe(data):
    """Cursor.description of a Dataset."""
    return [(f.name, FieldType(f.type), None, f.size or None, f.precision or None,
             f.scale or None, not f.attributes & dataset.ATTR_REQUIRED) for f in data.fields]


class Cursor:
    """Runs statements and holds the rows of the last one; the server sends a result whole, so
    the fetch methods only read what is here."""

    def __init__(self, connection):
        self.connection = connection
        self.arraysize = 1
        self.description = None
        self.rowcount = -1
        self.lastrowid = None
        self._rows = None
        self._next = 0
        self._closed = False

    def close(self):
        self._closed = True
        self._rows = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __iter__(self):
        return self

    def __next__(self):
        row = self.fetchone()
        if row is None:
            raise StopIteration
        return row

    def _check(self):
        if self._closed:
            raise InterfaceError("The cursor is closed")
        self.connection._check_open()

    def _returns_rows(self, operation, returns_rows):
        return returns_rows if returns_rows is not None else sqltext.returns_rows(operation)

    def execute(self, operation, parameters=None, returns_rows=None):
        """Runs one statement; the parameters are bound by the server's engine to its `?`
        markers (velmora.binding), never written into the text. Whether it returns rows follows
        the row rule unless `returns_rows` says so. A statement that returns rows sets
        description and rowcount (the number of rows); a command sets rowcount to the rows it
        inserted, updated or deleted. A query without parameters (None) runs as written."""
        self._check()
        self.description, self.rowcount, self._rows, self._next = None, -1, None, 0
        if self._returns_rows(operation, returns_rows):
            data = self.connection.query(operation, parameters)
            self._rows = []
            if data is not None:
                self.description = describe(data)
                self._rows = [tuple(r.values) for r in data.rows]
            self.rowcount = len(self._rows)
        else:
            self.rowcount, _ = self.connection.execute_sets(
                operation, [() if parameters is None else parameters])
        return self

    def executemany(self, operation, seq_of_parameters, returns_rows=None):
        """Runs a command once per parameter sequence, all in one call and one transaction: every
        set applied, or none and the error names the set that failed (counting from 1). rowcount
        is the rows affected by all sets. A row-returning statement runs once per set and its
        rows are not kept."""
        self._check()
        if self._returns_rows(operation, returns_rows):
            for parameters in seq_of_parameters:
                self.execute(operation, parameters, returns_rows)
            self.description, self.rowcount, self._rows = None, -1, None
            return self
        self.description, self.rowcount, self._rows, self._next = None, -1, None, 0
        self.rowcount, _ = self.connection.execute_sets(operation, list(seq_of_parameters))
        return self

    def _result_rows(self):
        self._check()
        if self._rows is None:
            raise ProgrammingError("The last statement returned no rows to fetch")
        return self._rows

    def fetchone(self):
        rows = self._result_rows()
        if self._next >= len(rows):
            return None
        self._next += 1
        return rows[self._next - 1]

    def fetchmany(self, size=None):
        rows = self._result_rows()
        count = self.arraysize if size is None else size
        out = rows[self._next:self._next + count]
        self._next += len(out)
        return out

    def fetchall(self):
        rows = self._result_rows()
        out = rows[self._next:]
        self._next = len(rows)
        return out

    def setinputsizes(self, sizes):
        pass

    def setoutputsize(self, size, column=None):
        pass
