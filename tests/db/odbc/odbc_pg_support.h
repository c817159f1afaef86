// A PostgreSQL test database reached through PostgreSQL's ODBC driver (odbc-postgresql,
// registered as "PostgreSQL Unicode").
#pragma once

#include <string>

#include "tests/support/pg_server.h"

namespace velmora::test {

// DataBase.CFG lines for DriverID=ODBC on `db`.
inline std::string OdbcPgLines(const PgTestDatabase& db) {
  return "DriverID=ODBC\nODBCDriver=PostgreSQL Unicode\nServer=127.0.0.1\nPort=" +
         std::to_string(db.Server().port) + "\nDatabase=" + db.Name() +
         "\nUser_Name=" + db.Server().user;
}

}  // namespace velmora::test
