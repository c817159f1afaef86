"""The server's date value: days since 1899-12-30 00:00 as a float, the fraction giving the time
of day in local time. Before 1899-12-30 the whole days count back from it while the fraction still
counts forward from midnight (-1.25 is 1899-12-29 06:00). Times are kept to the millisecond."""

import datetime
import math

EPOCH = datetime.datetime(1899, 12, 30)
MS_PER_DAY = 86_400_000


def from_ole(value):
    """The datetime of a date value (naive, local time), rounded to the millisecond."""
    if not math.isfinite(value) or abs(value) > 3_000_000:
        raise ValueError("%r is no date value" % value)
    whole = math.trunc(value)
    ms = round(abs(value - whole) * MS_PER_DAY)
    if ms >= MS_PER_DAY:
        ms -= MS_PER_DAY
        whole += 1
    return EPOCH + datetime.timedelta(days=whole, milliseconds=ms)


def to_ole(value):
    """The date value of a datetime, date or time (a time alone is a fraction of day 0).
    Microseconds below the millisecond are rounded."""
    if isinstance(value, datetime.datetime):
        if value.tzinfo is not None:
            raise ValueError("a date value is local time: %s carries a time zone" % value)
        days = (value.date() - EPOCH.date()).days
        ms = ((value.hour * 60 + value.minute) * 60 + value.second) * 1000 + value.microsecond / 1000
    elif isinstance(value, datetime.date):
        days, ms = (value - EPOCH.date()).days, 0
    elif isinstance(value, datetime.time):
        days = 0
        ms = ((value.hour * 60 + value.minute) * 60 + value.second) * 1000 + value.microsecond / 1000
    else:
        raise TypeError("no date value for %s" % type(value).__name__)
    fraction = round(ms) / MS_PER_DAY
    return days - fraction if days < 0 else days + fraction
