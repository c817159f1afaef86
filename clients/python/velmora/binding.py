"""Parameters bound by the server's engine: each value travels apart from the SQL text, in a
packed parameter list (the packing StoredProc reads), and the engine binds it to its marker.
No value is ever written into SQL text, so none can change the statement.

A parameter sequence (paramstyle "qmark") becomes one list of unnamed entries, in order: the
server binds them to the text's `?` markers, which it finds as the database's engine reads the
text (a `?` inside a string, quoted name, comment or dollar-quoted body is text). Each value is
typed from its Python type (procedures.typed_value): bool ftBoolean, int ftInteger (ftLargeint
beyond 32 bits), float ftFloat, Decimal ftFMTBcd (as its text), str ftWideString, bytes ftBlob,
datetime ftDateTime, date ftDate, time ftTime, None NULL.
"""

import datetime

from . import procedures
from .exceptions import ProgrammingError


def packed_list(params):
    """The packed parameter list of a parameter sequence, or None for an empty one."""
    if isinstance(params, (str, bytes, dict)) or not hasattr(params, "__len__"):
        raise ProgrammingError("Parameters must be a sequence (paramstyle 'qmark'), not %s"
                               % type(params).__name__)
    entries = []
    for value in params:
        if isinstance(value, (datetime.datetime, datetime.time)) and value.tzinfo is not None:
            raise ProgrammingError("A date-time parameter with a time zone is refused: the "
                                   "server's date-times are local time")
        if isinstance(value, str):
            try:
                value.encode("utf-8")
            except UnicodeEncodeError:
                raise ProgrammingError("A text parameter that is not valid Unicode (a lone "
                                       "surrogate) cannot be sent; pass such data as bytes") from None
        code, sent = procedures.typed_value(value)
        entries.append(procedures.input_entry("", sent, code))
    return entries or None
