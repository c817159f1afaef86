#include "db/core/iso_date.h"

#include <fmt/core.h>

#include "variant/ole_date.h"

namespace velmora {

std::string FormatIsoDate(double value) {
  const DateTimeParts p = DecodeDateTime(value);
  return fmt::format("{:04}-{:02}-{:02}", p.year, p.month, p.day);
}

std::string FormatIsoTime(double value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::string out = fmt::format("{:02}:{:02}:{:02}", p.hour, p.minute, p.second);
  if (p.millisecond) out += fmt::format(".{:03}", p.millisecond);
  return out;
}

std::string FormatIsoDateTime(double value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::string out = fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", p.year, p.month, p.day,
                                p.hour, p.minute, p.second);
  if (p.millisecond) out += fmt::format(".{:03}", p.millisecond);
  return out;
}

}  // namespace velmora
