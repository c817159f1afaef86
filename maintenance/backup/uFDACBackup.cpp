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
#include "dbpool/database_pools.h"
#include "dbpool/pooled_object.h"
#include "maintenance/backup/backup_error.h"
#include "maintenance/backup/copy_database_file.h"

namespace velmora {

namespace {

constexpr char kNoConnection[] = "No database connection is free for the backup";
constexpr char kNoQuery[] = "No query object is free for the backup";

// The connection the backup holds, without a statement time-out while it is held; the time-out
// is set back before the connection goes back, by Release or when the holder goes.
class HeldConnection {
 public:
  explicit HeldConnection(TFDConnectionPool& pool) : held_(&pool, &error_) {
    if (!held_) return;
    timeout_before_ = held_->StatementTimeout();
    held_->SetStatementTimeout(std::chrono::milliseconds(0));
  }
  ~HeldConnection() { Release(); }
  HeldConnection(const HeldConnection&) = delete;
  HeldConnection& operator=(const HeldConnection&) = delete;

  TFDConnection* Get() const { return held_.Get(); }
  TFDConnection* operator->() const { return held_.Get(); }
  // Why the pool had none: the driver's message when opening one failed, else empty.
  const std::string& OpenError() const { return error_; }
  void Release() {
    if (!held_) return;
    held_->SetStatementTimeout(timeout_before_);
    held_.Reset();
  }

 private:
  std::string error_;  // before held_, whose borrowing may write it
  TPooledConnection held_;
  std::optional<std::chrono::milliseconds> timeout_before_;
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

TBackupOutcome Backup(HeldConnection& conn, const TPooledQuery& query, const std::string& folder,
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
  // Any other engine backs itself up, or is backed up with its own tools.
  const auto file_for = [&](std::string_view name) {
    return BackupFileName(folder, day, std::string(name));
  };
  if (std::optional<std::string> file = conn->Driver().BackUp(file_for)) {
    return Made(std::move(*file));
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
  TPooledQuery query(&queries);
  if (query && conn.Get() != nullptr) query->SetConnection(conn.Get());
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
