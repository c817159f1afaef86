"""Frames, messages and variants of the server's TCP protocol (docs/protocol.md).

A `Channel` holds one logged-in connection and sends one call at a time; it is not safe to use
from two threads at once (the `Connection` above it serialises its calls with a lock).
"""

import datetime
import decimal
import socket
import struct
import zlib

from . import dates
from .exceptions import Error, InterfaceError, OperationalError, server_error

PROTOCOL_VERSION = 1
PROTOCOL_NAME = "tcp/ip"
SERVER_CLASS = "TServerModule1"

MSG_HELLO, MSG_HELLO_REPLY, MSG_CALL, MSG_REPLY, MSG_ERROR = 1, 2, 3, 4, 5
FLAG_DEFLATED = 0x01
# The server's default maximum frame; a larger frame from it means the stream is out of step.
MAX_FRAME = 256 * 1024 * 1024
# Deflate cannot inflate beyond this ratio; a larger claimed size is a corrupt frame.
MAX_INFLATE_RATIO = 1032
MAX_ARRAY_DEPTH = 32

# Variant type codes.
VT_EMPTY, VT_NULL, VT_SMALLINT, VT_INTEGER = 0x0000, 0x0001, 0x0002, 0x0003
VT_SINGLE, VT_DOUBLE, VT_CURRENCY, VT_DATE = 0x0004, 0x0005, 0x0006, 0x0007
VT_OLESTR, VT_ERROR, VT_BOOLEAN = 0x0008, 0x000A, 0x000B
VT_SHORTINT, VT_BYTE, VT_WORD, VT_LONGWORD = 0x0010, 0x0011, 0x0012, 0x0013
VT_INT64, VT_UINT64 = 0x0014, 0x0015
VT_STRING, VT_USTRING = 0x0100, 0x0102
VT_FMTBCD, VT_SQLTIMESTAMP, VT_SQLTIMESTAMPOFFSET, VT_SQLINTERVAL = 0x0110, 0x0111, 0x0112, 0x0113
VT_BYTE_ARRAY, VT_VARIANT_ARRAY = 0x2011, 0x200C


class _EmptyType:
    """The Empty variant: no value at all, as distinct from NULL (None)."""

    _instance = None

    def __new__(cls):
        if cls._instance is None:
            cls._instance = super().__new__(cls)
        return cls._instance

    def __repr__(self):
        return "EMPTY"

    def __bool__(self):
        return False


EMPTY = _EmptyType()


class Variant:
    """A value sent with an explicit wire type, for arguments whose natural encoding would be
    another (a ShortInt field-type code, a Currency amount)."""

    __slots__ = ("code", "value")

    def __init__(self, code, value):
        self.code = code
        self.value = value

    def __repr__(self):
        return "Variant(0x%04X, %r)" % (self.code, self.value)


class Interval:
    """An SQL interval of kind year-month (kind 0) or day-second (kind 1), as the server sends it;
    `fraction` is in milliseconds."""

    __slots__ = ("kind", "sign", "years", "months", "days", "hours", "minutes", "seconds",
                 "fraction")

    def __init__(self, kind, sign, years, months, days, hours, minutes, seconds, fraction):
        self.kind, self.sign = kind, sign
        self.years, self.months, self.days = years, months, days
        self.hours, self.minutes, self.seconds, self.fraction = hours, minutes, seconds, fraction

    def _key(self):
        return (self.kind, self.sign, self.years, self.months, self.days, self.hours,
                self.minutes, self.seconds, self.fraction)

    def __eq__(self, other):
        return isinstance(other, Interval) and self._key() == other._key()

    def __hash__(self):
        return hash(self._key())

    def __repr__(self):
        return "Interval(%s)" % ", ".join(str(v) for v in self._key())

    def to_timedelta(self):
        """The day-second interval as a timedelta; ValueError for a year-month one."""
        if self.kind != 1:
            raise ValueError("a year-month interval has no fixed length")
        delta = datetime.timedelta(days=self.days, hours=self.hours, minutes=self.minutes,
                                   seconds=self.seconds, milliseconds=self.fraction)
        return -delta if self.sign < 0 else delta


# Compiled layouts by format, shared by every reader.
_STRUCTS = {}


class Reader:
    """Reads little-endian values from a bytes object, never past its end."""

    __slots__ = ("data", "pos")

    def __init__(self, data, pos=0):
        self.data = data
        self.pos = pos

    def remaining(self):
        return len(self.data) - self.pos

    def take(self, n):
        if n > len(self.data) - self.pos:
            raise InterfaceError("Truncated data: %d bytes needed at offset %d, %d left"
                                 % (n, self.pos, self.remaining()))
        start = self.pos
        self.pos += n
        return self.data[start:self.pos]

    def unpack(self, fmt):
        layout = _STRUCTS.get(fmt)
        if layout is None:
            layout = _STRUCTS[fmt] = struct.Struct("<" + fmt)
        if layout.size > len(self.data) - self.pos:
            self.take(layout.size)  # raises, naming the offsets
        values = layout.unpack_from(self.data, self.pos)
        self.pos += layout.size
        return values

    def u8(self):
        return self.unpack("B")[0]

    def u16(self):
        return self.unpack("H")[0]

    def u32(self):
        return self.unpack("I")[0]

    def i32(self):
        return self.unpack("i")[0]

    def raw_string(self):
        return bytes(self.take(self.u32()))

    def text(self):
        raw = self.raw_string()
        try:
            return raw.decode("utf-8")
        except UnicodeDecodeError as e:
            raise InterfaceError("Text that is not UTF-8 at offset %d: %s" % (self.pos, e)) from None


def pack_string(data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    return struct.pack("<I", len(data)) + data


# --- variants ---


def _encode_into(out, value, depth):
    if isinstance(value, Variant):
        _encode_typed(out, value.code, value.value, depth)
    elif value is EMPTY:
        out += struct.pack("<H", VT_EMPTY)
    elif value is None:
        out += struct.pack("<H", VT_NULL)
    elif isinstance(value, bool):
        out += struct.pack("<HB", VT_BOOLEAN, 1 if value else 0)
    elif isinstance(value, int):
        if -2**31 <= value < 2**31:
            out += struct.pack("<Hi", VT_INTEGER, value)
        elif -2**63 <= value < 2**63:
            out += struct.pack("<Hq", VT_INT64, value)
        elif 0 <= value < 2**64:
            out += struct.pack("<HQ", VT_UINT64, value)
        else:
            raise InterfaceError("Integer %d does not fit in 64 bits" % value)
    elif isinstance(value, float):
        out += struct.pack("<Hd", VT_DOUBLE, value)
    elif isinstance(value, str):
        out += struct.pack("<H", VT_OLESTR) + pack_string(value)
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = value.cast("B") if isinstance(value, memoryview) else value
        out += struct.pack("<HiI", VT_BYTE_ARRAY, 0, len(data))
        out += data
    elif isinstance(value, (list, tuple)):
        if depth >= MAX_ARRAY_DEPTH:
            raise InterfaceError("Variant arrays nest at most %d deep" % MAX_ARRAY_DEPTH)
        out += struct.pack("<HiI", VT_VARIANT_ARRAY, 0, len(value))
        for item in value:
            _encode_into(out, item, depth + 1)
    elif isinstance(value, decimal.Decimal):
        _encode_typed(out, VT_FMTBCD, value, depth)
    elif isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
        out += struct.pack("<Hd", VT_DATE, dates.to_ole(value))
    else:
        raise InterfaceError("No variant encoding for %s" % type(value).__name__)


_FIXED = {
    VT_SMALLINT: "h", VT_INTEGER: "i", VT_SINGLE: "f", VT_DOUBLE: "d", VT_ERROR: "i",
    VT_SHORTINT: "b", VT_BYTE: "B", VT_WORD: "H", VT_LONGWORD: "I", VT_INT64: "q",
    VT_UINT64: "Q",
}


def _encode_typed(out, code, value, depth):
    if code in _FIXED:
        out += struct.pack("<H" + _FIXED[code], code, value)
    elif code == VT_CURRENCY:
        out += struct.pack("<Hq", code, int(decimal.Decimal(value).scaleb(4)))
    elif code == VT_DATE:
        number = value if isinstance(value, float) else dates.to_ole(value)
        out += struct.pack("<Hd", code, number)
    elif code in (VT_OLESTR, VT_USTRING, VT_STRING):
        out += struct.pack("<H", code) + pack_string(value)
    elif code == VT_FMTBCD:
        text = decimal_text(decimal.Decimal(value))
        digits = len(text.replace("-", "").replace(".", ""))
        scale = len(text.split(".")[1]) if "." in text else 0
        out += struct.pack("<HBB", code, min(digits, 255), scale) + pack_string(text)
    elif code in (VT_EMPTY, VT_NULL):
        out += struct.pack("<H", code)
    else:
        raise InterfaceError("No explicit encoding for variant type 0x%04X" % code)


def encode_variant(value):
    out = bytearray()
    _encode_into(out, value, 0)
    return bytes(out)


def decimal_text(value):
    """The canonical decimal text: no exponent, no trailing zeros, no "-0"."""
    if not value.is_finite():
        raise ValueError("%s has no decimal text" % value)
    text = format(value, "f")
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    if text in ("-0", ""):
        text = "0"
    return text


def parse_decimal(text):
    try:
        value = decimal.Decimal(text)
    except decimal.InvalidOperation:
        raise InterfaceError("Not a decimal number: %r" % text) from None
    if not value.is_finite():
        raise InterfaceError("Not a decimal number: %r" % text)
    return value


def read_timestamp(r):
    year, month, day, hour, minute, second, fraction = r.unpack("hHHHHHI")
    try:
        return datetime.datetime(year, month, day, hour, minute, second, fraction * 1000)
    except ValueError as e:
        raise InterfaceError("Invalid time-stamp %04d-%02d-%02d %02d:%02d:%02d.%03d: %s"
                             % (year, month, day, hour, minute, second, fraction, e)) from None


def read_timestamp_offset(r):
    stamp = read_timestamp(r)
    hours, minutes = r.unpack("hh")
    try:
        zone = datetime.timezone(datetime.timedelta(hours=hours, minutes=minutes))
    except ValueError as e:
        raise InterfaceError("Invalid time-zone offset %d:%d: %s" % (hours, minutes, e)) from None
    return stamp.replace(tzinfo=zone)


def read_interval(r):
    kind, sign = r.unpack("Bb")
    if kind > 1 or sign not in (1, -1):
        raise InterfaceError("Invalid interval: kind %d, sign %d" % (kind, sign))
    return Interval(kind, sign, *r.unpack("IIIIIII"))


def _decode(r, depth):
    code = r.u16()
    if code == VT_EMPTY:
        return EMPTY
    if code == VT_NULL:
        return None
    if code in _FIXED:
        return r.unpack(_FIXED[code])[0]
    if code == VT_CURRENCY:
        return decimal.Decimal(r.unpack("q")[0]).scaleb(-4)
    if code == VT_DATE:
        return dates.from_ole(r.unpack("d")[0])
    if code == VT_BOOLEAN:
        return r.u8() != 0
    if code in (VT_OLESTR, VT_USTRING):
        return r.text()
    if code == VT_STRING:
        raw = r.raw_string()
        try:
            return raw.decode("utf-8")
        except UnicodeDecodeError:
            return raw
    if code == VT_FMTBCD:
        r.unpack("BB")
        return parse_decimal(r.text())
    if code == VT_SQLTIMESTAMP:
        return read_timestamp(r)
    if code == VT_SQLTIMESTAMPOFFSET:
        return read_timestamp_offset(r)
    if code == VT_SQLINTERVAL:
        return read_interval(r)
    if code == VT_BYTE_ARRAY:
        r.i32()
        return bytes(r.take(r.u32()))
    if code == VT_VARIANT_ARRAY:
        if depth >= MAX_ARRAY_DEPTH:
            raise InterfaceError("Variant arrays nest more than %d deep" % MAX_ARRAY_DEPTH)
        r.i32()
        count = r.u32()
        if count * 2 > r.remaining():
            raise InterfaceError("Variant array of %d elements runs past the message" % count)
        return [_decode(r, depth + 1) for _ in range(count)]
    raise InterfaceError("Unknown variant type code 0x%04X" % code)


def decode_variant(reader):
    return _decode(reader, 0)


# --- frames and messages ---


class Channel:
    """One TCP (or TLS) connection: hello, then calls, each answered before the next."""

    def __init__(self, sock):
        self._sock = sock
        # Set when a call failed between sending and reading its whole answer: the conversation
        # is out of step and the connection cannot serve another call.
        self.broken = False

    def close(self):
        try:
            self._sock.close()
        except OSError:
            pass

    def _recv_exact(self, n):
        chunks = []
        while n > 0:
            try:
                chunk = self._sock.recv(min(n, 1 << 20))
            except socket.timeout:
                raise OperationalError("The server did not answer within the time-out") from None
            except OSError as e:
                raise OperationalError("The connection failed: %s" % e) from None
            if not chunk:
                raise OperationalError("The server closed the connection")
            chunks.append(chunk)
            n -= len(chunk)
        return b"".join(chunks)

    def send_message(self, payload):
        if len(payload) > MAX_FRAME:
            raise InterfaceError("A message of %d bytes is larger than a frame may be (%d)"
                                 % (len(payload), MAX_FRAME))
        try:
            # Header and payload apart: a large payload is not copied to put five bytes before it.
            self._sock.sendall(struct.pack("<IB", len(payload), 0))
            self._sock.sendall(payload)
        except socket.timeout:
            raise OperationalError("Sending to the server timed out") from None
        except OSError as e:
            raise OperationalError("The connection failed: %s" % e) from None

    def read_message(self):
        length, flags = struct.unpack("<IB", self._recv_exact(5))
        if flags & ~FLAG_DEFLATED:
            raise InterfaceError("A frame with unknown flag bits 0x%02X" % flags)
        if length > MAX_FRAME:
            raise InterfaceError("A frame of %d bytes is larger than the maximum" % length)
        payload = self._recv_exact(length)
        if not flags & FLAG_DEFLATED:
            return payload
        if length < 4:
            raise InterfaceError("A deflated frame without its plain size")
        (size,) = struct.unpack_from("<I", payload)
        if size > MAX_FRAME or size > (length - 4) * MAX_INFLATE_RATIO:
            raise InterfaceError("A deflated frame claims an impossible size of %d bytes" % size)
        inflater = zlib.decompressobj()
        try:
            plain = inflater.decompress(payload[4:], size + 1)
        except zlib.error as e:
            raise InterfaceError("A corrupt deflated frame: %s" % e) from None
        if len(plain) != size or not inflater.eof or inflater.unused_data:
            raise InterfaceError("A deflated frame does not inflate to its stated size")
        return plain

    def hello(self, user, password):
        self.send_message(bytes([MSG_HELLO]) + struct.pack("<H", PROTOCOL_VERSION)
                          + pack_string(user) + pack_string(password)
                          + pack_string(PROTOCOL_NAME))
        message = self.read_message()
        r = Reader(message)
        kind = r.u8()
        if kind == MSG_ERROR:
            raise OperationalError(r.text())
        if kind != MSG_HELLO_REPLY:
            raise InterfaceError("Unexpected message type %d in answer to the hello" % kind)
        accepted = r.u8()
        text = r.text()
        if not accepted:
            raise OperationalError(text)

    def call(self, method, args=()):
        """Calls `method` of the server class with `args` (Python values or Variant); returns
        (result, out-parameters). An error message raises DatabaseError with its text."""
        body = bytearray([MSG_CALL])
        body += pack_string(SERVER_CLASS) + pack_string(method) + struct.pack("<I", len(args))
        for arg in args:
            _encode_into(body, arg, 0)
        try:
            self.send_message(body)
            r = Reader(self.read_message())
            kind = r.u8()
            if kind == MSG_ERROR:
                text = r.text()
                if r.remaining():
                    raise InterfaceError("An error message with bytes after its text")
                raise server_error(text)(text, remote=True)
            if kind != MSG_REPLY:
                raise InterfaceError("Unexpected message type %d in answer to a call" % kind)
            result = decode_variant(r)
            count = r.u32()
            if count * 2 > r.remaining():
                raise InterfaceError("A reply claims %d out-parameters it does not hold" % count)
            outs = [decode_variant(r) for _ in range(count)]
            if r.remaining():
                raise InterfaceError("A reply with %d bytes after its last field" % r.remaining())
        except Error as e:
            # An answer the server gave leaves the conversation in step; anything else does not.
            self.broken = not e.remote
            raise
        except BaseException:
            self.broken = True
            raise
        return result, outs
