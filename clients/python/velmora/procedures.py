"""Stored procedure calls through StoredProc.

`inputs` is a mapping of names to values, or a sequence of (name, value) or (name, value, type)
entries; `outputs` a sequence of names or (name, type) entries, or a mapping of names to types
(None: the type of the value the server reads back). A type is a field type's name
("ftInteger"), its code, or one of the short names velmora-cli takes ("int", "bigint", "float",
"string", "bool", "date", "time", "datetime", "timestamp", "decimal", "bcd", "blob", "memo").
Without a type an input is typed from its Python value: bool ftBoolean, int ftInteger (ftLargeint
beyond 32 bits), float ftFloat, Decimal ftFMTBcd (sent as its text), str ftWideString, bytes
ftBlob, datetime ftDateTime, date ftDate, time ftTime, None ftUnknown.

The server returns the values of output parameters only, not of input-output ones: a name given
both as an input and as an output is refused with ProgrammingError.
"""

import collections
import datetime
import decimal

from . import dataset, wire
from .exceptions import InterfaceError, ProgrammingError

PT_INPUT, PT_OUTPUT = 1, 2

ProcedureResult = collections.namedtuple("ProcedureResult", "outputs description rows")

SHORT_TYPE_NAMES = {
    "int": "ftInteger", "integer": "ftInteger", "smallint": "ftSmallint", "bigint": "ftLargeint",
    "largeint": "ftLargeint", "float": "ftFloat", "double": "ftFloat", "string": "ftWideString",
    "text": "ftWideString", "varchar": "ftWideString", "bool": "ftBoolean",
    "boolean": "ftBoolean", "date": "ftDate", "time": "ftTime", "datetime": "ftDateTime",
    "timestamp": "ftTimeStamp", "decimal": "ftFMTBcd", "numeric": "ftFMTBcd", "bcd": "ftBCD",
    "blob": "ftBlob", "memo": "ftWideMemo",
}


def type_code(declared):
    """The field-type code of a declared type; ProgrammingError for an unknown one."""
    if declared is None:
        return dataset.FT["ftUnknown"]
    if isinstance(declared, int) and 0 <= declared < len(dataset.FIELD_TYPE_NAMES):
        return int(declared)
    if isinstance(declared, str):
        for name, code in dataset.FT.items():
            if name.lower() == declared.lower():
                return code
        if declared.lower() in SHORT_TYPE_NAMES:
            return dataset.FT[SHORT_TYPE_NAMES[declared.lower()]]
    raise ProgrammingError("Unknown parameter type %r" % (declared,))


def typed_value(value):
    """(field-type code, value to send) of an input given without a type."""
    if value is None:
        return dataset.FT["ftUnknown"], None
    if isinstance(value, bool):
        return dataset.FT["ftBoolean"], value
    if isinstance(value, int):
        small = -2**31 <= value < 2**31
        return dataset.FT["ftInteger" if small else "ftLargeint"], value
    if isinstance(value, float):
        return dataset.FT["ftFloat"], value
    if isinstance(value, decimal.Decimal):
        return dataset.FT["ftFMTBcd"], wire.decimal_text(value)
    if isinstance(value, str):
        return dataset.FT["ftWideString"], value
    if isinstance(value, (bytes, bytearray, memoryview)):
        return dataset.FT["ftBlob"], bytes(value)
    if isinstance(value, datetime.datetime):
        return dataset.FT["ftDateTime"], value
    if isinstance(value, datetime.date):
        return dataset.FT["ftDate"], value
    if isinstance(value, datetime.time):
        return dataset.FT["ftTime"], value
    raise ProgrammingError("An input of type %s cannot be sent" % type(value).__name__)


def input_entry(name, value, code):
    """One input entry of a packed parameter list."""
    return _entry(name, value, code, PT_INPUT)


def _entry(name, value, code, kind):
    if isinstance(value, decimal.Decimal):
        value = wire.decimal_text(value)
    return [name, value, wire.Variant(wire.VT_SHORTINT, code),
            wire.Variant(wire.VT_SHORTINT, kind), 0, 0, 0]


def _pairs(given, what):
    if given is None:
        return []
    if isinstance(given, dict):
        return list(given.items())
    entries = []
    for item in given:
        if isinstance(item, str) and what == "outputs":
            entries.append((item, None))
        elif isinstance(item, (tuple, list)) and len(item) in (2, 3):
            entries.append(tuple(item))
        else:
            raise ProgrammingError("Each of the %s must be a (name, ...) entry: %r" % (what, item))
    return entries


def pack(inputs, outputs):
    """The packed parameter list, and the output names in order."""
    packed, in_names, out_names = [], [], []
    for item in _pairs(inputs, "inputs"):
        name, value = item[0], item[1]
        if len(item) == 3:
            code = type_code(item[2])
        else:
            code, value = typed_value(value)
        packed.append(_entry(name, value, code, PT_INPUT))
        in_names.append(name.casefold())
    for name, declared in _pairs(outputs, "outputs"):
        if name.casefold() in in_names:
            raise ProgrammingError(
                "%s is given as an input and as an output: the server does not return the value "
                "of an input-output parameter; give it as one or the other" % name)
        packed.append(_entry(name, wire.EMPTY, type_code(declared), PT_OUTPUT))
        out_names.append(name)
    return packed, out_names


def _output_value(entry):
    value = entry[1] if len(entry) > 1 else None
    code = entry[2] if len(entry) > 2 and isinstance(entry[2], int) else 0
    if value is wire.EMPTY:
        return None
    # Decimals come back as text.
    if code in (dataset.FT["ftBCD"], dataset.FT["ftFMTBcd"]) and isinstance(value, str):
        return wire.parse_decimal(value)
    return value


def call(connection, name, inputs, outputs, rows):
    from .connection import describe  # connection imports this module

    packed, out_names = pack(inputs, outputs)
    result, outs = connection._call_checked("StoredProc", name, packed or None, bool(rows))
    out_pack = outs[0] if outs else None
    values = {}
    if isinstance(out_pack, list):
        for entry in out_pack:
            if not isinstance(entry, list) or not entry or not isinstance(entry[0], str):
                raise InterfaceError("A malformed output entry: %r" % (entry,))
            values[entry[0]] = _output_value(entry)
    # In the order asked for, under the names as given.
    by_fold = {k.casefold(): v for k, v in values.items()}
    ordered = {n: by_fold.get(n.casefold()) for n in out_names}
    description, fetched = None, None
    if rows:
        fetched = []
        if isinstance(result, (bytes, bytearray)):
            data = dataset.read_packet(result)
            description = describe(data)
            fetched = [tuple(r.values) for r in data.rows]
    return ProcedureResult(ordered, description, fetched)
