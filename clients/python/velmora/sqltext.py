"""SQL text on the client side: which method runs a statement (the row rule). Parameters never
go into the text: the server's engine binds them (velmora.binding).

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
"""

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
