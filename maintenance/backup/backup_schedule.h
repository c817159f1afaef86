// When a scheduled backup is due, and which schedule fields a kind uses. The rules:
// - The kinds: 0 none, 1 hourly, 2 daily, 3 weekly, 4 monthly; -1 (nothing selected) and any other
//   value never fire.
// - A backup is due in second 0 of a matching minute: hourly at `minute`; daily at `hour`:`minute`;
//   weekly on `weekday` (0 Sunday .. 6 Saturday; -1, nothing selected, never) at `hour`:`minute`;
//   monthly on day `day` at `hour`:`minute`, so a day the month does not have (31 in April, 30 in
//   February) gives no backup that month. Fields a kind does not use are not looked at.
// - One minute is served once: a clock that ticks twice within its second 0 fires once
//   (TBackupTicker). A minute whose second 0 gets no tick at all is not caught up.
#pragma once

#include <optional>

namespace velmora {

enum BackupKind : int {
  kBackupNone = 0,
  kBackupHourly,
  kBackupDaily,
  kBackupWeekly,
  kBackupMonthly
};

// The schedule's settings, as the maintenance page's controls and the Backup section hold them.
struct BackupSchedule {
  int kind = kBackupNone;
  int minute = 0;   // 0..59, every kind
  int hour = 0;     // 0..23, daily, weekly and monthly
  int weekday = 0;  // 0 Sunday .. 6 Saturday, -1 none selected; weekly
  int day = 1;      // 1..31; monthly
};

// A local date and time as the schedule reads it; milliseconds are not part of it.
struct ScheduleTime {
  int year = 2000;
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int weekday = 6;  // 0 Sunday .. 6 Saturday
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool operator==(const ScheduleTime&) const = default;
};

bool BackupDue(const BackupSchedule& schedule, const ScheduleTime& now);

// Which fields a kind enables and whether the timer runs; nullopt for a kind outside 0 to 4
// (nothing selected), which changes nothing.
struct ScheduleFieldStates {
  bool weekday = false;
  bool day = false;
  bool hour = false;
  bool minute = false;
  bool timer = false;

  bool operator==(const ScheduleFieldStates&) const = default;
};
std::optional<ScheduleFieldStates> FieldStatesFor(int kind);

// The rule applied tick by tick, remembering the minute it last fired in.
class TBackupTicker {
 public:
  // True when a backup is due at `now` and has not been started in this minute yet.
  bool Tick(const BackupSchedule& schedule, const ScheduleTime& now);

 private:
  std::optional<ScheduleTime> served_;  // second 0 of the minute last fired in
};

}  // namespace velmora
