"""SQL text on the client side: which method runs a statement (the row rule) and parameters
rendered as literals into the text (the server's SQL methods take no parameter markers).

The row rule: skip leading white space, `--` line comments, `/* */` block comments and opening
parentheses; take the first word (letter case ignored). The statement returns rows, and runs with
SQL2OleVariant, when that word is SELECT, WITH, VALUES, TABLE, SHOW, EXPLAIN, DESCRIBE or PRAGMA
(PRAGMA only when the statement has no `=` outside quotes), or when the keyword RETURNING appears
as a word outside quotes, comments and PostgreSQL dollar-quoted bodies; otherwise it runs with
ExecSQL. Quotes are '...' and "..." (a doubled quote character stays inside) and E'...', where a
backslash escapes the next character; comments nest, as PostgreSQL reads them; an unclosed quote
or comment runs to the end; an `=` inside a comment does not count; a word is a run of ASCII
letters, digits and `_`. The C++ client library's StatementKindOf (client/statement_kind.h)
decides the same way; tests/cases/sql_split_cases.json holds the cases both are checked on.

Parameters (paramstyle "qmark"): each `?` outside quotes, comments and PostgreSQL dollar-quoted
bodies is replaced by the literal of the next parameter; see `render_literal` for the forms.
"""

import datetime
import decimal
import math

from .exceptions import ProgrammingError

ROW_WORDS = frozenset(("SELECT", "WITH", "VALUES", "TABLE", "SHOW", "EXPLAIN", "DESCRIBE",
                       "PRAGMA"))

CODE, QUOTED, COMMENT = 0, 1, 2


_WORD_CHARS = frozenset("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_")
_SPACES = frozenset(" \t\n\r\f\v")


def _is_word_char(ch):
    """A character of a word for the row rule: ASCII letters, digits and _."""
    return ch in _WORD_CHARS


def _is_name_char(ch):
    """A character of a name before which `$` cannot open a dollar quote."""
    return ch.isalnum() or ch in "_$"


def _dollar_tag(sql, i):
    """The `$tag$` opening a dollar-quoted body at i, or None."""
    end = i + 1
    while end < len(sql) and (sql[end].isalnum() or sql[end] == "_"):
        end += 1
    if end < len(sql) and sql[end] == "$" and not sql[i + 1:end][:1].isdigit():
        return sql[i:end + 1]
    return None


def _quote_end(sql, i, backslashes):
    """The index after the quote opening at i (a doubled quote stays inside; with `backslashes`,
    a backslash escapes the next character); the end of the text when it is unclosed."""
    ch = sql[i]
    n = len(sql)
    j = i + 1
    while j < n:
        if backslashes and sql[j] == "\\":
            j += 2
            continue
        if sql[j] == ch:
            if j + 1 < n and sql[j + 1] == ch:
                j += 2
                continue
            return j + 1
        j += 1
    return n


def _block_comment_end(sql, i):
    """The index after the block comment opening at i: comments nest, as PostgreSQL reads them;
    the end of the text when it is unclosed."""
    n = len(sql)
    depth = 0
    j = i
    while j < n - 1:
        if sql.startswith("/*", j):
            depth += 1
            j += 2
        elif sql.startswith("*/", j):
            depth -= 1
            j += 2
            if depth == 0:
                return j
        else:
            j += 1
    return n


def segments(sql, dollar_quotes=False):
    """Splits `sql` into (kind, start, end) pieces: CODE, QUOTED or COMMENT. An unterminated
    quote or comment runs to the end. With `dollar_quotes`, `$tag$ ... $tag$` bodies are QUOTED
    as well (not where a dollar follows a word character: `a$b$` is a name)."""
    out = []
    n = len(sql)
    start = i = 0
    while i < n:
        ch = sql[i]
        end = None
        kind = None
        if ch in "'\"":
            kind = QUOTED
            end = _quote_end(sql, i, False)
        elif (ch in "Ee" and sql.startswith("'", i + 1)
              and (i == 0 or not _is_name_char(sql[i - 1]))):
            kind = QUOTED
            end = _quote_end(sql, i + 1, True)
        elif ch == "-" and sql.startswith("--", i):
            kind = COMMENT
            j = sql.find("\n", i)
            end = n if j < 0 else j + 1
        elif ch == "/" and sql.startswith("/*", i):
            kind = COMMENT
            end = _block_comment_end(sql, i)
        elif dollar_quotes and ch == "$" and (i == 0 or not _is_name_char(sql[i - 1])):
            tag = _dollar_tag(sql, i)
            if tag is not None:
                kind = QUOTED
                j = sql.find(tag, i + len(tag))
                end = n if j < 0 else j + len(tag)
        if kind is None:
            i += 1
            continue
        if start < i:
            out.append((CODE, start, i))
        out.append((kind, i, end))
        start = i = end
    if start < n:
        out.append((CODE, start, n))
    return out


def first_word(sql):
    """The statement's first word, upper-cased, after white space, comments and opening
    parentheses; empty when there is none."""
    for kind, start, end in segments(sql, dollar_quotes=True):
        if kind == COMMENT:
            continue
        if kind == QUOTED:
            return ""
        i = start
        while i < end and (sql[i] in _SPACES or sql[i] == "("):
            i += 1
        if i == end:
            continue
        j = i
        while j < end and _is_word_char(sql[j]):
            j += 1
        return sql[i:j].upper()
    return ""


def _has_word(text, word):
    upper = text.upper()
    at = upper.find(word)
    while at >= 0:
        before = upper[at - 1] if at > 0 else " "
        after = upper[at + len(word)] if at + len(word) < len(upper) else " "
        if not _is_word_char(before) and not _is_word_char(after):
            return True
        at = upper.find(word, at + 1)
    return False


def returns_rows(sql):
    """True when the row rule says the statement returns rows."""
    word = first_word(sql)
    pieces = segments(sql, dollar_quotes=True)
    if word in ROW_WORDS:
        if word != "PRAGMA":
            return True
        if not any("=" in sql[s:e] for kind, s, e in pieces if kind == CODE):
            return True
    return any(_has_word(sql[s:e], "RETURNING") for kind, s, e in pieces if kind == CODE)


# --- parameters ---


class Literals:
    """How parameters become SQL literals. `bytes_style` is "x" for X'0A1B' (SQLite, Firebird,
    SQL Server-style engines), "postgresql" for CAST('\\x0a1b' AS bytea), or None to refuse bytes."""

    def __init__(self, bytes_style="x"):
        if bytes_style not in ("x", "postgresql", None):
            raise ValueError("bytes_style must be 'x', 'postgresql' or None")
        self.bytes_style = bytes_style

    def render(self, value):
        """The SQL literal of `value`; ProgrammingError for what cannot be rendered safely."""
        if value is None:
            return "NULL"
        if isinstance(value, bool):
            return "TRUE" if value else "FALSE"
        if isinstance(value, int):
            return _signed(str(int(value)))
        if isinstance(value, float):
            if not math.isfinite(value):
                raise ProgrammingError("The float parameter %r has no SQL literal" % value)
            return _signed(repr(value))
        if isinstance(value, decimal.Decimal):
            if not value.is_finite():
                raise ProgrammingError("The decimal parameter %s has no SQL literal" % value)
            return _signed(format(value, "f"))
        if isinstance(value, str):
            return quote_text(value)
        if isinstance(value, (bytes, bytearray, memoryview)):
            return self._bytes(bytes(value))
        if isinstance(value, datetime.datetime):
            if value.tzinfo is not None:
                raise ProgrammingError("A datetime parameter with a time zone is refused: the "
                                       "server's date-times are local time")
            return "'%s %s'" % (value.date().isoformat(), _time_text(value.time()))
        if isinstance(value, datetime.date):
            return "'%s'" % value.isoformat()
        if isinstance(value, datetime.time):
            if value.tzinfo is not None:
                raise ProgrammingError("A time parameter with a time zone is refused")
            return "'%s'" % _time_text(value)
        raise ProgrammingError("A parameter of type %s cannot be rendered as an SQL literal"
                               % type(value).__name__)

    def _bytes(self, data):
        if self.bytes_style == "x":
            return "X'%s'" % data.hex().upper()
        if self.bytes_style == "postgresql":
            # CAST, not "::": the server's command text turns "::" into one colon.
            return "CAST('\\x%s' AS bytea)" % data.hex()
        raise ProgrammingError("Byte parameters are refused on this connection (bytes_style=None)")

    def substitute(self, sql, params):
        """`sql` with each `?` marker replaced by the literal of the next parameter."""
        if isinstance(params, (str, bytes, dict)) or not hasattr(params, "__len__"):
            raise ProgrammingError("Parameters must be a sequence (paramstyle 'qmark'), not %s"
                                   % type(params).__name__)
        rendered = [self.render(p) for p in params]
        out = []
        used = 0
        for kind, start, end in segments(sql, dollar_quotes=True):
            if kind != CODE:
                out.append(sql[start:end])
                continue
            piece = sql[start:end]
            parts = piece.split("?")
            if used + len(parts) - 1 > len(rendered):
                raise ProgrammingError("The statement has more ? markers than the %d parameters "
                                       "given" % len(rendered))
            for k, part in enumerate(parts):
                if k:
                    out.append(rendered[used])
                    used += 1
                out.append(part)
        if used != len(rendered):
            raise ProgrammingError("The statement has %d ? markers but %d parameters were given"
                                   % (used, len(rendered)))
        return "".join(out)


def _signed(text):
    # A negative literal in parentheses: after a minus sign in the text, "-5" would otherwise
    # make "--", the start of a comment.
    return "(%s)" % text if text.startswith("-") else text


def _time_text(value):
    text = value.strftime("%H:%M:%S")
    if value.microsecond % 1000 == 0:
        return text + (".%03d" % (value.microsecond // 1000) if value.microsecond else "")
    return text + ".%06d" % value.microsecond


def quote_text(text):
    """'text' with every quote doubled. Text holding NUL or a carriage return, or that is not
    valid Unicode (lone surrogates), is refused: the server takes no NUL in SQL text, and it
    splits the text into lines and joins them with line feeds, so a CR would not arrive."""
    if "\x00" in text:
        raise ProgrammingError("A text parameter holding a NUL character cannot be sent in SQL "
                               "text; pass such data as bytes")
    if "\r" in text:
        raise ProgrammingError("A text parameter holding a carriage return cannot be sent in SQL "
                               "text: the server's line splitting would change it; pass such "
                               "data as bytes or with line feeds only")
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        raise ProgrammingError("A text parameter that is not valid Unicode (a lone surrogate) "
                               "cannot be sent; pass such data as bytes") from None
    return "'" + text.replace("'", "''") + "'"
