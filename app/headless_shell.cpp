#include "app/headless_shell.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "app/backup_run.h"
#include "app/config/server_config.h"
#include "app/monitoring.h"
#include "app/service_controller.h"
#include "common/app_path.h"

namespace velmora {

THeadlessShell::THeadlessShell(TServiceController& service, std::FILE* out, std::FILE* err,
                               QObject* parent, TBackupTimer::Clock clock)
    : QObject(parent),
      service_(service),
      out_(out),
      err_(err),
      timer_(new QTimer(this)),
      backup_timer_(new TBackupTimer(
          *timer_, std::move(clock), [this] { return schedule_; },
          [this](const QDateTime& now) { RunLoggedBackup(service_, backup_folder_, now); }, this)),
      monitoring_(std::make_unique<TMonitoring>(service_)) {
  connect(&service_, &TServiceController::LogLine, this, [this](const QString& line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
  });
}

THeadlessShell::~THeadlessShell() = default;

bool THeadlessShell::StartUp() {
  const std::string app_path = AppPath();
  const std::string config_path = app_path + std::string(kConfigFileName);
  const ServerConfig config = LoadConfig(config_path, app_path);
  service_.ApplyLimits(config_path);
  service_.SetCredentials(QString::fromStdString(config.SVRUSERNAME),
                          QString::fromStdString(config.SVRPASSWORD));
  port_text_ = QString::fromStdString(config.SVROPENPORT);
  try {
    service_.Start(port_text_);
  } catch (const std::exception& e) {
    ReportError(QString::fromUtf8(e.what()));
    return false;
  }
  schedule_ = {config.BackupType, config.EveryTime, config.EveryDay, config.EveryWeek,
               config.EveryMonth};
  backup_folder_ = config.bakpath;
  const auto states = FieldStatesFor(schedule_.kind);
  if (states && states->timer) timer_->start();
  StartMetrics(config_path);
  return true;
}

void THeadlessShell::StartMetrics(const std::string& config_path) {
  try {
    monitoring_->Start(config_path);
  } catch (const std::exception& e) {
    ReportError(QString::fromUtf8(e.what()));
  }
}

TBackupOutcome THeadlessShell::BackupNow() {
  return RunLoggedBackup(service_, backup_folder_, backup_timer_->Now());
}

bool THeadlessShell::ScheduleRunning() const {
  return timer_->isActive();
}

void THeadlessShell::Restart() {
  service_.Stop();
  try {
    service_.Start(port_text_);
  } catch (const std::exception& e) {
    ReportError(QString::fromUtf8(e.what()));
    throw;
  }
}

void THeadlessShell::StopAtExit() {
  service_.StopServer();
  // The event loop has ended: deliver the lines the connection threads posted before the stop
  // line.
  QCoreApplication::sendPostedEvents(&service_);
  service_.AddLog(QString::fromUtf8(kServiceStoppedText));
}

void THeadlessShell::ReportError(const QString& message) {
  const QByteArray bytes = message.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), err_);
  std::fputc('\n', err_);
  std::fflush(err_);
}

}  // namespace velmora
