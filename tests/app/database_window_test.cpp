// "数据库设置" on the main window's maintenance page: the chooser opens modally without owner, and
// a saved test restarts the window's own service (its stop and start actions: log lines, buttons,
// also from a stopped service); a start that fails after the save goes to the standard error
// report. The Access dialog's engine is a stand-in that opens the named file with SQLite.
#include <sqlite3.h>

#include <QComboBox>
#include <QPushButton>
#include <QToolButton>

#include "db/core/driver_registry.h"
#include "db/sqlite/sqlite_connection.h"
#include "maintenance/dialogs/uMSAcc.h"
#include "maintenance/dialogs/uSetFDConnection.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/modal_dialog.h"

namespace velmora::test {
namespace {

class DatabaseSettingWindowTest : public ServingShellTest {
 protected:
  void SetUp() override {
    ServingShellTest::SetUp();
    old_db_ = folder_.File("old.db");
    new_db_ = folder_.File("new.db");
    CreateDatabase(old_db_);
    CreateDatabase(new_db_);
    WriteFile(folder_.File("DataBase.CFG"), "DriverID=SQLite\r\nDatabase=" + old_db_ + "\r\n");
  }

  static void CreateDatabase(const std::string& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t (x INTEGER)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }

  struct Outcome {
    bool chooser_shown = false;
    bool access_closed_itself = false;
    QString summary;  // the chooser's, once the Access dialog has gone
  };
  // Presses "数据库设置", then "连接" in the chooser, types `database` into the Access dialog and
  // presses "连接测试".
  Outcome SetDatabaseThroughTheWindow(const std::string& database) {
    Outcome out;
    WithModal(
        QStringLiteral("fSetFDConnection"), [this] { Find<QPushButton>("Button1")->click(); },
        [&](QDialog& shown) {
          auto& chooser = static_cast<TfSetFDConnection&>(shown);
          out.chooser_shown = true;
          EXPECT_EQ(chooser.parentWidget(), nullptr);  // without owner
          EXPECT_EQ(chooser.edtDriverName->currentText(), QStringLiteral("MSAcc"));
          EXPECT_TRUE(WithModal(
              QStringLiteral("fMSAcc"), [&] { chooser.Button2->click(); },
              [&](QDialog& access) {
                auto& d = static_cast<TfMSAcc&>(access);
                d.edt3->setText(QString::fromStdString(database));
                d.Button1->click();
                out.access_closed_itself = !d.isVisible();
              }));
          out.summary = chooser.Memo1->toPlainText();
        });
    return out;
  }

  std::string old_db_;
  std::string new_db_;
  TDriverRegistration access_{
      "MSAcc", [](const TStringList& params) {
        return std::unique_ptr<TDriverConnection>(std::make_unique<TSQLiteConnection>(params));
      }};
};

TEST_F(DatabaseSettingWindowTest, SavedTestRestartsTheWindowsServiceEvenWhenItWasStopped) {
  for (const bool stopped_first : {false, true}) {
    if (stopped_first) Find<QToolButton>("B_Stop")->click();
    ASSERT_EQ(service_->Started(), !stopped_first);
    const int stops = LogCount(QStringLiteral("服务关闭完成"));
    const int starts = LogCount(QStringLiteral("服务启动完成"));
    const Outcome out = SetDatabaseThroughTheWindow(new_db_);
    ASSERT_TRUE(out.chooser_shown);
    EXPECT_TRUE(out.access_closed_itself);
    EXPECT_EQ(out.summary, QStringLiteral("连接成功\nDriverID=MSAcc\nUser_Name=Admin\nDatabase=") +
                               QString::fromStdString(new_db_));
    EXPECT_EQ(ReadFile(folder_.File("DataBase.CFG")),
              "DriverID=MSAcc\r\nUser_Name=Admin\r\nDatabase=" + new_db_ + "\r\n");
    EXPECT_EQ(LogCount(QStringLiteral("服务关闭完成")), stops + 1);
    EXPECT_EQ(LogCount(QStringLiteral("服务启动完成")), starts + 1);
    EXPECT_TRUE(service_->Started());
    EXPECT_FALSE(Find<QToolButton>("B_Start")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>("B_Stop")->isEnabled());
    EXPECT_TRUE(notices_.empty());
  }
}

TEST_F(DatabaseSettingWindowTest, RestartThatCannotStartIsReportedAfterTheSave) {
  // The port field now names a port another process holds.
  QTcpServer blocker;
  ASSERT_TRUE(blocker.listen(QHostAddress::Any, 0));
  Find<QLineEdit>("E_SVROPENPORT")->setText(QString::number(blocker.serverPort()));
  const Outcome out = SetDatabaseThroughTheWindow(new_db_);
  ASSERT_TRUE(out.chooser_shown);
  // The Access dialog stays open, the summary is not replaced.
  EXPECT_FALSE(out.access_closed_itself);
  EXPECT_EQ(out.summary,
            QStringLiteral("DriverID=SQLite\nDatabase=") + QString::fromStdString(old_db_));
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].icon, QMessageBox::Critical);
  EXPECT_EQ(notices_[0].title, QStringLiteral("服务器"));
  EXPECT_EQ(ReadFile(folder_.File("DataBase.CFG")),
            "DriverID=MSAcc\r\nUser_Name=Admin\r\nDatabase=" + new_db_ + "\r\n");
  EXPECT_FALSE(service_->Started());
  EXPECT_TRUE(Find<QToolButton>("B_Start")->isEnabled());
  EXPECT_EQ(LogCount(QStringLiteral("服务关闭完成")), 1);
}

TEST_F(DatabaseSettingWindowTest, RefusedTestLeavesTheFileAndTheServiceAsTheyWere) {
  const std::string before = ReadFile(folder_.File("DataBase.CFG"));
  const Outcome out = SetDatabaseThroughTheWindow(folder_.File("missing.mdb"));
  ASSERT_TRUE(out.chooser_shown);
  EXPECT_FALSE(out.access_closed_itself);
  EXPECT_TRUE(out.summary.startsWith(QStringLiteral("连接参数错误\n")))
      << out.summary.toStdString();
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(ReadFile(folder_.File("DataBase.CFG")), before);
  EXPECT_EQ(LogCount(QStringLiteral("服务关闭完成")), 0);
  EXPECT_TRUE(service_->Started());
}

}  // namespace
}  // namespace velmora::test
