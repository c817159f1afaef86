// `velmora --app-dir DIR --set-database "..."` through the real program: with no copy serving DIR
// the program tests and saves by itself; with a copy serving (headless, or with its window) that
// copy tests the connection in its own process, saves DataBase.CFG and restarts its service, and
// its connections then use the new database. A refused test leaves the file byte for byte.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <csignal>
#include <memory>
#include <string>

#include "app/config/server_config.h"
#include "rpc/client_channel.h"
#include "rpc/rpc_errors.h"
#include "tests/app/headless_program.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

int FreePort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

void CreateDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t (x INTEGER)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

bool HasTable(const std::string& path, const std::string& table) {
  sqlite3* db = nullptr;
  bool found = false;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT 1 FROM sqlite_master WHERE name = '" + table + "'";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      found = sqlite3_step(st) == SQLITE_ROW;
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return found;
}

struct Finished {
  int exit_code = -1;
  QString out;
  QString err;
};

// One run of `velmora --app-dir DIR --set-database TEXT`, from the folder `cwd`.
Finished SetDatabase(const std::string& app_dir, const std::string& text, const std::string& cwd) {
  QProcess process;
  process.setProcessEnvironment(NoDisplayEnvironment());
  process.setWorkingDirectory(QString::fromStdString(cwd));
  process.start(QStringLiteral(VELMORA_PROGRAM),
                {QStringLiteral("--app-dir"), QString::fromStdString(app_dir),
                 QStringLiteral("--set-database"), QString::fromStdString(text)});
  Finished f;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished(2000);
    return f;
  }
  f.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  f.out = QString::fromUtf8(process.readAllStandardOutput());
  f.err = QString::fromUtf8(process.readAllStandardError());
  return f;
}

// A serving copy of the program for `app_dir`, started in `app_dir` as its working folder.
class Server {
 public:
  Server(const std::string& app_dir, bool headless) {
    QProcessEnvironment env = NoDisplayEnvironment();
    QStringList args{QStringLiteral("--app-dir"), QString::fromStdString(app_dir)};
    if (headless) {
      args.prepend(QStringLiteral("--headless"));
    } else {
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(QString::fromStdString(app_dir));
    process_.start(QStringLiteral(VELMORA_PROGRAM), args);
  }
  ~Server() {
    if (process_.state() != QProcess::NotRunning) {
      ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
      if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(2000);
      }
    }
  }
  // Waits until the port takes connections; false after 15 s or when the program ended.
  bool WaitForPort(int port) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000 && process_.state() != QProcess::NotRunning) {
      QTcpSocket socket;
      socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
      if (socket.waitForConnected(200)) return true;
      process_.waitForFinished(100);
    }
    return false;
  }
  // Standard output so far, once it holds `text` `times` times or after 5 s.
  QString Output(const QString& text, int times) {
    QElapsedTimer timer;
    timer.start();
    out_ += QString::fromUtf8(process_.readAllStandardOutput());
    while (out_.count(text) < times && timer.elapsed() < 5000 &&
           process_.state() != QProcess::NotRunning) {
      process_.waitForReadyRead(50);
      out_ += QString::fromUtf8(process_.readAllStandardOutput());
    }
    return out_;
  }
  QString Errors() { return QString::fromUtf8(process_.readAllStandardError()); }

 private:
  QProcess process_;
  QString out_;
};

std::unique_ptr<TDSClientChannel> Client(int port) {
  auto client = std::make_unique<TDSClientChannel>();
  client->Connect("127.0.0.1", static_cast<uint16_t>(port), "admin", std::string(kDefaultPassword));
  return client;
}

std::string ExecSql(TDSClientChannel& client, const std::string& sql) {
  const TDSCallResult r = client.Call("TServerModule1", "ExecSQL", {{OleVariant(sql)}});
  return r.Outs.at(0).AsString();
}

TEST(SetDatabaseProgram, WithNoCopyRunningTheProgramTestsAndSavesByItself) {
  TempDir folder;
  const std::string database = folder.File("app.db");
  CreateDatabase(database);
  // Odd bytes on purpose: a refused test must leave them exactly.
  const std::string original = "DriverID=SQLite\nDatabase=/nowhere/old.db\r\nBusyTimeout=5";
  WriteFile(folder.File("DataBase.CFG"), original);

  const struct {
    std::string text;
    const char* refusal;  // nullptr: done
  } refused[] = {
      {"DriverID=SQLite;Database=" + folder.File("missing.db"), "missing.db"},
      {"DriverID=NoSuchEngine;Database=" + database, "NoSuchEngine"},
      {"Database=" + database, "DriverID"},
  };
  for (const auto& r : refused) {
    const Finished f = SetDatabase(folder.Path(), r.text, folder.Path());
    EXPECT_EQ(f.exit_code, 1) << r.text;
    EXPECT_TRUE(f.err.contains(QString::fromLatin1(r.refusal))) << f.err.toStdString();
    EXPECT_TRUE(f.out.isEmpty()) << f.out.toStdString();
    EXPECT_EQ(ReadFile(folder.File("DataBase.CFG")), original);
  }

  const Finished f = SetDatabase(
      folder.Path(), "DriverID=SQLite;Database=" + database + ";Password=s3cret", folder.Path());
  EXPECT_EQ(f.exit_code, 0) << f.err.toStdString();
  EXPECT_TRUE(f.out.startsWith(QStringLiteral("连接成功\nDriverID=SQLite\nDatabase=") +
                               QString::fromStdString(database) +
                               QStringLiteral("\nPassword=********\n")))
      << f.out.toStdString();
  EXPECT_FALSE(f.out.contains(QStringLiteral("s3cret")));
  EXPECT_EQ(ReadFile(folder.File("DataBase.CFG")),
            "DriverID=SQLite\r\nDatabase=" + database + "\r\nPassword=s3cret\r\n");
  // It served nothing and wrote nothing else.
  EXPECT_EQ(folder.Listing(), (std::vector<std::string>{"DataBase.CFG", "app.db"}));
}

// The running copy tests in its own process: the database is named relative to the copy's
// working folder, where it exists, and the request comes from another folder, where it does not.
void ExpectTheServingCopyTestsSavesAndRestarts(bool headless) {
  TempDir folder;
  TempDir elsewhere;
  const int port = FreePort();
  WriteFile(folder.File("CONFIG.CFG"), "[CONFIG]\r\nSVROPENPORT=" + std::to_string(port) + "\r\n");
  CreateDatabase(folder.File("old.db"));
  CreateDatabase(folder.File("new.db"));
  WriteFile(folder.File("DataBase.CFG"), "DriverID=SQLite\r\nDatabase=old.db\r\n");
  Server server(folder.Path(), headless);
  ASSERT_TRUE(server.WaitForPort(port)) << server.Errors().toStdString();

  auto before = Client(port);
  EXPECT_EQ(ExecSql(*before, "CREATE TABLE made_before (x)"), "");

  // Refused: nothing changes, the service goes on.
  const std::string original = ReadFile(folder.File("DataBase.CFG"));
  const Finished refused =
      SetDatabase(folder.Path(), "DriverID=SQLite;Database=missing.db", elsewhere.Path());
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(refused.err.startsWith(QStringLiteral("连接参数错误\n")))
      << refused.err.toStdString();
  EXPECT_EQ(ReadFile(folder.File("DataBase.CFG")), original);
  EXPECT_EQ(ExecSql(*before, "CREATE TABLE made_between (x)"), "");

  const Finished done =
      SetDatabase(folder.Path(), "DriverID=SQLite;Database=new.db", elsewhere.Path());
  EXPECT_EQ(done.exit_code, 0) << done.err.toStdString();
  EXPECT_TRUE(done.out.startsWith(QStringLiteral("连接成功\nDriverID=SQLite\nDatabase=new.db\n")))
      << done.out.toStdString();
  EXPECT_TRUE(done.out.contains(QStringLiteral("restarted")));
  EXPECT_EQ(ReadFile(folder.File("DataBase.CFG")), "DriverID=SQLite\r\nDatabase=new.db\r\n");

  // The restart closed the connection; the service runs again, on the new database.
  EXPECT_THROW(ExecSql(*before, "CREATE TABLE made_by_a_closed_connection (x)"),
               EDSConnectionError);
  auto after = Client(port);
  EXPECT_EQ(ExecSql(*after, "CREATE TABLE made_after (x)"), "");
  EXPECT_TRUE(HasTable(folder.File("old.db"), "made_before"));
  EXPECT_TRUE(HasTable(folder.File("old.db"), "made_between"));
  EXPECT_FALSE(HasTable(folder.File("old.db"), "made_after"));
  EXPECT_TRUE(HasTable(folder.File("new.db"), "made_after"));
  EXPECT_TRUE(elsewhere.Listing().empty());

  if (headless) {
    // One stop and one start more than the start-up's, in that order.
    const QString log = server.Output(QStringLiteral(">>>服务启动完成\n"), 2);
    EXPECT_EQ(log.count(QStringLiteral(">>>服务关闭完成\n")), 1) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral(">>>服务启动完成\n")), 2) << log.toStdString();
    EXPECT_LT(log.indexOf(QStringLiteral(">>>服务关闭完成")),
              log.lastIndexOf(QStringLiteral(">>>服务启动完成")));
  }
}

TEST(SetDatabaseProgram, HeadlessCopyTestsInItsOwnProcessSavesAndRestarts) {
  ExpectTheServingCopyTestsSavesAndRestarts(true);
}

TEST(SetDatabaseProgram, WindowedCopyTestsInItsOwnProcessSavesAndRestarts) {
  ExpectTheServingCopyTestsSavesAndRestarts(false);
}

}  // namespace
}  // namespace velmora::test

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
