#include "variant/date_time_format.h"

#include <fmt/format.h>

#include <cstdlib>
#include <iterator>

namespace velmora {
namespace {

// Wide enough for every field of DateTimeParts and SqlTimeStamp, so that either is written
// exactly as it holds it.
struct Fields {
  int64_t year, month, day, hour, minute, second, millisecond;
};

std::string Write(const Fields& f, DateTimeForm form) {
  fmt::memory_buffer out;
  auto to = std::back_inserter(out);
  if (form != DateTimeForm::kTime) fmt::format_to(to, "{:04}-{:02}-{:02}", f.year, f.month, f.day);
  const bool midnight = f.hour == 0 && f.minute == 0 && f.second == 0 && f.millisecond == 0;
  if (form != DateTimeForm::kDate && !(form == DateTimeForm::kShortest && midnight)) {
    if (form != DateTimeForm::kTime) out.push_back(form == DateTimeForm::kIso ? 'T' : ' ');
    fmt::format_to(to, "{:02}:{:02}:{:02}", f.hour, f.minute, f.second);
    if (f.millisecond != 0 || form == DateTimeForm::kMilliseconds)
      fmt::format_to(to, ".{:03}", f.millisecond);
  }
  return fmt::to_string(out);
}

}  // namespace

std::string FormatDateTimeText(const DateTimeParts& p, DateTimeForm form) {
  return Write({p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond}, form);
}

std::string FormatDateTimeText(double value, DateTimeForm form) {
  return FormatDateTimeText(DecodeDateTime(value), form);
}

std::string FormatDateTimeText(const SqlTimeStamp& t, DateTimeForm form) {
  return Write({t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction}, form);
}

std::string FormatUtcOffset(int hours, int minutes) {
  const bool negative = hours < 0 || minutes < 0;
  return fmt::format("{}{:02}:{:02}", negative ? '-' : '+', std::abs(hours), std::abs(minutes));
}

}  // namespace velmora
