#include "tests/db/conformance/engines.h"

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "db/firebird/fb_api.h"
#include "db/firebird/fb_connection.h"
#include "tests/db/odbc/odbc_pg_support.h"
#include "tests/support/pg_server.h"
#include "tests/support/temp_dir.h"

// Full stacks for leak reports: MDB Tools is built without frame pointers, and the suppression of
// its parser's leak (tests/lsan.supp) must see the Access driver's frames to match.
extern "C" const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0";
}

namespace velmora::test {
namespace {

// A database file in a fresh folder; losing it deletes the file under the open session.
class FileSite : public EngineSite {
 public:
  FileSite(std::string lines_before_path, const char* file_name, const char* lines_after_path = "")
      : path_(dir_.File(file_name)),
        lines_(std::move(lines_before_path) + path_ + lines_after_path) {}
  std::string Lines() const override { return lines_; }
  void LoseSession(TFDConnection&) override { ASSERT_EQ(::unlink(path_.c_str()), 0) << path_; }
  const std::string& Path() const { return path_; }

 private:
  TempDir dir_;
  std::string path_;
  std::string lines_;
};

// A database of the run's PostgreSQL server; losing it ends every other session on it, as an
// administrator or a restarted server would.
class PgSite : public EngineSite {
 public:
  PgSite(const PgServer& server, bool through_odbc) : db_(server), odbc_(through_odbc) {}
  std::string Lines() const override { return odbc_ ? OdbcPgLines(db_) : db_.ConnectionLines(); }
  void LoseSession(TFDConnection&) override {
    // The second argument waits until the sessions have ended.
    db_.Psql(
        "SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
        "WHERE datname = current_database() AND pid <> pg_backend_pid()");
  }

 private:
  PgTestDatabase db_;
  bool odbc_;
};

// The Access fixture, opened as it is: nothing may change it.
class AccessSite : public EngineSite {
 public:
  explicit AccessSite(std::string path) : path_(std::move(path)) {}
  std::string Lines() const override {
    return "DriverID=MSAcc\nUser_Name=Admin\nDatabase=" + path_;
  }
  void LoseSession(TFDConnection&) override {}

 private:
  std::string path_;
};

std::unique_ptr<EngineSite> MakeSQLite(std::string&) {
  return std::make_unique<FileSite>("DriverID=SQLite\nCreateDatabase=Yes\nDatabase=", "c.db");
}

// An empty UTF8 database made through the client library, detached again so that the file is
// free for the case's sessions. (The Firebird tests' own helper comes with process-wide leak
// checking options that would hide the other engines' faults here.)
std::unique_ptr<EngineSite> MakeFirebird(std::string&) {
  auto site = std::make_unique<FileSite>("DriverID=FB\nUser_Name=SYSDBA\nDatabase=", "c.fdb");
  const TFbApi& api = FbApi();
  ISC_STATUS_ARRAY status{};
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
  const std::string sql = "CREATE DATABASE '" + site->Path() +
                          "' USER 'SYSDBA' PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8";
  if (api.isc_dsql_execute_immediate(status, &db, &tr, 0, sql.c_str(), SQL_DIALECT_V6, nullptr) ||
      api.isc_detach_database(status, &db)) {
    throw std::runtime_error(FbErrorText(api, status));
  }
  return site;
}

std::unique_ptr<EngineSite> MakePg(std::string& skip, bool through_odbc) {
  const std::optional<PgServer> server = SharedPgServer();
  if (!server) {
    skip = "no PostgreSQL server (run under ctest)";
    return nullptr;
  }
  return std::make_unique<PgSite>(*server, through_odbc);
}

std::unique_ptr<EngineSite> MakeOdbcSQLite(std::string&) {
  return std::make_unique<FileSite>("DriverID=ODBC\nODBCDriver=SQLite3\nDatabase=", "o.db");
}

std::unique_ptr<EngineSite> MakeAccess(std::string& skip) {
  const char* path = std::getenv("VELMORA_TEST_MDB");
  if (path == nullptr || *path == '\0') {
    skip = "VELMORA_TEST_MDB is not set (the Access fixture DateTestDatabase.mdb)";
    return nullptr;
  }
  return std::make_unique<AccessSite>(path);
}

// Counts without a bound: runs until stopped.
constexpr const char* kSQLiteRunaway =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT COUNT(*) FROM c";
constexpr const char* kFileDeleted =
    "The database file was deleted since this connection opened it";
constexpr const char* kPgAddOne =
    "CREATE FUNCTION add_one(a integer, OUT b integer) LANGUAGE sql AS 'SELECT a + 1'";

const Engine kEngines[] = {
    {
        .id = EngineId::kSQLite,
        .name = "SQLite",
        .make_site = MakeSQLite,
        .dual = "",
        .select_one = "SELECT 1 AS V",
        .writes = {},
        .missing_table = {"no such table: no_such_table"},
        .duplicate_key = {"UNIQUE constraint failed: "},
        .statements_before_a_failing_one = {},
        .failed_statement_in_transaction = {},
        .runaway = {kSQLiteRunaway},
        .runaway_without_rows = nullptr,
        .lost_session = {kFileDeleted},
        .procedure = {nullptr, "Stored procedures are not supported by the SQLite driver"},
        .procedure_name = "ADD_ONE",
    },
    {
        .id = EngineId::kFirebird,
        .name = "Firebird",
        .make_site = MakeFirebird,
        .dual = " FROM RDB$DATABASE",
        .select_one = "SELECT 1 AS V FROM RDB$DATABASE",
        .writes = {},
        .missing_table = {"Table unknown\nNO_SUCH_TABLE"},
        .duplicate_key = {"violation of PRIMARY or UNIQUE KEY constraint"},
        .statements_before_a_failing_one = {},
        .failed_statement_in_transaction = {},
        // Billions of rows to count; ExecSQL of a SELECT fetches nothing, so a PSQL loop that never
        // ends stands in for it there.
        .runaway = {"SELECT COUNT(*) FROM RDB$FIELDS A, RDB$FIELDS B, RDB$FIELDS C, RDB$FIELDS D"},
        .runaway_without_rows =
            "EXECUTE BLOCK AS DECLARE I BIGINT = 0; BEGIN WHILE (1 = 1) DO I = I + 1; END",
        .lost_session = {kFileDeleted},
        .procedure = {"CREATE PROCEDURE ADD_ONE (A INTEGER) RETURNS (B INTEGER) AS\n"
                      "BEGIN\n  B = A + 1;\nEND"},
        .procedure_name = "ADD_ONE",
    },
    {
        .id = EngineId::kPg,
        .name = "Pg",
        .make_site = [](std::string& skip) { return MakePg(skip, false); },
        .dual = "",
        .select_one = "SELECT 1 AS V",
        .writes = {},
        .missing_table = {"ERROR:  relation \"no_such_table\" does not exist"},
        .duplicate_key = {"duplicate key value violates unique constraint"},
        .statements_before_a_failing_one = {},
        .failed_statement_in_transaction =
            {"The transaction was rolled back: a statement in it failed before the commit"},
        .runaway = {"SELECT pg_sleep(60)"},
        .runaway_without_rows = nullptr,
        .lost_session = {"terminating connection due to administrator command"},
        .procedure = {kPgAddOne},
        .procedure_name = "add_one",
    },
    {
        .id = EngineId::kOdbcSQLite,
        .name = "OdbcSQLite",
        .make_site = MakeOdbcSQLite,
        .dual = "",
        .select_one = "SELECT 1 AS V",
        .writes = {},
        .missing_table = {"no such table: no_such_table"},
        .duplicate_key = {"UNIQUE constraint failed: "},
        .statements_before_a_failing_one = {},
        .failed_statement_in_transaction = {},
        .runaway = {kSQLiteRunaway},
        .runaway_without_rows = nullptr,
        .lost_session = {kFileDeleted},
        .procedure = {nullptr,
                      "Stored procedures are not supported by the ODBC driver sqlite3odbc.so"},
        .procedure_name = "ADD_ONE",
    },
    {
        .id = EngineId::kOdbcPg,
        .name = "OdbcPg",
        .make_site = [](std::string& skip) { return MakePg(skip, true); },
        .dual = "",
        .select_one = "SELECT 1 AS V",
        .writes = {},
        .missing_table = {"relation \"no_such_table\" does not exist"},
        .duplicate_key = {"duplicate key value violates unique constraint"},
        .statements_before_a_failing_one = {},
        .failed_statement_in_transaction = {},
        .runaway = {"SELECT pg_sleep(60)"},
        .runaway_without_rows = nullptr,
        .lost_session = {"The connection to the database was lost"},
        .procedure = {kPgAddOne},
        .procedure_name = "add_one",
    },
    {
        .id = EngineId::kAccess,
        .name = "Access",
        .make_site = MakeAccess,
        .dual = "",
        .select_one = "SELECT IDCol FROM DateTest WHERE IDCol = 1",
        .writes = {nullptr, "MDB Tools' ODBC driver reads Access files but cannot write them"},
        // MDB Tools gives this one message for every statement it refuses; its reason goes to the
        // standard error only.
        .missing_table = {"Couldn't parse SQL"},
        .duplicate_key = {nullptr, "no writes"},
        .statements_before_a_failing_one = {nullptr, "no writes"},
        .failed_statement_in_transaction = {nullptr, "no writes"},
        .runaway = {nullptr, "MDB Tools' ODBC driver has no cancel"},
        .runaway_without_rows = nullptr,
        .lost_session = {nullptr, "the fixture is shared and read-only: it is never deleted"},
        .procedure = {nullptr, "Stored procedures are not supported by the ODBC driver in use"},
        .procedure_name = "ADD_ONE",
    },
};

}  // namespace

std::vector<const Engine*> Engines() {
  std::vector<const Engine*> all;
  for (const Engine& engine : kEngines) all.push_back(&engine);
  return all;
}

}  // namespace velmora::test
