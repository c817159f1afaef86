#include "data/dataset_values.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "variant/date_time_text.h"
#include "variant/ole_date.h"
#include "variant/variant_codec.h"
#include "variant/variant_text.h"

namespace velmora {

namespace {

using K = TValueKind;

constexpr TValueKind kKinds[kFieldTypeCount] = {
    K::None,      K::Text,
    K::I16,       K::I32,
    K::U16,       K::Bool,  // 0-5
    K::F64,       K::Currency,
    K::Decimal,   K::Date,
    K::Date,      K::Date,  // 6-11
    K::Bytes,     K::Bytes,
    K::I32,       K::Bytes,
    K::Text,      K::Bytes,  // 12-17
    K::Text,      K::Bytes,
    K::Bytes,     K::Bytes,
    K::None,      K::Text,  // 18-23
    K::Text,      K::I64,
    K::Variant,   K::Variant,
    K::Variant,   K::Variant,  // 24-29
    K::Bytes,     K::Text,
    K::Variant,   K::None,
    K::None,      K::Text,  // 30-35
    K::TimeStamp, K::Decimal,
    K::Text,      K::Text,
    K::TimeStamp, K::Interval,  // 36-41
    K::U32,       K::I8,
    K::U8,        K::F64,
    K::None,      K::Variant,  // 42-47
    K::Bytes,     K::TimeStampOffset,
    K::None,      K::F32,  // 48-51
};

constexpr size_t kTimeStampSize = 16, kTimeStampOffsetSize = 20, kIntervalSize = 30;

template <typename T>
void Put(std::string& out, T v) {
  ByteWriter(out).Put(v);
}

void PutLengthPrefixed(std::string& out, std::string_view s) {
  if (s.size() > UINT32_MAX) throw EDatabaseError("Value too large for a field");
  Put<uint32_t>(out, static_cast<uint32_t>(s.size()));
  out.append(s);
}

[[noreturn]] void ThrowRange(const TFieldDef& def, std::string_view value) {
  throw EDatabaseError(fmt::format("Value {} is out of range for field '{}'", value, def.Name));
}

[[noreturn]] void ThrowType(const TFieldDef& def, std::string_view what) {
  throw EDatabaseError(fmt::format("Field '{}' of type {} cannot hold {}", def.Name,
                                   FieldTypeName(def.DataType), what));
}

template <typename T>
void PutChecked(const TFieldDef& def, int64_t v, std::string& out) {
  if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
      (v > 0 && static_cast<uint64_t>(v) > static_cast<uint64_t>(std::numeric_limits<T>::max())))
    ThrowRange(def, fmt::format("{}", v));
  Put<T>(out, static_cast<T>(v));
}

void PutTimeStamp(std::string& out, const SqlTimeStamp& t) {
  Put<int16_t>(out, t.year);
  Put<uint16_t>(out, t.month);
  Put<uint16_t>(out, t.day);
  Put<uint16_t>(out, t.hour);
  Put<uint16_t>(out, t.minute);
  Put<uint16_t>(out, t.second);
  Put<uint32_t>(out, t.fraction);
}

SqlTimeStamp GetTimeStamp(const uint8_t* p) {
  SqlTimeStamp t;
  t.year = LoadFrom<int16_t>(p);
  t.month = LoadFrom<uint16_t>(p + 2);
  t.day = LoadFrom<uint16_t>(p + 4);
  t.hour = LoadFrom<uint16_t>(p + 6);
  t.minute = LoadFrom<uint16_t>(p + 8);
  t.second = LoadFrom<uint16_t>(p + 10);
  t.fraction = LoadFrom<uint32_t>(p + 12);
  return t;
}

SqlTimeStamp TimeStampOfDate(double d) {
  const DateTimeParts p = DecodeDateTime(d);
  SqlTimeStamp t;
  t.year = static_cast<int16_t>(p.year);
  t.month = static_cast<uint16_t>(p.month);
  t.day = static_cast<uint16_t>(p.day);
  t.hour = static_cast<uint16_t>(p.hour);
  t.minute = static_cast<uint16_t>(p.minute);
  t.second = static_cast<uint16_t>(p.second);
  t.fraction = static_cast<uint32_t>(p.millisecond);
  return t;
}

double DateOfTimeStamp(const SqlTimeStamp& t) {
  DateTimeParts p;
  p.year = t.year;
  p.month = t.month;
  p.day = t.day;
  p.hour = t.hour;
  p.minute = t.minute;
  p.second = t.second;
  p.millisecond = static_cast<int>(t.fraction);
  return EncodeDateTime(p);
}

// A character field holds at most Size code points; a Size of 0 or less sets no limit.
std::string_view CutToSize(std::string_view s, int32_t size) {
  return size > 0 ? CutToCodePoints(s, static_cast<size_t>(size)) : s;
}

bool IsCharField(TFieldType t) {
  return t == ftString || t == ftFixedChar || t == ftWideString || t == ftFixedWideChar;
}

}  // namespace

TValueKind ValueKindOf(TFieldType type) {
  return static_cast<int>(type) < kFieldTypeCount ? kKinds[type] : TValueKind::None;
}

bool NormalizeDecimalText(std::string_view text, std::string& out) {
  const std::string_view s = TrimBlanks(text);
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  const size_t int_start = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  std::string_view whole = s.substr(int_start, i - int_start);
  std::string_view frac;
  if (i < s.size() && s[i] == '.') {
    const size_t f = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    frac = s.substr(f, i - f);
  }
  if (i != s.size() || (whole.empty() && frac.empty())) return false;
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  while (!frac.empty() && frac.back() == '0') frac.remove_suffix(1);
  out.clear();
  const bool zero = whole.find_first_not_of('0') == std::string_view::npos && frac.empty();
  if (negative && !zero) out += '-';
  out += whole.empty() ? std::string_view("0") : whole;
  if (!frac.empty()) {
    out += '.';
    out += frac;
  }
  return true;
}

void EncodeInt64Value(const TFieldDef& def, int64_t v, std::string& out) {
  switch (ValueKindOf(def.DataType)) {
    case K::I8:
      return PutChecked<int8_t>(def, v, out);
    case K::U8:
      return PutChecked<uint8_t>(def, v, out);
    case K::I16:
      return PutChecked<int16_t>(def, v, out);
    case K::U16:
      return PutChecked<uint16_t>(def, v, out);
    case K::I32:
      return PutChecked<int32_t>(def, v, out);
    case K::U32:
      return PutChecked<uint32_t>(def, v, out);
    case K::I64:
      return Put<int64_t>(out, v);
    case K::Bool:
      return Put<uint8_t>(out, v != 0 ? 1 : 0);
    case K::F32:
      return Put<float>(out, static_cast<float>(v));
    case K::F64:
    case K::Date:
      return Put<double>(out, static_cast<double>(v));
    case K::Currency:
      if (v > INT64_MAX / 10000 || v < INT64_MIN / 10000) ThrowRange(def, fmt::format("{}", v));
      return Put<int64_t>(out, v * 10000);
    case K::Text:
    case K::Decimal: {
      char buf[24];
      const auto r = fmt::format_to_n(buf, sizeof buf, "{}", v);
      return PutLengthPrefixed(out, std::string_view(buf, r.size));
    }
    default: {
      ByteWriter w(out);
      if (ValueKindOf(def.DataType) == K::Variant) return EncodeVariant(OleVariant(v), w);
      return EncodeVariantValue(def, OleVariant(v), out);
    }
  }
}

void EncodeDoubleValue(const TFieldDef& def, double v, std::string& out) {
  switch (ValueKindOf(def.DataType)) {
    case K::F64:
    case K::Date:
      return Put<double>(out, v);
    case K::F32:
      return Put<float>(out, static_cast<float>(v));
    case K::Currency: {
      const double scaled = std::round(v * 10000.0);
      if (!(std::fabs(scaled) < 9.2e18)) ThrowRange(def, fmt::format("{}", v));
      return Put<int64_t>(out, static_cast<int64_t>(scaled));
    }
    case K::Text:
      return PutLengthPrefixed(out, fmt::format("{}", v));
    case K::Decimal: {
      const std::string s = FormatDecimal(v);
      if (s.empty()) ThrowRange(def, fmt::format("{}", v));
      return PutLengthPrefixed(out, s);
    }
    case K::TimeStamp:
      return PutTimeStamp(out, TimeStampOfDate(v));
    default:
      return EncodeVariantValue(def, OleVariant(v), out);
  }
}

void EncodeTextValue(const TFieldDef& def, std::string_view v, std::string& out) {
  const TValueKind kind = ValueKindOf(def.DataType);
  if (kind == K::Text || kind == K::Bytes) return PutLengthPrefixed(out, v);
  if (kind == K::Decimal) {
    std::string norm;
    if (!NormalizeDecimalText(v, norm)) {
      double d = 0;
      if (!ParseDouble(v, d) || (norm = FormatDecimal(d)).empty())
        ThrowType(def, fmt::format("'{}'", v));
    }
    return PutLengthPrefixed(out, norm);
  }
  if (kind == K::Date || kind == K::TimeStamp) {
    double d = 0;
    if (!ParseDateTimeText(v, d) && !ParseDouble(v, d)) ThrowType(def, fmt::format("'{}'", v));
    if (kind == K::Date) return Put<double>(out, d);
    return PutTimeStamp(out, TimeStampOfDate(d));
  }
  if (kind == K::F32 || kind == K::F64 || kind == K::Currency) {
    double d = 0;
    if (!ParseDouble(v, d)) ThrowType(def, fmt::format("'{}'", v));
    if (kind == K::Currency) {  // exact when the text has at most four decimals
      int64_t whole = 0;
      if (ParseInteger(v, whole)) return EncodeInt64Value(def, whole, out);
    }
    return EncodeDoubleValue(def, d, out);
  }
  if (kind == K::Variant) {
    ByteWriter w(out);
    return EncodeVariant(OleVariant(v), w);
  }
  if (kind == K::Bool) {
    try {
      return Put<uint8_t>(out, OleVariant(v).AsBoolean() ? 1 : 0);
    } catch (const EVariantError&) {
      ThrowType(def, fmt::format("'{}'", v));
    }
  }
  int64_t n = 0;
  if (kind != K::None && kind != K::TimeStampOffset && kind != K::Interval) {
    if (!ParseInteger(v, n)) {
      double d = 0;
      if (!ParseDouble(v, d) || !std::isfinite(d) || std::fabs(d) >= 9.2e18)
        ThrowType(def, fmt::format("'{}'", v));
      n = std::llround(d);
    }
    return EncodeInt64Value(def, n, out);
  }
  ThrowType(def, "text");
}

void EncodeBytesValue(const TFieldDef& def, std::string_view v, std::string& out) {
  const TValueKind kind = ValueKindOf(def.DataType);
  if (kind == K::Bytes || kind == K::Text) return PutLengthPrefixed(out, v);
  if (kind == K::Variant) {
    ByteWriter w(out);
    return EncodeVariant(OleVariant::Bytes(v), w);
  }
  ThrowType(def, "binary data");
}

namespace {

// The encoders of EncodeVariantValue for kinds that take several variant types.

std::string_view BytesOf(const ByteArray& a) {
  return {reinterpret_cast<const char*>(a.bytes.data()), a.bytes.size()};
}

void EncodeVariantText(const TFieldDef& def, const OleVariant& v, std::string& out, bool cut_text) {
  if (v.IsByteArray()) return PutLengthPrefixed(out, BytesOf(v.ByteData()));
  if (cut_text && IsCharField(def.DataType))
    return PutLengthPrefixed(out, CutToSize(v.AsString(), def.Size));
  PutLengthPrefixed(out, v.AsString());
}

void EncodeVariantBytes(const TFieldDef& def, const OleVariant& v, std::string& out) {
  if (v.IsByteArray()) return PutLengthPrefixed(out, BytesOf(v.ByteData()));
  if (v.IsText()) return PutLengthPrefixed(out, v.Text());
  ThrowType(def, VarTypeName(v.VarType()));
}

// A Date or TimeStamp field: time stamps are kept as they are, text is parsed, anything else is
// a date-time value.
void EncodeVariantDate(const TFieldDef& def, TValueKind kind, const OleVariant& v,
                       std::string& out) {
  double d = 0;
  if (v.VarType() == varSQLTimeStamp) {
    if (kind == K::TimeStamp) return PutTimeStamp(out, v.TimeStamp());
    d = DateOfTimeStamp(v.TimeStamp());
  } else if (v.VarType() == varSQLTimeStampOffset) {
    if (kind == K::TimeStamp) return PutTimeStamp(out, v.TimeStampOffset().stamp);
    d = DateOfTimeStamp(v.TimeStampOffset().stamp);
  } else if (v.IsText()) {
    return EncodeTextValue(def, v.Text(), out);
  } else {
    d = v.AsDouble();
  }
  return kind == K::Date ? Put<double>(out, d) : PutTimeStamp(out, TimeStampOfDate(d));
}

// A value without an offset gets +00:00.
void EncodeVariantTimeStampOffset(const OleVariant& v, std::string& out) {
  if (v.VarType() == varSQLTimeStampOffset) {
    PutTimeStamp(out, v.TimeStampOffset().stamp);
    Put<int16_t>(out, v.TimeStampOffset().tz_hour);
    return Put<int16_t>(out, v.TimeStampOffset().tz_minute);
  }
  PutTimeStamp(out, v.VarType() == varSQLTimeStamp ? v.TimeStamp() : TimeStampOfDate(v.AsDouble()));
  Put<int16_t>(out, 0);
  Put<int16_t>(out, 0);
}

void EncodeVariantInterval(const TFieldDef& def, const OleVariant& v, std::string& out) {
  if (v.VarType() != varSQLInterval) ThrowType(def, VarTypeName(v.VarType()));
  const SqlInterval& i = v.Interval();
  Put<uint8_t>(out, i.kind);
  Put<int8_t>(out, i.sign);
  for (uint32_t x : {i.years, i.months, i.days, i.hours, i.minutes, i.seconds, i.fraction})
    Put<uint32_t>(out, x);
}

void EncodeVariantInteger(const TFieldDef& def, const OleVariant& v, std::string& out) {
  if (v.VarType() == varUInt64 && v.RawUnsigned() > INT64_MAX) ThrowRange(def, v.AsString());
  if (v.IsText()) return EncodeTextValue(def, v.Text(), out);
  EncodeInt64Value(def, v.VarType() == varBoolean ? (v.RawSigned() ? 1 : 0) : v.AsInt64(), out);
}

}  // namespace

void EncodeVariantValue(const TFieldDef& def, const OleVariant& v, std::string& out,
                        bool cut_text) {
  const TValueKind kind = ValueKindOf(def.DataType);
  try {
    switch (kind) {
      case K::None:
        ThrowType(def, "a value");
      case K::Variant: {
        ByteWriter w(out);
        return EncodeVariant(v, w);
      }
      case K::Text:
        return EncodeVariantText(def, v, out, cut_text);
      case K::Bytes:
        return EncodeVariantBytes(def, v, out);
      case K::Currency:
        if (v.VarType() == varCurrency) return Put<int64_t>(out, v.CurrencyScaled());
        if (v.IsOrdinal()) return EncodeInt64Value(def, v.AsInt64(), out);
        if (v.IsText()) return EncodeTextValue(def, v.Text(), out);
        return EncodeDoubleValue(def, v.AsDouble(), out);
      case K::Decimal:
        if (v.VarType() == varFMTBcd) return EncodeTextValue(def, v.Bcd().text, out);
        if (v.VarType() == varCurrency)
          return PutLengthPrefixed(out, FormatCurrency(v.CurrencyScaled()));
        if (v.IsOrdinal()) return EncodeInt64Value(def, v.AsInt64(), out);
        if (v.IsText()) return EncodeTextValue(def, v.Text(), out);
        return EncodeDoubleValue(def, v.AsDouble(), out);
      case K::Date:
      case K::TimeStamp:
        return EncodeVariantDate(def, kind, v, out);
      case K::TimeStampOffset:
        return EncodeVariantTimeStampOffset(v, out);
      case K::Interval:
        return EncodeVariantInterval(def, v, out);
      case K::F32:
      case K::F64:
        if (v.IsText()) return EncodeTextValue(def, v.Text(), out);
        return EncodeDoubleValue(def, v.AsDouble(), out);
      case K::Bool:
        return Put<uint8_t>(out, v.AsBoolean() ? 1 : 0);
      default:  // integers
        return EncodeVariantInteger(def, v, out);
    }
  } catch (const EVariantError&) {
    ThrowType(def, VarTypeName(v.VarType()));
  }
}

OleVariant DecodeValue(const TFieldDef& def, const uint8_t* p, const uint8_t* end) {
  switch (ValueKindOf(def.DataType)) {
    case K::None:
      return OleVariant::Null();
    case K::I8:
      return OleVariant(LoadFrom<int8_t>(p));
    case K::U8:
      return OleVariant(LoadFrom<uint8_t>(p));
    case K::I16:
      return OleVariant(LoadFrom<int16_t>(p));
    case K::U16:
      return OleVariant(LoadFrom<uint16_t>(p));
    case K::I32:
      return OleVariant(LoadFrom<int32_t>(p));
    case K::U32:
      return OleVariant(LoadFrom<uint32_t>(p));
    case K::I64:
      return OleVariant(LoadFrom<int64_t>(p));
    case K::Bool:
      return OleVariant(p[0] != 0);
    case K::F32:
      return OleVariant(LoadFrom<float>(p));
    case K::F64:
      return OleVariant(LoadFrom<double>(p));
    case K::Currency:
      return OleVariant::Currency(LoadFrom<int64_t>(p));
    case K::Date:
      return OleVariant::Date(LoadFrom<double>(p));
    case K::Text:
      return OleVariant::OleStr(
          std::string(reinterpret_cast<const char*>(p + 4), LoadFrom<uint32_t>(p)));
    case K::Bytes:
      return OleVariant::Bytes(
          std::string_view(reinterpret_cast<const char*>(p + 4), LoadFrom<uint32_t>(p)));
    case K::Decimal: {
      BcdValue b;
      b.text.assign(reinterpret_cast<const char*>(p + 4), LoadFrom<uint32_t>(p));
      b.precision = static_cast<uint8_t>(std::clamp(def.Precision, 0, 255));
      b.scale = static_cast<uint8_t>(std::clamp(def.Scale, 0, 255));
      return OleVariant(std::move(b));
    }
    case K::TimeStamp:
      return OleVariant(GetTimeStamp(p));
    case K::TimeStampOffset: {
      SqlTimeStampOffset t;
      t.stamp = GetTimeStamp(p);
      t.tz_hour = LoadFrom<int16_t>(p + 16);
      t.tz_minute = LoadFrom<int16_t>(p + 18);
      return OleVariant(t);
    }
    case K::Interval: {
      SqlInterval i;
      i.kind = static_cast<SqlInterval::Kind>(p[0]);
      i.sign = LoadFrom<int8_t>(p + 1);
      uint32_t* fields[] = {&i.years,   &i.months,  &i.days,    &i.hours,
                            &i.minutes, &i.seconds, &i.fraction};
      for (size_t k = 0; k < 7; ++k) *fields[k] = LoadFrom<uint32_t>(p + 2 + 4 * k);
      return OleVariant(i);
    }
    case K::Variant: {
      ByteReader r(p, static_cast<size_t>(end - p));
      return DecodeVariant(r);
    }
  }
  return OleVariant::Null();
}

size_t ValueSize(TValueKind kind, const uint8_t* p, const uint8_t* end) {
  switch (kind) {
    case K::None:
      return 0;
    case K::I8:
    case K::U8:
    case K::Bool:
      return 1;
    case K::I16:
    case K::U16:
      return 2;
    case K::I32:
    case K::U32:
    case K::F32:
      return 4;
    case K::I64:
    case K::F64:
    case K::Currency:
    case K::Date:
      return 8;
    case K::Text:
    case K::Bytes:
    case K::Decimal:
      return 4 + size_t{LoadFrom<uint32_t>(p)};
    case K::TimeStamp:
      return kTimeStampSize;
    case K::TimeStampOffset:
      return kTimeStampOffsetSize;
    case K::Interval:
      return kIntervalSize;
    case K::Variant: {
      ByteReader r(p, static_cast<size_t>(end - p));
      DecodeVariant(r);
      return static_cast<size_t>(r.Position() - p);
    }
  }
  return 0;
}

void CheckValue(TValueKind kind, ByteReader& in) {
  switch (kind) {
    case K::Bool:
      if (in.Get<uint8_t>() > 1) throw EFormatError("Bad boolean value");
      return;
    case K::Text:
    case K::Bytes:
      in.GetString();
      return;
    case K::Decimal: {
      std::string norm;
      if (!NormalizeDecimalText(in.GetString(), norm)) throw EFormatError("Bad decimal value");
      return;
    }
    case K::Interval: {
      const uint8_t* p = in.GetBytes(kIntervalSize);
      if (p[0] > SqlInterval::kDaySecond ||
          (static_cast<int8_t>(p[1]) != 1 && static_cast<int8_t>(p[1]) != -1))
        throw EFormatError("Bad interval value");
      return;
    }
    case K::Variant:
      DecodeVariant(in);
      return;
    default:
      in.GetBytes(ValueSize(kind, nullptr, nullptr));
  }
}

}  // namespace velmora
