#include "maintenance/dialogs/uMSSQL.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>
#include <string_view>
#include <utility>

#include "maintenance/dialogs/database_setting.h"
#include "maintenance/dialogs/uSetFDConnection.h"

namespace velmora {

TfMSSQL::TfMSSQL(TfSetFDConnection& chooser) : QDialog(&chooser), chooser_(chooser) {
  setObjectName(QStringLiteral("fMSSQL"));
  setWindowTitle(QStringLiteral("MSSQL数据库"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  auto* column = new QVBoxLayout(this);
  edt1 = AddLabelledEdit(this, column, "edt1", QStringLiteral("用户名"), QStringLiteral("sa"));
  edt2 = AddLabelledEdit(this, column, "edt2", QStringLiteral("密码"));
  ShowPasswordAsStars(edt2);
  chb1 = new QCheckBox(QStringLiteral("OSAuthent"), this);
  chb1->setObjectName(QStringLiteral("chb1"));
  column->addWidget(chb1);
  edt4 = AddLabelledEdit(this, column, "edt4", QStringLiteral("服务器"), QStringLiteral("(local)"));
  edt3 = AddLabelledEdit(this, column, "edt3", QStringLiteral("数据库"));
  Button1 = new QPushButton(QStringLiteral("连接测试"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setAutoDefault(false);
  column->addWidget(Button1);
  setMinimumWidth(300);

  connect(Button1, &QPushButton::clicked, this,
          [this] { RunReported(chooser_.Host(), this, [this] { Button1Click(); }); });
  FormCreate();
  CenterOnDesktop(this);
}

TfMSSQL::~TfMSSQL() = default;

void TfMSSQL::FormCreate() {
  const TFDConnection& conn = chooser_.Conn1;
  edt1->setText(ParamText(conn.Params(), "User_Name"));
  edt2->setText(ParamText(conn.Params(), "Password"));
  edt3->setText(ParamText(conn.Params(), "Database"));
  edt4->setText(ParamText(conn.Params(), "Server"));
  chb1->setChecked(conn.Params().Values("OSAuthent") == "Yes");
}

void TfMSSQL::Button1Click() {
  if (edt3->text().isEmpty()) return;
  TFDConnection& conn = chooser_.Conn1;
  const DialogHost& host = chooser_.Host();
  try {
    conn.Close();
    conn.Params().Clear();
    conn.SetDriverName("MSSQL");
    const std::pair<const char*, QLineEdit*> fields[] = {
        {"User_Name", edt1}, {"Password", edt2}, {"Server", edt4}, {"Database", edt3}};
    for (const auto& [name, field] : fields) CheckOneLineValue(name, field->text().toStdString());
    // An empty value leaves its line out.
    conn.Params().SetValue("User_Name", edt1->text().toStdString());
    conn.Params().SetValue("Password", edt2->text().toStdString());
    if (chb1->isChecked()) conn.Params().SetValue("OSAuthent", "Yes");
    conn.Params().SetValue("Server", edt4->text().toStdString());
    conn.Params().SetValue("Database", edt3->text().toStdString());
    conn.LoginPrompt = false;
    conn.Open();
  } catch (const std::exception& e) {
    const QString message = QString::fromUtf8(e.what());
    host.message_box(this, QMessageBox::Warning, QStringLiteral("提示"), message);
    chooser_.SetSummary({ToQString(kConnectRefused), message});
    return;
  }
  SaveDatabaseConfig(conn, DatabaseConfigPath());
  host.stop_service();
  host.start_service();

  QStringList summary{ToQString(kConnectSucceeded), QStringLiteral("DriverID=MSSQL")};
  if (chb1->isChecked()) {
    summary << QStringLiteral("OSAuthent=Yes");
  } else {
    summary << QStringLiteral("OSAuthent=No") << QStringLiteral("User_Name=") + edt1->text();
    if (!edt2->text().isEmpty()) summary << ToQString(kMaskedPasswordLine);
  }
  summary << QStringLiteral("Server=") + edt4->text() << QStringLiteral("Database=") + edt3->text();
  chooser_.SetSummary(summary);
  accept();
}

}  // namespace velmora
