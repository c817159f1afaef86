// The ODBC driver (DriverID=MSSQL, MSAcc or ODBC) on unixODBC, loaded when the first connection
// opens (db/odbc/odbc_api.h). db/odbc/odbc_connection_string.h says how the parameters become
// the connection string; docs/odbc-types.md gives the types and what each tested driver does.
//
// The rules:
// - The login waits at most LoginTimeout seconds (10 unless the file says otherwise;
//   SQL_ATTR_LOGIN_TIMEOUT): the pool opens connections under its lock. A missing driver or an
//   unreachable server fails the open with the driver manager's or driver's own message.
// - Outside a transaction the driver commits each statement (ODBC's automatic commit).
//   StartTransaction turns it off until Commit or Rollback; with a driver that has no
//   transactions (MDB Tools) StartTransaction, Commit and Rollback only keep the state, so a
//   write reaches the engine and its own refusal reaches the caller.
// - A running statement is stopped with SQLCancel from the session's statement watch.
// - An error whose SQLSTATE says the connection is gone (class 08, "HYT01") makes the session
//   unusable, and so does, for SQLite's driver, the database file deleted or replaced since the
//   session opened it (the driver itself never reports its connection dead: its statements on
//   the lost file only fail). A failed call and UnusableReason with `look` stat the file.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "db/core/engine_connection.h"
#include "db/core/file_identity.h"
#include "db/core/sql_dialects.h"
#include "db/core/statement_watch.h"
#include "db/odbc/odbc_api.h"

namespace velmora {

class TStatementStop;

class TOdbcConnection : public TEngineConnection {
 public:
  // Connects; raises EFDException for a bad parameter or a missing driver manager, and
  // EFDDBEngineException with the driver's diagnostics when the login fails.
  explicit TOdbcConnection(const TStringList& params);
  ~TOdbcConnection() override;
  TOdbcConnection(const TOdbcConnection&) = delete;
  TOdbcConnection& operator=(const TOdbcConnection&) = delete;

  bool InTransaction() const override { return transaction_begun_; }

  std::string UnusableReason(bool look) override;
  std::string TranslateEscape(const TSqlEscape& escape) const override;
  // The dialect of the database behind the driver (SQL_DBMS_NAME): PostgreSQL's and SQLite's as
  // their native engines read them, so that a ":NAME" or "?" inside a dollar body or an E'..'
  // string is the engine's; for any other source, '..', "..", [..] and `..`.
  const TSqlDialect& Dialect() const override { return *dialect_; }

  std::unique_ptr<TDriverCommand> CreateCommand(std::string sql) override;
  std::unique_ptr<TDriverCommand> CreateStoredProc(std::string_view name,
                                                   std::span<TParam* const> params) override;

  // For the commands of this session.
  const TOdbcApi& Api() const { return api_; }
  SQLHDBC Handle() const { return dbc_; }
  // How a command text of several statements reaches the driver: whole, when the driver runs a
  // batch in one call (SQL_MULT_RESULT_SETS "Y") and the server commits each of its statements on
  // its own; else split by the session's Dialect and sent one statement per call. PostgreSQL runs
  // a batch as one implicit transaction (a failing statement would undo the ones before it), so
  // its texts are split.
  enum class TBatches { kWhole, kSplit };
  TBatches Batches() const { return batches_; }
  // The driver is SQLite's (SQL_DBMS_NAME "SQLite"): escapes are rewritten into SQLite's SQL here
  // (db/core/sqlite_escape_sql.h), as the driver would pass ODBC's function names on unchanged and
  // fails on an escape nested in another; and column types are read by their declared names
  // (MapSQLiteDriverColumnType).
  bool IsSQLite() const { return sqlite_; }
  // A statement starts on `stmt`: arms the statement stop and opens the watch's scope.
  void BeginStatement(SQLHSTMT stmt);
  // The statement has ended (or failed): closes the watch's scope.
  void EndStatement();
  // Raises the error of a failed call on `stmt`: the statement stop's message when the watch
  // stopped it, the driver's diagnostics otherwise (marking the session unusable when they say
  // the connection is gone).
  [[noreturn]] void FailStatement(SQLHSTMT stmt, SQLRETURN rc);
  // Whether `column` of `table` is part of its primary key (SQLPrimaryKeys, asked once per table
  // per session; a driver that cannot answer gives no keys).
  bool IsKeyColumn(const std::string& schema, const std::string& table, const std::string& column);

 protected:
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;

 private:
  [[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN rc);
  void SetAutoCommit(bool on);
  void EndTransaction(SQLSMALLINT completion);
  std::string InfoText(SQLUSMALLINT info);
  void WatchDatabaseFile();
  void NoticeFileChange();

  const TOdbcApi& api_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  bool has_transactions_ = true;
  TBatches batches_ = TBatches::kWhole;
  bool sqlite_ = false;
  const TSqlDialect* dialect_ = &kOdbcSqlDialect;
  bool has_procedures_ = true;
  std::string driver_name_;
  bool transaction_begun_ = false;
  std::string unusable_;
  // The database file SQLite's driver opened, as it was at the open; other drivers watch none.
  TFileIdentity file_;
  std::map<std::string, std::set<std::string>> keys_;  // "schema.table" -> key columns, upper case
  SQLHSTMT running_ = SQL_NULL_HSTMT;                  // the statement the watch may cancel
  std::unique_ptr<TStatementWatch> watch_;
  std::unique_ptr<TStatementWatch::Scope> scope_;  // last: closed before the watch ends
};

// Raises EFDDBEngineException with the diagnostic records of `handle` (every record's message,
// one per line; the first record's native error as the code).
[[noreturn]] void ThrowOdbcError(const TOdbcApi& api, SQLSMALLINT type, SQLHANDLE handle,
                                 SQLRETURN rc);

// Whether a SQLSTATE means the connection is gone.
bool OdbcStateMeansConnectionLost(std::string_view sqlstate);

}  // namespace velmora
