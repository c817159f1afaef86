#include "maintenance/backup/uFDACBackup.h"

#include <fmt/format.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/server_metrics.h"
#include "db/core/connection.h"
#include "db/core/query.h"
#include "db/sqlite/sqlite_connection.h"
#include "dbpool/database_pools.h"
#include "maintenance/backup/backup_error.h"
#include "maintenance/backup/copy_database_file.h"
#include "maintenance/backup/sqlite_backup.h"

namespace velmora {

namespace {

constexpr char kNoConnection[] = "No database connection is free for the backup";
constexpr char kNoQuery[] = "No query object is free for the backup";

// The connection the backup holds, without a statement time-out while it is held; given back
// once, by Release or when it goes.
class HeldConnection {
 public:
  explicit HeldConnection(TFDConnectionPool& pool) : pool_(pool), conn_(pool.Lock(&error_)) {
    if (conn_ == nullptr) return;
    timeout_before_ = conn_->StatementTimeout();
    conn_->SetStatementTimeout(std::chrono::milliseconds(0));
  }
  ~HeldConnection() { Release(); }
  HeldConnection(const HeldConnection&) = delete;
  HeldConnection& operator=(const HeldConnection&) = delete;

  TFDConnection* Get() const { return conn_; }
  TFDConnection* operator->() const { return conn_; }
  // Why the pool had none: the driver's message when opening one failed, else empty.
  const std::string& OpenError() const { return error_; }
  void Release() {
    if (conn_ == nullptr) return;
    conn_->SetStatementTimeout(timeout_before_);
    pool_.Unlock(conn_);
    conn_ = nullptr;
  }

 private:
  TFDConnectionPool& pool_;
  std::string error_;
  TFDConnection* conn_;
  std::optional<std::chrono::milliseconds> timeout_before_;
};

// The query the backup holds, attached to the backup's connection; given back when it goes.
class HeldQuery {
 public:
  HeldQuery(TFDQueryPool& pool, TFDConnection* connection) : pool_(pool), query_(pool.Lock()) {
    if (query_ != nullptr && connection != nullptr) query_->SetConnection(connection);
  }
  ~HeldQuery() {
    if (query_ != nullptr) pool_.UnLock(query_);
  }
  HeldQuery(const HeldQuery&) = delete;
  HeldQuery& operator=(const HeldQuery&) = delete;
  TFDQuery* Get() const { return query_; }

 private:
  TFDQueryPool& pool_;
  TFDQuery* query_;
};

void CreateFolder(const std::string& folder) {
  if (folder.empty()) throw EBackupError("No backup folder is set");
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    throw EBackupError(
        fmt::format("Cannot create the backup folder {}: {}", folder, error.message()));
  }
}

TBackupOutcome Made(std::string file) {
  return {TBackupOutcome::Kind::kMade, std::move(file), {}};
}

std::string MSSQLBackup(TFDConnection& conn, TFDQuery* query, const std::string& folder, int day) {
  const std::string name = conn.Params().Values("Database");
  std::string file = BackupFileName(folder, day, name + ".SQLbak");
  if (query == nullptr) throw EBackupError(kNoQuery);
  query->SQL().Clear();
  query->SQL().Add("BACKUP DATABASE \"" + name + "\" TO DISK='" + file + "'");
  query->ExecSQL();
  return file;
}

std::string SQLiteBackup(TSQLiteConnection& session, const std::string& folder, int day) {
  const char* path = sqlite3_db_filename(session.Handle(), "main");
  if (path == nullptr || *path == '\0') {
    throw EBackupError("The SQLite database is not a file; there is nothing to back up");
  }
  std::string file = BackupFileName(folder, day, std::filesystem::path(path).filename().string());
  BackupSQLiteDatabase(session.Handle(), file);
  return file;
}

TBackupOutcome Backup(HeldConnection& conn, const HeldQuery& query, const std::string& folder,
                      int day) {
  CreateFolder(folder);
  if (conn.Get() == nullptr) {
    if (conn.OpenError().empty()) throw EBackupError(kNoConnection);
    throw EBackupError("The database cannot be opened for the backup: " + conn.OpenError());
  }
  const std::string driver = conn->DriverName();
  if (driver == "MSSQL") return Made(MSSQLBackup(*conn.Get(), query.Get(), folder, day));
  if (driver == "MSAcc") {
    const std::string database = conn->Params().Values("Database");
    conn.Release();  // the copy needs no connection
    std::string file = BackupFileName(folder, day, "data.mdb");
    CopyDatabaseFile(database, file);
    return Made(std::move(file));
  }
  if (auto* session = dynamic_cast<TSQLiteConnection*>(&conn->Driver())) {
    return Made(SQLiteBackup(*session, folder, day));
  }
  return {TBackupOutcome::Kind::kNotBackedUp,
          {},
          fmt::format("A {} database is not backed up by this server: back it up with the "
                      "engine's own tools",
                      driver)};
}

// Counts a backup made or failed (one not made for the engine is neither) and gives it back.
TBackupOutcome Counted(TBackupOutcome outcome) {
  metrics::ServerMetrics& m = metrics::Metrics();
  if (outcome.kind == TBackupOutcome::Kind::kMade) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    m.BackupMade(std::chrono::duration_cast<std::chrono::seconds>(now).count());
  } else if (outcome.kind == TBackupOutcome::Kind::kFailed) {
    m.backups_failed.Add();
  }
  return outcome;
}

}  // namespace

std::string BackupFileName(const std::string& folder, int day_of_month, const std::string& name) {
  return fmt::format("{}/{:02d}{}", folder, day_of_month, name);
}

TBackupOutcome BackupDatabase(TFDConnectionPool& connections, TFDQueryPool& queries,
                              const std::string& folder, int day_of_month) {
  // Declared in this order, the query goes back before the connection.
  HeldConnection conn(connections);
  HeldQuery query(queries, conn.Get());
  try {
    return Counted(Backup(conn, query, folder, day_of_month));
  } catch (const std::exception& e) {
    return Counted({TBackupOutcome::Kind::kFailed, {}, e.what()});
  }
}

TBackupOutcome BackupDatabase(const std::string& folder, int day_of_month) {
  TFDConnectionPool* connections = FDConnectionPool();
  TFDQueryPool* queries = FDQueryPool();
  if (connections == nullptr || queries == nullptr) {
    return Counted({TBackupOutcome::Kind::kFailed, {}, "The database pools do not exist"});
  }
  return BackupDatabase(*connections, *queries, folder, day_of_month);
}

}  // namespace velmora
