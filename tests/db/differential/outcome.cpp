#include "tests/db/differential/outcome.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace velmora::test::differential {
namespace {

bool IsNumeric(Family f) {
  return f == Family::kInteger || f == Family::kFloat4 || f == Family::kFloat ||
         f == Family::kDecimal;
}

// "+007.500" -> "7.5", "-0" -> "0": equal decimal texts for equal values.
std::string NormalDecimal(std::string_view t) {
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  std::string digits(t);
  if (digits.find('.') != std::string::npos) {
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    if (!digits.empty() && digits.back() == '.') digits.pop_back();
  }
  size_t lead = 0;
  while (lead + 1 < digits.size() && digits[lead] == '0' && digits[lead + 1] != '.') ++lead;
  digits.erase(0, lead);
  if (digits.empty() || digits == "0") return "0";
  return negative ? "-" + digits : digits;
}

bool PlainDecimal(std::string_view t) {
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
  if (t.empty()) return false;
  bool dot = false;
  for (char c : t) {
    if (c == '.' && !dot) {
      dot = true;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

bool ReadNumber(const std::string& t, long double& out) {
  if (t.empty()) return false;
  char* end = nullptr;
  out = std::strtold(t.c_str(), &end);
  return end == t.c_str() + t.size();
}

bool SameNumber(const std::string& engine, const std::string& server, Family f) {
  const bool plain = PlainDecimal(engine) && PlainDecimal(server);
  if (plain && NormalDecimal(engine) == NormalDecimal(server)) return true;
  long double a = 0, b = 0;
  if (!ReadNumber(engine, a) || !ReadNumber(server, b)) {
    return engine == server;  // NaN, Infinity as written
  }
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (a == b) return true;
  long double tolerance = 0;
  if (f == Family::kFloat4) {
    tolerance = 1e-6L;
  } else if (f == Family::kFloat) {
    tolerance = 1e-12L;
  } else if (!plain) {
    tolerance = 1e-14L;  // a decimal written with an exponent: SQLite writes 15 digits
  }
  return std::fabs(a - b) <= tolerance * std::max(std::fabs(a), std::fabs(b));
}

std::string ReadBool(const std::string& t) {
  if (t == "t" || t == "true" || t == "1") return "1";
  if (t == "f" || t == "false" || t == "0") return "0";
  return t;
}

// The engine's cell as the server's family reads it, for comparing and sorting.
Cell EngineCell(const Cell& c, Family f) {
  if (!c) return c;
  switch (f) {
    case Family::kBool:
      return ReadBool(*c);
    case Family::kDate:
    case Family::kTime:
    case Family::kDateTime:
      if (auto d = CanonicalDateTime(*c, f)) return d;
      return *c;
    default:
      return c;
  }
}

bool SameCell(const Cell& engine, const Cell& server, Family f) {
  if (!engine || !server) return !engine && !server;
  if (IsNumeric(f)) return SameNumber(*engine, *server, f);
  return *engine == *server;
}

// An order of rows that puts equal values side by side: NULL first, numbers by their value
// rounded to fewer digits than the comparison tolerates (so that values equal within it sort
// alike), the rest by text.
bool RowBefore(const std::vector<Cell>& x, const std::vector<Cell>& y,
               const std::vector<Family>& families) {
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
    if (!x[i] || !y[i]) {
      if (!x[i] != !y[i]) return !x[i];
      continue;
    }
    long double a = 0, b = 0;
    if (i < families.size() && IsNumeric(families[i]) && ReadNumber(*x[i], a) &&
        ReadNumber(*y[i], b)) {
      const int digits = families[i] == Family::kFloat4 ? 5 : 11;
      a = std::stold(fmt::format("{:.{}e}", static_cast<double>(a), digits));
      b = std::stold(fmt::format("{:.{}e}", static_cast<double>(b), digits));
      if (a != b) return a < b;
      continue;
    }
    if (*x[i] != *y[i]) return *x[i] < *y[i];
  }
  return false;
}

std::string RowText(const std::vector<Cell>& row) {
  std::string out = "(";
  for (size_t i = 0; i < row.size(); ++i) {
    out += (i ? ", " : "") + (row[i] ? "'" + *row[i] + "'" : std::string("NULL"));
  }
  return out + ")";
}

std::string CompareRows(std::vector<std::vector<Cell>> engine,
                        std::vector<std::vector<Cell>> server, const std::vector<Family>& families,
                        bool ordered) {
  if (engine.size() != server.size()) {
    return fmt::format("{} rows from the engine, {} from the server", engine.size(), server.size());
  }
  if (!ordered) {
    auto by_key = [&](const auto& x, const auto& y) { return RowBefore(x, y, families); };
    std::sort(engine.begin(), engine.end(), by_key);
    std::sort(server.begin(), server.end(), by_key);
  }
  for (size_t r = 0; r < engine.size(); ++r) {
    for (size_t c = 0; c < families.size(); ++c) {
      if (!SameCell(engine[r][c], server[r][c], families[c])) {
        return fmt::format("row {}: engine {}, server {}", r + 1, RowText(engine[r]),
                           RowText(server[r]));
      }
    }
  }
  return "";
}

bool Digits(std::string_view t, size_t at, size_t n, int& out) {
  if (at + n > t.size()) return false;
  out = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    out = out * 10 + (t[i] - '0');
  }
  return true;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

}  // namespace

const char* FamilyName(Family f) {
  static const char* const kNames[] = {"none", "integer", "float4",   "float", "decimal", "text",
                                       "date", "time",    "datetime", "bool",  "blob"};
  return kNames[static_cast<int>(f)];
}

Family FamilyOfFieldType(TFieldType t) {
  switch (t) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint:
    case ftAutoInc:
    case ftLongWord:
    case ftShortint:
    case ftByte:
      return Family::kInteger;
    case ftSingle:
      return Family::kFloat4;
    case ftFloat:
    case ftExtended:
      return Family::kFloat;
    case ftBCD:
    case ftFMTBcd:
    case ftCurrency:
      return Family::kDecimal;
    case ftDate:
      return Family::kDate;
    case ftTime:
      return Family::kTime;
    case ftDateTime:
    case ftTimeStamp:
      return Family::kDateTime;
    case ftBoolean:
      return Family::kBool;
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
    case ftGraphic:
    case ftTypedBinary:
      return Family::kBlob;
    default:
      return Family::kText;
  }
}

Family FamilyOfPgType(unsigned oid) {
  switch (oid) {
    case 20:
    case 21:
    case 23:
    case 26:
      return Family::kInteger;
    case 700:
      return Family::kFloat4;
    case 701:
      return Family::kFloat;
    case 1700:
    case 790:
      return Family::kDecimal;
    case 1082:
      return Family::kDate;
    case 1083:
    case 1266:
      return Family::kTime;
    case 1114:
    case 1184:
      return Family::kDateTime;
    case 16:
      return Family::kBool;
    case 17:
      return Family::kBlob;
    default:
      return Family::kText;
  }
}

Family FamilyOfSqliteDeclared(const char* declared) {
  if (declared == nullptr) return Family::kNone;
  std::string up(declared);
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto has = [&](const char* s) { return up.find(s) != std::string::npos; };
  if (has("BOOL")) return Family::kBool;
  if (up == "DATE") return Family::kDate;
  if (up == "TIME") return Family::kTime;
  if (has("DATETIME") || has("TIMESTAMP")) return Family::kDateTime;
  if (has("INT")) return Family::kInteger;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return Family::kText;
  if (has("BLOB")) return Family::kBlob;
  if (has("REAL") || has("FLOA") || has("DOUB")) return Family::kFloat;
  return Family::kDecimal;
}

std::optional<std::string> CanonicalDateTime(const std::string& text, Family f) {
  std::string_view t = text;
  int y = 1970, mo = 1, d = 1, h = 0, mi = 0, s = 0, ms = 0;
  size_t at = 0;
  if (f != Family::kTime) {
    if (!Digits(t, 0, 4, y) || t.size() < 10 || t[4] != '-' || !Digits(t, 5, 2, mo) ||
        t[7] != '-' || !Digits(t, 8, 2, d)) {
      return std::nullopt;
    }
    at = 10;
    if (at < t.size() && (t[at] == ' ' || t[at] == 'T')) ++at;
  }
  if (at < t.size() && t[at] >= '0' && t[at] <= '9') {
    if (!Digits(t, at, 2, h) || at + 5 > t.size() || t[at + 2] != ':' ||
        !Digits(t, at + 3, 2, mi)) {
      return std::nullopt;
    }
    at += 5;
    if (at < t.size() && t[at] == ':') {
      if (!Digits(t, at + 1, 2, s)) return std::nullopt;
      at += 3;
      if (at < t.size() && t[at] == '.') {
        ++at;
        int scale = 100;
        while (at < t.size() && t[at] >= '0' && t[at] <= '9') {
          ms += (t[at] - '0') * scale;  // finer digits than milliseconds are dropped
          scale /= 10;
          ++at;
        }
      }
    }
  }
  int offset_minutes = 0;
  if (at < t.size() && (t[at] == '+' || t[at] == '-')) {
    const int sign = t[at] == '-' ? -1 : 1;
    int oh = 0, om = 0;
    if (!Digits(t, at + 1, 2, oh)) return std::nullopt;
    at += 3;
    if (at < t.size() && t[at] == ':') {
      if (!Digits(t, at + 1, 2, om)) return std::nullopt;
      at += 3;
    }
    offset_minutes = sign * (oh * 60 + om);
  }
  if (at != t.size()) return std::nullopt;
  if (f == Family::kTime) return fmt::format("{:02}:{:02}:{:02}.{:03}", h, mi, s, ms);
  int64_t minutes =
      (DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 24 + h) * 60 + mi -
      offset_minutes;
  const int64_t day = minutes >= 0 ? minutes / 1440 : -((-minutes + 1439) / 1440);
  minutes -= day * 1440;
  CivilFromDays(day, y, mo, d);
  if (f == Family::kDate) return fmt::format("{:04}-{:02}-{:02}", y, mo, d);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03}", y, mo, d, minutes / 60,
                     minutes % 60, s, ms);
}

std::string Difference(const Outcome& engine, const Outcome& server, bool ordered) {
  if (engine.failed != server.failed) {
    return engine.failed ? "the engine fails (" + engine.error + "), the server gives a result"
                         : "the engine gives a result, the server fails (" + server.error + ")";
  }
  if (engine.failed) return "";
  if (engine.names != server.names) {
    std::string e, s;
    for (const auto& n : engine.names) e += n + " ";
    for (const auto& n : server.names) s += n + " ";
    return "column names: engine " + e + "| server " + s;
  }
  for (size_t i = 0; i < engine.families.size(); ++i) {
    const Family e = engine.families[i], s = server.families[i];
    if (e == Family::kNone || e == s || (e == Family::kDecimal && s == Family::kInteger)) continue;
    return fmt::format("column {} ({}): engine type {}, server type {}", i + 1, engine.names[i],
                       FamilyName(e), FamilyName(s));
  }
  std::vector<std::vector<Cell>> read = engine.rows;
  for (auto& row : read) {
    for (size_t c = 0; c < row.size(); ++c) row[c] = EngineCell(row[c], server.families[c]);
  }
  return CompareRows(std::move(read), server.rows, server.families, ordered);
}

std::string ServerDifference(const Outcome& a, const Outcome& b, bool ordered) {
  if (a.failed != b.failed) return a.failed ? "fails (" + a.error + ")" : "fails (" + b.error + ")";
  if (a.failed) return "";
  if (a.names != b.names || a.families != b.families) return "other columns";
  return CompareRows(a.rows, b.rows, a.families, ordered);
}

std::string Describe(const Outcome& o) {
  if (o.failed) return "error: " + o.error;
  std::string out;
  for (size_t i = 0; i < o.names.size(); ++i) {
    out += (i ? ", " : "") + o.names[i] + " " + FamilyName(o.families[i]);
  }
  out += fmt::format("; {} rows", o.rows.size());
  for (size_t r = 0; r < o.rows.size() && r < 6; ++r) out += " " + RowText(o.rows[r]);
  return out;
}

}  // namespace velmora::test::differential
