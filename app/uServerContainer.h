// TFrmDataSnap: the main window. It is one view of the service controller: it feeds the account
// and password to the login check, starts and stops the service, shows the online users and the
// log, and keeps the settings of CONFIG.CFG in its fields.
#pragma once

#include <QMainWindow>
#include <QString>
#include <exception>
#include <memory>
#include <string>

#include "app/backup_timer.h"
#include "app/config/autostart.h"
#include "app/config/server_config.h"
#include "maintenance/backup/backup_schedule.h"
#include "maintenance/backup/uFDACBackup.h"

class QAction;
class QCheckBox;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QSystemTrayIcon;
class QTabWidget;
class QTableView;
class QTimer;
class QToolButton;

namespace velmora {

class TClientTableModel;
class TMonitoring;
class TRadioGroup;
class TServiceController;

struct TShellSettings {
  // Where the start-up entry of the "开机运行" box is written.
  std::string autostart_folder{kSystemAutostartFolder};
  // The executable the start-up entry starts; empty: this process's executable.
  std::string exe_path;
};

class TFrmDataSnap : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window and runs its start-up (FormCreate): the service is started here.
  explicit TFrmDataSnap(TServiceController& service, TShellSettings settings = {},
                        QWidget* parent = nullptr);
  // FormDestroy: stops the server; no effect when it is stopped already.
  ~TFrmDataSnap() override;

  // Whether the window must be shown when the loop starts: the start failed, or there is no
  // notification area to reach it from.
  bool ShowAtStartup() const { return show_at_startup_; }
  QString ConfigPath() const;

  // Operations. Those raising errors leave them to the caller; the buttons, the tray menu and the
  // close button hand them to the standard error report.
  void LoadConfig();
  void B_StartClick();
  void B_StopClick();
  void N1Click();
  void N2Click();
  void N4Click();
  void N5Click();
  void TrayIcon1DblClick();
  void Button2Click();
  // "数据库设置": the engine chooser, modal, without owner; its engine dialogs restart the service
  // through B_StopClick and B_StartClick after saving DataBase.CFG.
  void Button1Click();
  void StartClick();
  void BackupTypeClick();
  // "手动备份": a backup now into the folder edtPath shows, whatever the schedule (the backup
  // engine, logged; a backup made shows the time it ended and its file in the status bar). Also
  // run for a `--backup-now` request from another copy.
  TBackupOutcome Button4Click();
  // "...": the folder browser "请选择备份路径"; the chosen folder replaces edtPath's text, a
  // cancel changes nothing.
  void Button5Click();
  // One tick of the schedule's timer: a backup when one is due by the controls' current values.
  void Timer1Timer();
  // The schedule as the maintenance page's controls hold it now.
  BackupSchedule ScheduleFromControls() const;
  // The local date and time the schedule and the backup's status bar read from now on; empty:
  // the system's clock (the default).
  void SetBackupClock(TBackupTimer::Clock clock) { backup_timer_->SetClock(std::move(clock)); }
  void FormClose();
  void AddLog(const QString& text);
  // Shows the window, restored when minimised, and brings it to the front.
  void ShowAndRaise();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void BuildWindow();
  QWidget* BuildInfoPage();
  QWidget* BuildLogPage();
  QWidget* BuildConfigPage();
  QWidget* BuildMaintenancePage();
  void BuildTray();
  void ShowState(bool running);
  // The backup file is named by the day of `started`; the status bar shows the time the backup
  // ended.
  TBackupOutcome RunBackup(const QDateTime& started);
  // Runs an operation started from the window or the tray; an error goes to the error report.
  template <class F>
  void Guarded(F&& operation);

  TServiceController& service_;
  TShellSettings settings_;
  std::string app_path_;
  bool show_at_startup_ = false;
  // The /metrics and /health listener of CONFIG.CFG's section Metrics, when it gives a port.
  std::unique_ptr<TMonitoring> monitoring_;

  QToolButton* B_Start = nullptr;
  QToolButton* B_Stop = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QCheckBox* Start = nullptr;
  QLineEdit* E_UserCount = nullptr;
  TClientTableModel* dsClient = nullptr;
  QTableView* DBGrid3 = nullptr;
  QPlainTextEdit* M_Log = nullptr;
  QLineEdit* E_SVRUSERNAME = nullptr;
  QLineEdit* E_SVRPASSWORD = nullptr;
  QLineEdit* E_SVROPENPORT = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button4 = nullptr;
  QLineEdit* edtPath = nullptr;
  QPushButton* Button5 = nullptr;
  TRadioGroup* BackupType = nullptr;
  TRadioGroup* CmbWeek = nullptr;
  QSpinBox* EdtDay = nullptr;
  QSpinBox* EdtTime = nullptr;
  QSpinBox* EdtMinute = nullptr;
  QSystemTrayIcon* TrayIcon1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* N1 = nullptr;
  QAction* N4 = nullptr;
  QAction* N5 = nullptr;
  QAction* N2 = nullptr;
  QTimer* Timer1 = nullptr;
  QLabel* StatusPanel[2] = {nullptr, nullptr};
  TBackupTimer* backup_timer_ = nullptr;
};

}  // namespace velmora
