"""The dataset storage format ("VLDS", docs/storage-format.md): reading result packets into
Python values and writing the delta packets that carry changes back.

Field values map to Python types as `python_type` says: integers to int, ftFloat/ftExtended/
ftSingle to float, ftCurrency and the decimal types to decimal.Decimal, text to str, binary to
bytes, ftBoolean to bool, ftDate to date, ftTime to time, ftDateTime and the time-stamps to
datetime (with a fixed-offset tzinfo for ftTimeStampOffset), ftOraInterval to wire.Interval,
variant fields to the variant's own value, and NULL to None.
"""

import datetime
import decimal
import re
import struct
import zlib

from . import dates, wire
from .exceptions import InterfaceError

MAGIC = b"VLDS"
VERSION = 1
FLAG_CACHED_UPDATES = 0x01

ATTR_REQUIRED, ATTR_READONLY, ATTR_INKEY, ATTR_AUTOINC = 0x01, 0x02, 0x04, 0x08
ATTR_ALL = 0x0F

STATE_UNMODIFIED, STATE_MODIFIED, STATE_INSERTED, STATE_DELETED = 0, 1, 2, 3
STATE_HAS_ERROR = 0x80

FIELD_TYPE_NAMES = (
    "ftUnknown", "ftString", "ftSmallint", "ftInteger", "ftWord", "ftBoolean", "ftFloat",
    "ftCurrency", "ftBCD", "ftDate", "ftTime", "ftDateTime", "ftBytes", "ftVarBytes",
    "ftAutoInc", "ftBlob", "ftMemo", "ftGraphic", "ftFmtMemo", "ftParadoxOle", "ftDBaseOle",
    "ftTypedBinary", "ftCursor", "ftFixedChar", "ftWideString", "ftLargeint", "ftADT", "ftArray",
    "ftReference", "ftDataSet", "ftOraBlob", "ftOraClob", "ftVariant", "ftInterface",
    "ftIDispatch", "ftGuid", "ftTimeStamp", "ftFMTBcd", "ftFixedWideChar", "ftWideMemo",
    "ftOraTimeStamp", "ftOraInterval", "ftLongWord", "ftShortint", "ftByte", "ftExtended",
    "ftConnection", "ftParams", "ftStream", "ftTimeStampOffset", "ftObject", "ftSingle",
)
FT = {name: code for code, name in enumerate(FIELD_TYPE_NAMES)}

# How each field type's value is stored.
_TEXT = {1, 16, 18, 23, 24, 31, 35, 38, 39}
_BINARY = {12, 13, 15, 17, 19, 20, 21, 30, 48}
_FIXED = {2: "h", 3: "i", 4: "H", 14: "i", 25: "q", 42: "I", 43: "b", 44: "B"}
_FLOATS = {6: "d", 45: "d", 51: "f"}
_DECIMALS = {8, 37}
_DATES = {9, 10, 11}
_TIMESTAMPS = {36, 40}
_VARIANTS = {26, 27, 28, 29, 32, 47}
_ALWAYS_NULL = {0, 22, 33, 34, 46, 50}

# Below this many bytes no field definition fits: 4 (name) + 1 + 12 + 1 + 4 + 4.
MIN_FIELD_BYTES = 26


class Field:
    __slots__ = ("name", "type", "size", "precision", "scale", "attributes", "origin_table",
                 "origin_column")

    def __init__(self, name, type_code, size=0, precision=0, scale=0, attributes=0,
                 origin_table="", origin_column=""):
        self.name, self.type, self.size = name, type_code, size
        self.precision, self.scale, self.attributes = precision, scale, attributes
        self.origin_table, self.origin_column = origin_table, origin_column

    @property
    def type_name(self):
        return FIELD_TYPE_NAMES[self.type]

    def __repr__(self):
        return "Field(%r, %s)" % (self.name, self.type_name)


class Row:
    __slots__ = ("state", "values", "original", "error")

    def __init__(self, state, values, original=None, error=None):
        self.state, self.values, self.original, self.error = state, values, original, error


class Dataset:
    __slots__ = ("fields", "rows", "cached_updates")

    def __init__(self, fields, rows=None, cached_updates=False):
        self.fields = fields
        self.rows = rows if rows is not None else []
        self.cached_updates = cached_updates

    def index_of(self, name):
        """The index of the named field, letter case ignored; KeyError when there is none."""
        folded = name.casefold()
        for i, field in enumerate(self.fields):
            if field.name.casefold() == folded:
                return i
        raise KeyError(name)


# --- reading ---


def _read_value(r, type_code):
    if type_code in _TEXT:
        return r.text()
    if type_code in _BINARY:
        return r.raw_string()
    if type_code in _FIXED:
        return r.unpack(_FIXED[type_code])[0]
    if type_code in _FLOATS:
        return r.unpack(_FLOATS[type_code])[0]
    if type_code == 5:
        b = r.u8()
        if b > 1:
            raise InterfaceError("A boolean value of %d" % b)
        return b == 1
    if type_code == 7:
        return decimal.Decimal(r.unpack("q")[0]).scaleb(-4)
    if type_code in _DECIMALS:
        return _decimal_of_text(r.text())
    if type_code in _DATES:
        value = dates.from_ole(r.unpack("d")[0])
        if type_code == 9:
            return value.date()
        if type_code == 10:
            return value.time()
        return value
    if type_code in _TIMESTAMPS:
        return wire.read_timestamp(r)
    if type_code == 49:
        return wire.read_timestamp_offset(r)
    if type_code == 41:
        return wire.read_interval(r)
    if type_code in _VARIANTS:
        value = wire.decode_variant(r)
        return None if value is wire.EMPTY else value
    raise InterfaceError("Field type %d has no value" % type_code)


# Canonical decimal text: no leading zeros but a single 0, no trailing zeros after the point,
# no point without decimals (and no "-0", checked apart).
_DECIMAL_TEXT = re.compile(r"-?(?:0|[1-9][0-9]*)(?:\.[0-9]*[1-9])?")


def _is_decimal_text(text):
    return _DECIMAL_TEXT.fullmatch(text) is not None and text != "-0"


def _decimal_of_text(text):
    if not _is_decimal_text(text):
        raise InterfaceError("Malformed decimal text %r" % text)
    return decimal.Decimal(text)


# How a record reader takes each field: a fixed-size value (with an optional conversion), a
# counted string (text or bytes), a value no field may hold, or the general reader.
_FIXED_VALUE, _TEXT_VALUE, _BYTES_VALUE, _NO_VALUE, _OTHER_VALUE = range(5)
_U32 = struct.Struct("<I")
_F64 = struct.Struct("<d")


def _date_only(value):
    return dates.from_ole(value).date()


def _time_only(value):
    return dates.from_ole(value).time()


def _field_plan(field):
    t = field.type
    if t in _FIXED:
        return (_FIXED_VALUE, struct.Struct("<" + _FIXED[t]), None)
    if t in _FLOATS:
        return (_FIXED_VALUE, struct.Struct("<" + _FLOATS[t]), None)
    if t in _DATES:
        return (_FIXED_VALUE, _F64, {9: _date_only, 10: _time_only, 11: dates.from_ole}[t])
    if t in _TEXT:
        return (_TEXT_VALUE, None, None)
    if t in _DECIMALS:
        return (_TEXT_VALUE, None, _decimal_of_text)
    if t in _BINARY:
        return (_BYTES_VALUE, None, None)
    if t in _ALWAYS_NULL:
        return (_NO_VALUE, None, None)
    return (_OTHER_VALUE, None, None)


def _truncated(r, pos, n):
    r.pos = pos
    r.take(n)  # raises, naming the offsets


def _read_record(r, fields, plans):
    """One record. The common kinds are read in place from the bytes (this is the loop a large
    result spends its time in); the others through _read_value."""
    data = r.data
    end = len(data)
    count = len(fields)
    pos = r.pos
    flag_bytes = (count + 7) // 8
    if pos + flag_bytes > end:
        _truncated(r, pos, flag_bytes)
    flags = data[pos:pos + flag_bytes]
    pos += flag_bytes
    values = []
    append = values.append
    for i, (kind, layout, convert) in enumerate(plans):
        if flags[i >> 3] >> (i & 7) & 1:
            append(None)
        elif kind == _FIXED_VALUE:
            if pos + layout.size > end:
                _truncated(r, pos, layout.size)
            value = layout.unpack_from(data, pos)[0]
            pos += layout.size
            append(value if convert is None else convert(value))
        elif kind == _TEXT_VALUE or kind == _BYTES_VALUE:
            if pos + 4 > end:
                _truncated(r, pos, 4)
            n = _U32.unpack_from(data, pos)[0]
            pos += 4
            if pos + n > end:
                _truncated(r, pos, n)
            chunk = data[pos:pos + n]
            pos += n
            if kind == _BYTES_VALUE:
                append(bytes(chunk))
            else:
                try:
                    text = str(chunk, "utf-8")
                except UnicodeDecodeError as e:
                    raise InterfaceError("Text that is not UTF-8 in field %s: %s"
                                         % (fields[i].name, e)) from None
                append(text if convert is None else convert(text))
        elif kind == _NO_VALUE:
            raise InterfaceError("A value for always-NULL field %s" % fields[i].name)
        else:
            r.pos = pos
            append(_read_value(r, fields[i].type))
            pos = r.pos
    r.pos = pos
    if count % 8 and flags[-1] >> (count % 8):
        raise InterfaceError("Null flags set past the last field")
    return values


def read_dataset(data):
    """Reads the saved dataset in `data` (plain bytes, not a packet)."""
    r = wire.Reader(data)
    if bytes(r.take(4)) != MAGIC:
        raise InterfaceError("Not a saved dataset: wrong magic")
    version = r.u16()
    if version != VERSION:
        raise InterfaceError("Dataset version %d is not supported" % version)
    flags = r.u8()
    if flags & ~FLAG_CACHED_UPDATES:
        raise InterfaceError("Unknown dataset flags 0x%02X" % flags)
    field_count = r.u32()
    if field_count * MIN_FIELD_BYTES > r.remaining():
        raise InterfaceError("A field count of %d runs past the data" % field_count)
    fields = []
    for _ in range(field_count):
        name = r.text()
        type_code = r.u8()
        if type_code >= len(FIELD_TYPE_NAMES):
            raise InterfaceError("Field type code %d is out of range" % type_code)
        size, precision, scale = r.unpack("iii")
        attributes = r.u8()
        if attributes & ~ATTR_ALL:
            raise InterfaceError("Unknown field attributes 0x%02X" % attributes)
        fields.append(Field(name, type_code, size, precision, scale, attributes, r.text(),
                            r.text()))
    row_count = r.u32()
    if row_count * (1 + (field_count + 7) // 8) > r.remaining():
        raise InterfaceError("A row count of %d runs past the data" % row_count)
    plans = [_field_plan(f) for f in fields]
    rows = []
    for _ in range(row_count):
        state_byte = r.u8()
        state = state_byte & 0x7F
        if state > STATE_DELETED:
            raise InterfaceError("Row state %d is out of range" % state)
        values = _read_record(r, fields, plans)
        original = (_read_record(r, fields, plans) if state in (STATE_MODIFIED, STATE_DELETED)
                    else None)
        error = r.text() if state_byte & STATE_HAS_ERROR else None
        rows.append(Row(state, values, original, error))
    return Dataset(fields, rows, bool(flags & FLAG_CACHED_UPDATES))


def read_packet(packet):
    """Reads a result packet (the zlib stream of a saved dataset)."""
    if not isinstance(packet, (bytes, bytearray)):
        raise InterfaceError("A result packet must be a byte array, not %s" % type(packet).__name__)
    try:
        data = zlib.decompress(packet)
    except zlib.error as e:
        raise InterfaceError("The result packet is not a zlib stream: %s" % e) from None
    return read_dataset(data)


# --- writing ---


def _write_value(out, type_code, value):
    if type_code in _TEXT:
        out += wire.pack_string(str(value))
    elif type_code in _BINARY:
        out += wire.pack_string(bytes(value))
    elif type_code in _FIXED:
        out += struct.pack("<" + _FIXED[type_code], int(value))
    elif type_code in _FLOATS:
        out += struct.pack("<" + _FLOATS[type_code], float(value))
    elif type_code == 5:
        out += b"\x01" if value else b"\x00"
    elif type_code == 7:
        out += struct.pack("<q", int(decimal.Decimal(value).scaleb(4).to_integral_value()))
    elif type_code in _DECIMALS:
        out += wire.pack_string(wire.decimal_text(decimal.Decimal(value)))
    elif type_code in _DATES:
        if type_code == 10 and isinstance(value, datetime.datetime):
            value = value.time()
        out += struct.pack("<d", dates.to_ole(value))
    elif type_code in _TIMESTAMPS or type_code == 49:
        stamp = value
        out += struct.pack("<hHHHHHI", stamp.year, stamp.month, stamp.day, stamp.hour,
                           stamp.minute, stamp.second, stamp.microsecond // 1000)
        if type_code == 49:
            offset = stamp.utcoffset() or datetime.timedelta(0)
            minutes = int(offset.total_seconds()) // 60
            sign = -1 if minutes < 0 else 1
            out += struct.pack("<hh", sign * (abs(minutes) // 60), sign * (abs(minutes) % 60))
    elif type_code == 41:
        out += struct.pack("<BbIIIIIII", value.kind, value.sign, value.years, value.months,
                           value.days, value.hours, value.minutes, value.seconds, value.fraction)
    elif type_code in _VARIANTS:
        out += wire.encode_variant(value)
    else:
        raise InterfaceError("Field type %s cannot hold a value" % FIELD_TYPE_NAMES[type_code])


def _write_record(out, fields, values):
    flags = bytearray((len(fields) + 7) // 8)
    body = bytearray()
    for i, (field, value) in enumerate(zip(fields, values)):
        if value is None or field.type in _ALWAYS_NULL:
            flags[i // 8] |= 1 << (i % 8)
        else:
            try:
                _write_value(body, field.type, value)
            except (TypeError, ValueError, AttributeError, struct.error) as e:
                raise InterfaceError("Value %r does not fit field %s (%s): %s"
                                     % (value, field.name, field.type_name, e)) from None
    out += flags
    out += body


def write_dataset(dataset):
    out = bytearray(MAGIC)
    out += struct.pack("<HBI", VERSION, FLAG_CACHED_UPDATES if dataset.cached_updates else 0,
                       len(dataset.fields))
    for f in dataset.fields:
        out += wire.pack_string(f.name)
        out += struct.pack("<BiiiB", f.type, f.size, f.precision, f.scale, f.attributes)
        out += wire.pack_string(f.origin_table) + wire.pack_string(f.origin_column)
    out += struct.pack("<I", len(dataset.rows))
    for row in dataset.rows:
        out.append(row.state | (STATE_HAS_ERROR if row.error is not None else 0))
        _write_record(out, dataset.fields, row.values)
        if row.state in (STATE_MODIFIED, STATE_DELETED):
            _write_record(out, dataset.fields, row.original)
        if row.error is not None:
            out += wire.pack_string(row.error)
    return bytes(out)


def write_packet(dataset):
    return zlib.compress(write_dataset(dataset))
