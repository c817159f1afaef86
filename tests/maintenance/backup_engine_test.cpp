// The backup engine through real pools: SQLite copies taken while a writer goes on, SQL Server's
// statement and the Access copy through stand-in drivers (no SQL Server or Access driver is
// reachable here), the engines left to their own tools, and every failure. After each backup no
// pooled object is left marked as handed out.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/app_path.h"
#include "common/server_metrics.h"
#include "data/field_defs.h"
#include "db/core/db_error.h"
#include "db/core/driver_registry.h"
#include "db/core/statement_stop.h"
#include "dbpool/uFDConnPool.h"
#include "dbpool/uFDQueryPool.h"
#include "maintenance/backup/backup_error.h"
#include "maintenance/backup/copy_database_file.h"
#include "maintenance/backup/uFDACBackup.h"
#include "tests/support/temp_dir.h"
#include "tools/self_host/database_config.h"
#include "tools/self_host/fixture_db.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using Kind = TBackupOutcome::Kind;
constexpr int kCapacity = 30;

// What a stand-in engine was asked to run, and how it answers.
struct StandInLog {
  std::vector<std::string> statements;
  std::vector<std::chrono::milliseconds> timeouts;  // the time-out each statement ran under
  std::string refuse_with;                          // non-empty: every statement fails so
  int sessions = 0;
};

class StandInCommand : public TDriverCommand {
 public:
  StandInCommand(std::string sql, StandInLog& log, TStatementStop* stop)
      : sql_(std::move(sql)), log_(log), stop_(stop) {}
  void SetParams(std::span<TParam* const>) override {}
  void Execute() override {
    log_.statements.push_back(sql_);
    log_.timeouts.push_back(stop_ != nullptr ? stop_->Timeout() : std::chrono::milliseconds(-1));
    if (!log_.refuse_with.empty()) throw EFDDBEngineException(3201, log_.refuse_with);
  }
  bool Open() override {
    Execute();
    return false;
  }
  const TFieldDefs& Columns() const override { return columns_; }
  void FetchAll(TDataSet&) override {}
  int64_t RowsAffected() const override { return 0; }

 private:
  std::string sql_;
  StandInLog& log_;
  TStatementStop* stop_;
  TFieldDefs columns_;
};

// An engine session that opens whatever it is given and records the statements it runs.
class StandInConnection : public TDriverConnection {
 public:
  explicit StandInConnection(StandInLog& log) : log_(log) { ++log_.sessions; }
  void StartTransaction() override { in_transaction_ = true; }
  void Commit() override { in_transaction_ = false; }
  void Rollback() override { in_transaction_ = false; }
  bool InTransaction() const override { return in_transaction_; }
  void SetStatementStop(TStatementStop* stop) override { stop_ = stop; }
  std::string TranslateEscape(const TSqlEscape&) const override { return {}; }
  std::unique_ptr<TDriverCommand> CreateCommand(std::string sql) override {
    return std::make_unique<StandInCommand>(std::move(sql), log_, stop_);
  }
  std::unique_ptr<TDriverCommand> CreateStoredProc(std::string_view,
                                                   std::span<TParam* const>) override {
    throw EFDException("no stored procedures here");
  }

 private:
  StandInLog& log_;
  TStatementStop* stop_ = nullptr;
  bool in_transaction_ = false;
};

TDriverFactory StandIn(StandInLog& log) {
  return [&log](const TStringList&) { return std::make_unique<StandInConnection>(log); };
}

// The first column of the first row `sql` gives on the database file, opened on its own.
std::string Scalar(const std::string& database, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  std::string value = "(none)";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  } else {
    ADD_FAILURE() << sqlite3_errmsg(db) << " in " << database;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

int64_t Count(const std::string& database, const std::string& sql) {
  return std::stoll(Scalar(database, sql));
}

size_t Entries(const std::string& folder) {
  return static_cast<size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// A folder this process cannot write into, whoever runs it.
std::string UnwritableFolder(const TempDir& scratch) {
  if (::geteuid() == 0) return "/proc";  // root writes anywhere else
  const std::string folder = scratch.File("locked");
  fs::create_directory(folder);
  ::chmod(folder.c_str(), 0555);
  return folder;
}

class BackupEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { SetAppPath(app_.Path()); }

  TBackupOutcome Backup(const std::string& folder, int day = 9) {
    return BackupDatabase(connections_, queries_, folder, day);
  }
  // No object of either pool is left marked as handed out; with `permits`, every permit is back.
  void ExpectPoolsWhole(bool permits = true) {
    for (size_t i = 0; i < connections_.Count(); ++i)
      EXPECT_EQ(connections_.TagOf(connections_.Item(i)), 0) << "connection " << i;
    for (size_t i = 0; i < queries_.Count(); ++i)
      EXPECT_EQ(queries_.TagOf(queries_.Item(i)), 0) << "query " << i;
    if (permits) {
      EXPECT_EQ(connections_.Permits(), kCapacity);
      EXPECT_EQ(queries_.Permits(), kCapacity);
    }
  }
  // The connection went back without a time-out of its own.
  void ExpectDefaultTimeout() {
    for (size_t i = 0; i < connections_.Count(); ++i)
      EXPECT_EQ(connections_.Item(i)->StatementTimeout(), std::nullopt);
  }

  TempDir app_;
  TFDConnectionPool connections_{kCapacity};
  TFDQueryPool queries_{kCapacity};
};

// ---- SQLite ----

TEST_F(BackupEngineTest, SQLiteCopyOpensOnItsOwnAndAnotherOnTheSameDayReplacesIt) {
  const std::string database = app_.File("shop.db");
  self_host::CreateFixtureDatabase(database, 500);
  self_host::WriteSqliteConfig(app_.Path(), database);
  const std::string folder = app_.File("bak/nested");

  metrics::ServerMetrics& counted = metrics::Metrics();
  const uint64_t made = counted.backups_made.Value();
  const auto started = std::chrono::system_clock::now();
  TBackupOutcome outcome = Backup(folder, 9);
  ASSERT_EQ(outcome.kind, Kind::kMade) << outcome.message;
  // Counted, with its time, to the second.
  EXPECT_EQ(counted.backups_made.Value() - made, 1u);
  EXPECT_GE(counted.last_backup_unix_seconds.Value(),
            std::chrono::duration_cast<std::chrono::seconds>(started.time_since_epoch()).count());
  EXPECT_EQ(outcome.file, folder + "/09shop.db");
  EXPECT_EQ(Count(outcome.file, "SELECT COUNT(*) FROM BIG_TABLE"), 500);
  // A plain rollback-journal file: header bytes 18 and 19 are 1, no WAL file needed to read it.
  const std::string header = ReadFile(outcome.file).substr(18, 2);
  EXPECT_EQ(header, std::string("\x01\x01", 2));
  EXPECT_EQ(Entries(folder), 1u);  // no temporary left
  ExpectPoolsWhole();
  ExpectDefaultTimeout();

  // A second backup the same day replaces the file (the database has changed meanwhile).
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    ASSERT_EQ(sqlite3_exec(db, "DELETE FROM BIG_TABLE WHERE ID > 100", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  outcome = Backup(folder + "/", 9);  // a folder ending in "/" doubles the separator
  ASSERT_EQ(outcome.kind, Kind::kMade) << outcome.message;
  EXPECT_EQ(outcome.file, folder + "//09shop.db");
  EXPECT_EQ(Count(folder + "/09shop.db", "SELECT COUNT(*) FROM BIG_TABLE"), 100);
  EXPECT_EQ(Entries(folder), 1u);
  ExpectPoolsWhole();
}

// The copy holds every row committed before it began and no gap: it is one snapshot, taken in
// one step while the writer goes on committing.
TEST_F(BackupEngineTest, SQLiteCopyWhileAWriterCommitsHoldsOneConsistentSnapshot) {
  const std::string database = app_.File("busy.db");
  self_host::CreateFixtureDatabase(database, 20000);
  self_host::WriteSqliteConfig(app_.Path(), database);
  {
    // The pool's first connection puts the file in WAL mode.
    TFDConnection* c = connections_.Lock();
    ASSERT_NE(c, nullptr);
    connections_.Unlock(c);
  }
  std::atomic<int64_t> committed{0};
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    sqlite3* db = nullptr;
    sqlite3_open(database.c_str(), &db);
    sqlite3_busy_timeout(db, 10000);
    sqlite3_exec(db, "CREATE TABLE LOG (ID INTEGER PRIMARY KEY, V TEXT)", nullptr, nullptr,
                 nullptr);
    for (int64_t id = 1; !stop; ++id) {
      const std::string sql = "INSERT INTO LOG VALUES (" + std::to_string(id) + ", 'row')";
      if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) break;
      committed = id;
    }
    sqlite3_close(db);
  });
  while (committed < 300) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int64_t before = committed;
  const TBackupOutcome outcome = Backup(app_.File("bak"), 28);
  const int64_t after = committed;
  stop = true;
  writer.join();

  ASSERT_EQ(outcome.kind, Kind::kMade) << outcome.message;
  EXPECT_EQ(outcome.file, app_.File("bak") + "/28busy.db");
  const int64_t rows = Count(outcome.file, "SELECT COUNT(*) FROM LOG");
  EXPECT_GE(rows, before);
  EXPECT_LE(rows, after);
  EXPECT_EQ(Count(outcome.file, "SELECT MAX(ID) FROM LOG"), rows);  // no gap
  EXPECT_EQ(Count(outcome.file, "SELECT COUNT(*) FROM BIG_TABLE"), 20000);
  EXPECT_EQ(Scalar(outcome.file, "PRAGMA integrity_check"), "ok");
  ExpectPoolsWhole();
}

// ---- SQL Server ----

TEST_F(BackupEngineTest, SQLServerIsAskedThroughThePooledQueryWithoutATimeOut) {
  StandInLog log;
  TDriverRegistration mssql("MSSQL", StandIn(log));
  self_host::WriteDatabaseConfig(app_.Path(),
                                 {"DriverID=MSSQL", "Server=db.example", "Database=shop"});
  const std::string folder = app_.File("srv/bak");

  const TBackupOutcome outcome = Backup(folder, 9);
  ASSERT_EQ(outcome.kind, Kind::kMade) << outcome.message;
  EXPECT_EQ(outcome.file, folder + "/09shop.SQLbak");
  ASSERT_EQ(log.statements.size(), 1u);
  EXPECT_EQ(log.statements[0], "BACKUP DATABASE \"shop\" TO DISK='" + folder + "/09shop.SQLbak'");
  EXPECT_EQ(log.timeouts[0], std::chrono::milliseconds(0));  // no statement time-out
  EXPECT_TRUE(fs::is_directory(folder));  // created here, as the backup does first
  ExpectPoolsWhole();
  ExpectDefaultTimeout();

  // A statement the server refuses: the engine's message, nothing else changes.
  log.refuse_with = "Cannot open backup device. Operating system error 5 (Access is denied.)";
  const TBackupOutcome refused = Backup(folder, 10);
  EXPECT_EQ(refused.kind, Kind::kFailed);
  EXPECT_EQ(refused.message, log.refuse_with);
  EXPECT_EQ(log.statements.size(), 2u);
  EXPECT_EQ(log.sessions, 1);  // the same pooled connection both times
  ExpectPoolsWhole();
  ExpectDefaultTimeout();
}

TEST_F(BackupEngineTest, WithoutAQueryObjectSQLServerFailsAndSQLiteStillCopies) {
  TFDQueryPool no_queries(0, 10);
  StandInLog log;
  {
    TDriverRegistration mssql("MSSQL", StandIn(log));
    self_host::WriteDatabaseConfig(app_.Path(), {"DriverID=MSSQL", "Database=shop"});
    const TBackupOutcome outcome = BackupDatabase(connections_, no_queries, app_.File("b"), 1);
    EXPECT_EQ(outcome.kind, Kind::kFailed);
    EXPECT_EQ(outcome.message, "No query object is free for the backup");
    EXPECT_TRUE(log.statements.empty());
    ExpectPoolsWhole();
  }
  TFDConnectionPool sqlite_connections(kCapacity);
  self_host::CreateFixtureDatabase(app_.File("s.db"), 10);
  self_host::WriteSqliteConfig(app_.Path(), app_.File("s.db"));
  const TBackupOutcome copied = BackupDatabase(sqlite_connections, no_queries, app_.File("b"), 1);
  EXPECT_EQ(copied.kind, Kind::kMade) << copied.message;
  EXPECT_EQ(sqlite_connections.TagOf(sqlite_connections.Item(0)), 0);
}

// ---- Access ----

TEST_F(BackupEngineTest, AccessCopyIsTheFileAndItsLengthLittleEndianAcrossTheBuffer) {
  StandInLog log;
  TDriverRegistration msacc("MSAcc", StandIn(log));
  for (const size_t n : {size_t{0}, size_t{5}, 3 * kCopyBufferSize + 0x1234}) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 131 + 7) & 0xff);
    const std::string source = app_.File("shop.mdb");
    WriteFile(source, bytes);
    self_host::WriteDatabaseConfig(app_.Path(), {"DriverID=MSAcc", "Database=" + source});
    const std::string folder = app_.File("acc");
    fs::create_directories(folder);
    WriteFile(folder + "/17data.mdb", std::string(n + 100, 'x'));  // an older, longer copy

    const TBackupOutcome outcome = Backup(folder, 17);
    ASSERT_EQ(outcome.kind, Kind::kMade) << outcome.message;
    EXPECT_EQ(outcome.file, folder + "/17data.mdb");
    const std::string copy = ReadFile(outcome.file);
    ASSERT_EQ(copy.size(), n + 4) << n;
    EXPECT_TRUE(copy.compare(0, n, bytes) == 0) << n;
    const auto* tail = reinterpret_cast<const unsigned char*>(copy.data() + n);
    EXPECT_EQ(tail[0] | tail[1] << 8 | tail[2] << 16 | static_cast<uint32_t>(tail[3]) << 24, n);
    EXPECT_TRUE(log.statements.empty());
    ExpectPoolsWhole();
  }
}

TEST_F(BackupEngineTest, AccessFileThatCannotBeReadFailsNamingItAndLeavesNoCopy) {
  StandInLog log;
  TDriverRegistration msacc("MSAcc", StandIn(log));
  self_host::WriteDatabaseConfig(app_.Path(),
                                 {"DriverID=MSAcc", "Database=" + app_.File("gone.mdb")});
  const TBackupOutcome outcome = Backup(app_.File("acc"), 3);
  EXPECT_EQ(outcome.kind, Kind::kFailed);
  EXPECT_NE(outcome.message.find(app_.File("gone.mdb")), std::string::npos) << outcome.message;
  EXPECT_TRUE(fs::is_empty(app_.File("acc")));
  ExpectPoolsWhole();
}

// ---- Engines backed up with their own tools, and DriverIDs in other letter case ----

TEST_F(BackupEngineTest, OtherEnginesAndOtherLetterCaseBackUpNothing) {
  StandInLog log;
  for (const char* driver : {"FB", "PG", "mssql", "MSACC"}) {
    TDriverRegistration standin(driver, StandIn(log));
    TFDConnectionPool connections(kCapacity);
    self_host::WriteDatabaseConfig(
        app_.Path(), {std::string("DriverID=") + driver, "Database=" + app_.File("shop.mdb")});
    WriteFile(app_.File("shop.mdb"), "data");
    const TBackupOutcome outcome = BackupDatabase(connections, queries_, app_.File("none"), 5);
    EXPECT_EQ(outcome.kind, Kind::kNotBackedUp) << driver;
    EXPECT_NE(outcome.message.find(driver), std::string::npos) << outcome.message;
    EXPECT_TRUE(fs::is_empty(app_.File("none"))) << driver;
    EXPECT_EQ(connections.TagOf(connections.Item(0)), 0);
  }
  EXPECT_TRUE(log.statements.empty());
  ExpectPoolsWhole();
}

// ---- Failures ----

TEST_F(BackupEngineTest, AFolderThatCannotBeHadEndsTheBackupBeforeTheEngine) {
  StandInLog log;
  TDriverRegistration mssql("MSSQL", StandIn(log));
  self_host::WriteDatabaseConfig(app_.Path(), {"DriverID=MSSQL", "Database=shop"});
  WriteFile(app_.File("plain"), "a file, not a folder");
  struct Case {
    std::string folder;
    std::string message_part;
  };
  const Case cases[] = {{"", "No backup folder is set"},
                        {app_.File("plain") + "/sub", "Cannot create the backup folder"}};
  for (const Case& c : cases) {
    const TBackupOutcome outcome = Backup(c.folder);
    EXPECT_EQ(outcome.kind, Kind::kFailed) << c.folder;
    EXPECT_NE(outcome.message.find(c.message_part), std::string::npos) << outcome.message;
  }
  EXPECT_TRUE(log.statements.empty());
  ExpectPoolsWhole();
}

TEST_F(BackupEngineTest, AnUnwritableFolderLeavesNoFileNorTemporary) {
  self_host::CreateFixtureDatabase(app_.File("shop.db"), 10);
  self_host::WriteSqliteConfig(app_.Path(), app_.File("shop.db"));
  const std::string folder = UnwritableFolder(app_);
  const uint64_t made = metrics::Metrics().backups_made.Value();
  const uint64_t failed = metrics::Metrics().backups_failed.Value();
  const TBackupOutcome outcome = Backup(folder, 9);
  EXPECT_EQ(outcome.kind, Kind::kFailed);
  EXPECT_EQ(metrics::Metrics().backups_failed.Value() - failed, 1u);
  EXPECT_EQ(metrics::Metrics().backups_made.Value(), made);
  EXPECT_NE(outcome.message.find(folder + "/09shop.db"), std::string::npos) << outcome.message;
  for (const char* suffix : {"", ".tmp", ".tmp-journal"})
    EXPECT_FALSE(fs::exists(folder + "/09shop.db" + suffix)) << suffix;
  ExpectPoolsWhole();
  ExpectDefaultTimeout();
}

TEST_F(BackupEngineTest, NoConnectionToBeHadFailsWithTheReason) {
  // The database cannot be opened: the driver's message.
  self_host::WriteSqliteConfig(app_.Path(), app_.File("missing.db"));
  const TBackupOutcome unreachable = Backup(app_.File("bak"));
  EXPECT_EQ(unreachable.kind, Kind::kFailed);
  EXPECT_NE(unreachable.message.find("missing.db"), std::string::npos) << unreachable.message;
  EXPECT_EQ(connections_.Count(), 0u);
  ExpectPoolsWhole(/*permits=*/false);  // a failed open keeps its permit, as the pool does

  // Every connection in use: the pool's wait, then the backup gives up; the query goes back.
  TFDConnectionPool none(0, 10);
  const TBackupOutcome exhausted = BackupDatabase(none, queries_, app_.File("bak"), 1);
  EXPECT_EQ(exhausted.kind, Kind::kFailed);
  EXPECT_EQ(exhausted.message, "No database connection is free for the backup");
  ExpectPoolsWhole(/*permits=*/false);
  EXPECT_EQ(queries_.Permits(), kCapacity);
}

TEST(CopyDatabaseFile, ADestinationThatCannotBeCreatedRaisesNamingIt) {
  TempDir scratch;
  WriteFile(scratch.File("src"), "12345");
  const std::string dest = UnwritableFolder(scratch) + "/copy.mdb";
  try {
    CopyDatabaseFile(scratch.File("src"), dest);
    ADD_FAILURE() << "no error";
  } catch (const EBackupError& e) {
    EXPECT_NE(std::string(e.what()).find(dest), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(dest));
}

}  // namespace
}  // namespace velmora::test
