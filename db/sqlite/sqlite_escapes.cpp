// Escape sequences rewritten for SQLite (db/core/sqlite_escape_sql.h, shared with ODBC's SQLite
// driver).
#include "db/core/sqlite_escape_sql.h"
#include "db/sqlite/sqlite_connection.h"

namespace velmora {

std::string TSQLiteConnection::TranslateEscape(const TSqlEscape& e) const {
  return SQLiteEscapeSql(e);
}

}  // namespace velmora
