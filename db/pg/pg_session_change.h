// Which PostgreSQL statements leave their session in a state a later caller of the pooled
// session must not inherit: settings (SET, RESET, set_config), the role, temporary objects,
// prepared statements and cursors of the client's own, LISTEN, loaded libraries, session-level
// advisory locks, and DO blocks (which may do any of these). Read with the SQL lexer, so that
// words inside strings, quoted names, comments or dollar bodies count for nothing.
//
// SET LOCAL, SET TRANSACTION and SET CONSTRAINTS end with their transaction and do not count.
// What a function or procedure does inside is not seen here; the session's reported settings are
// compared as well (db/pg/pg_connection.h).
#pragma once

#include <string_view>

namespace velmora {

bool ChangesPgSession(std::string_view statement);

}  // namespace velmora
