// Date-time values as ISO 8601 text, the form the SQLite driver stores dates in and PostgreSQL
// takes them in. They are read back by ParseDateTimeText (variant/date_time_text.h), which takes
// these forms and more.
#pragma once

#include <string>

#include "data/field_type.h"
#include "variant/ole_variant.h"

namespace velmora {

std::string FormatIsoDate(double value);      // "yyyy-mm-dd"
std::string FormatIsoTime(double value);      // "hh:nn:ss" or "hh:nn:ss.zzz"
std::string FormatIsoDateTime(double value);  // "yyyy-mm-dd hh:nn:ss[.zzz]"

// The text a parameter of the date-time family (data/field_family.h) of `type` is sent as: text
// as it is (the database reads it), an SQL time stamp in its own form, any other value as a day
// count written as `type` says (ftDate the date, ftTime the time, ftDateTime and ftTimeStamp
// both).
std::string IsoDateParamText(TFieldType type, const OleVariant& value);

}  // namespace velmora
