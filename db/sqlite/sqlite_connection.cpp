#include "db/sqlite/sqlite_connection.h"

#include <fmt/core.h>
#include <sys/stat.h>

#include <array>

#include "db/core/db_error.h"
#include "db/core/statement_stop.h"
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

bool IsYes(std::string_view value) {
  return EqualsNoCase(value, "ON") || EqualsNoCase(value, "TRUE") || EqualsNoCase(value, "YES") ||
         value == "1";
}

// Engine results after which the session cannot be trusted with more work.
bool MeansDatabaseLost(int extended) {
  switch (extended & 0xFF) {
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
      return true;
    default:
      return extended == SQLITE_READONLY_DBMOVED;
  }
}

// The engine runs this many virtual-machine steps between two looks at the statement stop.
constexpr int kProgressSteps = 1000;

}  // namespace

void ThrowSQLiteError(sqlite3* db, int rc) {
  const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  const int code = db != nullptr ? sqlite3_extended_errcode(db) : rc;
  throw EFDDBEngineException(code, message != nullptr ? message : sqlite3_errstr(rc));
}

TSQLiteConnection::TSQLiteConnection(const TStringList& params) {
  const std::string path = RequiredDatabase(params);

  const std::string journal = Choice(
      params, "JournalMode",
      std::array<std::string_view, 6>{"DELETE", "TRUNCATE", "PERSIST", "MEMORY", "WAL", "OFF"},
      "WAL");
  const std::string locking = Choice(
      params, "LockingMode", std::array<std::string_view, 2>{"NORMAL", "EXCLUSIVE"}, "NORMAL");
  const std::string synchronous = Choice(
      params, "Synchronous",
      std::array<std::string_view, 8>{"OFF", "NORMAL", "FULL", "EXTRA", "0", "1", "2", "3"}, "");
  constexpr std::array<std::string_view, 8> kSwitch{"ON",  "OFF", "TRUE", "FALSE",
                                                    "YES", "NO",  "1",    "0"};
  const std::string foreign_keys = Choice(params, "ForeignKeys", kSwitch, "ON");
  const bool create = IsYes(Choice(params, "CreateDatabase", kSwitch, "NO"));
  int64_t busy_timeout = 10000;
  if (const std::string t = params.Values("BusyTimeout"); !t.empty()) {
    if (!ParseInteger(t, busy_timeout) || busy_timeout < 0 || busy_timeout > INT32_MAX) {
      throw EFDException(fmt::format("Invalid value [{}] of connection parameter BusyTimeout", t));
    }
  }

  // Without CreateDatabase a missing file fails the open: a new empty database in place of a
  // deleted one would take writes that nobody reads again.
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  try {
    if (rc != SQLITE_OK) {
      if (db_ == nullptr) ThrowSQLiteError(nullptr, rc);
      throw EFDDBEngineException(sqlite3_extended_errcode(db_),
                                 fmt::format("{}: {}", sqlite3_errmsg(db_), path));
    }
    sqlite3_extended_result_codes(db_, 1);
    const char* file = sqlite3_db_filename(db_, "main");
    if (file != nullptr && *file != '\0') {
      struct stat st {};
      if (::stat(file, &st) == 0) {
        path_ = file;
        has_file_ = true;
        device_ = st.st_dev;
        inode_ = st.st_ino;
      }
    }
    sqlite3_progress_handler(db_, kProgressSteps, &TSQLiteConnection::OnProgress, this);
    sqlite3_busy_timeout(db_, static_cast<int>(busy_timeout));
    // Locking first: it decides how the journal mode change below takes its locks.
    Exec(fmt::format("PRAGMA locking_mode={}", locking).c_str());
    Exec(fmt::format("PRAGMA journal_mode={}", journal).c_str());
    if (!synchronous.empty()) Exec(fmt::format("PRAGMA synchronous={}", synchronous).c_str());
    Exec(IsYes(foreign_keys) ? "PRAGMA foreign_keys=ON" : "PRAGMA foreign_keys=OFF");
  } catch (...) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
}

TSQLiteConnection::~TSQLiteConnection() {
  // A statement left unfinalised would keep the closed database open in the engine.
  statements_.Clear();
  sqlite3_close_v2(db_);
}

int TSQLiteConnection::OnProgress(void* self) {
  TStatementStop* stop = static_cast<TSQLiteConnection*>(self)->StatementStop();
  return stop != nullptr && stop->Check() != TStatementStop::Reason::kNone ? 1 : 0;
}

void TSQLiteConnection::Exec(const char* sql) {
  if (StatementStop() != nullptr)
    StatementStop()->Disarm();  // transaction control and set-up are never stopped
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
}

void TSQLiteConnection::Fail(int rc) {
  if ((rc & 0xFF) == SQLITE_INTERRUPT && StatementStop() != nullptr) {
    const std::string message = StatementStop()->Message();
    if (!message.empty()) throw EFDDBEngineException(rc, message);
  }
  const int extended = sqlite3_extended_errcode(db_);
  if (MeansDatabaseLost(extended) && unusable_.empty()) unusable_ = sqlite3_errmsg(db_);
  ThrowSQLiteError(db_, rc);
}

std::string TSQLiteConnection::FileChange() const {
  if (!has_file_) return {};
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return "deleted";
  if (st.st_dev != device_ || st.st_ino != inode_) return "replaced";
  return {};
}

std::string TSQLiteConnection::FileChangedMessage(const std::string& what) const {
  return fmt::format("The database file was {} since this connection opened it: {}", what, path_);
}

void TSQLiteConnection::FailFileChanged(const std::string& what) {
  unusable_ = FileChangedMessage(what);
  throw EFDDBEngineException(SQLITE_READONLY_DBMOVED, unusable_);
}

std::string TSQLiteConnection::UnusableReason(bool look) {
  if (look && unusable_.empty()) {
    if (const std::string what = FileChange(); !what.empty()) unusable_ = FileChangedMessage(what);
  }
  return unusable_;
}

void TSQLiteConnection::BeginStatement(sqlite3_stmt* stmt, bool again) {
  if (StatementStop() != nullptr) StatementStop()->Arm();
  if (again && InTransaction()) return;
  if (sqlite3_stmt_readonly(stmt) == 0) {
    if (const std::string what = FileChange(); !what.empty()) FailFileChanged(what);
  }
}

void TSQLiteConnection::BeginTransaction() {
  // IMMEDIATE takes the write lock at once, so a writer waits (busy timeout) for another writer
  // instead of failing when it first writes inside a read transaction.
  Exec("BEGIN IMMEDIATE");
  transaction_begun_ = true;
}

void TSQLiteConnection::CommitTransaction() {
  if (const std::string what = FileChange(); !what.empty()) {
    try {
      Exec("ROLLBACK");
    } catch (const std::exception&) {
      // The session is dropped anyway.
    }
    transaction_begun_ = false;
    FailFileChanged(what);
  }
  Exec("COMMIT");
  transaction_begun_ = false;
}

void TSQLiteConnection::RollbackTransaction() {
  Exec("ROLLBACK");
  transaction_begun_ = false;
}

bool TSQLiteConnection::TransactionEndedByEngine() {
  // The engine rolled back the transaction begun here on its own: nothing is left to undo.
  const bool begun = transaction_begun_;
  transaction_begun_ = false;
  return begun;
}

bool TSQLiteConnection::InTransaction() const {
  return sqlite3_get_autocommit(db_) == 0;
}

std::unique_ptr<TDriverCommand> TSQLiteConnection::CreateCommand(std::string sql) {
  return std::make_unique<TSQLiteCommand>(*this, std::move(sql));
}

std::unique_ptr<TDriverCommand> TSQLiteConnection::CreateStoredProc(std::string_view,
                                                                    std::span<TParam* const>) {
  throw EFDException("Stored procedures are not supported by the SQLite driver");
}

}  // namespace velmora
