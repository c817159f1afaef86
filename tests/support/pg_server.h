// PostgreSQL for tests: the server CTest starts for a run of velmora_pg_test cases, a private
// cluster for a test that stops and starts its server, a throwaway database per test, psql.
//
// The rules:
// - A case never works in another's database: PgTestDatabase makes a fresh one, dropped (its
//   sessions ended) when the object goes, so cases of one run share the server in parallel.
// - Outside CTest (a test binary run by hand) there is no shared server: REQUIRE_PG_SERVER skips.
// - A private PgCluster is stopped and removed when the object goes, also when the test fails.
#pragma once

#include <optional>
#include <string>

#include "tests/support/temp_dir.h"

namespace velmora::test {

struct PgServer {
  std::string socket_dir;  // PGHOST for local sessions (psql)
  int port = 0;            // on 127.0.0.1 as well
  std::string user;        // a superuser, trusted without a password
};

// The server of this CTest run, or nullopt when VELMORA_PG_CLUSTER is not set.
std::optional<PgServer> SharedPgServer();

// Runs `sql` through psql in database `database`, stopping at the first error. Returns psql's
// unaligned, tuples-only output. Raises std::runtime_error with psql's messages on failure.
std::string RunPsql(const PgServer& server, const std::string& database, const std::string& sql);

class PgTestDatabase {
 public:
  explicit PgTestDatabase(PgServer server);
  ~PgTestDatabase();
  PgTestDatabase(const PgTestDatabase&) = delete;
  PgTestDatabase& operator=(const PgTestDatabase&) = delete;

  const std::string& Name() const { return name_; }
  const PgServer& Server() const { return server_; }
  // DataBase.CFG lines for DriverID=PG over TCP to 127.0.0.1 (one per line, no trailing newline).
  std::string ConnectionLines() const;
  // RunPsql in this database.
  std::string Psql(const std::string& sql) const { return RunPsql(server_, name_, sql); }

 private:
  PgServer server_;
  std::string name_;
};

// A cluster of the test's own, started by the constructor.
class PgCluster {
 public:
  PgCluster();
  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  const PgServer& Server() const { return server_; }
  // Stops the server (its sessions are cut) and starts it again on the same port.
  void Pause();
  void Resume();

 private:
  std::string dir_;
  PgServer server_;
};

}  // namespace velmora::test

// Skips the test when this run has no shared server; otherwise declares `server`.
#define REQUIRE_PG_SERVER(server)                                                \
  const auto server##_found = ::velmora::test::SharedPgServer();                 \
  if (!server##_found) GTEST_SKIP() << "no PostgreSQL server (run under ctest)"; \
  const ::velmora::test::PgServer& server = *server##_found
