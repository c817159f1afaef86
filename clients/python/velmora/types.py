"""DB-API type objects and constructors.

A column's type_code in `Cursor.description` is the field type of the result packet as a
`FieldType` (an int, the storage format's code, with the name `ftWideString` and so on as its
text). The type objects compare equal to every code of their group:
`description[0][1] == velmora.NUMBER`.
"""

import datetime
import time

from .dataset import FIELD_TYPE_NAMES, FT


class FieldType(int):
    """A field-type code that shows its name."""

    def __repr__(self):
        return FIELD_TYPE_NAMES[self] if 0 <= self < len(FIELD_TYPE_NAMES) else int.__repr__(self)

    __str__ = __repr__


class DBAPITypeObject:
    def __init__(self, name, *names):
        self.name = name
        self.values = frozenset(FT[n] for n in names)

    def __eq__(self, other):
        if isinstance(other, DBAPITypeObject):
            return self is other
        return other in self.values

    def __ne__(self, other):
        return not self.__eq__(other)

    def __hash__(self):
        return hash(self.name)

    def __repr__(self):
        return "<velmora.%s>" % self.name


STRING = DBAPITypeObject(
    "STRING", "ftString", "ftMemo", "ftFmtMemo", "ftFixedChar", "ftWideString", "ftOraClob",
    "ftGuid", "ftFixedWideChar", "ftWideMemo")
BINARY = DBAPITypeObject(
    "BINARY", "ftBytes", "ftVarBytes", "ftBlob", "ftGraphic", "ftParadoxOle", "ftDBaseOle",
    "ftTypedBinary", "ftOraBlob", "ftStream")
NUMBER = DBAPITypeObject(
    "NUMBER", "ftSmallint", "ftInteger", "ftWord", "ftBoolean", "ftFloat", "ftCurrency", "ftBCD",
    "ftAutoInc", "ftLargeint", "ftFMTBcd", "ftLongWord", "ftShortint", "ftByte", "ftExtended",
    "ftSingle")
DATETIME = DBAPITypeObject(
    "DATETIME", "ftDate", "ftTime", "ftDateTime", "ftTimeStamp", "ftOraTimeStamp",
    "ftTimeStampOffset", "ftOraInterval")
# Auto-increment columns: the nearest the server has to a row id.
ROWID = DBAPITypeObject("ROWID", "ftAutoInc")

Date = datetime.date
Time = datetime.time
Timestamp = datetime.datetime


def DateFromTicks(ticks):
    return Date(*time.localtime(ticks)[:3])


def TimeFromTicks(ticks):
    return Time(*time.localtime(ticks)[3:6])


def TimestampFromTicks(ticks):
    return Timestamp(*time.localtime(ticks)[:6])


def Binary(data):
    return bytes(data)
