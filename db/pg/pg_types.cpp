#include "db/pg/pg_types.h"

#include <fmt/core.h>

#include <charconv>
#include <cmath>
#include <ctime>

#include "data/dataset.h"
#include "data/field_family.h"
#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/iso_date.h"
#include "variant/date_time_text.h"
#include "variant/ole_date.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

// Type oids of the built-in types (pg_type.dat); stable across server versions.
enum : Oid {
  kBool = 16,
  kBytea = 17,
  kChar = 18,
  kName = 19,
  kInt8 = 20,
  kInt2 = 21,
  kInt4 = 23,
  kText = 25,
  kOid = 26,
  kJson = 114,
  kXml = 142,
  kFloat4 = 700,
  kFloat8 = 701,
  kMoney = 790,
  kBpChar = 1042,
  kVarChar = 1043,
  kDate = 1082,
  kTime = 1083,
  kTimeStamp = 1114,
  kTimeStampTz = 1184,
  kInterval = 1186,
  kTimeTz = 1266,
  kNumeric = 1700,
  kUuid = 2950,
  kJsonb = 3802,
};

// Unconstrained numeric: no declared precision or scale.
constexpr int32_t kFreePrecision = 32;
constexpr int32_t kFreeScale = 8;

template <typename T>
bool ParseWhole(std::string_view text, T& out) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, out);
  return r.ec == std::errc() && r.ptr == end;
}

bool ParseFloat(std::string_view text, double& out) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, out);
  return r.ec == std::errc() && r.ptr == end;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeBytea(std::string_view text, std::string& out) {
  out.clear();
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2 != 0) return false;
  out.resize((text.size() - 2) / 2);
  for (size_t i = 2, k = 0; i < text.size(); i += 2, ++k) {
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[k] = static_cast<char>(hi * 16 + lo);
  }
  return true;
}

bool GuidText(std::string_view text, std::string& out) {
  if (text.size() != 36) return false;
  out.assign(1, '{');
  for (char c : text) out += AsciiUpper(c);
  out += '}';
  return true;
}

// "$1,234.50", "-$3.00" or "($3.00)" to "1234.50" / "-3.00".
bool MoneyText(std::string_view text, std::string& out) {
  out.clear();
  if (text.find('(') != std::string_view::npos) out += '-';
  for (char c : text) {
    if ((c >= '0' && c <= '9') || c == '.' || c == '-') out += c;
  }
  double d = 0;
  return ParseFloat(out, d);
}

// The text of a time with time zone without its offset ("10:11:12+02" -> "10:11:12").
std::string_view WithoutOffset(std::string_view text) {
  const size_t at = text.find_last_of("+-");
  return at == std::string_view::npos ? text : text.substr(0, at);
}

bool ParseDate(std::string_view text, double& out) {
  return ParseDateTimeText(text, out);
}

}  // namespace

TPgColumnType MapPgType(Oid oid, int typmod) {
  using R = TPgReader;
  switch (oid) {
    case kBool:
      return {ftBoolean, 0, 0, 0, R::kBoolean};
    case kInt2:
      return {ftSmallint, 0, 0, 0, R::kInteger};
    case kInt4:
      return {ftInteger, 0, 0, 0, R::kInteger};
    case kInt8:
      return {ftLargeint, 0, 0, 0, R::kInteger};
    case kOid:
      return {ftLongWord, 0, 0, 0, R::kInteger};
    case kFloat4:
      return {ftSingle, 0, 0, 0, R::kFloat};
    case kFloat8:
      return {ftFloat, 0, 0, 0, R::kFloat};
    case kMoney:
      return {ftCurrency, 0, 0, 0, R::kMoney};
    case kNumeric: {
      if (typmod < 4) return {ftFMTBcd, 0, kFreePrecision, kFreeScale, R::kDecimal};
      const int32_t precision = ((typmod - 4) >> 16) & 0xFFFF;
      const auto scale = static_cast<int16_t>((typmod - 4) & 0xFFFF);
      if (scale == 0 && precision <= 4) return {ftSmallint, 0, precision, 0, R::kInteger};
      if (scale == 0 && precision <= 9) return {ftInteger, 0, precision, 0, R::kInteger};
      if (scale == 0 && precision <= 18) return {ftLargeint, 0, precision, 0, R::kInteger};
      return {ftFMTBcd, 0, precision, scale < 0 ? 0 : scale, R::kDecimal};
    }
    case kVarChar:
      if (typmod >= 4) return {ftWideString, typmod - 4, 0, 0, R::kText};
      return {ftWideMemo, 0, 0, 0, R::kText};
    case kBpChar:
      return {ftFixedWideChar, typmod >= 4 ? typmod - 4 : 1, 0, 0, R::kText};
    case kChar:
      return {ftFixedWideChar, 1, 0, 0, R::kText};
    case kName:
      return {ftWideString, 63, 0, 0, R::kText};
    case kBytea:
      return {ftBlob, 0, 0, 0, R::kBytes};
    case kDate:
      return {ftDate, 0, 0, 0, R::kDate};
    case kTime:
      return {ftTime, 0, 0, 0, R::kDate};
    case kTimeTz:
      return {ftTime, 0, 0, 0, R::kTimeTz};
    case kTimeStamp:
      return {ftDateTime, 0, 0, 0, R::kDate};
    case kTimeStampTz:
      return {ftDateTime, 0, 0, 0, R::kTimeStampTz};
    case kUuid:
      return {ftGuid, 38, 0, 0, R::kGuid};
    case kInterval:
      return {ftWideString, 64, 0, 0, R::kText};
    case kText:
    case kJson:
    case kJsonb:
    case kXml:
    default:
      return {ftWideMemo, 0, 0, 0, R::kText};
  }
}

bool ParsePgTimeStampTz(std::string_view text, double& out) {
  // The offset follows the time: the last sign after the date's own "-" signs.
  const size_t at = text.find_last_of("+-");
  if (at == std::string_view::npos || at < 11) return false;
  double wall = 0;
  if (!ParseDateTimeText(text.substr(0, at), wall)) return false;
  int offset_seconds = 0;
  {
    std::string_view rest = text.substr(at + 1);
    int part_seconds = 3600;
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      int n = 0;
      if (!ParseWhole(rest.substr(0, colon), n)) return false;
      offset_seconds += n * part_seconds;
      part_seconds /= 60;
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    if (text[at] == '-') offset_seconds = -offset_seconds;
  }
  // Wall-clock milliseconds at that offset, to Unix milliseconds, to this machine's local time.
  constexpr int64_t kUnixEpochDays = 25569;  // 1970-01-01 counted from 1899-12-30
  const auto wall_ms = static_cast<int64_t>(std::llround(wall * 86400000.0));
  const int64_t unix_ms = wall_ms - kUnixEpochDays * 86400000 - int64_t{offset_seconds} * 1000;
  int64_t seconds = unix_ms / 1000, ms = unix_ms % 1000;
  if (ms < 0) {
    ms += 1000;
    --seconds;
  }
  const auto t = static_cast<time_t>(seconds);
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr) return false;
  out = EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, static_cast<int>(ms)});
  return true;
}

bool AppendPgValue(TPgReader reader, std::string_view text, RecordAppender& out,
                   std::string& scratch) {
  switch (reader) {
    case TPgReader::kText:
      out.AppendText(text);
      return true;
    case TPgReader::kInteger: {
      int64_t v = 0;
      if (!ParseWhole(text, v)) return false;
      out.AppendInt64(v);
      return true;
    }
    case TPgReader::kBoolean:
      if (text != "t" && text != "f") return false;
      out.AppendInt64(text == "t" ? 1 : 0);
      return true;
    case TPgReader::kFloat: {
      double d = 0;
      if (!ParseFloat(text, d)) return false;
      out.AppendDouble(d);
      return true;
    }
    case TPgReader::kMoney:
      if (!MoneyText(text, scratch)) return false;
      out.AppendText(scratch);
      return true;
    case TPgReader::kDecimal:
      out.AppendText(text);
      return true;
    case TPgReader::kDate:
    case TPgReader::kTimeTz: {
      double d = 0;
      if (!ParseDate(reader == TPgReader::kTimeTz ? WithoutOffset(text) : text, d)) return false;
      out.AppendDouble(d);
      return true;
    }
    case TPgReader::kTimeStampTz: {
      double d = 0;
      if (!ParsePgTimeStampTz(text, d)) return false;
      out.AppendDouble(d);
      return true;
    }
    case TPgReader::kBytes:
      if (!DecodeBytea(text, scratch)) return false;
      out.AppendBytes(scratch);
      return true;
    case TPgReader::kGuid:
      if (!GuidText(text, scratch)) return false;
      out.AppendText(scratch);
      return true;
  }
  return false;
}

OleVariant PgValueAsVariant(const TPgColumnType& type, std::string_view text) {
  std::string scratch;
  switch (type.reader) {
    case TPgReader::kText:
      return OleVariant(text);
    case TPgReader::kInteger: {
      int64_t v = 0;
      if (!ParseWhole(text, v)) break;
      if (type.type == ftSmallint) return OleVariant(static_cast<int16_t>(v));
      if (type.type == ftInteger) return OleVariant(static_cast<int32_t>(v));
      if (type.type == ftLongWord) return OleVariant(static_cast<uint32_t>(v));
      return OleVariant(v);
    }
    case TPgReader::kBoolean:
      if (text != "t" && text != "f") break;
      return OleVariant(text == "t");
    case TPgReader::kFloat: {
      double d = 0;
      if (!ParseFloat(text, d)) break;
      if (type.type == ftSingle) return OleVariant(static_cast<float>(d));
      return OleVariant(d);
    }
    case TPgReader::kMoney: {
      double d = 0;
      if (!MoneyText(text, scratch) || !ParseFloat(scratch, d)) break;
      return OleVariant::Currency(std::llround(d * 10000.0));
    }
    case TPgReader::kDecimal:
      return OleVariant(BcdValue{std::string(text), static_cast<uint8_t>(type.precision),
                                 static_cast<uint8_t>(type.scale)});
    case TPgReader::kDate:
    case TPgReader::kTimeTz: {
      double d = 0;
      if (!ParseDate(type.reader == TPgReader::kTimeTz ? WithoutOffset(text) : text, d)) break;
      return OleVariant::Date(d);
    }
    case TPgReader::kTimeStampTz: {
      double d = 0;
      if (!ParsePgTimeStampTz(text, d)) break;
      return OleVariant::Date(d);
    }
    case TPgReader::kBytes:
      if (!DecodeBytea(text, scratch)) break;
      return OleVariant::Bytes(std::string_view(scratch));
    case TPgReader::kGuid:
      if (!GuidText(text, scratch)) break;
      return OleVariant(std::move(scratch));
  }
  return OleVariant::Null();
}

void PgParamValue(const TParam* param, TPgParamValue& out) {
  out.oid = 0;
  out.format = 0;
  out.null = param == nullptr || param->IsNull();
  out.data.clear();
  if (out.null) return;
  const OleVariant& v = param->Value();
  switch (FieldFamilyOf(param->DataType)) {
    case TFieldFamily::kDateTime:
      out.data = IsoDateParamText(param->DataType, v);
      return;
    case TFieldFamily::kBoolean:
      out.data = v.AsBoolean() ? "true" : "false";
      return;
    case TFieldFamily::kBytes:
      if (v.IsText()) {
        out.data = v.Text();
        out.oid = 17;
        out.format = 1;
        return;
      }
      break;
    default:
      break;
  }
  if (v.IsByteArray()) {
    const auto& bytes = v.ByteData().bytes;
    out.data.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    out.oid = 17;
    out.format = 1;
    return;
  }
  switch (v.VarType()) {
    case varBoolean:
      out.data = v.AsBoolean() ? "true" : "false";
      return;
    case varSingle:
    case varDouble:
      out.data = fmt::format("{}", v.AsDouble());
      return;
    case varDate:
      out.data = FormatIsoDateTime(v.DateValue());
      return;
    case varSQLTimeStamp:
      out.data = FormatTimeStamp(v.TimeStamp());
      return;
    case varFMTBcd:
      out.data = v.Bcd().text;
      return;
    default:
      out.data = v.AsString();
  }
  // libpq reads a text-format value up to its first NUL, so the rest would be dropped without a
  // word; PostgreSQL's text holds no NUL anyway. Refused, as the server refuses one in a literal.
  if (const size_t nul = out.data.find('\0'); nul != std::string::npos) {
    throw EFDException(fmt::format(
        "Parameter [{}] holds a NUL character at byte {}; PostgreSQL text cannot hold one (send "
        "such data as bytes)",
        param->Name, nul));
  }
}

}  // namespace velmora
