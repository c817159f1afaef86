// The Firebird driver (DriverID=FB) on the Firebird client library (db/firebird/fb_api.h).
//
// Parameters:
// - Database: a database file (opened in-process, embedded), or a server path "host:/path/db.fdb",
//   "host/port:/path/db.fdb" or an alias the server knows.
// - Server, Port: a server; the attach string becomes "Server[/Port]:Database".
// - User_Name (SYSDBA when empty: an embedded open checks no password but needs a user), Password.
// - CharacterSet: the connection's character set (UTF8 when absent); text is UTF-8 in datasets
//   whatever it is.
// - Role; LockTimeout: seconds a statement waits for a row another transaction holds (10; 0
//   fails at once); LoginTimeout: seconds an open waits for a server (10).
//
// Transactions: there is no automatic commit on the engine's side. Outside StartTransaction each
// statement runs in a short transaction of its own (read committed, record version, waiting
// LockTimeout for locks), committed as soon as the statement and its rows are done and rolled back
// when it fails; no transaction is left open between calls. StartTransaction begins one of the
// same kind that lasts until Commit or Rollback.
//
// Statements are stopped from outside (fb_cancel_operation, db/core/statement_watch.h): Firebird 3
// has no statement time-out of its own.
//
// An embedded session remembers which file its path names (db/core/file_identity.h): once the path
// no longer names that file, a commit (a statement's own, or Commit) rolls back and fails instead
// of acknowledging writes into a file nobody will read again, and the session reports itself
// unusable. Network and shut-down errors make it unusable as well.
#pragma once

#include <ibase.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "db/core/engine_connection.h"
#include "db/core/file_identity.h"
#include "db/core/sql_dialects.h"
#include "db/core/statement_watch.h"

namespace velmora {

struct TFbApi;

// What a session knows of one table: its primary key and identity columns.
struct TFbTableKeys {
  std::set<std::string> key;
  std::set<std::string> identity;
};

class TFbConnection : public TEngineConnection {
 public:
  // Attaches; raises EFDException for a bad parameter or a missing client library, and
  // EFDDBEngineException with the engine's message when the database cannot be opened.
  explicit TFbConnection(const TStringList& params);
  ~TFbConnection() override;
  TFbConnection(const TFbConnection&) = delete;
  TFbConnection& operator=(const TFbConnection&) = delete;

  bool InTransaction() const override { return transaction_ != 0; }

  std::string UnusableReason(bool look) override;

  std::string TranslateEscape(const TSqlEscape& escape) const override;
  const TSqlDialect& Dialect() const override { return kFirebirdSqlDialect; }
  // The PSQL bodies of module statements (fb_statement_split.h).
  std::vector<TTextRange> VerbatimRanges(std::string_view text) const override;

  std::unique_ptr<TDriverCommand> CreateCommand(std::string sql) override;
  std::unique_ptr<TDriverCommand> CreateStoredProc(std::string_view name,
                                                   std::span<TParam* const> params) override;

  // For the commands of this session.
  const TFbApi& Api() const { return api_; }
  isc_db_handle* Db() { return &db_; }
  // The character set text arrives in and is sent in; empty for UTF-8 (no conversion needed).
  const std::string& TextCharset() const { return text_charset_; }

  // A statement starts: arms the statement stop and returns the transaction it runs in (the open
  // one, else a new one of its own that EndStatement ends).
  isc_tr_handle* BeginStatement();
  // The statement is done: its own transaction is committed (`ok`) or rolled back.
  void EndStatement(bool ok);
  // The watch that stops a running statement; a scope spans the statement's engine calls.
  TStatementWatch& Watch() { return watch_; }
  TStatementStop* Stop() const { return StatementStop(); }

  // Raises the error held in `status`: the statement stop's message for a cancelled call, the
  // engine's own message otherwise; an error that means the database is lost marks the session
  // unusable first.
  [[noreturn]] void Fail(const ISC_STATUS* status);

  // The keys of `table`, read once per session (and again after this session ran DDL).
  const TFbTableKeys& TableKeys(const std::string& table, isc_tr_handle* tr);
  // This session changed metadata: cached keys may be stale.
  void ForgetTableKeys() { keys_.clear(); }

  // Runs `sql` (no parameters) in `tr` and returns the first column of each row as text
  // (trimmed); for the driver's own catalogue look-ups.
  std::vector<std::string> QueryStrings(const std::string& sql, isc_tr_handle* tr);

 protected:
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;

 private:
  void StartTransactionInto(isc_tr_handle* tr);
  // Marks the session unusable with `message` and raises it.
  [[noreturn]] void FailFileChanged(std::string message);

  const TFbApi& api_;
  isc_db_handle db_ = 0;
  isc_tr_handle transaction_ = 0;   // StartTransaction's
  isc_tr_handle statement_tr_ = 0;  // a statement's own, outside StartTransaction
  std::string tpb_;
  std::string text_charset_;
  TFileIdentity file_;  // the embedded database file; a server's is not watched
  std::string unusable_;
  std::map<std::string, TFbTableKeys> keys_;
  TStatementWatch watch_;  // last: its thread ends before the handle goes
};

// Raises EFDDBEngineException with the whole text of `status` (every line fb_interpret gives).
[[noreturn]] void ThrowFbError(const TFbApi& api, const ISC_STATUS* status);
// The whole text of `status`, lines joined with "\n".
std::string FbErrorText(const TFbApi& api, const ISC_STATUS* status);

}  // namespace velmora
