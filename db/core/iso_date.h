// Date-time values as ISO 8601 text, the form the SQLite driver stores dates in. They are read
// back by ParseDateTimeText (variant/date_time_text.h), which takes these forms and more.
#pragma once

#include <string>

namespace velmora {

std::string FormatIsoDate(double value);      // "yyyy-mm-dd"
std::string FormatIsoTime(double value);      // "hh:nn:ss" or "hh:nn:ss.zzz"
std::string FormatIsoDateTime(double value);  // "yyyy-mm-dd hh:nn:ss[.zzz]"

}  // namespace velmora
