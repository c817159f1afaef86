// The SQL Server dialog's test: DataBase.CFG saved only when the connection opens, with exactly
// the lines the dialog sets, then the restart (stop, then start) and the summary; a refused test
// leaves the file byte for byte and the dialog open; a save or start that fails goes to the error
// report. SQL Server is not reachable here: a stand-in driver under "MSSQL" accepts the open.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <filesystem>

#include "maintenance/dialogs/uMSSQL.h"
#include "tests/maintenance/dialogs/dialog_fixture.h"

namespace velmora::test {
namespace {

// A file whose every line the dialog drops: after a good test none of it is left.
constexpr char kHandWritten[] =
    "DriverID=MSSQL\r\nUser_Name=old\r\nPassword=old\r\nServer=old\r\nDatabase=Old\r\nPort="
    "1433\r\n";

struct Typed {
  const char* user;
  const char* password;
  bool windows_authentication;
  const char* server;
  const char* database;
};

void Type(TfMSSQL& d, const Typed& t) {
  d.edt1->setText(QString::fromUtf8(t.user));
  d.edt2->setText(QString::fromUtf8(t.password));
  d.chb1->setChecked(t.windows_authentication);
  d.edt4->setText(QString::fromUtf8(t.server));
  d.edt3->setText(QString::fromUtf8(t.database));
}

TEST_F(DialogsTest, SqlServerTestSavesTheSetLinesRestartsAndSummarises) {
  const struct {
    Typed typed;
    const char* file;
    QStringList summary;
  } cases[] = {
      {{"", "", true, "db1\\SQLEXPRESS", "Sales"},
       "DriverID=MSSQL\r\nOSAuthent=Yes\r\nServer=db1\\SQLEXPRESS\r\nDatabase=Sales\r\n",
       {"连接成功", "DriverID=MSSQL", "OSAuthent=Yes", "Server=db1\\SQLEXPRESS", "Database=Sales"}},
      // Without Windows authentication the file has no OSAuthent line, the summary says No.
      {{"sa", "secret password with spaces", false, "10.0.0.5,1433", "销售"},
       "DriverID=MSSQL\r\nUser_Name=sa\r\nPassword=secret password with spaces\r\n"
       "Server=10.0.0.5,1433\r\nDatabase=销售\r\n",
       {"连接成功", "DriverID=MSSQL", "OSAuthent=No", "User_Name=sa", "Password=********",
        "Server=10.0.0.5,1433", "Database=销售"}},
      // An empty password adds no line anywhere; an empty server is left out of the file.
      {{"reader", "", false, "", "Sales"},
       "DriverID=MSSQL\r\nUser_Name=reader\r\nDatabase=Sales\r\n",
       {"连接成功", "DriverID=MSSQL", "OSAuthent=No", "User_Name=reader",
        "Server=", "Database=Sales"}},
      {{"sa", "p", true, "(local)", "Sales"},
       "DriverID=MSSQL\r\nUser_Name=sa\r\nPassword=p\r\nOSAuthent=Yes\r\nServer=(local)\r\n"
       "Database=Sales\r\n",
       {"连接成功", "DriverID=MSSQL", "OSAuthent=Yes", "Server=(local)", "Database=Sales"}},
  };
  for (const auto& c : cases) {
    AcceptingDriver standin("MSSQL");
    WriteConfig(kHandWritten);
    actions_.clear();
    OpenChooser();
    bool closed = false;
    EXPECT_TRUE(WithEngineDialog<TfMSSQL>("fMSSQL", [&](TfMSSQL& d) {
      Type(d, c.typed);
      d.Button1->click();
      closed = !d.isVisible() && d.result() == QDialog::Accepted;
    }));
    EXPECT_TRUE(closed) << c.file;
    EXPECT_EQ(ReadConfig(), c.file);
    EXPECT_EQ(actions_, (std::vector<std::string>{"stop", "start"}));
    EXPECT_EQ(Summary(), c.summary) << c.file;
    // The engine was given the lines saved, and the working connection was closed after.
    ASSERT_EQ(standin.Opens().size(), 1u);
    TStringList saved;
    saved.SetText(c.file);
    EXPECT_EQ(standin.Opens()[0], saved);
    EXPECT_FALSE(chooser_->Conn1.Connected());
    EXPECT_TRUE(notices_.empty());
    EXPECT_TRUE(reports_.empty());
  }
}

TEST_F(DialogsTest, SqlServerTestWithAnEmptyDatabaseDoesNothing) {
  AcceptingDriver standin("MSSQL");
  WriteConfig(kHandWritten);
  OpenChooser();
  const QStringList before = Summary();
  EXPECT_TRUE(WithEngineDialog<TfMSSQL>("fMSSQL", [](TfMSSQL& d) {
    d.edt3->clear();
    d.Button1->click();
    EXPECT_TRUE(d.isVisible());
  }));
  EXPECT_TRUE(standin.Opens().empty());
  EXPECT_EQ(ReadConfig(), kHandWritten);
  EXPECT_EQ(Summary(), before);
  EXPECT_TRUE(actions_.empty());
  EXPECT_TRUE(notices_.empty());
}

// A field with a line break would add a line of its own to DataBase.CFG (here, another driver
// library): refused like a failed test, before any connection is tried.
TEST_F(DialogsTest, SqlServerFieldWithALineBreakIsRefusedByName) {
  const struct {
    Typed typed;
    const char* message;
  } cases[] = {
      {{"sa", "x\r\nODBCDriver=/tmp/other.so", false, "(local)", "Sales"},
       "Connection parameter Password cannot hold a line break"},
      {{"sa", "", false, "db1\nPort=1", "Sales"},
       "Connection parameter Server cannot hold a line break"},
  };
  for (const auto& c : cases) {
    AcceptingDriver standin("MSSQL");
    WriteConfig(kHandWritten);
    notices_.clear();
    OpenChooser();
    EXPECT_TRUE(WithEngineDialog<TfMSSQL>("fMSSQL", [&](TfMSSQL& d) {
      Type(d, c.typed);
      d.Button1->click();
      EXPECT_TRUE(d.isVisible());
    }));
    ASSERT_EQ(notices_.size(), 1u) << c.message;
    EXPECT_EQ(notices_[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(notices_[0].text.startsWith(QString::fromUtf8(c.message)))
        << notices_[0].text.toStdString();
    EXPECT_EQ(Summary(), (QStringList{"连接参数错误", notices_[0].text}));
    EXPECT_TRUE(standin.Opens().empty());
    EXPECT_EQ(ReadConfig(), kHandWritten);
    EXPECT_TRUE(actions_.empty());
  }
}

TEST_F(DialogsTest, RefusedSqlServerTestShowsTheErrorAndLeavesTheFileByteForByte) {
  // No engine answers: the server is a local listener that never says a word (and this build may
  // have no SQL Server driver at all; either way the connection does not open).
  QTcpServer silent;
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  // Odd bytes on purpose: no mark, LF and CR LF mixed, no final line end, a hand-added line.
  const std::string original = "DriverID=MSSQL\nServer=old\r\nDatabase=Old\r\nPort=1433";
  WriteConfig(original);
  OpenChooser();
  QString shown;
  EXPECT_TRUE(WithEngineDialog<TfMSSQL>("fMSSQL", [&](TfMSSQL& d) {
    Type(d, {"sa", "pw", false, qPrintable(QStringLiteral("127.0.0.1,%1").arg(silent.serverPort())),
             "Sales"});
    d.Button1->click();
    EXPECT_TRUE(d.isVisible());  // stays open for correction
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0].icon, QMessageBox::Warning);
    EXPECT_EQ(notices_[0].title, QStringLiteral("提示"));
    EXPECT_EQ(notices_[0].owner, QStringLiteral("fMSSQL"));
    shown = notices_[0].text;
  }));
  EXPECT_FALSE(shown.isEmpty());
  // The engine's message may run over several lines (FreeTDS gives two); the summary holds them
  // all.
  EXPECT_EQ(Summary(), QStringList{"连接参数错误"} + shown.split(QLatin1Char('\n')));
  EXPECT_EQ(ReadConfig(), original);
  EXPECT_TRUE(actions_.empty());
  EXPECT_TRUE(reports_.empty());
}

TEST_F(DialogsTest, UnwritableFileGoesToTheErrorReportWithoutRestartOrSummary) {
  AcceptingDriver standin("MSSQL");
  // A folder where the file should be: it cannot be written, whoever runs the test.
  std::filesystem::create_directory(ConfigPath());
  OpenChooser();
  chooser_->edtDriverName->setCurrentIndex(0);
  chooser_->SetSummary({"before"});
  EXPECT_TRUE(WithEngineDialog<TfMSSQL>("fMSSQL", [&](TfMSSQL& d) {
    Type(d, {"sa", "pw", false, "db1", "Sales"});
    d.Button1->click();
    EXPECT_TRUE(d.isVisible());
  }));
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_TRUE(reports_[0].contains(QString::fromStdString(ConfigPath())))
      << reports_[0].toStdString();
  EXPECT_TRUE(notices_.empty());
  EXPECT_TRUE(actions_.empty());
  EXPECT_EQ(Summary(), QStringList{"before"});
}

TEST_F(DialogsTest, FailedStartAfterTheSaveGoesToTheErrorReportAndKeepsTheDialogOpen) {
  AcceptingDriver standin("MSSQL");
  WriteConfig(kHandWritten);
  start_fails_ = true;
  OpenChooser();
  const QStringList before = Summary();
  EXPECT_TRUE(WithEngineDialog<TfMSSQL>("fMSSQL", [&](TfMSSQL& d) {
    Type(d, {"", "", true, "db1", "Sales"});
    d.Button1->click();
    EXPECT_TRUE(d.isVisible());
  }));
  EXPECT_EQ(ReadConfig(), "DriverID=MSSQL\r\nOSAuthent=Yes\r\nServer=db1\r\nDatabase=Sales\r\n");
  EXPECT_EQ(actions_, (std::vector<std::string>{"stop", "start"}));
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0], QStringLiteral("Cannot listen on port 211: Address already in use"));
  EXPECT_EQ(Summary(), before);
}

}  // namespace
}  // namespace velmora::test
