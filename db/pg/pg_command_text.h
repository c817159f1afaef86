// Command text for PostgreSQL: the layer's "?" markers become "$1", "$2" ... and a text of several
// statements is cut into single statements, because libpq refuses several statements in one call
// with parameters (docs/pg-types.md, "Command text").
//
// The rules:
// - Nothing inside string literals ('..', E'..' with backslash escapes), quoted identifiers
//   ("..."), comments (-- and nested /* */) or dollar-quoted bodies ($$..$$, $tag$..$tag$) is a
//   marker or a statement end.
// - Without parameters no "?" is touched: PostgreSQL's own "?" operators pass as written.
// - With parameters every other "?" is a marker, except PostgreSQL's operators that can be told
//   from one: "?|" (not "?||"), "?&", "?#", "@?" and a "?" right after "." (as in
//   OPERATOR(pg_catalog.?)). The markers found must number as the parameters given.
// - ";" ends a statement, except inside parentheses (the actions of CREATE RULE ... DO (a; b)) and
//   inside the BEGIN ... END body of a CREATE FUNCTION or CREATE PROCEDURE (BEGIN ATOMIC, where
//   CASE ... END nests too), as psql reads it. Statements holding only blanks and
//   comments are dropped.
// - Each statement numbers its own markers from $1.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "db/core/command_text.h"
#include "db/core/sql_dialects.h"
#include "db/core/sql_lexer.h"

namespace velmora {

// PostgreSQL's quotes, as every reader of its texts takes them (db/core/sql_dialects.h).
inline constexpr const TSqlDialect& kPgDialect = kPostgresSqlDialect;

struct TPgStatement {
  std::string sql;          // one statement, markers as $n
  size_t first_marker = 0;  // index of its first marker among the command's markers
  size_t marker_count = 0;
  bool returns_rows = false;  // begins with SELECT, VALUES, TABLE, SHOW, EXPLAIN or FETCH
};

// Raises EFDException when `marker_count` differs from the markers found.
std::vector<TPgStatement> SplitPgCommandText(std::string_view text, size_t marker_count);

}  // namespace velmora
