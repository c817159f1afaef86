// The Access dialog: browsing for the file with the dialog's filters, the test that saves
// DataBase.CFG only when the file opens (a plain box and the file byte for byte on a refusal), the
// restart and the summary. This build has no Access engine: a stand-in under "MSAcc" opens the
// named file with the SQLite engine, so a missing file is refused by a real engine. With the
// Access engine built in and a real .mdb named by VELMORA_TEST_MDB, the last test opens it.
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>

#include "db/core/connection.h"
#include "db/odbc/odbc_connection_string.h"
#include "maintenance/dialogs/uMSAcc.h"
#include "tests/maintenance/dialogs/dialog_fixture.h"

namespace velmora::test {
namespace {

constexpr char kAccessFile[] = "DriverID=MSAcc\r\nUser_Name=Admin\r\nDatabase=/old/data.mdb\r\n";

// Runs the chooser's "连接" with an Access file in place and `act` on the Access dialog.
class AccessDialogTest : public DialogsTest {
 protected:
  bool WithAccessDialog(const std::function<void(TfMSAcc&)>& act) {
    if (chooser_ == nullptr) OpenChooser();
    return WithEngineDialog<TfMSAcc>("fMSAcc", act);
  }
};

TEST_F(AccessDialogTest, BrowseShowsTheFiltersAndTakesThePickedFilesFullPath) {
  WriteConfig(kAccessFile);
  const std::string picked = folder_.File("公司 data.mdb");
  WriteFile(picked, "not really an Access file");
  WriteFile(folder_.File("readme"), "");
  EXPECT_TRUE(WithAccessDialog([&](TfMSAcc& d) {
    auto* files = d.findChild<QFileDialog*>(QStringLiteral("OpenDialog1"));
    ASSERT_NE(files, nullptr);
    // As designed, before the button sets its own.
    EXPECT_EQ(files->nameFilters(), (QStringList{"Accese数据库文件 (*.mdb)", "所有文件 (*)"}));

    // Cancel changes nothing.
    EXPECT_TRUE(WithModal(
        QStringLiteral("OpenDialog1"), [&] { d.btn1->click(); }, [](QDialog& f) { f.reject(); }));
    EXPECT_EQ(d.edt3->text(), QStringLiteral("/old/data.mdb"));

    EXPECT_TRUE(WithModal(
        QStringLiteral("OpenDialog1"), [&] { d.btn1->click(); },
        [&](QDialog& shown) {
          auto& f = static_cast<QFileDialog&>(shown);
          EXPECT_EQ(f.nameFilters(), (QStringList{"数据库文件(*.mdb)", "所有文件 (*)"}));
          // What the operator types into the name field (it has the focus, so selectFile would
          // not fill it).
          f.setDirectory(QString::fromStdString(folder_.Path()));
          auto* name = f.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
          ASSERT_NE(name, nullptr);
          name->setText(QStringLiteral("公司 data.mdb"));
          shown.accept();  // the file dialog's own accept, through the public one
        }));
    EXPECT_EQ(d.edt3->text(), QString::fromStdString(picked));
  }));
}

TEST_F(AccessDialogTest, TestSavesTheConnectionStringsLinesRestartsAndSummarises) {
  SqliteAsAccess engine;
  const std::string database = folder_.File("data.mdb");
  CreateSqliteFile(database);
  const struct {
    const char* user;
    const char* password;
    std::string file;
    QStringList summary;
  } cases[] = {
      // An empty password enters no line: the connection string's empty pair is left out.
      {"Admin",
       "",
       "DriverID=MSAcc\r\nUser_Name=Admin\r\nDatabase=" + database + "\r\n",
       {"连接成功", "DriverID=MSAcc", "User_Name=Admin",
        "Database=" + QString::fromStdString(database)}},
      {"Admin",
       "x",
       "DriverID=MSAcc\r\nUser_Name=Admin\r\nPassword=x\r\nDatabase=" + database + "\r\n",
       {"连接成功", "DriverID=MSAcc", "User_Name=Admin", "Password=********",
        "Database=" + QString::fromStdString(database)}},
      // The summary names the user as typed, also when it is empty.
      {"",
       "",
       "DriverID=MSAcc\r\nDatabase=" + database + "\r\n",
       {"连接成功", "DriverID=MSAcc",
        "User_Name=", "Database=" + QString::fromStdString(database)}},
  };
  for (const auto& c : cases) {
    WriteConfig(std::string(kAccessFile) + "ReadOnly=Yes\r\n");
    actions_.clear();
    OpenChooser();
    bool closed = false;
    EXPECT_TRUE(WithAccessDialog([&](TfMSAcc& d) {
      d.edt1->setText(QString::fromUtf8(c.user));
      d.edt2->setText(QString::fromUtf8(c.password));
      d.edt3->setText(QString::fromStdString(database));
      d.Button1->click();
      closed = !d.isVisible() && d.result() == QDialog::Accepted;
    }));
    EXPECT_TRUE(closed) << c.file;
    EXPECT_EQ(ReadConfig(), c.file);
    EXPECT_EQ(actions_, (std::vector<std::string>{"stop", "start"}));
    EXPECT_EQ(Summary(), c.summary);
    EXPECT_FALSE(chooser_->Conn1.Connected());
    EXPECT_TRUE(notices_.empty());
    EXPECT_TRUE(reports_.empty());
  }
}

// Blanks, quotes and "=" are kept as typed all the way: in the parameters the engine is given, in
// DataBase.CFG, and, once the file is read back, in the Access driver's connection string.
TEST_F(AccessDialogTest, FieldsAreKeptAsTypedFromTheDialogThroughTheFileToTheDriver) {
  const struct {
    const char* user;
    const char* password;
    const char* database;
    const char* odbc;  // what the Access driver is given, after the Driver= pair
  } cases[] = {
      {"Admin", " pw ", "/d/a\"b.mdb", "DBQ=/d/a\"b.mdb;UID=Admin;PWD= pw "},
      {" Ad min ", "\"quoted\"", "/d/trailing blank.mdb ",
       "DBQ=/d/trailing blank.mdb ;UID= Ad min ;PWD=\"quoted\""},
      {"a=b", "x=\"y\" {z}", "/d/公司.mdb", "DBQ=/d/公司.mdb;UID=a=b;PWD={x=\"y\" {z}}}"},
  };
  for (const auto& c : cases) {
    AcceptingDriver engine("MSAcc");
    WriteConfig(kAccessFile);
    actions_.clear();
    OpenChooser();
    EXPECT_TRUE(WithAccessDialog([&](TfMSAcc& d) {
      d.edt1->setText(QString::fromUtf8(c.user));
      d.edt2->setText(QString::fromUtf8(c.password));
      d.edt3->setText(QString::fromUtf8(c.database));
      d.Button1->click();
    }));
    const std::string file = std::string("DriverID=MSAcc\r\nUser_Name=") + c.user +
                             "\r\nPassword=" + c.password + "\r\nDatabase=" + c.database + "\r\n";
    EXPECT_EQ(ReadConfig(), file);
    ASSERT_EQ(engine.Opens().size(), 1u) << c.database;
    TStringList read_back;
    read_back.LoadFromFile(ConfigPath());
    EXPECT_EQ(engine.Opens()[0], read_back);
    EXPECT_EQ(read_back.Values("Password"), c.password);
    EXPECT_EQ(
        BuildOdbcConnectTarget(read_back, [](std::string_view) { return true; }).connection_string,
        std::string("Driver={MDBTools};") + c.odbc);
    EXPECT_EQ(Summary().value(2), QStringLiteral("User_Name=") + QString::fromUtf8(c.user));
    EXPECT_EQ(Summary().value(4), QStringLiteral("Database=") + QString::fromUtf8(c.database));
    EXPECT_EQ(actions_, (std::vector<std::string>{"stop", "start"}));
    EXPECT_TRUE(notices_.empty());
  }
}

// A value that DataBase.CFG or the Access driver cannot carry as typed is refused like a failed
// test, before any connection is tried: the message names the parameter and why.
TEST_F(AccessDialogTest, ValuesThatCannotBeCarriedAsTypedAreRefusedByName) {
  const struct {
    const char* user;
    const char* password;
    const char* database;
    const char* message;
  } cases[] = {
      {"Admin", "", " /d/a.mdb", "Connection parameter Database cannot begin with a blank"},
      {"Admin", "", "\t/d/a.mdb", "Connection parameter Database cannot begin with a blank"},
      {"Admin", "", "/d/a;b.mdb", "Connection parameter Database cannot hold \";\""},
      {"Admin", "", "/d/{a}.mdb", "Connection parameter Database cannot hold \"{\" or \"}\""},
      {"Admin", "a;b", "/d/a.mdb", "Connection parameter Password cannot hold \";\""},
      {"x;y", "", "/d/a.mdb", "Connection parameter User_Name cannot hold \";\""},
      // A line break would add a line of its own to the file: here, another driver library.
      {"Admin", "x\r\nODBCDriver=/tmp/other.so", "/d/a.mdb",
       "Connection parameter Password cannot hold a line break"},
      {"Admin\nDriverID=SQLite", "", "/d/a.mdb",
       "Connection parameter User_Name cannot hold a line break"},
  };
  for (const auto& c : cases) {
    AcceptingDriver engine("MSAcc");
    WriteConfig(kAccessFile);
    notices_.clear();
    OpenChooser();
    EXPECT_TRUE(WithAccessDialog([&](TfMSAcc& d) {
      d.edt1->setText(QString::fromUtf8(c.user));
      d.edt2->setText(QString::fromUtf8(c.password));
      d.edt3->setText(QString::fromUtf8(c.database));
      d.Button1->click();
      EXPECT_TRUE(d.isVisible());
    }));
    ASSERT_EQ(notices_.size(), 1u) << c.message;
    EXPECT_EQ(notices_[0].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(notices_[0].text.startsWith(QString::fromUtf8(c.message)))
        << notices_[0].text.toStdString();
    EXPECT_EQ(Summary(), (QStringList{"连接参数错误", notices_[0].text}));
    EXPECT_TRUE(engine.Opens().empty()) << c.message;
    EXPECT_EQ(ReadConfig(), kAccessFile);
    EXPECT_TRUE(actions_.empty());
  }
}

TEST_F(AccessDialogTest, RefusedTestShowsAPlainBoxAndLeavesTheFileByteForByte) {
  SqliteAsAccess engine;
  const std::string original =
      "\xEF\xBB\xBF"
      "DriverID=MSAcc\r\nDatabase=/old/data.mdb\r\nX=1";
  WriteConfig(original);
  const QString previous_name = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName(QStringLiteral("服务器"));
  for (const std::string& file : {folder_.File("missing.mdb"), std::string()}) {
    notices_.clear();
    EXPECT_TRUE(WithAccessDialog([&](TfMSAcc& d) {
      d.edt3->setText(QString::fromStdString(file));
      d.Button1->click();
      EXPECT_TRUE(d.isVisible());
    }));
    ASSERT_EQ(notices_.size(), 1u) << file;
    EXPECT_EQ(notices_[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(notices_[0].title, QStringLiteral("服务器"));
    EXPECT_EQ(notices_[0].owner, QStringLiteral("fMSAcc"));
    EXPECT_FALSE(notices_[0].text.isEmpty());
    EXPECT_EQ(Summary(), (QStringList{"连接参数错误", notices_[0].text}));
    EXPECT_EQ(ReadConfig(), original);
    EXPECT_TRUE(actions_.empty());
  }
  QCoreApplication::setApplicationName(previous_name);
  EXPECT_TRUE(reports_.empty());
}

// The real Access engine on a real .mdb: only where this build has the engine and the file is
// named (VELMORA_TEST_MDB).
TEST_F(AccessDialogTest, RealAccessFileOpensAndIsSaved) {
  const char* fixture = std::getenv("VELMORA_TEST_MDB");
  if (fixture == nullptr || !std::filesystem::exists(fixture)) {
    GTEST_SKIP() << "VELMORA_TEST_MDB names no .mdb file";
  }
  {
    TFDConnection probe;
    probe.SetConnectionString("DriverID=MSAcc;Database=" + std::string(fixture));
    try {
      probe.Open();
    } catch (const std::exception& e) {
      if (std::string(e.what()).find("is unknown") != std::string::npos) {
        GTEST_SKIP() << "this build has no Access engine: " << e.what();
      }
    }
  }
  WriteConfig(kAccessFile);
  EXPECT_TRUE(WithAccessDialog([&](TfMSAcc& d) {
    d.edt3->setText(QString::fromUtf8(fixture));
    d.Button1->click();
  }));
  EXPECT_TRUE(notices_.empty()) << (notices_.empty() ? "" : notices_[0].text.toStdString());
  EXPECT_EQ(ReadConfig(),
            "DriverID=MSAcc\r\nUser_Name=Admin\r\nDatabase=" + std::string(fixture) + "\r\n");
  EXPECT_EQ(actions_, (std::vector<std::string>{"stop", "start"}));
  EXPECT_EQ(Summary().value(0), QStringLiteral("连接成功"));
}

}  // namespace
}  // namespace velmora::test
