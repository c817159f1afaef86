// TfMSSQL: the SQL Server dialog, "MSSQL数据库". It shows the chooser's current parameters;
// "连接测试" tests the typed ones with the chooser's connection, and only when it opens saves them
// to DataBase.CFG, restarts the service through the window's stop and start actions, writes the
// outcome into the chooser's summary and closes. A refused test shows the engine's message and
// leaves the file untouched and the dialog open; so does a field holding a line break, which
// DataBase.CFG cannot keep in one line.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velmora {

class TfSetFDConnection;

class TfMSSQL : public QDialog {
  Q_OBJECT

 public:
  // Builds the dialog (form fMSSQL) over the chooser and runs its FormCreate.
  explicit TfMSSQL(TfSetFDConnection& chooser);
  ~TfMSSQL() override;

  // Fills the fields from the chooser's current parameter list (also when a value is empty).
  void FormCreate();
  // "连接测试". With an empty database field it does nothing. Errors of the save and the restart
  // are left to the caller (the button hands them to the standard error report).
  void Button1Click();

  QLineEdit* edt1 = nullptr;  // 用户名: User_Name
  QLineEdit* edt2 = nullptr;  // 密码: Password
  QCheckBox* chb1 = nullptr;  // OSAuthent
  QLineEdit* edt4 = nullptr;  // 服务器: Server
  QLineEdit* edt3 = nullptr;  // 数据库: Database
  QPushButton* Button1 = nullptr;

 private:
  TfSetFDConnection& chooser_;
};

}  // namespace velmora
