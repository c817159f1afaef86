#include "maintenance/dialogs/uSetFDConnection.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>
#include <utility>

#include "maintenance/dialogs/database_setting.h"
#include "maintenance/dialogs/uMSAcc.h"
#include "maintenance/dialogs/uMSSQL.h"

namespace velmora {

namespace {

QStringList ToLines(const std::vector<std::string>& lines) {
  QStringList out;
  for (const std::string& line : lines) out << QString::fromStdString(line);
  return out;
}

}  // namespace

TfSetFDConnection::TfSetFDConnection(DialogHost host, QWidget* parent)
    : QDialog(parent), host_(std::move(host)) {
  setObjectName(QStringLiteral("fSetFDConnection"));
  setWindowTitle(QStringLiteral("数据库设置"));
  // Only the system menu's close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  Conn1.LoginPrompt = false;

  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  Label1 = new QLabel(QStringLiteral("数据引擎"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  edtDriverName = new QComboBox(this);
  edtDriverName->setObjectName(QStringLiteral("edtDriverName"));
  edtDriverName->setEditable(false);
  edtDriverName->addItems({QStringLiteral("MSSQL"), QStringLiteral("MSAcc")});
  edtDriverName->setCurrentIndex(-1);
  Label1->setBuddy(edtDriverName);
  Button2 = new QPushButton(QStringLiteral("连接"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setAutoDefault(false);
  row->addWidget(Label1);
  row->addWidget(edtDriverName, 1);
  row->addWidget(Button2);
  layout->addLayout(row);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  layout->addWidget(Memo1, 1);
  resize(420, 300);

  connect(Button2, &QPushButton::clicked, this,
          [this] { RunReported(host_, this, [this] { Button2Click(); }); });
  FormCreate();
  CenterOnDesktop(this);
}

TfSetFDConnection::~TfSetFDConnection() = default;

void TfSetFDConnection::FormCreate() {
  Conn1.Close();
  try {
    Conn1.Params().LoadFromFile(DatabaseConfigPath());
  } catch (const std::exception&) {
    return;  // no engine selected, an empty summary
  }
  edtDriverName->setCurrentIndex(Conn1.Params().Values("DriverID") == "MSSQL" ? 0 : 1);
  SetSummary(ToLines(ParameterSummary(Conn1.Params())));
}

void TfSetFDConnection::Button2Click() {
  Conn1.Close();
  try {
    Conn1.Params().LoadFromFile(DatabaseConfigPath());  // replaces the list only when it reads
  } catch (const std::exception&) {
    // The previous parameters stay.
  }
  if (edtDriverName->currentIndex() < 0) {
    host_.message_box(this, QMessageBox::Warning, QStringLiteral("提示"),
                      QStringLiteral("请选择数据引擎！"));
    return;
  }
  if (edtDriverName->currentText() == QStringLiteral("MSSQL")) {
    TfMSSQL dialog(*this);
    dialog.exec();
  } else {
    TfMSAcc dialog(*this);
    dialog.setWindowTitle(QStringLiteral("Accese数据库"));
    dialog.edt1->setText(QStringLiteral("Admin"));
    dialog.exec();
  }
}

void TfSetFDConnection::SetSummary(const QStringList& lines) {
  Memo1->setPlainText(lines.join(QLatin1Char('\n')));
}

}  // namespace velmora
