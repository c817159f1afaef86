#include "db/iso_date.h"

#include <fmt/core.h>

#include <cctype>

#include "variant/ole_date.h"

namespace velmora {
namespace {

bool Digits(std::string_view s, size_t pos, size_t n, int& out) {
  if (pos + n > s.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Parses "hh:nn[:ss[.fff]]" at the start of s; returns the count of characters used, 0 on failure.
size_t ParseTime(std::string_view s, DateTimeParts& p) {
  if (!Digits(s, 0, 2, p.hour) || s.size() < 5 || s[2] != ':' || !Digits(s, 3, 2, p.minute)) return 0;
  size_t i = 5;
  if (i < s.size() && s[i] == ':') {
    if (!Digits(s, i + 1, 2, p.second)) return 0;
    i += 3;
    if (i < s.size() && s[i] == '.') {
      ++i;
      int ms = 0, digits = 0;
      while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        if (digits < 3) ms = ms * 10 + (s[i] - '0');
        ++digits;
        ++i;
      }
      if (digits == 0) return 0;
      for (int d = digits; d < 3; ++d) ms *= 10;
      p.millisecond = ms;
    }
  }
  if (p.hour > 23 || p.minute > 59 || p.second > 59) return 0;
  return i;
}

}  // namespace

bool ParseIsoDateTime(std::string_view s, double& out) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) s.remove_suffix(1);
  DateTimeParts p;
  size_t i = 0;
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    if (!Digits(s, 0, 4, p.year) || !Digits(s, 5, 2, p.month) || !Digits(s, 8, 2, p.day)) return false;
    if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > DaysInMonth(p.year, p.month)) return false;
    i = 10;
    if (i < s.size()) {
      if (s[i] != ' ' && s[i] != 'T' && s[i] != 't') return false;
      ++i;
      const size_t used = ParseTime(s.substr(i), p);
      if (used == 0) return false;
      i += used;
    }
  } else {
    const size_t used = ParseTime(s, p);
    if (used == 0) return false;
    i = used;
  }
  if (i != s.size()) return false;
  out = EncodeDateTime(p);
  return true;
}

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
