// Text forms of field values shared by the output formats.
//
// Cells (table and CSV): NULL is empty; dates "yyyy-mm-dd", times "hh:nn:ss[.zzz]", date-times
// "yyyy-mm-dd[ hh:nn:ss[.zzz]]"; booleans true/false; floating values in their shortest exact
// form; decimals and currency as exact decimal text; binary values as base64.
#pragma once

#include <string>
#include <string_view>

#include "data/field_type.h"
#include "variant/ole_variant.h"

namespace velmora {

std::string Base64Encode(std::string_view bytes);

// True for the field types whose values are numbers (right-aligned, JSON numbers).
bool IsNumericField(TFieldType type);

// The cell text of a field value.
std::string CellText(const OleVariant& value, TFieldType type);

// A date-time value of a date, time or time-stamp field as ISO 8601: "yyyy-mm-dd" for dates,
// "hh:nn:ss[.zzz]" for times, "yyyy-mm-ddThh:nn:ss[.zzz]" otherwise, "+hh:mm" appended for a
// time-stamp with offset. Empty when the value is not a date-time.
std::string IsoDateTimeText(const OleVariant& value, TFieldType type);

// Exact decimal text of a currency value (scaled by 10000): "12.5", "-0.0001", "3".
std::string CurrencyText(int64_t scaled);

}  // namespace velmora
