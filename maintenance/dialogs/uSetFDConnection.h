// TfSetFDConnection: the engine chooser, "数据库设置". It loads DataBase.CFG into its working
// connection Conn1 and shows a summary of it in Memo1 (the password always masked); "连接" opens
// the SQL Server or the Access dialog, which test their parameters with Conn1, save its parameter
// list to DataBase.CFG and write the outcome into Memo1.
//
// Runs on the UI thread only. Opening a connection blocks the window until the engine answers.
#pragma once

#include <QDialog>
#include <QStringList>

#include "db/core/connection.h"
#include "maintenance/dialogs/dialog_host.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace velmora {

class TfSetFDConnection : public QDialog {
  Q_OBJECT

 public:
  // Builds the chooser (form fSetFDConnection) and runs its FormCreate.
  explicit TfSetFDConnection(DialogHost host, QWidget* parent = nullptr);
  ~TfSetFDConnection() override;

  // Loads DataBase.CFG: selects the engine and fills the summary; without a readable file, no
  // engine is selected and the summary stays empty.
  void FormCreate();
  // "连接": reloads DataBase.CFG (keeping the previous parameters when it cannot be read), then
  // opens the dialog of the selected engine modally, or asks for an engine.
  void Button2Click();

  // Replaces the summary by `lines`.
  void SetSummary(const QStringList& lines);
  const DialogHost& Host() const { return host_; }

  // The working connection the engine dialogs test with and save from; no pooled connection.
  TFDConnection Conn1;

  QLabel* Label1 = nullptr;
  QComboBox* edtDriverName = nullptr;
  QPushButton* Button2 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;

 private:
  DialogHost host_;
};

}  // namespace velmora
