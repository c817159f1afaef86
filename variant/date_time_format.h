// The one writer of date-time values as text: every text form the system writes of a date, a
// time or a time stamp comes from here, in the C locale, whatever the process's own.
//
// The forms, shown for 2024-03-05 07:08:09.010 and for 2024-03-05 00:00:00.000:
//   kDate             "2024-03-05"               "2024-03-05"
//   kTime             "07:08:09.010"             "00:00:00"
//   kDateTime         "2024-03-05 07:08:09.010"  "2024-03-05 00:00:00"
//   kShortest         "2024-03-05 07:08:09.010"  "2024-03-05"
//   kIso              "2024-03-05T07:08:09.010"  "2024-03-05T00:00:00"
//   kMilliseconds     "2024-03-05 07:08:09.010"  "2024-03-05 00:00:00.000"
// - The milliseconds ".zzz" appear only when they are not zero, except in kMilliseconds, which
//   always writes them. kShortest drops the whole time of day at midnight.
// - The year takes at least four digits, zero-padded; a year before 1 is written with its sign
//   ("-001", year 0 as "0000"), a year past 9999 with all its digits.
// - A value (days since 1899-12-30, see variant/ole_date.h) is first rounded to the millisecond:
//   a time that rounds up to 24:00 is midnight of the next calendar day (for a value before
//   1899-12-30, the day one towards zero). A value that is no date (not finite, or more than 1e9
//   days away) is written as 1899-12-30 00:00.
// - Fields given as parts are written as they are, out-of-range values included, so that a
//   stored time stamp is shown as it was read.
//
// Thread rules: none; the functions keep no state.
#pragma once

#include <cstdint>
#include <string>

#include "variant/ole_date.h"
#include "variant/ole_variant.h"

namespace velmora {

enum class DateTimeForm : uint8_t { kDate, kTime, kDateTime, kShortest, kIso, kMilliseconds };

std::string FormatDateTimeText(double value, DateTimeForm form);
std::string FormatDateTimeText(const DateTimeParts& parts, DateTimeForm form);
// A SQL time stamp, its fraction counting milliseconds.
std::string FormatDateTimeText(const SqlTimeStamp& stamp, DateTimeForm form);

// An offset from UTC as "+hh:mm" or "-hh:mm": negative when either part is, each part written by
// its magnitude.
std::string FormatUtcOffset(int hours, int minutes);

}  // namespace velmora
