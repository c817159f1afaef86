// The engine chooser: its controls, the engine it selects and the summary it shows for a loaded
// DataBase.CFG (the password never in clear), the request for an engine, and which engine dialog
// "连接" opens with which fields.
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <cstdio>

#include "maintenance/dialogs/uMSAcc.h"
#include "maintenance/dialogs/uMSSQL.h"
#include "tests/maintenance/dialogs/dialog_fixture.h"

namespace velmora::test {
namespace {

TEST_F(DialogsTest, ChooserControlsAndNoFileMeansNoEngineAndAnEmptySummary) {
  TfSetFDConnection& chooser = OpenChooser();
  EXPECT_EQ(chooser.objectName(), QStringLiteral("fSetFDConnection"));
  EXPECT_EQ(chooser.windowTitle(), QStringLiteral("数据库设置"));
  EXPECT_TRUE(chooser.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(chooser.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(chooser.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(chooser.windowFlags() & Qt::WindowContextHelpButtonHint);
  EXPECT_EQ(chooser.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
            QStringLiteral("数据引擎"));
  auto* engines = chooser.findChild<QComboBox*>(QStringLiteral("edtDriverName"));
  ASSERT_NE(engines, nullptr);
  EXPECT_FALSE(engines->isEditable());
  ASSERT_EQ(engines->count(), 2);
  EXPECT_EQ(engines->itemText(0), QStringLiteral("MSSQL"));
  EXPECT_EQ(engines->itemText(1), QStringLiteral("MSAcc"));
  EXPECT_EQ(engines->currentIndex(), -1);
  EXPECT_EQ(chooser.findChild<QPushButton*>(QStringLiteral("Button2"))->text(),
            QStringLiteral("连接"));
  ASSERT_NE(chooser.findChild<QPlainTextEdit*>(QStringLiteral("Memo1")), nullptr);
  EXPECT_TRUE(Summary().isEmpty());

  // "连接" without an engine asks for one and opens nothing.
  chooser.Button2->click();
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].icon, QMessageBox::Warning);
  EXPECT_EQ(notices_[0].title, QStringLiteral("提示"));
  EXPECT_EQ(notices_[0].text, QStringLiteral("请选择数据引擎！"));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(actions_.empty());
}

TEST_F(DialogsTest, ChooserSelectsTheEngineAndSummarisesTheFileWithThePasswordMasked) {
  const struct {
    const char* file;
    const char* engine;
    QStringList summary;
  } cases[] = {
      {"DriverID=MSSQL\r\nUser_Name=sa\r\nPassword=a-very-long-password-of-36-characters\r\n"
       "OSAuthent=Yes\r\nServer=db1\\SQLEXPRESS\r\nDatabase=Sales\r\n",
       "MSSQL",
       {"DriverID=MSSQL", "User_Name=sa", "Password=********", "OSAuthent=Yes",
        "Server=db1\\SQLEXPRESS", "Database=Sales"}},
      // The summary's order is fixed, whatever the file's; a hand-added line is not shown.
      {"Database=Sales\r\nPort=1433\r\nServer=db1\r\nPassword=x\r\nDriverID=MSSQL\r\n",
       "MSSQL",
       {"DriverID=MSSQL", "Password=********", "Server=db1", "Database=Sales"}},
      {"DriverID=MSAcc\r\nUser_Name=Admin\r\nDatabase=/srv/data.mdb\r\n",
       "MSAcc",
       {"DriverID=MSAcc", "User_Name=Admin", "Database=/srv/data.mdb"}},
      // Every engine but MSSQL selects "MSAcc".
      {"DriverID=SQLite\r\nDatabase=/srv/velmora.db\r\n",
       "MSAcc",
       {"DriverID=SQLite", "Database=/srv/velmora.db"}},
      {"DriverID=FB\r\nUser_Name=SYSDBA\r\nPassword=masterkey\r\nDatabase=/srv/app.fdb\r\n",
       "MSAcc",
       {"DriverID=FB", "User_Name=SYSDBA", "Password=********", "Database=/srv/app.fdb"}},
      {"Database=/srv/x.db\r\n", "MSAcc", {"DriverID=", "Database=/srv/x.db"}},
      // Case matters for the engine's name; an empty file still shows the two fixed lines.
      {"DriverID=mssql\r\nDatabase=Sales\r\n", "MSAcc", {"DriverID=mssql", "Database=Sales"}},
      {"", "MSAcc", {"DriverID=", "Database="}},
  };
  for (const auto& c : cases) {
    WriteConfig(c.file);
    TfSetFDConnection& chooser = OpenChooser();
    EXPECT_EQ(chooser.edtDriverName->currentText(), QString::fromLatin1(c.engine)) << c.file;
    EXPECT_EQ(Summary(), c.summary) << c.file;
  }
}

TEST_F(DialogsTest, SqlServerDialogOpensWithTheFilesValuesEvenWhenEmpty) {
  WriteConfig("DriverID=MSSQL\r\nPassword=pw\r\nOSAuthent=Yes\r\nDatabase=Sales\r\n");
  TfSetFDConnection& chooser = OpenChooser();
  ASSERT_EQ(chooser.edtDriverName->currentText(), QStringLiteral("MSSQL"));
  const bool opened = WithEngineDialog<TfMSSQL>("fMSSQL", [](TfMSSQL& d) {
    EXPECT_EQ(d.windowTitle(), QStringLiteral("MSSQL数据库"));
    // No User_Name and no Server: the design texts "sa" and "(local)" are replaced.
    EXPECT_EQ(d.edt1->text(), QString());
    EXPECT_EQ(d.edt2->text(), QStringLiteral("pw"));
    EXPECT_EQ(d.edt2->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(d.chb1->isChecked());
    EXPECT_EQ(d.chb1->text(), QStringLiteral("OSAuthent"));
    EXPECT_EQ(d.edt4->text(), QString());
    EXPECT_EQ(d.edt3->text(), QStringLiteral("Sales"));
    EXPECT_EQ(d.Button1->text(), QStringLiteral("连接测试"));
    const char* labels[][2] = {
        {"edt1", "用户名"}, {"edt2", "密码"}, {"edt4", "服务器"}, {"edt3", "数据库"}};
    for (const auto& l : labels) {
      auto* label = d.findChild<QLabel*>(QString::fromLatin1(l[0]) + QStringLiteral("Label"));
      ASSERT_NE(label, nullptr) << l[0];
      EXPECT_EQ(label->text(), QString::fromUtf8(l[1]));
      EXPECT_EQ(label->buddy()->objectName(), QString::fromLatin1(l[0]));
    }
  });
  EXPECT_TRUE(opened);
}

TEST_F(DialogsTest, SqlServerDialogTicksWindowsAuthenticationOnlyForYes) {
  const struct {
    const char* line;
    bool ticked;
  } cases[] = {{"OSAuthent=Yes\r\n", true},
               {"OSAuthent=No\r\n", false},
               {"OSAuthent=yes\r\n", false},
               {"", false}};
  for (const auto& c : cases) {
    WriteConfig(std::string("DriverID=MSSQL\r\nUser_Name=u\r\n") + c.line);
    OpenChooser();
    EXPECT_TRUE(WithEngineDialog<TfMSSQL>("fMSSQL", [&](TfMSSQL& d) {
      EXPECT_EQ(d.chb1->isChecked(), c.ticked) << c.line;
      EXPECT_EQ(d.edt1->text(), QStringLiteral("u"));
      EXPECT_EQ(d.edt4->text(), QString());
    }));
  }
}

TEST_F(DialogsTest, AccessDialogOpensCaptionedWithUserAdminOverTheFilesUser) {
  WriteConfig("DriverID=SQLite\r\nUser_Name=someone\r\nPassword=pw\r\nDatabase=/srv/v.db\r\n");
  OpenChooser();
  const bool opened = WithEngineDialog<TfMSAcc>("fMSAcc", [](TfMSAcc& d) {
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Accese数据库"));
    EXPECT_EQ(d.edt1->text(), QStringLiteral("Admin"));
    EXPECT_EQ(d.edt2->text(), QStringLiteral("pw"));
    EXPECT_EQ(d.edt2->echoMode(), QLineEdit::Password);
    EXPECT_EQ(d.edt3->text(), QStringLiteral("/srv/v.db"));
    EXPECT_EQ(d.Button1->text(), QStringLiteral("连接测试"));
    const char* labels[][2] = {{"edt1", "用户名"}, {"edt2", "密码"}, {"edt3", "数据库"}};
    for (const auto& l : labels) {
      auto* label = d.findChild<QLabel*>(QString::fromLatin1(l[0]) + QStringLiteral("Label"));
      ASSERT_NE(label, nullptr) << l[0];
      EXPECT_EQ(label->text(), QString::fromUtf8(l[1]));
    }
  });
  EXPECT_TRUE(opened);
}

TEST_F(DialogsTest, ConnectReloadsTheFileAndKeepsTheLastParametersWhenItIsGone) {
  WriteConfig("DriverID=MSSQL\r\nServer=first\r\nDatabase=One\r\n");
  OpenChooser();
  // Changed after the chooser opened: "连接" reads it again.
  WriteConfig("DriverID=MSSQL\r\nServer=second\r\nDatabase=Two\r\n");
  EXPECT_TRUE(WithEngineDialog<TfMSSQL>("fMSSQL", [](TfMSSQL& d) {
    EXPECT_EQ(d.edt4->text(), QStringLiteral("second"));
    EXPECT_EQ(d.edt3->text(), QStringLiteral("Two"));
  }));
  // Gone: the parameters loaded last stay.
  std::remove(ConfigPath().c_str());
  EXPECT_TRUE(WithEngineDialog<TfMSSQL>("fMSSQL", [](TfMSSQL& d) {
    EXPECT_EQ(d.edt4->text(), QStringLiteral("second"));
    EXPECT_EQ(d.edt3->text(), QStringLiteral("Two"));
  }));
  EXPECT_TRUE(notices_.empty());
}

// Every dialog opens in the middle of the screen; the engine dialogs too, although the chooser
// owns them (it is moved to a corner first, so that centring on it would show).
TEST_F(DialogsTest, DialogsOpenCentredOnTheScreen) {
  WriteConfig("DriverID=MSSQL\r\nDatabase=Sales\r\n");
  TfSetFDConnection& chooser = OpenChooser();
  const QPoint middle = QGuiApplication::primaryScreen()->availableGeometry().center();
  const auto off_centre = [&](const QWidget& w) {
    return (w.frameGeometry().center() - middle).manhattanLength();
  };
  chooser.show();  // what exec() shows
  EXPECT_LE(off_centre(chooser), 1);
  chooser.move(0, 0);
  const struct {
    int engine;
    const char* form;
  } engines[] = {{0, "fMSSQL"}, {1, "fMSAcc"}};
  for (const auto& e : engines) {
    chooser.edtDriverName->setCurrentIndex(e.engine);
    EXPECT_TRUE(WithModal(
        QString::fromLatin1(e.form), [&] { chooser.Button2->click(); },
        [&](QDialog& d) {
          EXPECT_LE(off_centre(d), 1) << e.form;
          EXPECT_GT(
              (d.frameGeometry().center() - chooser.frameGeometry().center()).manhattanLength(), 1)
              << e.form;
        }));
  }
}

}  // namespace
}  // namespace velmora::test
