#include "app/uServerContainer.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <optional>
#include <utility>

#include "app/backup_run.h"
#include "app/client_table_model.h"
#include "app/folder_browser.h"
#include "app/monitoring.h"
#include "app/operator_notice.h"
#include "app/radio_group.h"
#include "app/service_controller.h"
#include "app/tray_availability.h"
#include "common/app_path.h"
#include "common/server_limits.h"
#include "maintenance/dialogs/dialog_host.h"
#include "maintenance/dialogs/uSetFDConnection.h"

namespace velmora {

namespace {

QSpinBox* NumberField(const char* name, int low, int high, int value, QWidget* parent) {
  auto* field = new QSpinBox(parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setRange(low, high);
  field->setValue(value);
  return field;
}

QLabel* Label(const QString& text, QWidget* parent) {
  return new QLabel(text, parent);
}

// The log page's block (line) count, as Qt takes it.
int LogBlocksKept() {
  return static_cast<int>(std::min<size_t>(Limits().LogLinesKept, INT_MAX));
}

}  // namespace

TFrmDataSnap::TFrmDataSnap(TServiceController& service, TShellSettings settings, QWidget* parent)
    : QMainWindow(parent), service_(service), settings_(std::move(settings)) {
  setObjectName(QStringLiteral("FrmDataSnap"));
  if (settings_.exe_path.empty()) {
    settings_.exe_path = QCoreApplication::applicationFilePath().toStdString();
  }
  BuildWindow();
  FormCreate();
}

TFrmDataSnap::~TFrmDataSnap() {
  monitoring_.reset();
  service_.StopServer();
}

template <class F>
void TFrmDataSnap::Guarded(F&& operation) {
  try {
    operation();
  } catch (const std::exception& e) {
    ShowErrorReport(this, QString::fromUtf8(e.what()));
  }
}

// ---- Construction ----

void TFrmDataSnap::BuildWindow() {
  // No taskbar entry where the tray reaches the window (see MainWindowType).
  setWindowFlags(MainWindowType() | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));

  auto* toolbar = new QToolBar(this);
  toolbar->setObjectName(QStringLiteral("ToolBar1"));
  toolbar->setMovable(false);
  toolbar->setIconSize(QSize(24, 24));
  B_Start = new QToolButton(toolbar);
  B_Start->setObjectName(QStringLiteral("B_Start"));
  B_Start->setText(QStringLiteral("启动服务"));
  B_Start->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  B_Start->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  B_Stop = new QToolButton(toolbar);
  B_Stop->setObjectName(QStringLiteral("B_Stop"));
  B_Stop->setText(QStringLiteral("停止服务"));
  B_Stop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  B_Stop->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  B_Stop->setEnabled(false);
  toolbar->addWidget(B_Start);
  toolbar->addWidget(B_Stop);
  addToolBar(Qt::TopToolBarArea, toolbar);
  connect(B_Start, &QToolButton::clicked, this, [this] { Guarded([this] { B_StartClick(); }); });
  connect(B_Stop, &QToolButton::clicked, this, [this] { Guarded([this] { B_StopClick(); }); });

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->addTab(BuildInfoPage(), QStringLiteral("服务信息"));
  PageControl1->addTab(BuildLogPage(), QStringLiteral("服务器日志"));
  PageControl1->addTab(BuildConfigPage(), QStringLiteral("服务器配置"));
  PageControl1->addTab(BuildMaintenancePage(), QStringLiteral("数据维护"));
  PageControl1->setCurrentIndex(0);
  setCentralWidget(PageControl1);

  auto* status = new QStatusBar(this);
  status->setObjectName(QStringLiteral("StatusBar1"));
  status->setSizeGripEnabled(false);
  // 100 and 50 pixels; the last panel reaches to the window's edge, as a status bar's last
  // panel does, so that the backup file's name can be read.
  for (int i = 0; i < 2; ++i) {
    StatusPanel[i] = new QLabel(status);
    StatusPanel[i]->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
  }
  StatusPanel[0]->setFixedWidth(100);
  StatusPanel[1]->setMinimumWidth(50);
  status->addWidget(StatusPanel[0]);
  status->addWidget(StatusPanel[1], 1);
  setStatusBar(status);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  backup_timer_ = new TBackupTimer(
      *Timer1, {}, [this] { return ScheduleFromControls(); },
      [this](const QDateTime& now) { RunBackup(now); }, this);

  BuildTray();

  // The service view: every change reaches the controls on this thread.
  connect(&service_, &TServiceController::LogLine, this,
          [this](const QString& line) { M_Log->appendPlainText(line); });
  connect(&service_, &TServiceController::UserCountChanged, this,
          [this](int count) { E_UserCount->setText(QString::number(count)); });
  connect(&service_, &TServiceController::StateChanged, this, &TFrmDataSnap::ShowState);
  const auto feed_credentials = [this] {
    service_.SetCredentials(E_SVRUSERNAME->text(), E_SVRPASSWORD->text());
  };
  connect(E_SVRUSERNAME, &QLineEdit::textChanged, this, feed_credentials);
  connect(E_SVRPASSWORD, &QLineEdit::textChanged, this, feed_credentials);
  feed_credentials();

  // The client area of the designed window, toolbar and status bar included.
  resize(QSize(537, 393));
  CenterOnDesktop(this, TCentring::kFirstShow);
}

QWidget* TFrmDataSnap::BuildInfoPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet1"));
  auto* layout = new QVBoxLayout(page);

  auto* strip = new QHBoxLayout;
  Start = new QCheckBox(QStringLiteral("开机运行"), page);
  Start->setObjectName(QStringLiteral("Start"));
  Start->setChecked(true);
  connect(Start, &QCheckBox::clicked, this, [this] { Guarded([this] { StartClick(); }); });
  E_UserCount = new QLineEdit(QStringLiteral("0"), page);
  E_UserCount->setObjectName(QStringLiteral("E_UserCount"));
  E_UserCount->setReadOnly(true);
  strip->addWidget(Start);
  strip->addStretch();
  strip->addWidget(Label(QStringLiteral("在线用户数："), page));
  strip->addWidget(E_UserCount);
  layout->addLayout(strip);

  auto* group = new QGroupBox(QStringLiteral("在线用户"), page);
  auto* group_layout = new QVBoxLayout(group);
  dsClient = new TClientTableModel(service_, this);
  dsClient->setObjectName(QStringLiteral("dsClient"));
  DBGrid3 = new QTableView(group);
  DBGrid3->setObjectName(QStringLiteral("DBGrid3"));
  DBGrid3->setModel(dsClient);
  DBGrid3->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DBGrid3->setSelectionBehavior(QAbstractItemView::SelectRows);
  DBGrid3->verticalHeader()->hide();
  DBGrid3->horizontalHeader()->setStretchLastSection(true);
  group_layout->addWidget(DBGrid3);
  layout->addWidget(group, 1);
  return page;
}

QWidget* TFrmDataSnap::BuildLogPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet2"));
  auto* layout = new QVBoxLayout(page);
  M_Log = new QPlainTextEdit(page);
  M_Log->setObjectName(QStringLiteral("M_Log"));
  M_Log->setReadOnly(true);
  M_Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The oldest lines go once the page holds the last Limits().LogLinesKept, so that a long-running
  // server's window does not grow without bound.
  M_Log->setMaximumBlockCount(LogBlocksKept());
  layout->addWidget(M_Log);
  return page;
}

QWidget* TFrmDataSnap::BuildConfigPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet3"));
  auto* layout = new QVBoxLayout(page);
  auto* group = new QGroupBox(QStringLiteral("服务配置"), page);
  auto* grid = new QGridLayout(group);
  E_SVRUSERNAME = new QLineEdit(group);
  E_SVRUSERNAME->setObjectName(QStringLiteral("E_SVRUSERNAME"));
  E_SVRPASSWORD = new QLineEdit(group);
  E_SVRPASSWORD->setObjectName(QStringLiteral("E_SVRPASSWORD"));
  E_SVRPASSWORD->setEchoMode(QLineEdit::Password);
  // Typed characters show as '*', not the style's dot.
  E_SVRPASSWORD->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  E_SVROPENPORT = new QLineEdit(group);
  E_SVROPENPORT->setObjectName(QStringLiteral("E_SVROPENPORT"));
  Button2 = new QPushButton(QStringLiteral("保存"), group);
  Button2->setObjectName(QStringLiteral("Button2"));
  connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
  grid->addWidget(Label(QStringLiteral("服务账号:"), group), 0, 0);
  grid->addWidget(E_SVRUSERNAME, 0, 1);
  grid->addWidget(Label(QStringLiteral("服务密码:"), group), 1, 0);
  grid->addWidget(E_SVRPASSWORD, 1, 1);
  grid->addWidget(Label(QStringLiteral("服务端口："), group), 2, 0);
  grid->addWidget(E_SVROPENPORT, 2, 1);
  grid->addWidget(Button2, 3, 1, Qt::AlignRight);
  layout->addWidget(group);
  layout->addStretch();
  return page;
}

QWidget* TFrmDataSnap::BuildMaintenancePage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet4"));
  auto* layout = new QVBoxLayout(page);

  auto* buttons = new QHBoxLayout;
  Button1 = new QPushButton(QStringLiteral("数据库设置"), page);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button4 = new QPushButton(QStringLiteral("手动备份"), page);
  Button4->setObjectName(QStringLiteral("Button4"));
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
  buttons->addWidget(Button1);
  buttons->addWidget(Button4);
  buttons->addStretch();
  layout->addLayout(buttons);

  auto* path_row = new QHBoxLayout;
  edtPath = new QLineEdit(page);
  edtPath->setObjectName(QStringLiteral("edtPath"));
  Button5 = new QPushButton(QStringLiteral("..."), page);
  Button5->setObjectName(QStringLiteral("Button5"));
  connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
  path_row->addWidget(Label(QStringLiteral("备份文件保存到:"), page));
  path_row->addWidget(edtPath, 1);
  path_row->addWidget(Button5);
  layout->addLayout(path_row);

  BackupType =
      new TRadioGroup(QStringLiteral("自动备份"),
                      {QStringLiteral("不备份"), QStringLiteral("每小时"), QStringLiteral("每天"),
                       QStringLiteral("每周"), QStringLiteral("每月")},
                      page);
  BackupType->setObjectName(QStringLiteral("BackupType"));
  BackupType->SetItemIndex(0);
  connect(BackupType, &TRadioGroup::Click, this, [this] { BackupTypeClick(); });
  layout->addWidget(BackupType);

  CmbWeek =
      new TRadioGroup(QStringLiteral("星期"),
                      {QStringLiteral("星期天"), QStringLiteral("星期一"), QStringLiteral("星期二"),
                       QStringLiteral("星期三"), QStringLiteral("星期四"), QStringLiteral("星期五"),
                       QStringLiteral("星期六")},
                      page);
  CmbWeek->setObjectName(QStringLiteral("CmbWeek"));
  layout->addWidget(CmbWeek);

  auto* when = new QHBoxLayout;
  EdtDay = NumberField("EdtDay", 1, 31, 1, page);
  EdtTime = NumberField("EdtTime", 0, 23, 0, page);
  EdtMinute = NumberField("EdtMinute", 0, 59, 0, page);
  when->addWidget(Label(QStringLiteral("日期"), page));
  when->addWidget(EdtDay);
  when->addWidget(Label(QStringLiteral("时间"), page));
  when->addWidget(EdtTime);
  when->addWidget(EdtMinute);
  when->addStretch();
  layout->addLayout(when);
  layout->addStretch();
  return page;
}

void TFrmDataSnap::BuildTray() {
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  const auto entry = [this](const char* name, const QString& caption) {
    QAction* action = PopupMenu1->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
  };
  N1 = entry("N1", QStringLiteral("退出程序"));
  N4 = entry("N4", QStringLiteral("启动服务"));
  N5 = entry("N5", QStringLiteral("数据维护"));
  N2 = entry("N2", QStringLiteral("服务信息"));
  connect(N1, &QAction::triggered, this, [this] { Guarded([this] { N1Click(); }); });
  connect(N4, &QAction::triggered, this, [this] { Guarded([this] { N4Click(); }); });
  connect(N5, &QAction::triggered, this, [this] { Guarded([this] { N5Click(); }); });
  connect(N2, &QAction::triggered, this, [this] { Guarded([this] { N2Click(); }); });

  TrayIcon1 = new QSystemTrayIcon(windowIcon(), this);
  TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
  TrayIcon1->setContextMenu(PopupMenu1);
  connect(TrayIcon1, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) TrayIcon1DblClick();
          });
  if (TrayAvailable()) TrayIcon1->show();
}

// ---- Start-up and settings ----

QString TFrmDataSnap::ConfigPath() const {
  return QString::fromStdString(app_path_) + QString::fromUtf8(kConfigFileName.data());
}

void TFrmDataSnap::FormCreate() {
  app_path_ = AppPath();
  LoadConfig();
  // A listener that cannot listen is logged; the service runs on without it.
  monitoring_ = std::make_unique<TMonitoring>(service_);
  try {
    monitoring_->Start(ConfigPath().toStdString());
  } catch (const std::exception& e) {
    service_.AddLog(QString::fromUtf8(e.what()));
  }
  bool started = false;
  try {
    B_StartClick();
    started = true;
  } catch (const std::exception& e) {
    ShowErrorReport(this, QString::fromUtf8(e.what()));
  }
  if (started) {
    TrayIcon1->setToolTip(windowTitle());
  }
  // Hidden in the tray after a good start; shown when the start failed or there is no tray.
  show_at_startup_ = !started || !TrayAvailable();
}

void TFrmDataSnap::LoadConfig() {
  const ServerConfig c = velmora::LoadConfig(ConfigPath().toStdString(), app_path_);
  // Our own section: the limits are in force before the service first starts.
  service_.ApplyLimits(ConfigPath().toStdString());
  M_Log->setMaximumBlockCount(LogBlocksKept());
  setWindowTitle(QString::fromStdString(c.Caption));
  E_SVRUSERNAME->setText(QString::fromStdString(c.SVRUSERNAME));
  E_SVRPASSWORD->setText(QString::fromStdString(c.SVRPASSWORD));
  E_SVROPENPORT->setText(QString::fromStdString(c.SVROPENPORT));
  Start->setChecked(c.SVRStart);
  BackupType->SetItemIndex(c.BackupType);
  if (c.BackupType != 0) BackupTypeClick();
  EdtMinute->setValue(c.EveryTime);
  EdtTime->setValue(c.EveryDay);
  CmbWeek->SetItemIndex(c.EveryWeek);
  EdtDay->setValue(c.EveryMonth);
  edtPath->setText(QString::fromStdString(c.bakpath));
}

void TFrmDataSnap::Button2Click() {
  SaveSecurity(ConfigPath().toStdString(), E_SVRUSERNAME->text().toStdString(),
               E_SVRPASSWORD->text().toStdString(), E_SVROPENPORT->text().toStdString());
  ShowMessageBox(this, QMessageBox::Information, QStringLiteral("注意！"),
                 QStringLiteral("安全配置被修改！"));
}

void TFrmDataSnap::Button1Click() {
  DialogHost host;
  host.stop_service = [this] { B_StopClick(); };
  host.start_service = [this] { B_StartClick(); };
  host.message_box = ShowMessageBox;
  host.error_report = ShowErrorReport;
  TfSetFDConnection chooser(std::move(host));
  chooser.exec();
}

void TFrmDataSnap::StartClick() {
  SaveStart(ConfigPath().toStdString(), Start->isChecked());
}

void TFrmDataSnap::BackupTypeClick() {
  const std::optional<ScheduleFieldStates> states = FieldStatesFor(BackupType->ItemIndex());
  if (!states) return;  // nothing selected: nothing changes
  CmbWeek->setEnabled(states->weekday);
  EdtDay->setEnabled(states->day);
  EdtTime->setEnabled(states->hour);
  EdtMinute->setEnabled(states->minute);
  if (states->timer) {
    Timer1->start();
  } else {
    Timer1->stop();
  }
}

// ---- Backup ----

BackupSchedule TFrmDataSnap::ScheduleFromControls() const {
  return {BackupType->ItemIndex(), EdtMinute->value(), EdtTime->value(), CmbWeek->ItemIndex(),
          EdtDay->value()};
}

void TFrmDataSnap::Timer1Timer() {
  backup_timer_->Tick();
}

TBackupOutcome TFrmDataSnap::Button4Click() {
  return RunBackup(backup_timer_->Now());
}

TBackupOutcome TFrmDataSnap::RunBackup(const QDateTime& started) {
  TBackupOutcome outcome = RunLoggedBackup(service_, edtPath->text().toStdString(), started);
  if (outcome.kind == TBackupOutcome::Kind::kMade) {
    // The clock is read again: a long copy or server backup may end minutes (or a day) after it
    // began, and the panel tells when the file was complete.
    const QDateTime done = backup_timer_->Now();
    StatusPanel[0]->setText(done.toString(QStringLiteral("yy-MM-dd hh:mm")));
    StatusPanel[1]->setText(BackupOutcomeText(outcome));
  }
  return outcome;
}

void TFrmDataSnap::Button5Click() {
  const QString chosen = BrowseForFolder(this, QStringLiteral("请选择备份路径"));
  if (!chosen.isEmpty()) edtPath->setText(chosen);
}

void TFrmDataSnap::FormClose() {
  const QFileInfo exe(QString::fromStdString(settings_.exe_path));
  SetAutostart(settings_.autostart_folder, exe.fileName().toStdString(), settings_.exe_path,
               Start->isChecked(), app_path_);
  ServerConfig values;
  values.BackupType = BackupType->ItemIndex();
  values.EveryTime = EdtMinute->value();
  values.EveryDay = EdtTime->value();
  values.EveryWeek = CmbWeek->ItemIndex();
  values.EveryMonth = EdtDay->value();
  values.bakpath = edtPath->text().toStdString();
  SaveBackup(ConfigPath().toStdString(), values);
}

void TFrmDataSnap::closeEvent(QCloseEvent* event) {
  event->ignore();  // the window is never destroyed by closing it
  try {
    FormClose();
  } catch (const std::exception& e) {
    ShowErrorReport(this, QString::fromUtf8(e.what()));
    return;  // stays open
  }
  if (TrayAvailable()) {
    hide();
  } else {
    showMinimized();
  }
}

// ---- The service ----

void TFrmDataSnap::B_StartClick() {
  service_.Start(E_SVROPENPORT->text());
}

void TFrmDataSnap::B_StopClick() {
  service_.Stop();
}

void TFrmDataSnap::ShowState(bool running) {
  B_Start->setEnabled(!running);
  B_Stop->setEnabled(running);
  N4->setText(running ? QStringLiteral("断开服务") : QStringLiteral("启动服务"));
}

void TFrmDataSnap::AddLog(const QString& text) {
  service_.AddLog(text);
}

// ---- Tray ----

// exit, not quit: quit would ask the window to close first, and closing only hides it.
void TFrmDataSnap::N1Click() {
  QCoreApplication::exit(0);
}

void TFrmDataSnap::N4Click() {
  if (service_.Started()) {
    B_StopClick();
  } else {
    B_StartClick();
  }
}

void TFrmDataSnap::ShowAndRaise() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void TFrmDataSnap::N2Click() {
  ShowAndRaise();
  PageControl1->setCurrentIndex(0);
}

void TFrmDataSnap::N5Click() {
  ShowAndRaise();
  PageControl1->setCurrentIndex(3);
}

// A minimised window counts as not shown: with a tray it is a tool window without a taskbar
// entry, so the tray is the only way to bring it back, and showing it minimised would show
// nothing.
void TFrmDataSnap::TrayIcon1DblClick() {
  if (isVisible() && !isMinimized()) {
    hide();
  } else {
    ShowAndRaise();
  }
}

}  // namespace velmora
