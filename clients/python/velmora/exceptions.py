"""The DB-API exception hierarchy, and which class a server's message is raised as.

The server reports a failure as text only: an error message (a call it refused or that raised,
`remote` true) or a method's `ErrMsg` (the database's own message, `remote` false). The class is
chosen from well-known words of that text (see `server_error`); anything not recognised is a plain
DatabaseError. The text itself is always kept whole in `args[0]` and `message`.
"""


class Warning(Exception):  # noqa: A001 - the name is fixed by the DB-API
    pass


class Error(Exception):
    def __init__(self, message="", remote=False):
        super().__init__(message)
        self.message = message
        # True when the server answered with an error message instead of a result.
        self.remote = remote


class InterfaceError(Error):
    pass


class DatabaseError(Error):
    pass


class DataError(DatabaseError):
    pass


class OperationalError(DatabaseError):
    pass


class IntegrityError(DatabaseError):
    pass


class InternalError(DatabaseError):
    pass


class ProgrammingError(DatabaseError):
    pass


class NotSupportedError(DatabaseError):
    pass


# Lower-case fragments of server and database messages, checked in this order.
_CLASSIFIED = (
    (NotSupportedError, ("are not supported by",)),
    (IntegrityError, ("constraint", "violates", "duplicate key", "affected 0 rows instead of 1",
                      "rows instead of 1")),
    (OperationalError, ("no database connection available", "no query object available",
                        "no stored procedure object available", "statement stopped:",
                        "unable to open database", "database is locked", "server is stopping",
                        "server is busy", "is not authorized", "bytes of memory",
                        "connection could not be opened", "try again later")),
    (DataError, ("cannot convert value", "out of range", "invalid input syntax",
                 "division by zero", "larger than the limit", "transfer limit", "too large")),
    (ProgrammingError, ("syntax error", "no such table", "no such column", "no such function",
                        "does not exist", "parameter [", "server class", "server method",
                        "expects", "invalid argument for", "refused path", "access denied",
                        "unknown", "not found", "does not return a result set",
                        "command text is empty", "already exists")),
)


def server_error(text):
    """The exception class for a server's or database's message."""
    lowered = text.lower()
    for cls, fragments in _CLASSIFIED:
        if any(fragment in lowered for fragment in fragments):
            return cls
    return DatabaseError
