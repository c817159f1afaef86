// The schedule's due rule over a table of settings and local times, the fields each kind
// enables, and the ticker that serves a minute once.
#include "maintenance/backup/backup_schedule.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace velmora::test {
namespace {

// 2026-12-13 is a Sunday.
ScheduleTime At(int year, int month, int day, int weekday, int hour, int minute, int second) {
  return {year, month, day, weekday, hour, minute, second};
}

struct DueCase {
  const char* what;
  BackupSchedule schedule;  // kind, minute, hour, weekday, day
  ScheduleTime now;
  bool due;
};

TEST(BackupSchedule, DueInSecondZeroOfAMatchingMinuteOnly) {
  const BackupSchedule hourly30{kBackupHourly, 30, 5, 3, 7};
  const BackupSchedule midnight{kBackupDaily, 0, 0, 3, 7};
  const BackupSchedule sunday{kBackupWeekly, 15, 3, 0, 7};
  const BackupSchedule no_weekday{kBackupWeekly, 15, 3, -1, 7};
  const BackupSchedule day31{kBackupMonthly, 59, 23, 0, 31};
  const BackupSchedule day30{kBackupMonthly, 0, 12, 0, 30};
  const std::vector<DueCase> cases = {
      {"hourly at :30", hourly30, At(2026, 12, 10, 4, 10, 30, 0), true},
      {"hourly, another hour; the hour field is not looked at", hourly30,
       At(2026, 12, 10, 4, 23, 30, 0), true},
      {"hourly, second 1", hourly30, At(2026, 12, 10, 4, 10, 30, 1), false},
      {"hourly, second 59 of the minute before", hourly30, At(2026, 12, 10, 4, 10, 29, 59), false},
      {"hourly, the next minute", hourly30, At(2026, 12, 10, 4, 10, 31, 0), false},
      {"daily at midnight", midnight, At(2026, 12, 11, 5, 0, 0, 0), true},
      {"daily, noon", midnight, At(2026, 12, 11, 5, 12, 0, 0), false},
      {"daily, the right minute of another hour", midnight, At(2026, 12, 11, 5, 1, 0, 0), false},
      {"weekly on Sunday 03:15", sunday, At(2026, 12, 13, 0, 3, 15, 0), true},
      {"weekly, Monday 03:15", sunday, At(2026, 12, 14, 1, 3, 15, 0), false},
      {"weekly, Saturday 03:15", sunday, At(2026, 12, 12, 6, 3, 15, 0), false},
      {"weekly, Sunday 04:15", sunday, At(2026, 12, 13, 0, 4, 15, 0), false},
      {"weekly with no weekday, Sunday", no_weekday, At(2026, 12, 13, 0, 3, 15, 0), false},
      {"weekly with no weekday, Saturday", no_weekday, At(2026, 12, 12, 6, 3, 15, 0), false},
      {"monthly on the 31st, January", day31, At(2027, 1, 31, 0, 23, 59, 0), true},
      {"monthly on the 31st, the last of April", day31, At(2027, 4, 30, 5, 23, 59, 0), false},
      {"monthly on the 31st, the first of May", day31, At(2027, 5, 1, 6, 23, 59, 0), false},
      {"monthly on the 30th, the last of February", day30, At(2027, 2, 28, 0, 12, 0, 0), false},
      {"monthly on the 30th, March", day30, At(2027, 3, 30, 2, 12, 0, 0), true},
      {"none", {kBackupNone, 0, 0, 0, 1}, At(2026, 12, 10, 4, 0, 0, 0), false},
      {"nothing selected", {-1, 0, 0, 0, 1}, At(2026, 12, 10, 4, 0, 0, 0), false},
      {"a kind beyond monthly", {5, 0, 0, 0, 1}, At(2026, 12, 10, 4, 0, 0, 0), false},
      {"daily: the weekday and day fields are not looked at",
       {kBackupDaily, 0, 6, -1, 31},
       At(2027, 2, 3, 3, 6, 0, 0),
       true},
  };
  for (const DueCase& c : cases) EXPECT_EQ(BackupDue(c.schedule, c.now), c.due) << c.what;
}

TEST(BackupSchedule, EachKindEnablesTheFieldsItUsesAndSwitchesTheTimer) {
  struct Row {
    int kind;
    std::optional<ScheduleFieldStates> states;  // weekday, day, hour, minute, timer
  };
  const Row rows[] = {
      {-1, std::nullopt},
      {kBackupNone, ScheduleFieldStates{false, false, false, false, false}},
      {kBackupHourly, ScheduleFieldStates{false, false, false, true, true}},
      {kBackupDaily, ScheduleFieldStates{false, false, true, true, true}},
      {kBackupWeekly, ScheduleFieldStates{true, false, true, true, true}},
      {kBackupMonthly, ScheduleFieldStates{false, true, true, true, true}},
      {5, std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(FieldStatesFor(row.kind), row.states) << row.kind;
}

TEST(BackupSchedule, TheTickerServesAMinuteOnceAndTheNextMatchingMinuteAgain) {
  const BackupSchedule hourly{kBackupHourly, 30, 0, 0, 1};
  TBackupTicker ticker;
  EXPECT_FALSE(ticker.Tick(hourly, At(2026, 12, 10, 4, 10, 29, 59)));
  EXPECT_TRUE(ticker.Tick(hourly, At(2026, 12, 10, 4, 10, 30, 0)));
  // A timer running early ticks twice within second 0: one backup.
  EXPECT_FALSE(ticker.Tick(hourly, At(2026, 12, 10, 4, 10, 30, 0)));
  EXPECT_FALSE(ticker.Tick(hourly, At(2026, 12, 10, 4, 10, 30, 1)));
  EXPECT_TRUE(ticker.Tick(hourly, At(2026, 12, 10, 4, 11, 30, 0)));
  // The schedule changed on the page applies at the next tick.
  const BackupSchedule hourly31{kBackupHourly, 31, 0, 0, 1};
  EXPECT_TRUE(ticker.Tick(hourly31, At(2026, 12, 10, 4, 11, 31, 0)));
}

}  // namespace
}  // namespace velmora::test
