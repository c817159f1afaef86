#include "variant/ole_date.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "variant/date_time_format.h"

namespace velmora {
namespace {

constexpr int64_t kMsPerDay = 86'400'000;
// Days from 1970-01-01 to 1899-12-30.
constexpr int64_t kUnixEpochOffset = 25569;
constexpr double kMaxDecodableDays = 1e9;

int64_t DaysFromUnixEpoch(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromUnixDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

}  // namespace

int64_t DaysFromCivil(int year, int month, int day) {
  return DaysFromUnixEpoch(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
         kUnixEpochOffset;
}

double EncodeDateTime(const DateTimeParts& p) {
  const double days = static_cast<double>(DaysFromCivil(p.year, p.month, p.day));
  const double time = ((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond;
  const double frac = time / static_cast<double>(kMsPerDay);
  // Before 1899-12-30 the fraction still counts forward from midnight, away from zero.
  return days < 0 ? days - frac : days + frac;
}

DateTimeParts DecodeDateTime(double value) {
  DateTimeParts p;
  // Beyond a few million years the calendar arithmetic would overflow; such values are no dates.
  if (!std::isfinite(value) || std::fabs(value) > kMaxDecodableDays) return p;
  double whole = std::trunc(value);
  int64_t ms = std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {
    // The time of day rounded up to midnight: the next calendar day, which for values before
    // 1899-12-30 lies one towards zero.
    ms -= kMsPerDay;
    whole += 1;
  }
  CivilFromUnixDays(static_cast<int64_t>(whole) - kUnixEpochOffset, p.year, p.month, p.day);
  p.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  p.second = static_cast<int>(ms % 60);
  ms /= 60;
  p.minute = static_cast<int>(ms % 60);
  p.hour = static_cast<int>(ms / 60);
  return p;
}

double NowAsDateTime() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&secs, &local);
  DateTimeParts p;
  p.year = local.tm_year + 1900;
  p.month = local.tm_mon + 1;
  p.day = local.tm_mday;
  p.hour = local.tm_hour;
  p.minute = local.tm_min;
  p.second = local.tm_sec;
  p.millisecond = static_cast<int>(ms % 1000);
  return EncodeDateTime(p);
}

std::string FormatDateTime(double value) {
  return FormatDateTimeText(value, DateTimeForm::kShortest);
}
std::string FormatDateTimeIso(double value) {
  return FormatDateTimeText(value, DateTimeForm::kIso);
}

}  // namespace velmora
