#include "variant/variant_text.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "variant/date_time_format.h"

namespace velmora {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

bool LessNoCase(std::string_view a, std::string_view b) {
  // Compared as unsigned bytes, so UTF-8 text orders by code point after the ASCII letters.
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(AsciiLower(x)) < static_cast<unsigned char>(AsciiLower(y));
  });
}

namespace {

bool StartsCodePoint(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

}  // namespace

size_t CodePointCount(std::string_view utf8) {
  return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), StartsCodePoint));
}

std::string_view CutToCodePoints(std::string_view utf8, size_t max_code_points) {
  if (utf8.size() <= max_code_points) return utf8;  // no more code points than bytes
  size_t count = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (StartsCodePoint(utf8[i]) && count++ == max_code_points) return utf8.substr(0, i);
  }
  return utf8;
}

std::string FormatDecimal(double value) {
  if (!std::isfinite(value)) return {};
  std::string s = fmt::format("{}", value);
  if (s.find_first_of("eE") != std::string::npos) {
    s = fmt::format("{:.15f}", value);
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  return s;
}

bool ParseInteger(std::string_view text, int64_t& out) {
  std::string_view s = TrimBlanks(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return false;
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  if (negative) {
    if (magnitude > uint64_t{1} << 63) return false;
    out = static_cast<int64_t>(0 - magnitude);
  } else {
    if (base == 10 && magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
    out = static_cast<int64_t>(magnitude);
  }
  return true;
}

bool ParseDouble(std::string_view text, double& out) {
  std::string_view s = TrimBlanks(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  double v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  // "inf" and "nan" are no numbers of ours.
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

std::string FormatCurrency(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : scaled;
  std::string out = fmt::format("{}{}", negative ? "-" : "", magnitude / 10000);
  uint64_t frac = magnitude % 10000;
  if (frac) {
    std::string digits = fmt::format("{:04}", frac);
    while (digits.back() == '0') digits.pop_back();
    out += '.';
    out += digits;
  }
  return out;
}

std::string FormatTimeStamp(const SqlTimeStamp& t) {
  return FormatDateTimeText(t, DateTimeForm::kDateTime);
}

std::string FormatTimeStampOffset(const SqlTimeStampOffset& t) {
  return FormatTimeStamp(t.stamp) + ' ' + FormatUtcOffset(t.tz_hour, t.tz_minute);
}

std::string FormatInterval(const SqlInterval& i) {
  const char* sign = i.sign < 0 ? "-" : "";
  if (i.kind == SqlInterval::kYearMonth) return fmt::format("{}{}-{:02}", sign, i.years, i.months);
  std::string out =
      fmt::format("{}{} {:02}:{:02}:{:02}", sign, i.days, i.hours, i.minutes, i.seconds);
  if (i.fraction) out += fmt::format(".{:03}", i.fraction);
  return out;
}

}  // namespace velmora
