// Whether a statement returns rows (run with SQL2OleVariant) or not (run with ExecSQL), decided
// from its text alone, the same way by every Velmora client:
//
// Skip leading white space, `--` line comments, `/* */` block comments and opening parentheses;
// take the first word (letters, digits and `_`, case-insensitive). The statement returns rows when
// that word is SELECT, WITH, VALUES, TABLE, SHOW, EXPLAIN, DESCRIBE or PRAGMA (PRAGMA only when the
// statement has no `=` outside quotes), or when the keyword RETURNING appears as a word outside
// quotes and comments; otherwise it is a command. Quotes are '...' and "..." (a doubled quote
// inside is part of the text); an unclosed quote or comment runs to the end of the text.
//
// Pure functions of the text; no state, any thread.
#pragma once

#include <string_view>

namespace velmora {

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
