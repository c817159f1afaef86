// TBackupTimer: the backup schedule's clock. Each tick of a one-second timer reads the clock and
// the schedule's current settings and, when a backup is due (maintenance/backup/backup_schedule.h),
// runs it within the tick.
//
// The timer is a precise one: its ticks keep their place in the second instead of drifting by up
// to 5% as a coarse timer's do, so every second of a free thread gets one tick; and a minute is
// served once, so two ticks that fall within the same second 0 start one backup. A second 0 that
// passes while the thread is busy (a long backup) is not caught up.
//
// Threads: the thread the timer lives on (the UI thread, or the main thread headless).
#pragma once

#include <QDateTime>
#include <QObject>
#include <functional>
#include <utility>

#include "maintenance/backup/backup_schedule.h"

class QTimer;

namespace velmora {

// The schedule's view of a local date and time (weekday 0 for Sunday; Qt counts 7).
ScheduleTime ScheduleTimeOf(const QDateTime& local);

class TBackupTimer : public QObject {
  Q_OBJECT

 public:
  using Clock = std::function<QDateTime()>;
  using Settings = std::function<BackupSchedule()>;
  using Backup = std::function<void(const QDateTime& now)>;

  // Drives `timer` (made precise, 1000 ms; started and stopped by its owner). An empty `clock`
  // reads the local time.
  TBackupTimer(QTimer& timer, Clock clock, Settings settings, Backup backup,
               QObject* parent = nullptr);

  // One tick: true when it ran a backup.
  bool Tick();
  QDateTime Now() const { return clock_(); }
  // An empty `clock` reads the local time.
  void SetClock(Clock clock);

 private:
  Clock clock_;
  Settings settings_;
  Backup backup_;
  TBackupTicker ticker_;
};

}  // namespace velmora
