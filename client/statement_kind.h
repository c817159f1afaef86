// Whether a statement returns rows (run with SQL2OleVariant) or not (run with ExecSQL), decided
// from its text alone, the same way by every Velmora client:
//
// Skip leading white space, `--` line comments, `/* */` block comments and opening parentheses;
// take the first word (ASCII letters, digits and `_`, case-insensitive). The statement returns
// rows when that word is SELECT, WITH, VALUES, TABLE, SHOW, EXPLAIN, DESCRIBE or PRAGMA (PRAGMA
// only when the statement has no `=` outside quotes), or when the keyword RETURNING appears as a
// word outside quotes, bodies and comments; otherwise it is a command. The text is read by the
// server's own lexer in kClientSqlDialect (below); an unclosed quote or comment runs to the end.
//
// Pure functions of the text; no state, any thread.
#pragma once

#include <string_view>

#include "db/core/sql_lexer.h"

namespace velmora {

// How a client reads SQL text without knowing the engine behind the server: the quotes of every
// engine at once ('..', "..", [..], `..`), and PostgreSQL's E'..' strings with backslash escapes,
// nested comments and dollar-quoted bodies, as psql reads them. (A text of another engine reads
// otherwise only where a comment holds "/*", or a lone E stands before a quote.)
inline constexpr TSqlDialect kClientSqlDialect{.e_strings = true,
                                               .bracket_names = true,
                                               .backtick_names = true,
                                               .nested_comments = true,
                                               .dollar_bodies = true,
                                               .dollar_in_words = true,
                                               .dollar_starts_words = true};

enum class StatementKind {
  Rows,     // SQL2OleVariant: the result comes back as a data packet
  Command,  // ExecSQL: no result
};

// The caller's choice: decide by the text, or force either way.
enum class StatementRun { ByText, AsRows, AsCommand };

StatementKind StatementKindOf(std::string_view sql);

inline StatementKind StatementKindOf(std::string_view sql, StatementRun run) {
  switch (run) {
    case StatementRun::AsRows:
      return StatementKind::Rows;
    case StatementRun::AsCommand:
      return StatementKind::Command;
    case StatementRun::ByText:
      break;
  }
  return StatementKindOf(sql);
}

}  // namespace velmora
