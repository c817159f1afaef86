// Text helpers of the ODBC driver: the split of a command text into statements for drivers that
// take one statement per call. (UTF-16, unixODBC's SQLWCHAR, to and from UTF-8 is
// db/core/text_encoding.h's.)
#pragma once

#include <sql.h>

#include <string>
#include <string_view>
#include <vector>

#include "db/core/sql_dialects.h"
#include "db/core/sql_lexer.h"

namespace velmora {

bool IsAscii(std::string_view text);

struct TOdbcStatementText {
  std::string sql;
  int markers = 0;  // "?" markers of this statement
};

// Splits at each ";" outside the dialect's string literals, quoted identifiers, comments and
// dollar bodies (db/core/sql_dialects.h: the dialect of the database behind the driver), outside
// parentheses, and outside BEGIN ... END bodies of a CREATE TRIGGER (CASE ... END nests too);
// counts the "?" markers of each statement. Comments are left out of the statements (each becomes a
// blank), and so are statements holding only blanks and comments.
std::vector<TOdbcStatementText> SplitOdbcStatements(std::string_view sql,
                                                    const TSqlDialect& dialect = kOdbcSqlDialect);

}  // namespace velmora
