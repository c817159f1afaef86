// Which SQLite statements leave their connection in a state a later caller of the pooled
// connection must not inherit: a PRAGMA that sets something (foreign_keys, case_sensitive_like,
// recursive_triggers, busy_timeout, cache_size, ...), ATTACH and DETACH, and temporary objects
// (CREATE TEMP ..., anything in the temp schema). Read with the SQL lexer (`dialect`: SQLite's
// quoting), so that words inside strings, quoted names or comments count for nothing.
//
// A PRAGMA that only reads (no "=" and no argument, or one of the pragmas that take an argument
// only to read, such as table_info(T)) does not count.
#pragma once

#include <string_view>

#include "db/core/sql_lexer.h"

namespace velmora {

bool ChangesSQLiteSession(std::string_view statement, const TSqlDialect& dialect);

}  // namespace velmora
