#include "app/backup_run.h"

#include "app/service_controller.h"

namespace velmora {

QString BackupOutcomeText(const TBackupOutcome& outcome) {
  switch (outcome.kind) {
    case TBackupOutcome::Kind::kMade:
      return QString::fromUtf8(kBackupMadeText) + QString::fromStdString(outcome.file);
    case TBackupOutcome::Kind::kFailed:
      return QString::fromUtf8(kBackupFailedText) + QString::fromStdString(outcome.message);
    case TBackupOutcome::Kind::kNotBackedUp:
      break;
  }
  return QString::fromStdString(outcome.message);
}

TBackupOutcome RunLoggedBackup(TServiceController& service, const std::string& folder,
                               const QDateTime& now) {
  TBackupOutcome outcome = BackupDatabase(folder, now.date().day());
  if (outcome.kind != TBackupOutcome::Kind::kNotBackedUp) {
    service.AddLog(BackupOutcomeText(outcome));
  }
  return outcome;
}

}  // namespace velmora
