// FormatDateTimeText, the one writer of date-time text: every form on the same values, then the
// edges (midnight, dates before 1899-12-30, rounding to the millisecond, values that are no date).
#include "variant/date_time_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <string>

#include "variant/date_time_text.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

using enum DateTimeForm;

constexpr double kMsPerDay = 86'400'000.0;

double At(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
  return EncodeDateTime({y, m, d, h, n, s, ms});
}

struct Case {
  double value;
  DateTimeForm form;
  const char* text;
};

void ExpectTexts(std::span<const Case> cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(FormatDateTimeText(c.value, c.form), c.text)
        << c.text << " (form " << static_cast<int>(c.form) << ")";
  }
}

TEST(DateTimeFormat, EveryFormOfOneValue) {
  const double with_time = At(2024, 3, 5, 7, 8, 9, 10);
  const double midnight = At(2024, 3, 5);
  const double one_ms_past = At(2024, 3, 5, 0, 0, 0, 1);
  const double whole_second = At(2024, 3, 5, 23, 59, 59);
  const Case cases[] = {
      {with_time, kDate, "2024-03-05"},
      {with_time, kTime, "07:08:09.010"},
      {with_time, kDateTime, "2024-03-05 07:08:09.010"},
      {with_time, kShortest, "2024-03-05 07:08:09.010"},
      {with_time, kIso, "2024-03-05T07:08:09.010"},
      {with_time, kMilliseconds, "2024-03-05 07:08:09.010"},
      {midnight, kDate, "2024-03-05"},
      {midnight, kTime, "00:00:00"},
      {midnight, kDateTime, "2024-03-05 00:00:00"},
      {midnight, kShortest, "2024-03-05"},
      {midnight, kIso, "2024-03-05T00:00:00"},
      {midnight, kMilliseconds, "2024-03-05 00:00:00.000"},
      // one millisecond is enough for kShortest to keep the time
      {one_ms_past, kShortest, "2024-03-05 00:00:00.001"},
      {one_ms_past, kTime, "00:00:00.001"},
      {whole_second, kShortest, "2024-03-05 23:59:59"},
      {whole_second, kIso, "2024-03-05T23:59:59"},
      {whole_second, kMilliseconds, "2024-03-05 23:59:59.000"},
  };
  ExpectTexts(cases);
}

TEST(DateTimeFormat, EdgesOfTheCalendarAndOfRounding) {
  const Case cases[] = {
      // the day count's origin, and dates before it: the fraction still counts from midnight
      {0.0, kMilliseconds, "1899-12-30 00:00:00.000"},
      {-1.25, kDateTime, "1899-12-29 06:00:00"},
      {At(1850, 3, 5, 7, 8, 9, 10), kShortest, "1850-03-05 07:08:09.010"},
      {At(1, 1, 1, 12), kIso, "0001-01-01T12:00:00"},
      {At(0, 1, 1), kDate, "0000-01-01"},
      {At(-1, 12, 31), kDate, "-001-12-31"},
      {At(10000, 1, 1), kDate, "10000-01-01"},
      // rounding to the millisecond, across a second, a day, and on both sides of 1899-12-30
      {At(2024, 3, 5, 12) + 0.4 / kMsPerDay, kTime, "12:00:00"},
      {At(2024, 3, 5, 12) + 0.6 / kMsPerDay, kTime, "12:00:00.001"},
      {At(2024, 3, 5, 7, 8, 9, 999) + 0.6 / kMsPerDay, kMilliseconds, "2024-03-05 07:08:10.000"},
      {At(2024, 3, 5, 7, 8, 9, 999) + 0.4 / kMsPerDay, kMilliseconds, "2024-03-05 07:08:09.999"},
      {At(2024, 3, 5, 23, 59, 59, 999) + 0.6 / kMsPerDay, kShortest, "2024-03-06"},
      {5.99999999999, kIso, "1900-01-05T00:00:00"},
      {-1.99999999999, kShortest, "1899-12-30"},
      {-3.99999999999, kDateTime, "1899-12-28 00:00:00"},
      // no date at all
      {std::nan(""), kShortest, "1899-12-30"},
      {1e300, kIso, "1899-12-30T00:00:00"},
  };
  ExpectTexts(cases);
}

TEST(DateTimeFormat, StoredFieldsAreWrittenAsTheyAre) {
  SqlTimeStamp stamp{2024, 3, 5, 7, 8, 9, 7};
  EXPECT_EQ(FormatDateTimeText(stamp, kDateTime), "2024-03-05 07:08:09.007");
  stamp.fraction = 0;
  EXPECT_EQ(FormatDateTimeText(stamp, kDateTime), "2024-03-05 07:08:09");
  // a fraction past 999 came from outside; it is shown, not cut or carried
  stamp.fraction = 4'000'000'000u;
  EXPECT_EQ(FormatDateTimeText(stamp, kDateTime), "2024-03-05 07:08:09.4000000000");
  EXPECT_EQ(FormatDateTimeText(DateTimeParts{2024, 13, 40, 25, 61, 61, 0}, kIso),
            "2024-13-40T25:61:61");
}

TEST(DateTimeFormat, UtcOffsets) {
  const struct {
    int hours, minutes;
    const char* text;
  } cases[] = {{2, 0, "+02:00"},   {0, 0, "+00:00"},  {-5, -30, "-05:30"},
               {0, -30, "-00:30"}, {14, 0, "+14:00"}, {-12, 0, "-12:00"}};
  for (const auto& c : cases) EXPECT_EQ(FormatUtcOffset(c.hours, c.minutes), c.text) << c.text;
}

TEST(DateTimeFormat, WrittenFormsReadBackToTheSameValue) {
  // Every form but kTime carries the date; each reads back, to the millisecond, through the one
  // reader of date-time text.
  for (const double value :
       {At(2024, 2, 29, 13, 14, 15, 678), At(1850, 6, 15), At(2024, 3, 5, 1)}) {
    for (const DateTimeForm form : {kDateTime, kShortest, kIso, kMilliseconds}) {
      const std::string text = FormatDateTimeText(value, form);
      double back = -1;
      ASSERT_TRUE(ParseDateTimeText(text, back)) << text;
      EXPECT_EQ(DecodeDateTime(back), DecodeDateTime(value)) << text;
    }
  }
}

}  // namespace
}  // namespace velmora::test
