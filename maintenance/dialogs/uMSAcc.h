// TfMSAcc: the Access dialog (the chooser captions it "Accese数据库"). It shows the chooser's
// current parameters; the browse button picks the database file; "连接测试" tests the typed
// parameters with the chooser's connection, and only when it opens saves them to DataBase.CFG,
// restarts the service through the window's stop and start actions, writes the outcome into the
// chooser's summary and closes. A refused test shows the engine's message and leaves the file
// untouched and the dialog open. The fields are kept as typed; a value that DataBase.CFG or the
// Access driver cannot carry (AccessParameters) is refused the same way, before any connection is
// tried. No field is checked for emptiness: an empty file name fails when the connection opens.
#pragma once

#include <QDialog>

class QFileDialog;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace velmora {

class TfSetFDConnection;

// The open-file dialog's filters: as designed, and as the browse button sets them.
inline constexpr char kDesignedDatabaseFilter[] = "Accese数据库文件|*.mdb|所有文件|*.*";
inline constexpr char kBrowseDatabaseFilter[] = "数据库文件(*.mdb)|*.mdb|所有文件|*.*";

class TfMSAcc : public QDialog {
  Q_OBJECT

 public:
  // Builds the dialog (form fMSAcc) over the chooser and runs its FormCreate.
  explicit TfMSAcc(TfSetFDConnection& chooser);
  ~TfMSAcc() override;

  // Fills the fields from the chooser's current parameter list.
  void FormCreate();
  // Browse: sets the open-file dialog's filter and shows it; a picked file's full path goes into
  // the database field, a cancel changes nothing.
  void btn1Click();
  // "连接测试". Errors of the save and the restart are left to the caller (the button hands them to
  // the standard error report).
  void Button1Click();

  QLineEdit* edt1 = nullptr;  // 用户名: User_Name
  QLineEdit* edt2 = nullptr;  // 密码: Password
  QLineEdit* edt3 = nullptr;  // 数据库: Database, a file path
  QToolButton* btn1 = nullptr;
  QFileDialog* OpenDialog1 = nullptr;
  QPushButton* Button1 = nullptr;

 private:
  TfSetFDConnection& chooser_;
};

}  // namespace velmora
