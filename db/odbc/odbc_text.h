// Text helpers of the ODBC driver: the split of a command text into statements for drivers that
// take one statement per call. (UTF-16, unixODBC's SQLWCHAR, to and from UTF-8 is
// db/core/text_encoding.h's.)
#pragma once

#include <sql.h>

#include <string>
#include <string_view>
#include <vector>

#include "db/core/sql_lexer.h"

namespace velmora {

bool IsAscii(std::string_view text);

struct TOdbcStatementText {
  std::string sql;
  int markers = 0;  // "?" markers of this statement
};

// The quotes of the engines an ODBC driver may stand for: '..', "..", [..] ("]]" inside is one
// "]") and `..`.
inline constexpr TSqlDialect kOdbcDialect{
    .bracket_names = true, .bracket_doubling = true, .backtick_names = true};

// PostgreSQL's, for its ODBC driver, which must get a text one statement per call (the server
// runs a text of several statements as one implicit transaction, so a failing later statement
// would undo the earlier ones, where every other engine keeps them): '..' and E'..' with
// backslash escapes, "..", nested /* */, and dollar-quoted bodies ($$..$$, $tag$..$tag$) read
// through whole, so a ";" or "?" inside one ends no statement and counts as no marker. A "$"
// inside a word (a$b$) or before a digit ($1) opens no body.
inline constexpr TSqlDialect kOdbcPostgresDialect{.e_strings = true,
                                                  .nested_comments = true,
                                                  .dollar_bodies = true,
                                                  .dollar_in_words = true,
                                                  .dollar_starts_words = true};

// Splits at each ";" outside the dialect's string literals, quoted identifiers, comments and
// dollar bodies, and outside BEGIN ... END bodies of a CREATE TRIGGER (CASE ... END nests too);
// counts the "?" markers of each statement. Comments are left out of the statements (each
// becomes a blank), and so are statements holding only blanks and comments.
std::vector<TOdbcStatementText> SplitOdbcStatements(std::string_view sql,
                                                    const TSqlDialect& dialect = kOdbcDialect);

}  // namespace velmora
