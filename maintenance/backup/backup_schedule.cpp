#include "maintenance/backup/backup_schedule.h"

namespace velmora {

bool BackupDue(const BackupSchedule& s, const ScheduleTime& now) {
  if (now.second != 0 || now.minute != s.minute) return false;
  switch (s.kind) {
    case kBackupHourly:
      return true;
    case kBackupDaily:
      return now.hour == s.hour;
    case kBackupWeekly:
      return now.weekday == s.weekday && now.hour == s.hour;
    case kBackupMonthly:
      return now.day == s.day && now.hour == s.hour;
    default:
      return false;
  }
}

std::optional<ScheduleFieldStates> FieldStatesFor(int kind) {
  if (kind < kBackupNone || kind > kBackupMonthly) return std::nullopt;
  ScheduleFieldStates states;
  states.weekday = kind == kBackupWeekly;
  states.day = kind == kBackupMonthly;
  states.hour = kind >= kBackupDaily;
  states.minute = kind >= kBackupHourly;
  states.timer = kind != kBackupNone;
  return states;
}

bool TBackupTicker::Tick(const BackupSchedule& schedule, const ScheduleTime& now) {
  if (!BackupDue(schedule, now)) return false;
  if (served_ == now) return false;  // a second tick within the same second 0
  served_ = now;
  return true;
}

}  // namespace velmora
