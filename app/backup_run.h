// A backup run by the shell (the "手动备份" button, the schedule, a request from another copy of
// the program): the backup engine into a folder, named by the day of `now`, and its log line.
//
// Every backup that is made or fails writes one log line: "已生成备份文件:" and the file, or
// "备份失败:" and why. A failure shows no message box and leaves the status bar as it was; the log
// line is what tells the operator, and a headless server's only trace. An engine the server does
// not back up (FB, PG) logs nothing: nothing happened.
#pragma once

#include <QDateTime>
#include <QString>
#include <string>

#include "maintenance/backup/uFDACBackup.h"

namespace velmora {

class TServiceController;

inline constexpr char kBackupMadeText[] = "已生成备份文件:";
inline constexpr char kBackupFailedText[] = "备份失败:";

// The outcome as one line of text: the log line's text, and what --backup-now prints.
QString BackupOutcomeText(const TBackupOutcome& outcome);

// Runs BackupDatabase through the process-wide pools and logs the outcome through `service`.
TBackupOutcome RunLoggedBackup(TServiceController& service, const std::string& folder,
                               const QDateTime& now);

}  // namespace velmora
