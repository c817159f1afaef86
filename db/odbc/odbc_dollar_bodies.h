// Statements of a command text for PostgreSQL's ODBC driver, which must get them one per call:
// the server runs a text of several statements as one implicit transaction, so a failing later
// statement would undo the earlier ones, where every other engine keeps them (each committed on
// its own outside a transaction).
//
// The rules:
// - The split is SplitOdbcStatements' (odbc_text.h), except that PostgreSQL's dollar-quoted
//   bodies ($$..$$, $tag$..$tag$) are read through whole: a ";" or "?" inside one ends no
//   statement and counts as no marker.
// - A "$" opens a body only outside string literals ('..' and E'..' with backslash escapes),
//   quoted identifiers ("..") and comments (-- and nested /* */), and not inside a word
//   (a$b$ is a name); the body runs to the next identical tag, or to the end of the text.
//
// Thread contract: none (pure functions).
#pragma once

#include <string_view>
#include <vector>

#include "db/core/command_text.h"
#include "db/odbc/odbc_text.h"

namespace velmora {

// Where the dollar-quoted bodies of `text` lie, tags included, in order.
std::vector<TTextRange> OdbcDollarQuotedBodies(std::string_view text);

// `sql` split into statements by the rules above.
std::vector<TOdbcStatementText> SplitOdbcStatementsWithDollarBodies(std::string_view sql);

}  // namespace velmora
