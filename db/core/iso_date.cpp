#include "db/core/iso_date.h"

#include "variant/date_time_format.h"

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

}  // namespace velmora
