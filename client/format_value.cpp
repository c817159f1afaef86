#include "client/format_value.h"

#include <fmt/format.h>

#include <cstdint>
#include <optional>

#include "variant/date_time_format.h"
#include "variant/ole_date.h"

namespace velmora {
namespace {

std::optional<double> DateOf(const OleVariant& v) {
  if (v.VarType() == varDate) return v.DateValue();
  const SqlTimeStamp* ts = nullptr;
  if (v.VarType() == varSQLTimeStamp) ts = &v.TimeStamp();
  if (v.VarType() == varSQLTimeStampOffset) ts = &v.TimeStampOffset().stamp;
  if (ts == nullptr) return std::nullopt;
  return EncodeDateTime({ts->year, ts->month, ts->day, ts->hour, ts->minute, ts->second,
                         static_cast<int>(ts->fraction)});
}

std::string OffsetText(const OleVariant& v) {
  if (v.VarType() != varSQLTimeStampOffset) return {};
  const auto& o = v.TimeStampOffset();
  return FormatUtcOffset(o.tz_hour, o.tz_minute);
}

// The text of a date-time value by its field type; `iso` puts 'T' between date and time.
std::optional<std::string> DateText(const OleVariant& v, TFieldType type, bool iso) {
  const std::optional<double> d = DateOf(v);
  if (!d) return std::nullopt;
  if (type == ftDate) return FormatDateTimeText(*d, DateTimeForm::kDate);
  if (type == ftTime) return FormatDateTimeText(*d, DateTimeForm::kTime);
  return FormatDateTimeText(*d, iso ? DateTimeForm::kIso : DateTimeForm::kShortest) + OffsetText(v);
}

std::string FloatText(const OleVariant& v) {
  if (v.VarType() == varSingle) return fmt::format("{}", static_cast<float>(v.RawDouble()));
  return fmt::format("{}", v.RawDouble());
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16 |
                       static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8 |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (const size_t rest = bytes.size() - i; rest > 0) {
    uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
    if (rest == 2) n |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool IsNumericField(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftAutoInc:
    case ftLargeint:
    case ftFMTBcd:
    case ftLongWord:
    case ftShortint:
    case ftByte:
    case ftExtended:
    case ftSingle:
      return true;
    default:
      return false;
  }
}

std::string CurrencyText(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string s = fmt::format("{}{}", negative ? "-" : "", magnitude / 10000);
  if (uint64_t frac = magnitude % 10000; frac != 0) {
    std::string digits = fmt::format("{:04}", frac);
    while (digits.back() == '0') digits.pop_back();
    s += '.' + digits;
  }
  return s;
}

std::string IsoDateTimeText(const OleVariant& value, TFieldType type) {
  return DateText(value, type, true).value_or(std::string());
}

std::string CellText(const OleVariant& v, TFieldType type) {
  if (v.IsNull() || v.IsEmpty()) return {};
  if (v.IsByteArray()) {
    const auto& b = v.ByteData().bytes;
    return Base64Encode(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
  }
  if (auto date = DateText(v, type, false)) return *date;
  switch (v.VarType()) {
    case varBoolean:
      return v.AsBoolean() ? "true" : "false";
    case varSingle:
    case varDouble:
      return FloatText(v);
    case varCurrency:
      return CurrencyText(v.CurrencyScaled());
    case varFMTBcd:
      return v.Bcd().text;
    default:
      if (v.IsArray()) return "<" + VarTypeName(v.VarType()) + ">";  // no text form
      return v.AsString();
  }
}

}  // namespace velmora
