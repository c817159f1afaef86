// `velmora --backup-now` through the real program: the copy serving the folder makes the backup
// while a client goes on writing, a folder it cannot write into leaves no file and one log line,
// and with no copy running the program makes the backup by itself.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "app/config/server_config.h"
#include "client/velmora_client.h"
#include "tests/app/headless_program.h"
#include "tests/support/temp_dir.h"
#include "tools/self_host/database_config.h"
#include "tools/self_host/fixture_db.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

int FreePort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

struct Finished {
  int code = -1;
  QString out;
  QString err;
};

Finished BackupNow(const std::string& app_dir) {
  QProcess process;
  process.setProcessEnvironment(NoDisplayEnvironment());
  process.start(QStringLiteral(VELMORA_PROGRAM),
                {QStringLiteral("--app-dir"), QString::fromStdString(app_dir),
                 QStringLiteral("--backup-now")});
  if (!process.waitForFinished(120000)) return {};
  return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
          QString::fromUtf8(process.readAllStandardError())};
}

int64_t Count(const std::string& database, const char* sql) {
  sqlite3* db = nullptr;
  int64_t n = -1;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    n = sqlite3_column_int64(stmt, 0);
  } else {
    ADD_FAILURE() << sqlite3_errmsg(db) << " in " << database;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return n;
}

// A folder holding a SQLite database of `rows` rows, its DataBase.CFG, and CONFIG.CFG on a free
// port with the backup folder `bakpath`.
int PrepareFolder(const TempDir& folder, const std::string& bakpath, int rows) {
  self_host::CreateFixtureDatabase(folder.File("app.db"), rows);
  self_host::WriteSqliteConfig(folder.Path(), folder.File("app.db"));
  const int port = FreePort();
  WriteFile(folder.File("CONFIG.CFG"), "[CONFIG]\r\nSVROPENPORT=" + std::to_string(port) +
                                           "\r\n[Backup]\r\nbakpath=" + bakpath + "\r\n");
  return port;
}

int Occurrences(const QString& text, const QString& part) {
  return static_cast<int>(text.count(part));
}

TEST(BackupNow, TheRunningCopyBacksUpWhileAClientWritesEveryRowCommittedBeforeIsThere) {
  TempDir folder;
  const std::string bak = folder.File("bak");
  const int port = PrepareFolder(folder, bak, 20000);
  HeadlessProgram server(folder.Path());
  ASSERT_TRUE(server.WaitForOutput(QStringLiteral(">>>服务启动完成\n")))
      << server.Output().toStdString();

  TVelmoraClient setup;
  setup.Connect("127.0.0.1", static_cast<uint16_t>(port), "admin", std::string(kDefaultPassword));
  std::string error;
  setup.ExecSQL("CREATE TABLE LOG (ID INTEGER PRIMARY KEY, V TEXT)", error);
  ASSERT_EQ(error, "");

  std::atomic<int64_t> committed{0};
  std::atomic<bool> stop{false};
  std::string writer_error;
  std::thread writer([&] {
    TVelmoraClient client;
    client.Connect("127.0.0.1", static_cast<uint16_t>(port), "admin",
                   std::string(kDefaultPassword));
    for (int64_t id = 1; !stop; ++id) {
      std::string err;
      client.ExecSQL("INSERT INTO LOG VALUES (" + std::to_string(id) + ", 'row')", err);
      if (!err.empty()) {
        writer_error = err;
        return;
      }
      committed = id;  // acknowledged: committed
    }
  });
  while (committed < 100 && writer_error.empty())
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const int64_t before = committed;
  const Finished run = BackupNow(folder.Path());
  const int64_t after = committed;
  stop = true;
  writer.join();
  EXPECT_EQ(writer_error, "");

  ASSERT_EQ(run.code, 0) << run.err.toStdString();
  EXPECT_EQ(run.err, "");
  const QRegularExpression made(QStringLiteral("^已生成备份文件:(.*/bak/[0-3][0-9]app\\.db)\\n$"));
  const QRegularExpressionMatch match = made.match(run.out);
  ASSERT_TRUE(match.hasMatch()) << run.out.toStdString();
  const std::string file = match.captured(1).toStdString();
  EXPECT_EQ(fs::path(file).parent_path(), fs::path(bak));
  // The running copy made it and logged it.
  EXPECT_TRUE(server.WaitForOutput(QStringLiteral(">>>") + run.out));

  const int64_t rows = Count(file, "SELECT COUNT(*) FROM LOG");
  EXPECT_GE(rows, before);
  EXPECT_LE(rows, after);
  EXPECT_EQ(Count(file, "SELECT MAX(ID) FROM LOG"), rows);
  EXPECT_EQ(Count(file, "SELECT COUNT(*) FROM BIG_TABLE"), 20000);
  EXPECT_EQ(server.Terminate(), 0);
}

TEST(BackupNow, AnUnwritableFolderLeavesNoFileAndOneLogLineAndWithoutACopyTheProgramBacksUp) {
  TempDir folder;
  std::string locked = "/proc";  // root writes anywhere else
  if (::geteuid() != 0) {
    locked = folder.File("locked");
    fs::create_directory(locked);
    ::chmod(locked.c_str(), 0555);
  }
  PrepareFolder(folder, locked, 10);
  {
    HeadlessProgram server(folder.Path());
    ASSERT_TRUE(server.WaitForOutput(QStringLiteral(">>>服务启动完成\n")));
    const Finished run = BackupNow(folder.Path());
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("备份失败:"))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QString::fromStdString(locked))) << run.err.toStdString();
    ASSERT_TRUE(server.WaitForOutput(QStringLiteral(">>>备份失败:")));
    server.WaitForOutput(QStringLiteral("\x01"), 300);  // whatever else comes
    EXPECT_EQ(Occurrences(server.Output(), QStringLiteral(">>>备份失败:")), 1);
    EXPECT_EQ(Occurrences(server.Output(), QStringLiteral(">>>")),
              Occurrences(server.Output(), QStringLiteral("\n")));
    EXPECT_EQ(server.Terminate(), 0);
  }
  for (const auto& entry : fs::directory_iterator(locked))
    EXPECT_EQ(entry.path().string().find("app.db"), std::string::npos) << entry.path();

  // No copy running: the program makes the backup itself, starting no service.
  const Finished refused = BackupNow(folder.Path());
  EXPECT_EQ(refused.code, 1);
  EXPECT_TRUE(refused.err.startsWith(QStringLiteral("备份失败:"))) << refused.err.toStdString();
  const std::string bak = folder.File("own");
  WriteFile(folder.File("CONFIG.CFG"), "[Backup]\r\nbakpath=" + bak + "\r\n");
  const Finished made = BackupNow(folder.Path());
  ASSERT_EQ(made.code, 0) << made.err.toStdString();
  EXPECT_FALSE(made.out.contains(QStringLiteral("服务启动完成")));
  ASSERT_TRUE(made.out.startsWith(QStringLiteral("已生成备份文件:") + QString::fromStdString(bak)))
      << made.out.toStdString();
  const std::string file = made.out.mid(8).trimmed().toStdString();
  EXPECT_EQ(Count(file, "SELECT COUNT(*) FROM BIG_TABLE"), 10);
}

}  // namespace
}  // namespace velmora::test

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
