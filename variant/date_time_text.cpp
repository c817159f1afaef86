#include "variant/date_time_text.h"

#include "variant/ole_date.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads from `min_len` to `max_len` digits at `i`, advancing `i` past them.
bool ReadDigits(std::string_view s, size_t& i, size_t min_len, size_t max_len, int& value) {
  const size_t start = i;
  value = 0;
  while (i < s.size() && i - start < max_len && IsDigit(s[i])) value = value * 10 + (s[i++] - '0');
  return i - start >= min_len;
}

bool Expect(std::string_view s, size_t& i, char c) {
  if (i >= s.size() || s[i] != c) return false;
  ++i;
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool ReadDate(std::string_view s, size_t& i, DateTimeParts& p) {
  if (!ReadDigits(s, i, 4, 4, p.year) || !Expect(s, i, '-') || !ReadDigits(s, i, 1, 2, p.month) ||
      !Expect(s, i, '-') || !ReadDigits(s, i, 1, 2, p.day))
    return false;
  return p.month >= 1 && p.month <= 12 && p.day >= 1 && p.day <= DaysInMonth(p.year, p.month);
}

bool ReadTime(std::string_view s, size_t& i, DateTimeParts& p) {
  if (!ReadDigits(s, i, 1, 2, p.hour) || !Expect(s, i, ':') || !ReadDigits(s, i, 2, 2, p.minute))
    return false;
  if (Expect(s, i, ':')) {
    if (!ReadDigits(s, i, 2, 2, p.second)) return false;
    if (Expect(s, i, '.')) {
      const size_t start = i;
      int ms = 0;
      if (!ReadDigits(s, i, 1, 3, ms)) return false;
      for (size_t n = i - start; n < 3; ++n) ms *= 10;
      while (i < s.size() && IsDigit(s[i])) ++i;  // finer than a millisecond: dropped
      p.millisecond = ms;
    }
  }
  return p.hour < 24 && p.minute < 60 && p.second < 60;
}

}  // namespace

bool ParseDateTimeText(std::string_view text, double& out) {
  std::string_view s = TrimBlanks(text);
  if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) s.remove_suffix(1);
  DateTimeParts p;  // 1899-12-30 00:00 until read
  size_t i = 0;
  if (s.size() > 4 && s[4] == '-') {
    if (!ReadDate(s, i, p)) return false;
    if (i < s.size()) {
      if (!Expect(s, i, ' ') && !Expect(s, i, 'T') && !Expect(s, i, 't')) return false;
      if (!ReadTime(s, i, p)) return false;
    }
  } else if (!ReadTime(s, i, p)) {
    return false;
  }
  if (i != s.size()) return false;
  out = EncodeDateTime(p);
  return true;
}

}  // namespace velmora
