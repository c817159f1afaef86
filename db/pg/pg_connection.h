// The PostgreSQL driver (DriverID=PG) on libpq, loaded at run time (db/pg/libpq_api.h).
//
// Parameters: Server (host; none: the local socket), Port (5432), Database, User_Name, Password;
// every other Name=Value line passes on as a libpq connection parameter (sslmode, sslrootcert,
// options, target_session_attrs ...). connect_timeout is 10 s unless the file gives one;
// client_encoding is UTF8 and application_name Velmora unless it gives others.
//
// The rules of a session:
// - Each statement is sent asynchronously and waited for on the socket, so a statement that runs
//   past its time-out, or whose work is cancelled, is stopped with PQcancel and fails with the
//   statement stop's message (db/core/statement_stop.h); transaction control is never stopped.
// - Outside StartTransaction ... Commit/Rollback every statement commits on its own.
// - A session whose server connection is lost reports it in UnusableReason, so a pool drops it.
//   With `look`, an idle session also reads what the server may have sent meanwhile (a server
//   that shut down has closed the socket), without waiting.
// - A single SELECT without parameters of its own, run outside a transaction block, has its
//   compared literals lifted into typed parameters (db/pg/pg_command.h) and runs as a named
//   prepared statement kept per session: prepared with its first run, in the same round trip,
//   then bound and executed only. At most kKeptStatements are kept, the least recently used
//   closed on the server with the next statement sent. A kept statement that fails is closed and
//   the text runs again as written (see TPgCommand).
// - What a caller may rely on: each call (each hand-out from a pool) finds the session as it was
//   opened: the settings of the connection string and DataBase.CFG's options line (DateStyle ISO,
//   the machine's TimeZone, ...), the login role, no temporary objects, prepared statements,
//   cursors, LISTENs or session locks of an earlier caller. A session on which a statement that
//   may change that state ran (db/pg/pg_session_change.h), or whose settings the server reported
//   changed (standard_conforming_strings, DateStyle, TimeZone, ...: a function's set_config
//   too), is reset with DISCARD ALL before it is handed out again (RestoreSession); its kept
//   statements, gone with it, are forgotten. Within one call, the caller's own changes hold.
// - Column keys and origins come from the catalog, asked once per table per session (forgotten
//   after the session runs CREATE, ALTER or DROP). The column layouts of results are kept with them
//   (db/pg/pg_layouts.h), so a result of a shape seen before is not described again.
//
// Thread contract: one thread at a time uses a session; the statement stop's Cancel may come from
// any thread (the session's own thread sends the PQcancel).
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/core/engine_connection.h"
#include "db/core/statement_cache.h"
#include "db/pg/libpq_api.h"
#include "db/pg/pg_layouts.h"

namespace velmora {

class TStatementStop;

// Owns one PGresult.
class TPgResult {
 public:
  TPgResult() = default;
  TPgResult(const TLibPq* pq, PGresult* result) : pq_(pq), result_(result) {}
  ~TPgResult() { Reset(); }
  TPgResult(TPgResult&& other) noexcept : pq_(other.pq_), result_(other.result_) {
    other.result_ = nullptr;
  }
  TPgResult& operator=(TPgResult&& other) noexcept {
    if (this != &other) {
      Reset();
      pq_ = other.pq_;
      result_ = other.result_;
      other.result_ = nullptr;
    }
    return *this;
  }
  PGresult* get() const { return result_; }
  explicit operator bool() const { return result_ != nullptr; }
  void Reset() {
    if (result_ != nullptr) pq_->clear(result_);
    result_ = nullptr;
  }

 private:
  const TLibPq* pq_ = nullptr;
  PGresult* result_ = nullptr;
};

// What the catalog says of one column of a table.
struct TPgTableColumn {
  std::string name;
  bool not_null = false;
  bool in_key = false;
  bool auto_inc = false;
};
struct TPgTable {
  std::string name;                     // as OriginTable gives it
  std::vector<TPgTableColumn> columns;  // by attribute number - 1 (dropped ones empty)
};

// Parameters of one statement as libpq takes them.
struct TPgSendParams {
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats;
  std::vector<Oid> types;
};

// A named statement prepared on this session's server connection.
struct TPgKeptStatement {
  std::string name;
};

class TPgConnection : public TEngineConnection {
 public:
  static constexpr size_t kKeptStatements = 32;

  // Raises EFDException when libpq cannot be loaded, EFDDBEngineException with libpq's message
  // when the server cannot be reached or refuses the login.
  explicit TPgConnection(const TStringList& params);
  ~TPgConnection() override;
  TPgConnection(const TPgConnection&) = delete;
  TPgConnection& operator=(const TPgConnection&) = delete;

  bool InTransaction() const override;
  bool RestoreSession() override;

  std::string UnusableReason(bool look) override;

  std::string TranslateEscape(const TSqlEscape& escape) const override;
  // E'..' strings, nested comments and dollar-quoted bodies ($$..$$, $tag$..$tag$), which the
  // command-text layer then takes as written.
  const TSqlDialect& Dialect() const override { return kPostgresSqlDialect; }

  std::unique_ptr<TDriverCommand> CreateCommand(std::string sql) override;
  std::unique_ptr<TDriverCommand> CreateStoredProc(std::string_view name,
                                                   std::span<TParam* const> params) override;

  // For the commands of this session. Each arms the statement stop first (raising when the work
  // is cancelled) and raises the engine's error, or the stop's message for a stopped statement.
  // Runs one statement; without `arm`, as part of the statement armed last.
  TPgResult Exec(const std::string& sql, const TPgSendParams& params, bool arm = true);
  // Prepares one statement unnamed and describes it (no rows run), in one round trip where libpq
  // has pipeline mode; ExecutePrepared runs what it prepared.
  TPgResult PrepareAndDescribe(const std::string& sql, const TPgSendParams& params);
  TPgResult ExecutePrepared(const TPgSendParams& params);

  // Named statements, kept only where libpq has pipeline mode (14 and later).
  bool CanKeepStatements() const { return pq_.enterPipelineMode != nullptr; }
  // The kept statement of `key`, taken out of the cache (nullopt when none is kept).
  std::optional<TPgKeptStatement> TakeStatement(std::string_view key) {
    return statements_.Take(key);
  }
  // Keeps `statement` under `key`; whatever the cache lets go is closed with the next send.
  void KeepStatement(std::string key, TPgKeptStatement statement);
  // Closes `statement` on the server with the next statement sent (closing a statement that
  // was never made is harmless).
  void CloseStatement(TPgKeptStatement statement) { closing_.push_back(std::move(statement.name)); }
  // A name no statement of this session has had.
  TPgKeptStatement NewStatement();
  // Runs the named statement, prepared first from `prepare_sql` (with params.types) unless it is
  // nullptr; statements waiting to be closed are closed first, their errors ignored. One round
  // trip. Arms the statement stop as Exec does.
  TPgResult RunNamed(const TPgKeptStatement& statement, const std::string* prepare_sql,
                     const TPgSendParams& params);
  // Whether a statement that just failed may run again as part of the same call: the session is
  // usable and the statement was not stopped. Raises the stop's message when it was.
  bool MayRunAgain();
  // The catalog's table `table_oid` (nullptr when it is not there).
  const TPgTable* Table(Oid table_oid);
  // The field definitions and readers of `result`'s columns: kept from an earlier result of the
  // same shape, else built from the types and the catalog and kept.
  std::shared_ptr<const TPgLayout> Layout(const PGresult* result);
  // Whether the server reads '..' without backslash escapes, as the driver's lexer does.
  bool StandardStrings() const;
  // A statement that may change the session's state runs (or ran) through it.
  void NoteSessionChange() { session_changed_ = true; }
  // The server dropped every prepared statement (DISCARD ALL, DEALLOCATE ALL): none is kept.
  void ForgetKeptStatements() { statements_.Clear(); }
  // After DDL run through this session.
  void ForgetCatalog() {
    tables_.clear();
    layouts_.Clear();
  }

  const TLibPq& Api() const { return pq_; }

 protected:
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;
  bool TransactionEndedByEngine() override;

 private:
  // The last result of what was sent (the first error raised instead). `pipeline_syncs`: the
  // statements were sent in pipeline mode in that many segments, each ended by a sync; the mode
  // is left afterwards. `first_segment_errors_ignored`: errors before the first sync are not
  // raised (closing statements).
  TPgResult Await(bool stoppable, int pipeline_syncs = 0,
                  bool first_segment_errors_ignored = false);
  TPgResult RunControl(const char* sql);
  // The reported settings (db/pg/pg_connection.cpp, kReportedSettings) as they are now.
  std::vector<std::optional<std::string>> ReportedSettings() const;
  [[noreturn]] void FailConnection(const std::string& message);
  bool ConnectionLost();

  const TLibPq& pq_;
  PGconn* conn_ = nullptr;
  PGcancel* cancel_ = nullptr;
  bool transaction_begun_ = false;
  std::string unusable_;
  std::unordered_map<Oid, TPgTable> tables_;
  TPgLayouts layouts_;
  TStatementCache<TPgKeptStatement> statements_{kKeptStatements};
  std::vector<std::string> closing_;  // statement names to close with the next send
  uint64_t statement_serial_ = 0;
  bool session_changed_ = false;
  std::vector<std::optional<std::string>> opened_settings_;  // ReportedSettings() at the open
};

// The libpq connection string for a DataBase.CFG parameter list (every value single-quoted, "\"
// and "'" escaped). Exposed for its tests.
std::string BuildPgConnInfo(const TStringList& params);

// Raises EFDDBEngineException with the message of a failed result (severity, primary message,
// detail, hint as libpq writes them), its SQLSTATE packed into the code.
[[noreturn]] void ThrowPgResultError(const TLibPq& pq, const PGresult* result);

}  // namespace velmora
