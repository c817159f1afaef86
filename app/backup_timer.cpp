#include "app/backup_timer.h"

#include <QTimer>
#include <utility>

namespace velmora {

ScheduleTime ScheduleTimeOf(const QDateTime& local) {
  const QDate date = local.date();
  const QTime time = local.time();
  ScheduleTime t;
  t.year = date.year();
  t.month = date.month();
  t.day = date.day();
  t.weekday = date.dayOfWeek() % 7;  // Qt: 1 Monday .. 7 Sunday
  t.hour = time.hour();
  t.minute = time.minute();
  t.second = time.second();
  return t;
}

TBackupTimer::TBackupTimer(QTimer& timer, Clock clock, Settings settings, Backup backup,
                           QObject* parent)
    : QObject(parent), settings_(std::move(settings)), backup_(std::move(backup)) {
  SetClock(std::move(clock));
  timer.setTimerType(Qt::PreciseTimer);
  timer.setInterval(1000);
  connect(&timer, &QTimer::timeout, this, [this] { Tick(); });
}

void TBackupTimer::SetClock(Clock clock) {
  clock_ = clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); });
}

bool TBackupTimer::Tick() {
  const QDateTime now = clock_();
  if (!ticker_.Tick(settings_(), ScheduleTimeOf(now))) return false;
  backup_(now);
  return true;
}

}  // namespace velmora
