// The program without widgets: the same start-up and service, with every log line on standard
// output and every error that would open a box on standard error.
#pragma once

#include <QObject>
#include <QString>
#include <cstdio>
#include <memory>
#include <string>

#include "app/backup_timer.h"
#include "maintenance/backup/backup_schedule.h"
#include "maintenance/backup/uFDACBackup.h"

class QTimer;

namespace velmora {

class TServiceController;
class TMonitoring;

class THeadlessShell : public QObject {
  Q_OBJECT

 public:
  // Log lines go to `out` (one line each, flushed); errors to `err`.
  // `clock` (empty: the local time) is what the backup schedule reads.
  explicit THeadlessShell(TServiceController& service, std::FILE* out = stdout,
                          std::FILE* err = stderr, QObject* parent = nullptr,
                          TBackupTimer::Clock clock = {});
  ~THeadlessShell() override;

  // Reads CONFIG.CFG below AppPath() (defaults for what it lacks), puts its limits in force, hands
  // the account and password to the login check and starts the service on the configured port;
  // then the backup schedule of the section Backup runs, as read here, until the program ends,
  // and so does the metrics listener of the section Metrics when it gives a port (one that
  // cannot listen is reported on the error stream; the service runs on without it).
  // False, with the reason on the error stream, when the service cannot start.
  bool StartUp();
  // Stops the service and starts it again on the port StartUp read. Raises (after reporting it on
  // the error stream) when it cannot start; the service then stays stopped.
  void Restart();
  void ReportError(const QString& message);
  // The stop as the program ends (SIGINT, SIGTERM), after the event loop has returned: stops the
  // server, which returns once the drain is over and the connection threads have ended; writes
  // the log lines they queued meanwhile, then "服务关闭完成" as the log's last line, so that the
  // journal of a service shows every stop.
  void StopAtExit();

  // A backup now into the configured folder, logged like a scheduled one.
  TBackupOutcome BackupNow();
  const BackupSchedule& Schedule() const { return schedule_; }
  bool ScheduleRunning() const;

 private:
  // Starts the listener of CONFIG.CFG's section Metrics when it gives a port.
  void StartMetrics(const std::string& config_path);

  TServiceController& service_;
  std::FILE* out_;
  std::FILE* err_;
  BackupSchedule schedule_;
  std::string backup_folder_;
  QTimer* timer_;
  TBackupTimer* backup_timer_;
  QString port_text_;
  std::unique_ptr<TMonitoring> monitoring_;
};

}  // namespace velmora
