#include "db/core/iso_date.h"

#include "variant/date_time_format.h"
#include "variant/variant_text.h"

namespace velmora {

std::string FormatIsoDate(double value) {
  return FormatDateTimeText(value, DateTimeForm::kDate);
}

std::string FormatIsoTime(double value) {
  return FormatDateTimeText(value, DateTimeForm::kTime);
}

std::string FormatIsoDateTime(double value) {
  return FormatDateTimeText(value, DateTimeForm::kDateTime);
}

std::string IsoDateParamText(TFieldType type, const OleVariant& value) {
  if (value.IsText()) return value.Text();
  if (value.VarType() == varSQLTimeStamp) return FormatTimeStamp(value.TimeStamp());
  switch (type) {
    case ftDate:
      return FormatIsoDate(value.AsDouble());
    case ftTime:
      return FormatIsoTime(value.AsDouble());
    default:
      return FormatIsoDateTime(value.AsDouble());
  }
}

}  // namespace velmora
