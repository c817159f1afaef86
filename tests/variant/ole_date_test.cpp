#include "variant/ole_date.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmora::test {
namespace {

struct DateCase {
  double value;
  DateTimeParts parts;
};

// Known values of the day count: 0 is 1899-12-30; before it the fraction still counts forward
// from midnight (-1.25 is 1899-12-29 06:00).
const DateCase kDates[] = {
    {0.0, {1899, 12, 30, 0, 0, 0, 0}},       {1.5, {1899, 12, 31, 12, 0, 0, 0}},
    {-1.25, {1899, 12, 29, 6, 0, 0, 0}},     {-693593.0, {1, 1, 1, 0, 0, 0, 0}},
    {2.0, {1900, 1, 1, 0, 0, 0, 0}},         {60.0, {1900, 2, 28, 0, 0, 0, 0}},
    {61.0, {1900, 3, 1, 0, 0, 0, 0}},        {45352.0, {2024, 3, 1, 0, 0, 0, 0}},
    {2958465.0, {9999, 12, 31, 0, 0, 0, 0}},
};

TEST(OleDate, KnownDayCounts) {
  for (const auto& c : kDates) {
    EXPECT_EQ(EncodeDateTime(c.parts), c.value) << c.value;
    EXPECT_EQ(DecodeDateTime(c.value), c.parts) << c.value;
  }
}

TEST(OleDate, RoundTripsToTheMillisecondAcrossCenturies) {
  const DateTimeParts parts[] = {
      {1899, 12, 30, 23, 59, 59, 999}, {1899, 12, 29, 0, 0, 0, 1},
      {1850, 6, 15, 13, 14, 15, 16},   {1600, 2, 29, 12, 0, 0, 500},
      {1, 1, 1, 0, 0, 0, 0},           {2000, 2, 29, 8, 30, 0, 7},
      {2024, 12, 31, 23, 59, 59, 999}, {9999, 12, 31, 23, 59, 59, 999},
  };
  for (const auto& p : parts) {
    const double v = EncodeDateTime(p);
    EXPECT_EQ(DecodeDateTime(v), p) << FormatDateTime(v);
  }
}

TEST(OleDate, TimeRoundingUpToMidnightMovesToTheNextCalendarDay) {
  // A few microseconds short of midnight rounds to the following midnight, on both sides of 0.
  EXPECT_EQ(DecodeDateTime(5.99999999999), (DateTimeParts{1900, 1, 5, 0, 0, 0, 0}));
  EXPECT_EQ(DecodeDateTime(-1.99999999999), (DateTimeParts{1899, 12, 30, 0, 0, 0, 0}));
  EXPECT_EQ(DecodeDateTime(-3.99999999999), (DateTimeParts{1899, 12, 28, 0, 0, 0, 0}));
}

TEST(OleDate, ValuesFarOutsideTheCalendarDoNotOverflow) {
  const DateTimeParts epoch{};
  for (double v : {1e300, -1e300, 1e19, -9.3e18, 1.0000001e9, std::nan("")})
    EXPECT_EQ(DecodeDateTime(v), epoch) << v;
  const DateTimeParts far = DecodeDateTime(1e9);  // still decodable, and back again
  EXPECT_EQ(DaysFromCivil(far.year, far.month, far.day), 1'000'000'000);
}

TEST(OleDate, Formats) {
  EXPECT_EQ(FormatDateTime(EncodeDateTime({2024, 3, 5, 0, 0, 0, 0})), "2024-03-05");
  EXPECT_EQ(FormatDateTime(EncodeDateTime({2024, 3, 5, 7, 8, 9, 0})), "2024-03-05 07:08:09");
  EXPECT_EQ(FormatDateTime(EncodeDateTime({1850, 3, 5, 7, 8, 9, 10})), "1850-03-05 07:08:09.010");
  EXPECT_EQ(FormatDateTimeIso(EncodeDateTime({2024, 3, 5, 0, 0, 0, 0})), "2024-03-05T00:00:00");
}

TEST(OleDate, NowIsAPlausibleLocalDate) {
  const DateTimeParts now = DecodeDateTime(NowAsDateTime());
  EXPECT_GE(now.year, 2024);
  EXPECT_LE(now.year, 2200);
}

}  // namespace
}  // namespace velmora::test
