#include "maintenance/dialogs/uMSAcc.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <exception>
#include <string>
#include <string_view>

#include "maintenance/dialogs/database_setting.h"
#include "maintenance/dialogs/file_filter.h"
#include "maintenance/dialogs/uSetFDConnection.h"

namespace velmora {

TfMSAcc::TfMSAcc(TfSetFDConnection& chooser) : QDialog(&chooser), chooser_(chooser) {
  setObjectName(QStringLiteral("fMSAcc"));
  setWindowTitle(QStringLiteral("fMSAcc"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  auto* column = new QVBoxLayout(this);
  edt1 = AddLabelledEdit(this, column, "edt1", QStringLiteral("用户名"));
  edt2 = AddLabelledEdit(this, column, "edt2", QStringLiteral("密码"));
  ShowPasswordAsStars(edt2);
  btn1 = new QToolButton(this);
  btn1->setObjectName(QStringLiteral("btn1"));
  btn1->setText(QStringLiteral("..."));
  edt3 = AddLabelledEdit(this, column, "edt3", QStringLiteral("数据库"), {}, btn1);
  Button1 = new QPushButton(QStringLiteral("连接测试"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setAutoDefault(false);
  column->addWidget(Button1);
  setMinimumWidth(360);

  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
  // Qt's own dialog: the same on every desktop, and one that tests can drive.
  OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setNameFilters(NameFiltersFromFilter(QString::fromUtf8(kDesignedDatabaseFilter)));

  connect(btn1, &QToolButton::clicked, this,
          [this] { RunReported(chooser_.Host(), this, [this] { btn1Click(); }); });
  connect(Button1, &QPushButton::clicked, this,
          [this] { RunReported(chooser_.Host(), this, [this] { Button1Click(); }); });
  FormCreate();
  CenterOnDesktop(this);
}

TfMSAcc::~TfMSAcc() = default;

void TfMSAcc::FormCreate() {
  const TFDConnection& conn = chooser_.Conn1;
  edt1->setText(ParamText(conn.Params(), "User_Name"));
  edt2->setText(ParamText(conn.Params(), "Password"));
  edt3->setText(ParamText(conn.Params(), "Database"));
}

void TfMSAcc::btn1Click() {
  OpenDialog1->setNameFilters(NameFiltersFromFilter(QString::fromUtf8(kBrowseDatabaseFilter)));
  if (OpenDialog1->exec() != QDialog::Accepted) return;
  const QStringList picked = OpenDialog1->selectedFiles();
  if (!picked.isEmpty()) edt3->setText(picked.first());
}

void TfMSAcc::Button1Click() {
  TFDConnection& conn = chooser_.Conn1;
  try {
    conn.Close();
    // The fields as typed, not through a connection string, whose reading would trim blanks and
    // take quotes as its own; a value the file or the driver cannot carry is refused here.
    conn.Params() = AccessParameters(edt1->text().toStdString(), edt2->text().toStdString(),
                                     edt3->text().toStdString());
    conn.LoginPrompt = false;
    conn.Open();
  } catch (const std::exception& e) {
    const QString message = QString::fromUtf8(e.what());
    // A plain box: the application's title as its caption, no icon.
    chooser_.Host().message_box(this, QMessageBox::NoIcon, QCoreApplication::applicationName(),
                                message);
    chooser_.SetSummary({ToQString(kConnectRefused), message});
    return;
  }
  SaveDatabaseConfig(conn, DatabaseConfigPath());
  chooser_.Host().stop_service();
  chooser_.Host().start_service();

  QStringList summary{ToQString(kConnectSucceeded), QStringLiteral("DriverID=MSAcc"),
                      QStringLiteral("User_Name=") + edt1->text()};
  if (!edt2->text().isEmpty()) summary << ToQString(kMaskedPasswordLine);
  summary << QStringLiteral("Database=") + edt3->text();
  chooser_.SetSummary(summary);
  accept();
}

}  // namespace velmora
