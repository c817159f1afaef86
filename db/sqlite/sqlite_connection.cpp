#include "db/sqlite/sqlite_connection.h"

#include <fmt/core.h>

#include <array>

#include "db/db_error.h"
#include "db/sqlite/sqlite_command.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

// Reads an optional parameter that must be one of `allowed` (letter case ignored); returns the
// allowed spelling, or `fallback` when the parameter is absent.
template <size_t N>
std::string Choice(const TStringList& params, std::string_view key,
                   const std::array<std::string_view, N>& allowed, std::string_view fallback) {
  const std::string value = params.Values(key);
  if (value.empty()) return std::string(fallback);
  for (std::string_view a : allowed) {
    if (EqualsNoCase(a, value)) return std::string(a);
  }
  throw EFDException(fmt::format("Invalid value [{}] of connection parameter {}", value, key));
}

}  // namespace

void ThrowSQLiteError(sqlite3* db, int rc) {
  const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  const int code = db != nullptr ? sqlite3_extended_errcode(db) : rc;
  throw EFDDBEngineException(code, message != nullptr ? message : sqlite3_errstr(rc));
}

TSQLiteConnection::TSQLiteConnection(const TStringList& params) {
  const std::string path = params.Values("Database");
  if (path.empty()) throw EFDException("Connection parameter Database is missing");

  const std::string journal = Choice(params, "JournalMode",
      std::array<std::string_view, 6>{"DELETE", "TRUNCATE", "PERSIST", "MEMORY", "WAL", "OFF"}, "WAL");
  const std::string locking = Choice(params, "LockingMode",
      std::array<std::string_view, 2>{"NORMAL", "EXCLUSIVE"}, "NORMAL");
  const std::string synchronous = Choice(params, "Synchronous",
      std::array<std::string_view, 8>{"OFF", "NORMAL", "FULL", "EXTRA", "0", "1", "2", "3"}, "");
  const std::string foreign_keys = Choice(params, "ForeignKeys",
      std::array<std::string_view, 8>{"ON", "OFF", "TRUE", "FALSE", "YES", "NO", "1", "0"}, "ON");
  int64_t busy_timeout = 10000;
  if (const std::string t = params.Values("BusyTimeout"); !t.empty()) {
    if (!ParseInteger(t, busy_timeout) || busy_timeout < 0 || busy_timeout > INT32_MAX) {
      throw EFDException(fmt::format("Invalid value [{}] of connection parameter BusyTimeout", t));
    }
  }

  const int rc = sqlite3_open_v2(path.c_str(), &db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  try {
    if (rc != SQLITE_OK) {
      if (db_ == nullptr) ThrowSQLiteError(nullptr, rc);
      throw EFDDBEngineException(sqlite3_extended_errcode(db_),
                                 fmt::format("{}: {}", sqlite3_errmsg(db_), path));
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, static_cast<int>(busy_timeout));
    // Locking first: it decides how the journal mode change below takes its locks.
    Exec(fmt::format("PRAGMA locking_mode={}", locking).c_str());
    Exec(fmt::format("PRAGMA journal_mode={}", journal).c_str());
    if (!synchronous.empty()) Exec(fmt::format("PRAGMA synchronous={}", synchronous).c_str());
    const bool fk_on = EqualsNoCase(foreign_keys, "ON") || EqualsNoCase(foreign_keys, "TRUE") ||
                       EqualsNoCase(foreign_keys, "YES") || foreign_keys == "1";
    Exec(fk_on ? "PRAGMA foreign_keys=ON" : "PRAGMA foreign_keys=OFF");
  } catch (...) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
}

TSQLiteConnection::~TSQLiteConnection() { sqlite3_close_v2(db_); }

void TSQLiteConnection::Exec(const char* sql) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSQLiteError(db_, rc);
}

void TSQLiteConnection::StartTransaction() {
  if (InTransaction()) throw EFDException("A transaction is already active");
  // IMMEDIATE takes the write lock at once, so a writer waits (busy timeout) for another writer
  // instead of failing when it first writes inside a read transaction.
  Exec("BEGIN IMMEDIATE");
}

void TSQLiteConnection::Commit() {
  if (!InTransaction()) throw EFDException("No transaction is active");
  Exec("COMMIT");
}

void TSQLiteConnection::Rollback() {
  if (!InTransaction()) throw EFDException("No transaction is active");
  Exec("ROLLBACK");
}

bool TSQLiteConnection::InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

std::unique_ptr<TDriverCommand> TSQLiteConnection::CreateCommand(std::string sql) {
  return std::make_unique<TSQLiteCommand>(db_, std::move(sql));
}

std::unique_ptr<TDriverCommand> TSQLiteConnection::CreateStoredProc(std::string_view,
                                                                   std::span<TParam* const>) {
  throw EFDException("Stored procedures are not supported by the SQLite driver");
}

}  // namespace velmora
