// The SQLite driver (DriverID=SQLite) on libsqlite3.
//
// Parameters: Database (the file; created when missing), and, each optional: JournalMode (WAL),
// LockingMode (NORMAL), BusyTimeout (10000 ms), Synchronous (the engine's default), ForeignKeys
// (On). User_Name and Password are not used by the engine.
#pragma once

#include <sqlite3.h>

#include <memory>

#include "db/driver.h"

namespace velmora {

class TSQLiteConnection : public TDriverConnection {
 public:
  // Opens the database; raises EFDException for a bad parameter and EFDDBEngineException when
  // the engine cannot open it.
  explicit TSQLiteConnection(const TStringList& params);
  ~TSQLiteConnection() override;
  TSQLiteConnection(const TSQLiteConnection&) = delete;
  TSQLiteConnection& operator=(const TSQLiteConnection&) = delete;

  void StartTransaction() override;
  void Commit() override;
  void Rollback() override;
  bool InTransaction() const override;

  std::string TranslateEscape(const TSqlEscape& escape) const override;

  std::unique_ptr<TDriverCommand> CreateCommand(std::string sql) override;
  std::unique_ptr<TDriverCommand> CreateStoredProc(std::string_view name,
                                                  std::span<TParam* const> params) override;

  sqlite3* Handle() const { return db_; }

 private:
  void Exec(const char* sql);

  sqlite3* db_ = nullptr;
};

// Raises EFDDBEngineException with the engine's message for `rc` on `db`.
[[noreturn]] void ThrowSQLiteError(sqlite3* db, int rc);

}  // namespace velmora
