// The two ways a text reaches the database: the server (an in-process server, called through
// TVelmoraClient's SQL2OleVariant and ExecSQL, the result read from its packet) and the engine's
// own client library (sqlite3, libpq) on the same database in a session of its own.
//
// Thread rules: one thread uses a session.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "client/velmora_client.h"
#include "tests/db/differential/outcome.h"

namespace velmora::test::differential {

class Session {
 public:
  virtual ~Session() = default;
  virtual Outcome Query(const std::string& sql) = 0;
  // A statement without rows; the engine's error, or "".
  virtual std::string Exec(const std::string& sql) = 0;
};

// Points the server's DataBase.CFG in `folder` at a database: `lines` are Name=Value lines
// separated by "\n".
void WriteServerDatabase(const std::string& folder, const std::string& lines);

// sqlite3 on the file, waiting for the server's locks.
std::unique_ptr<Session> OpenSqliteSession(const std::string& path);
// libpq with `conninfo`; the session's TimeZone set to this process's (UTC), as the server's.
std::unique_ptr<Session> OpenPgSession(const std::string& conninfo);
// The server on 127.0.0.1:port; values in the canonical form of outcome.h.
std::unique_ptr<Session> OpenServerSession(uint16_t port, const std::string& user,
                                           const std::string& password);

}  // namespace velmora::test::differential
