// Date-time values as ISO 8601 text, the form the SQLite driver stores and reads dates in.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Reads "yyyy-mm-dd", "hh:nn[:ss[.f...]]" or the two joined by " " or "T", with an optional
// trailing "Z", into a date-time value (a bare time gives the day 1899-12-30). False for any
// other text or an impossible date or time.
bool ParseIsoDateTime(std::string_view text, double& out);

std::string FormatIsoDate(double value);      // "yyyy-mm-dd"
std::string FormatIsoTime(double value);      // "hh:nn:ss" or "hh:nn:ss.zzz"
std::string FormatIsoDateTime(double value);  // "yyyy-mm-dd hh:nn:ss[.zzz]"

}  // namespace velmora
