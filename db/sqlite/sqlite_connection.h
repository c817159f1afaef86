// The SQLite driver (DriverID=SQLite) on libsqlite3.
//
// Parameters: Database (the file), and, each optional: CreateDatabase (No: the file must exist;
// Yes creates it when missing), JournalMode (WAL), LockingMode (NORMAL), BusyTimeout (10000 ms),
// Synchronous (the engine's default), ForeignKeys (On). User_Name and Password are not used by the
// engine.
//
// A session remembers which file its path names when it opens (db/core/file_identity.h). A
// statement that writes, and a commit, first check the path still names that file: a database
// deleted or replaced under a running server fails the write ("The database file was deleted or
// replaced ...") instead of acknowledging it into a file nobody will read again, and the session
// reports itself unusable.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

#include "db/core/engine_connection.h"
#include "db/core/file_identity.h"
#include "db/core/sql_dialects.h"
#include "db/core/statement_cache.h"
#include "db/sqlite/sqlite_statement.h"

namespace velmora {

class TStatementStop;

class TSQLiteConnection : public TEngineConnection {
 public:
  // Opens the database; raises EFDException for a bad parameter and EFDDBEngineException when
  // the engine cannot open it (the message names the file).
  explicit TSQLiteConnection(const TStringList& params);
  ~TSQLiteConnection() override;
  TSQLiteConnection(const TSQLiteConnection&) = delete;
  TSQLiteConnection& operator=(const TSQLiteConnection&) = delete;

  bool InTransaction() const override;

  std::string UnusableReason(bool look) override;
  // A connection on which a statement changed what later callers would inherit (its pragmas,
  // attached databases, temporary objects: sqlite_session_change.h) is not restored in place:
  // the pool closes it, and a new one opens with DataBase.CFG's settings, cheaply.
  bool RestoreSession() override { return !session_changed_; }
  void NoteSessionChange() { session_changed_ = true; }

  // A consistent copy of the database file, named after it (sqlite_backup.h); raises for an
  // in-memory or temporary database.
  std::optional<std::string> BackUp(const TBackupFileNamer& file_for) override;

  std::string TranslateEscape(const TSqlEscape& escape) const override;
  const TSqlDialect& Dialect() const override { return kSQLiteSqlDialect; }

  std::unique_ptr<TDriverCommand> CreateCommand(std::string sql) override;
  std::unique_ptr<TDriverCommand> CreateStoredProc(std::string_view name,
                                                   std::span<TParam* const> params) override;

  sqlite3* Handle() const { return db_; }

  // For the commands of this session. A statement starts: arms the statement stop and, for one
  // that writes, checks the file is still the one opened. Raises as the checks fail. A statement
  // run again (`again`) inside a transaction skips the file check: Commit makes it before the
  // transaction's writes are acknowledged, and a statement run many times (ApplyUpdates) is spared
  // one look at the file each.
  void BeginStatement(sqlite3_stmt* stmt, bool again = false);
  // Raises the error for engine result `rc`: the statement stop's message for an interrupted
  // statement, the engine's own message otherwise; an error that means the database is lost
  // marks the session unusable first.
  [[noreturn]] void Fail(int rc);

  // The statements of one-statement texts this session ran before, kept to run again
  // (TSQLiteCommand takes and gives back; db/core/statement_cache.h states the rules).
  TStatementCache<TSQLiteStatement>& Statements() { return statements_; }

  // How many statements a session keeps prepared.
  static constexpr size_t kCachedStatements = 32;

 protected:
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;
  bool TransactionEndedByEngine() override;

 private:
  void Exec(const char* sql);
  // Marks the session unusable with `message` and raises it.
  [[noreturn]] void FailFileChanged(std::string message);
  static int OnProgress(void* self);

  sqlite3* db_ = nullptr;
  TFileIdentity file_;              // watches nothing for an in-memory or temporary database
  bool transaction_begun_ = false;  // StartTransaction began one not yet ended by this session
  std::string unusable_;
  bool session_changed_ = false;  // see RestoreSession
  // Cleared by the destructor before the database closes.
  TStatementCache<TSQLiteStatement> statements_{kCachedStatements};
};

// Raises EFDDBEngineException with the engine's message for `rc` on `db`.
[[noreturn]] void ThrowSQLiteError(sqlite3* db, int rc);

}  // namespace velmora
