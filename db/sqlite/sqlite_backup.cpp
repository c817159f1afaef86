#include "db/sqlite/sqlite_backup.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>

#include "db/core/db_error.h"
#include "db/sqlite/sqlite_connection.h"

namespace velmora {

namespace {

[[noreturn]] void Fail(const std::string& dest, const char* message) {
  throw EFDException(fmt::format("Cannot write the backup {}: {}", dest, message));
}

// The destination session, closed when it goes.
class Destination {
 public:
  explicit Destination(const std::string& path) {
    rc_ =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  }
  ~Destination() {
    if (db_ != nullptr) sqlite3_close_v2(db_);
  }
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;
  sqlite3* Get() const { return db_; }
  int OpenResult() const { return rc_; }
  // Closes now, so that what the close writes out is seen to succeed.
  void Close(const std::string& dest) {
    if (sqlite3_close(db_) != SQLITE_OK) Fail(dest, sqlite3_errmsg(db_));
    db_ = nullptr;
  }

 private:
  sqlite3* db_ = nullptr;
  int rc_ = SQLITE_OK;
};

void RemoveTemporary(const std::string& temp) {
  std::remove(temp.c_str());
  for (const char* suffix : {"-journal", "-wal", "-shm"}) std::remove((temp + suffix).c_str());
}

void CopyInto(sqlite3* source, const std::string& temp, const std::string& dest) {
  Destination target(temp);
  if (target.OpenResult() != SQLITE_OK) {
    Fail(dest, target.Get() != nullptr ? sqlite3_errmsg(target.Get())
                                       : sqlite3_errstr(target.OpenResult()));
  }
  sqlite3_backup* backup = sqlite3_backup_init(target.Get(), "main", source, "main");
  if (backup == nullptr) Fail(dest, sqlite3_errmsg(target.Get()));
  const int step = sqlite3_backup_step(backup, -1);  // the whole database in one read transaction
  const int finish = sqlite3_backup_finish(backup);
  if (step != SQLITE_DONE) Fail(dest, sqlite3_errstr(step));
  if (finish != SQLITE_OK) Fail(dest, sqlite3_errmsg(target.Get()));
  // The pages carry the source's WAL mark; a backup must open without a WAL file beside it.
  char* error = nullptr;
  if (sqlite3_exec(target.Get(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, &error) !=
      SQLITE_OK) {
    const std::string message = error != nullptr ? error : "journal mode not changed";
    sqlite3_free(error);
    Fail(dest, message.c_str());
  }
  target.Close(dest);
}

}  // namespace

void BackupSQLiteDatabase(sqlite3* source, const std::string& dest) {
  const std::string temp = dest + ".tmp";
  RemoveTemporary(temp);  // what an interrupted backup left
  try {
    CopyInto(source, temp, dest);
    if (std::rename(temp.c_str(), dest.c_str()) != 0) Fail(dest, std::strerror(errno));
  } catch (...) {
    RemoveTemporary(temp);
    throw;
  }
}

std::optional<std::string> TSQLiteConnection::BackUp(const TBackupFileNamer& file_for) {
  const char* path = sqlite3_db_filename(db_, "main");
  if (path == nullptr || *path == '\0') {
    throw EFDException("The SQLite database is not a file; there is nothing to back up");
  }
  std::string file = file_for(std::filesystem::path(path).filename().string());
  BackupSQLiteDatabase(db_, file);
  return file;
}

}  // namespace velmora
