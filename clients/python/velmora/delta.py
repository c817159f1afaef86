"""Applying a change set to a table, as `velmora-cli apply TABLE FILE.json` does.

The change set is a mapping like the command's JSON file:

    {"key": ["ID"],
     "insert": [{"ID": 500, "NAME": "new"}],
     "update": [{"ID": 2, "NAME": "two"}],
     "delete": [{"ID": 3}]}

1. The current rows of the keys the updates and deletes name are read:
   SELECT * FROM T WHERE (ID = 2) OR (ID = 3). Each update and delete must match exactly one
   of them, or nothing is sent and ProgrammingError says which key does not ("The key ID=9999
   matches no current row of T").
2. The key columns are marked as the rows' key; updated rows carry their original values and
   the new ones, deleted rows their values, inserted rows the given columns (others NULL).
3. The delta packet goes to UpdateOleVariant(T, packet). Every change is attempted; a refused one
   raises with the server's messages of every refused row back to back, while the accepted
   changes stay.
"""

import datetime
import decimal
import json

from . import dataset
from .exceptions import InterfaceError, ProgrammingError


def _label(change, key):
    parts = []
    for k in key:
        v = change[k]
        try:
            shown = json.dumps(v, ensure_ascii=False)
        except TypeError:
            shown = str(v)
        parts.append("%s=%s" % (k, shown))
    return ", ".join(parts)


def _check(changes):
    if not isinstance(changes, dict):
        raise ProgrammingError("A change set must be a mapping with key, insert, update, delete")
    unknown = set(changes) - {"key", "insert", "update", "delete"}
    if unknown:
        raise ProgrammingError("Unknown entry %r in the change set" % sorted(unknown)[0])
    key = changes.get("key")
    if isinstance(key, str):
        key = [key]
    if not key or not all(isinstance(k, str) and k for k in key):
        raise ProgrammingError('"key" must list the key columns')
    lists = {}
    for what in ("insert", "update", "delete"):
        items = list(changes.get(what) or [])
        for i, item in enumerate(items):
            if not isinstance(item, dict):
                raise ProgrammingError("%s %d is not a mapping" % (what, i + 1))
            if what != "insert":
                for k in key:
                    if k not in item:
                        raise ProgrammingError("%s %d lacks key column %s" % (what, i + 1, k))
        lists[what] = items
    return list(key), lists


def _coerce(field, value):
    """`value` as the Python type the field's encoding takes."""
    if value is None:
        return None
    t = field.type_name
    try:
        if t in ("ftDate", "ftTime", "ftDateTime", "ftTimeStamp", "ftOraTimeStamp") and isinstance(
                value, str):
            if t == "ftDate":
                return datetime.date.fromisoformat(value)
            if t == "ftTime":
                return datetime.time.fromisoformat(value)
            return datetime.datetime.fromisoformat(value)
        if t in ("ftBCD", "ftFMTBcd", "ftCurrency") and not isinstance(value, decimal.Decimal):
            return decimal.Decimal(str(value))
        if t in ("ftString", "ftWideString", "ftFixedChar", "ftFixedWideChar", "ftMemo",
                 "ftWideMemo", "ftFmtMemo", "ftOraClob", "ftGuid") and not isinstance(value, str):
            return str(value)
    except (ValueError, decimal.InvalidOperation) as e:
        raise ProgrammingError("Value %r does not fit column %s (%s): %s"
                               % (value, field.name, t, e)) from None
    return value


def _set_columns(data, values, change, table):
    for name, value in change.items():
        try:
            i = data.index_of(name)
        except KeyError:
            raise ProgrammingError("%s: Field '%s' not found" % (table, name)) from None
        values[i] = _coerce(data.fields[i], value)


def current_rows_sql(table, key, lists):
    """The query of the current rows of the updated and deleted keys, and its parameters: the
    key values are bound, never written into the text."""
    terms, params = [], []
    for change in lists["update"] + lists["delete"]:
        parts = []
        for k in key:
            v = change[k]
            if v is None:
                parts.append("%s IS NULL" % k)
            else:
                parts.append("%s = ?" % k)
                params.append(v)
        terms.append("(" + " AND ".join(parts) + ")")
    sql = "SELECT * FROM %s WHERE %s" % (table, " OR ".join(terms) if terms else "1 = 0")
    return sql, params


def apply(connection, table, changes):
    key, lists = _check(changes)
    data = connection.query(*current_rows_sql(table, key, lists))
    if data is None:
        raise InterfaceError("The current rows of %s came back without a result" % table)
    try:
        key_index = [data.index_of(k) for k in key]
    except KeyError as e:
        raise ProgrammingError("Key column of %s: Field '%s' not found" % (table, e.args[0])) from None
    for i, field in enumerate(data.fields):
        if i in key_index:
            field.attributes |= dataset.ATTR_INKEY
        else:
            field.attributes &= ~dataset.ATTR_INKEY

    def row_matches(row, change):
        return all(row.values[i] == _coerce(data.fields[i], change[k])
                   for i, k in zip(key_index, key))

    targets, problems, seen = {}, [], []
    for what in ("update", "delete"):
        for change in lists[what]:
            if any(all(change[k] == other[k] for k in key) for other in seen):
                raise ProgrammingError("The change set names the row %s twice" % _label(change, key))
            seen.append(change)
            found = [n for n, row in enumerate(data.rows) if row_matches(row, change)]
            if len(found) != 1:
                problems.append("The key %s matches %s of %s" % (
                    _label(change, key),
                    "no current row" if not found else "%d rows" % len(found), table))
            else:
                targets[found[0]] = (what, change)
    if problems:
        raise ProgrammingError("\n".join(problems))

    out_rows = []
    for n, row in enumerate(data.rows):
        if n not in targets:
            continue
        what, change = targets[n]
        if what == "delete":
            out_rows.append(dataset.Row(dataset.STATE_DELETED, list(row.values), list(row.values)))
        else:
            values = list(row.values)
            _set_columns(data, values, change, table)
            out_rows.append(dataset.Row(dataset.STATE_MODIFIED, values, list(row.values)))
    for change in lists["insert"]:
        values = [None] * len(data.fields)
        _set_columns(data, values, change, table)
        out_rows.append(dataset.Row(dataset.STATE_INSERTED, values))
    if not out_rows:
        return 0
    packet = dataset.write_packet(dataset.Dataset(data.fields, out_rows, cached_updates=True))
    connection._call_checked("UpdateOleVariant", table, packet)
    return len(out_rows)
