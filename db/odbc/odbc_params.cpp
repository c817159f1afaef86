#include "db/odbc/odbc_params.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/dataset_values.h"
#include "data/field_family.h"
#include "db/core/text_encoding.h"
#include "db/odbc/odbc_text.h"
#include "variant/date_time_text.h"
#include "variant/ole_date.h"
#include "variant/variant_text.h"

namespace velmora {
namespace {

// How a parameter value is bound.
enum class TBindKind {
  kInteger,
  kBoolean,
  kFloat,
  kDecimal,
  kDate,
  kTime,
  kTimeStamp,
  kBytes,
  kText
};

TBindKind KindOfFieldType(TFieldType type) {
  switch (FieldFamilyOf(type)) {
    case TFieldFamily::kInteger:
      return TBindKind::kInteger;
    case TFieldFamily::kBoolean:
      return TBindKind::kBoolean;
    case TFieldFamily::kFloat:
      return TBindKind::kFloat;
    case TFieldFamily::kDecimal:
      return TBindKind::kDecimal;
    case TFieldFamily::kDateTime:
      return type == ftDate   ? TBindKind::kDate
             : type == ftTime ? TBindKind::kTime
                              : TBindKind::kTimeStamp;
    case TFieldFamily::kBytes:
      return TBindKind::kBytes;
    case TFieldFamily::kText:
    case TFieldFamily::kOther:
      break;
  }
  return TBindKind::kText;
}

TBindKind KindOfValue(const OleVariant& v) {
  if (v.VarType() == varBoolean) return TBindKind::kBoolean;
  if (v.IsOrdinal()) return TBindKind::kInteger;
  if (v.IsFloat()) return TBindKind::kFloat;
  if (v.VarType() == varCurrency || v.VarType() == varFMTBcd) return TBindKind::kDecimal;
  if (v.VarType() == varDate || v.VarType() == varSQLTimeStamp) return TBindKind::kTimeStamp;
  if (v.IsByteArray()) return TBindKind::kBytes;
  return TBindKind::kText;
}

SQLSMALLINT IntegerSqlType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftShortint:
    case ftByte:
      return SQL_SMALLINT;
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return SQL_INTEGER;
    default:
      return SQL_BIGINT;
  }
}

// The date-time value of a parameter: a time stamp as it is, text read by the date rule, any
// other value as the day count.
double DateValueOf(const OleVariant& v) {
  if (v.VarType() == varSQLTimeStamp) {
    const SqlTimeStamp& t = v.TimeStamp();
    return EncodeDateTime(
        {t.year, t.month, t.day, t.hour, t.minute, t.second, static_cast<int>(t.fraction)});
  }
  if (v.IsText()) {
    double d = 0;
    if (ParseDateTimeText(v.Text(), d)) return d;
  }
  return v.AsDouble();
}

}  // namespace

double OdbcDateTime(int year, int month, int day, int hour, int minute, int second,
                    SQLUINTEGER fraction) {
  const double whole = EncodeDateTime({year, month, day, hour, minute, second, 0});
  const double ms = std::round(fraction / 1e6);
  return whole + (whole < 0 ? -ms : ms) / 86400000.0;
}

bool IsCalendarDate(SQLUSMALLINT month, SQLUSMALLINT day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

namespace {

template <typename T>
void PutValue(std::string& buffer, const T& value) {
  buffer.assign(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T GetValue(const std::string& buffer) {
  T value{};
  std::memcpy(&value, buffer.data(), std::min(sizeof value, buffer.size()));
  return value;
}

constexpr SQLLEN kOutputTextChars = 4000;
constexpr size_t kLongText = 4000;  // longer text binds as the long variable type

}  // namespace

void PrepareOdbcParam(TOdbcParamBinding& b) {
  const TParam* p = b.param;
  const bool input = b.direction != SQL_PARAM_OUTPUT;
  const bool output = b.direction != SQL_PARAM_INPUT;
  const bool is_null = p == nullptr || !input || p->IsNull();
  const OleVariant empty;
  const OleVariant& v = p != nullptr ? p->Value() : empty;
  TBindKind kind = TBindKind::kText;
  if (p != nullptr && p->DataType != ftUnknown) {
    kind = KindOfFieldType(p->DataType);
  } else if (!is_null) {
    kind = KindOfValue(v);
  }
  SQLSMALLINT& sql_type = b.sql_type;
  SQLULEN& column_size = b.column_size;
  SQLSMALLINT& digits = b.digits;
  sql_type = SQL_VARCHAR;
  column_size = 0;
  digits = 0;
  SQLLEN length = -1;  // bytes of a variable-length input value
  switch (kind) {
    case TBindKind::kInteger:
      b.c_type = SQL_C_SBIGINT;
      sql_type = p != nullptr && p->DataType != ftUnknown ? IntegerSqlType(p->DataType)
                 : (!is_null && v.AsInt64() >= INT32_MIN && v.AsInt64() <= INT32_MAX) ? SQL_INTEGER
                                                                                      : SQL_BIGINT;
      PutValue<SQLBIGINT>(b.buffer, is_null ? 0 : v.AsInt64());
      break;
    case TBindKind::kBoolean:
      b.c_type = SQL_C_BIT;
      sql_type = SQL_BIT;
      PutValue<unsigned char>(b.buffer, !is_null && v.AsBoolean() ? 1 : 0);
      break;
    case TBindKind::kFloat:
      b.c_type = SQL_C_DOUBLE;
      sql_type = SQL_DOUBLE;
      PutValue<double>(b.buffer, is_null ? 0.0 : v.AsDouble());
      break;
    case TBindKind::kDecimal: {
      b.c_type = SQL_C_CHAR;
      sql_type = SQL_DECIMAL;
      std::string text = is_null ? std::string() : v.AsString();
      std::string normalized;
      if (!is_null && NormalizeDecimalText(text, normalized)) text = std::move(normalized);
      const size_t dot = text.find('.');
      digits = static_cast<SQLSMALLINT>(dot == std::string::npos ? 0 : text.size() - dot - 1);
      if (p != nullptr && p->NumericScale > digits)
        digits = static_cast<SQLSMALLINT>(p->NumericScale);
      column_size = std::max<SQLULEN>({static_cast<SQLULEN>(p != nullptr ? p->Precision : 0),
                                       text.size(), static_cast<SQLULEN>(digits) + 1, 18});
      b.buffer = std::move(text);
      length = static_cast<SQLLEN>(b.buffer.size());
      if (output) b.buffer.resize(std::max<size_t>(b.buffer.size(), 64) + 1, '\0');
      break;
    }
    case TBindKind::kDate:
    case TBindKind::kTime:
    case TBindKind::kTimeStamp: {
      // One decoding for the three structures: each takes the parts it has.
      const DateTimeParts t = DecodeDateTime(is_null ? 0.0 : DateValueOf(v));
      const auto part = [](int value) { return static_cast<SQLUSMALLINT>(value); };
      if (kind == TBindKind::kDate) {
        b.c_type = SQL_C_TYPE_DATE;
        sql_type = SQL_TYPE_DATE;
        column_size = 10;
        PutValue(b.buffer,
                 SQL_DATE_STRUCT{static_cast<SQLSMALLINT>(t.year), part(t.month), part(t.day)});
      } else if (kind == TBindKind::kTime) {
        b.c_type = SQL_C_TYPE_TIME;
        sql_type = SQL_TYPE_TIME;
        column_size = 8;
        PutValue(b.buffer, SQL_TIME_STRUCT{part(t.hour), part(t.minute), part(t.second)});
      } else {
        b.c_type = SQL_C_TYPE_TIMESTAMP;
        sql_type = SQL_TYPE_TIMESTAMP;
        column_size = 23;
        digits = 3;
        PutValue(b.buffer,
                 SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(t.year), part(t.month), part(t.day),
                                      part(t.hour), part(t.minute), part(t.second),
                                      static_cast<SQLUINTEGER>(t.millisecond) * 1000000u});
      }
      break;
    }
    case TBindKind::kBytes: {
      b.c_type = SQL_C_BINARY;
      if (!is_null) {
        if (v.IsByteArray()) {
          const auto& bytes = v.ByteData().bytes;
          b.buffer.assign(bytes.begin(), bytes.end());
        } else {
          b.buffer = v.AsString();
        }
      }
      length = static_cast<SQLLEN>(b.buffer.size());
      sql_type = b.buffer.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
      column_size = std::max<SQLULEN>(b.buffer.size(), 1);
      if (output) b.buffer.resize(std::max<size_t>(b.buffer.size(), 8000));
      break;
    }
    case TBindKind::kText: {
      const std::string text = is_null ? std::string() : v.AsString();
      // ASCII goes as it is; other text as UTF-16, which every Unicode driver takes whatever
      // the client's locale (SQL_C_CHAR would be read in the locale's character set).
      const bool wide = output || !IsAscii(text);
      const size_t chars = wide ? CodePointCount(text) : text.size();
      if (wide) {
        const std::u16string utf16 = Utf8ToUtf16(text);
        b.buffer.assign(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
        b.c_type = SQL_C_WCHAR;
        sql_type = chars > kLongText ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
      } else {
        b.buffer = text;
        b.c_type = SQL_C_CHAR;
        sql_type = chars > kLongText ? SQL_LONGVARCHAR : SQL_VARCHAR;
      }
      length = static_cast<SQLLEN>(b.buffer.size());
      column_size = std::max<size_t>(chars, 1);
      if (output) {
        const size_t capacity = std::max<size_t>(
            p != nullptr && p->Size > 0 ? static_cast<size_t>(p->Size) : 0, kOutputTextChars);
        column_size = std::max<SQLULEN>(column_size, capacity);
        b.buffer.resize(std::max(b.buffer.size(), (capacity + 1) * 2), '\0');
      }
      break;
    }
  }
  if (length < 0) length = static_cast<SQLLEN>(b.buffer.size());  // a fixed-size value
  b.indicator = is_null ? SQL_NULL_DATA : length;
  if (b.buffer.empty()) b.buffer.resize(2, '\0');
}

void ReadOdbcOutput(const TOdbcParamBinding& b) {
  {
    if (b.direction == SQL_PARAM_INPUT || b.target == nullptr) return;
    TParam& target = *b.target;
    if (b.indicator == SQL_NULL_DATA) {
      target.SetValue(OleVariant::Null());
      return;
    }
    const size_t length = b.indicator < 0
                              ? b.buffer.size()
                              : std::min(b.buffer.size(), static_cast<size_t>(b.indicator));
    switch (b.c_type) {
      case SQL_C_SBIGINT:
        target.SetValue(OleVariant(static_cast<int64_t>(GetValue<SQLBIGINT>(b.buffer))));
        break;
      case SQL_C_BIT:
        target.SetValue(OleVariant(GetValue<unsigned char>(b.buffer) != 0));
        break;
      case SQL_C_DOUBLE:
        target.SetValue(OleVariant(GetValue<double>(b.buffer)));
        break;
      case SQL_C_TYPE_DATE: {
        const auto d = GetValue<SQL_DATE_STRUCT>(b.buffer);
        target.SetValue(OleVariant::Date(OdbcDateTime(d.year, d.month, d.day, 0, 0, 0, 0)));
        break;
      }
      case SQL_C_TYPE_TIME: {
        const auto t = GetValue<SQL_TIME_STRUCT>(b.buffer);
        target.SetValue(
            OleVariant::Date(OdbcDateTime(1899, 12, 30, t.hour, t.minute, t.second, 0)));
        break;
      }
      case SQL_C_TYPE_TIMESTAMP: {
        const auto t = GetValue<SQL_TIMESTAMP_STRUCT>(b.buffer);
        target.SetValue(OleVariant::Date(
            OdbcDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction)));
        break;
      }
      case SQL_C_BINARY:
        target.SetValue(OleVariant::Bytes(std::string_view(b.buffer.data(), length)));
        break;
      case SQL_C_WCHAR: {
        std::u16string utf16(length / 2, u'\0');
        std::memcpy(utf16.data(), b.buffer.data(), utf16.size() * 2);
        target.SetValue(OleVariant(Utf16ToUtf8(utf16)));
        break;
      }
      default: {  // decimal text
        const std::string text(b.buffer.data(), std::min(length, std::strlen(b.buffer.c_str())));
        if (target.DataType == ftCurrency) {
          double d = 0;
          if (ParseDouble(text, d)) {
            target.SetValue(OleVariant::Currency(std::llround(d * 10000.0)));
            break;
          }
        }
        BcdValue bcd;
        if (!NormalizeDecimalText(text, bcd.text)) bcd.text = text;
        const size_t dot = bcd.text.find('.');
        bcd.scale = static_cast<uint8_t>(dot == std::string::npos ? 0 : bcd.text.size() - dot - 1);
        bcd.precision = static_cast<uint8_t>(std::count_if(
            bcd.text.begin(), bcd.text.end(), [](char c) { return c >= '0' && c <= '9'; }));
        target.SetValue(OleVariant(std::move(bcd)));
        break;
      }
    }
  }
}

}  // namespace velmora
