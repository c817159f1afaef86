// Date-time values: a double counting days since 30 December 1899, the fraction giving the time
// of day, in local time.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  bool operator==(const DateTimeParts&) const = default;
};

// Days since 1899-12-30 for a civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int year, int month, int day);

double EncodeDateTime(const DateTimeParts& parts);
// Splits a date-time value, rounding to the millisecond. Values that are not finite or lie more
// than 1e9 days from 1899-12-30 give the parts of 1899-12-30 00:00.
DateTimeParts DecodeDateTime(double value);

// The local date and time of the system clock at millisecond resolution.
double NowAsDateTime();

// Two forms of FormatDateTimeText (variant/date_time_format.h), the text of a date-time variant:
// kShortest, "yyyy-mm-dd[ hh:nn:ss[.zzz]]", the shortest that is exact,
std::string FormatDateTime(double value);
// and kIso, ISO 8601 "yyyy-mm-ddThh:nn:ss[.zzz]".
std::string FormatDateTimeIso(double value);

}  // namespace velmora
