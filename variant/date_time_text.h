// The one reader of date-time values written as text: a value assigned as text to a date or
// time-stamp field, and a date the SQLite driver reads back from a text column.
//
// Accepted, after blanks around the text are dropped (docs/date-time-text.md has the table):
// - a date "yyyy-m-d": four-digit year, month and day of one or two digits; the day must exist
//   in that month ("2023-02-29" and "2024-04-31" are refused);
// - a time "h:nn", "h:nn:ss" or "h:nn:ss.f": hour of one or two digits (0 to 23), minutes and
//   seconds of two (0 to 59), any number of fraction digits of which the first three count;
// - a date and a time joined by one " ", "T" or "t";
// - any of these followed by "Z" or "z", which is ignored: the value is read as written.
// A time alone lies on 1899-12-30 (the value is the fraction of a day). Anything else is refused.
#pragma once

#include <string_view>

namespace velmora {

// Reads `text` into a date-time value by the rules above; false, with `out` untouched, when the
// text is not one.
bool ParseDateTimeText(std::string_view text, double& out);

}  // namespace velmora
