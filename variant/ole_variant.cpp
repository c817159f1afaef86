#include "variant/ole_variant.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "variant/ole_date.h"
#include "variant/variant_text.h"

namespace velmora {

bool VariantArray::operator==(const VariantArray& other) const {
  return low == other.low && items == other.items;
}

OleVariant OleVariant::Null() {
  return OleVariant(varNull, std::monostate{});
}
OleVariant OleVariant::Currency(int64_t scaled) {
  return OleVariant(varCurrency, scaled);
}
OleVariant OleVariant::Date(double days) {
  return OleVariant(varDate, days);
}
OleVariant OleVariant::Error(int32_t scode) {
  return OleVariant(varError, int64_t{scode});
}
OleVariant OleVariant::OleStr(std::string s) {
  return OleVariant(varOleStr, std::move(s));
}
OleVariant OleVariant::UString(std::string s) {
  return OleVariant(varUString, std::move(s));
}
OleVariant OleVariant::AnsiString(std::string s) {
  return OleVariant(varString, std::move(s));
}

OleVariant OleVariant::VarArrayCreate(int32_t low, int32_t high) {
  const int64_t count = static_cast<int64_t>(high) - low + 1;
  if (count < 0) throw EVariantError("Variant array bounds are invalid");
  VariantArray a;
  a.low = low;
  a.items.resize(static_cast<size_t>(count));
  return OleVariant(std::move(a));
}

OleVariant OleVariant::Bytes(std::vector<uint8_t> bytes, int32_t low) {
  return OleVariant(ByteArray{low, std::move(bytes)});
}

OleVariant OleVariant::Bytes(std::string_view bytes, int32_t low) {
  return OleVariant(ByteArray{low, std::vector<uint8_t>(bytes.begin(), bytes.end())});
}

bool OleVariant::IsOrdinal() const {
  switch (type_) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
      return true;
    default:
      return false;
  }
}

void OleVariant::ThrowCast(const char* target) const {
  throw EVariantError(fmt::format("Could not convert variant of type ({}) into type ({})",
                                  VarTypeName(type_), target));
}

int64_t OleVariant::AsInt64() const {
  switch (type_) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varInt64:
    case varError:
      return std::get<int64_t>(value_);
    case varBoolean:
      return std::get<int64_t>(value_) ? -1 : 0;
    case varByte:
    case varWord:
    case varLongWord:
      return static_cast<int64_t>(std::get<uint64_t>(value_));
    case varUInt64: {
      const uint64_t u = std::get<uint64_t>(value_);
      if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) ThrowCast("Int64");
      return static_cast<int64_t>(u);
    }
    case varSingle:
    case varDouble:
    case varDate: {
      const double d = std::get<double>(value_);
      if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) ThrowCast("Int64");
      return std::llround(d);
    }
    case varCurrency: {
      const int64_t c = std::get<int64_t>(value_);
      // Round half away from zero, as a scaled decimal (without overflowing near the limits).
      const int64_t whole = c / 10000, rest = c % 10000;
      return rest >= 5000 ? whole + 1 : rest <= -5000 ? whole - 1 : whole;
    }
    case varOleStr:
    case varUString:
    case varString: {
      int64_t v = 0;
      if (!ParseInteger(std::get<std::string>(value_), v)) ThrowCast("Int64");
      return v;
    }
    case varFMTBcd: {
      double d = 0;
      if (!ParseDouble(std::get<BcdValue>(value_).text, d)) ThrowCast("Int64");
      return std::llround(d);
    }
    default:
      ThrowCast("Int64");
  }
}

int32_t OleVariant::AsInteger() const {
  const int64_t v = AsInt64();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    // Unsigned 32-bit values wrap, as a cast to Integer does.
    if (type_ == varLongWord) return static_cast<int32_t>(static_cast<uint32_t>(v));
    throw EVariantError("Arithmetic overflow converting variant to Integer");
  }
  return static_cast<int32_t>(v);
}

double OleVariant::AsDouble() const {
  switch (type_) {
    case varSingle:
    case varDouble:
    case varDate:
      return std::get<double>(value_);
    case varCurrency:
      return static_cast<double>(std::get<int64_t>(value_)) / 10000.0;
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varInt64:
    case varError:
      return static_cast<double>(std::get<int64_t>(value_));
    case varBoolean:
      return std::get<int64_t>(value_) ? -1.0 : 0.0;
    case varByte:
    case varWord:
    case varLongWord:
    case varUInt64:
      return static_cast<double>(std::get<uint64_t>(value_));
    case varOleStr:
    case varUString:
    case varString: {
      double d = 0;
      if (!ParseDouble(std::get<std::string>(value_), d)) ThrowCast("Double");
      return d;
    }
    case varFMTBcd: {
      double d = 0;
      if (!ParseDouble(std::get<BcdValue>(value_).text, d)) ThrowCast("Double");
      return d;
    }
    case varSQLTimeStamp: {
      const auto& t = std::get<SqlTimeStamp>(value_);
      return EncodeDateTime(
          {t.year, t.month, t.day, t.hour, t.minute, t.second, static_cast<int>(t.fraction)});
    }
    default:
      ThrowCast("Double");
  }
}

bool OleVariant::AsBoolean() const {
  if (IsText()) {
    const std::string& s = std::get<std::string>(value_);
    if (EqualsNoCase(s, "true")) return true;
    if (EqualsNoCase(s, "false")) return false;
    return AsDouble() != 0.0;
  }
  if (type_ == varBoolean) return std::get<int64_t>(value_) != 0;
  return AsDouble() != 0.0;
}

std::string OleVariant::AsString() const {
  switch (type_) {
    case varEmpty:
    case varNull:
      return {};
    case varOleStr:
    case varUString:
    case varString:
      return std::get<std::string>(value_);
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varInt64:
    case varError:
      return fmt::format("{}", std::get<int64_t>(value_));
    case varByte:
    case varWord:
    case varLongWord:
    case varUInt64:
      return fmt::format("{}", std::get<uint64_t>(value_));
    case varBoolean:
      return std::get<int64_t>(value_) ? "True" : "False";
    case varSingle:
      return fmt::format("{}", static_cast<float>(std::get<double>(value_)));
    case varDouble:
      return fmt::format("{}", std::get<double>(value_));
    case varCurrency:
      return FormatCurrency(std::get<int64_t>(value_));
    case varDate:
      return FormatDateTime(std::get<double>(value_));
    case varFMTBcd:
      return std::get<BcdValue>(value_).text;
    case varSQLTimeStamp:
      return FormatTimeStamp(std::get<SqlTimeStamp>(value_));
    case varSQLTimeStampOffset:
      return FormatTimeStampOffset(std::get<SqlTimeStampOffset>(value_));
    case varSQLInterval:
      return FormatInterval(std::get<SqlInterval>(value_));
    default:
      ThrowCast("String");
  }
}

const std::string& OleVariant::Text() const {
  if (!IsText()) ThrowCast("String");
  return std::get<std::string>(value_);
}

int64_t OleVariant::CurrencyScaled() const {
  if (type_ != varCurrency) ThrowCast("Currency");
  return std::get<int64_t>(value_);
}

double OleVariant::DateValue() const {
  if (type_ != varDate) ThrowCast("Date");
  return std::get<double>(value_);
}

const BcdValue& OleVariant::Bcd() const {
  if (type_ != varFMTBcd) ThrowCast("FMTBcd");
  return std::get<BcdValue>(value_);
}

const SqlTimeStamp& OleVariant::TimeStamp() const {
  if (type_ != varSQLTimeStamp) ThrowCast("SQLTimeStamp");
  return std::get<SqlTimeStamp>(value_);
}

const SqlTimeStampOffset& OleVariant::TimeStampOffset() const {
  if (type_ != varSQLTimeStampOffset) ThrowCast("SQLTimeStampOffset");
  return std::get<SqlTimeStampOffset>(value_);
}

const SqlInterval& OleVariant::Interval() const {
  if (type_ != varSQLInterval) ThrowCast("SQLInterval");
  return std::get<SqlInterval>(value_);
}

const VariantArray& OleVariant::Array() const {
  if (type_ != kVarVariantArray) ThrowCast("Array of Variant");
  return std::get<VariantArray>(value_);
}

VariantArray& OleVariant::Array() {
  if (type_ != kVarVariantArray) ThrowCast("Array of Variant");
  return std::get<VariantArray>(value_);
}

const ByteArray& OleVariant::ByteData() const {
  if (type_ != kVarByteArray) ThrowCast("Array of Byte");
  return std::get<ByteArray>(value_);
}

ByteArray& OleVariant::ByteData() {
  if (type_ != kVarByteArray) ThrowCast("Array of Byte");
  return std::get<ByteArray>(value_);
}

int32_t OleVariant::LowBound() const {
  if (type_ == kVarVariantArray) return std::get<VariantArray>(value_).low;
  if (type_ == kVarByteArray) return std::get<ByteArray>(value_).low;
  throw EVariantError("Variant is not an array");
}

int32_t OleVariant::HighBound() const {
  if (type_ == kVarVariantArray) {
    const auto& a = std::get<VariantArray>(value_);
    return static_cast<int32_t>(a.low + static_cast<int64_t>(a.items.size()) - 1);
  }
  if (type_ == kVarByteArray) {
    const auto& a = std::get<ByteArray>(value_);
    return static_cast<int32_t>(a.low + static_cast<int64_t>(a.bytes.size()) - 1);
  }
  throw EVariantError("Variant is not an array");
}

const OleVariant& OleVariant::operator[](int32_t index) const {
  const VariantArray& a = Array();
  const int64_t i = static_cast<int64_t>(index) - a.low;
  if (i < 0 || i >= static_cast<int64_t>(a.items.size())) {
    throw EVariantError("Variant or safe array index out of bounds");
  }
  return a.items[static_cast<size_t>(i)];
}

OleVariant& OleVariant::operator[](int32_t index) {
  const OleVariant& self = *this;
  return const_cast<OleVariant&>(self[index]);
}

bool OleVariant::operator==(const OleVariant& other) const {
  if (type_ != other.type_) return false;
  if (type_ == varSingle || type_ == varDouble || type_ == varDate) {
    // Bitwise for floating values, so NaN equals itself and -0 differs from 0 after a round trip.
    const double a = std::get<double>(value_), b = std::get<double>(other.value_);
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
  return value_ == other.value_;
}

std::string VarTypeName(uint16_t type) {
  if (type & varArray) return "Array of " + VarTypeName(type & varTypeMask);
  switch (type) {
    case varEmpty:
      return "Empty";
    case varNull:
      return "Null";
    case varSmallint:
      return "Smallint";
    case varInteger:
      return "Integer";
    case varSingle:
      return "Single";
    case varDouble:
      return "Double";
    case varCurrency:
      return "Currency";
    case varDate:
      return "Date";
    case varOleStr:
      return "OleStr";
    case varError:
      return "Error";
    case varBoolean:
      return "Boolean";
    case varVariant:
      return "Variant";
    case varShortInt:
      return "ShortInt";
    case varByte:
      return "Byte";
    case varWord:
      return "Word";
    case varLongWord:
      return "LongWord";
    case varInt64:
      return "Int64";
    case varUInt64:
      return "UInt64";
    case varString:
      return "String";
    case varUString:
      return "UnicodeString";
    case varFMTBcd:
      return "FMTBcd";
    case varSQLTimeStamp:
      return "SQLTimeStamp";
    case varSQLTimeStampOffset:
      return "SQLTimeStampOffset";
    case varSQLInterval:
      return "SQLInterval";
    default:
      return fmt::format("Unknown {:#06x}", type);
  }
}

}  // namespace velmora
