// OleVariant: the value type that crosses the remote interface.
//
// It carries the variant type code of the value exactly (Empty, Null, every integer width, single,
// double, currency, date, boolean, the three string kinds, the custom kinds and one-dimensional
// arrays of variants or bytes with any lower bound), so a value sent and received keeps its code.
// Text is always UTF-8 inside.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/velmora_error.h"

namespace velmora {

// Variant type codes.
enum VarTypeCode : uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varOleStr = 0x0008,
  varError = 0x000A,
  varBoolean = 0x000B,
  varVariant = 0x000C,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varUInt64 = 0x0015,
  varString = 0x0100,   // single-byte string
  varUString = 0x0102,  // native Unicode string
  // Custom kinds: fixed codes of this system.
  varFMTBcd = 0x0110,
  varSQLTimeStamp = 0x0111,
  varSQLTimeStampOffset = 0x0112,
  varSQLInterval = 0x0113,
  varArray = 0x2000,
  varTypeMask = 0x0FFF,
};

inline constexpr uint16_t kVarByteArray = varArray | varByte;        // 0x2011
inline constexpr uint16_t kVarVariantArray = varArray | varVariant;  // 0x200C

// Raised by conversions and array access that cannot be carried out.
class EVariantError : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

// Decimal (BCD) value: the canonical decimal text ("-12.340") with its precision and scale.
struct BcdValue {
  std::string text;
  uint8_t precision = 0;
  uint8_t scale = 0;
  bool operator==(const BcdValue&) const = default;
};

// SQL time-stamp: calendar fields; fraction in milliseconds.
struct SqlTimeStamp {
  int16_t year = 0;
  uint16_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
  uint32_t fraction = 0;
  bool operator==(const SqlTimeStamp&) const = default;
};

// SQL time-stamp with its offset from UTC.
struct SqlTimeStampOffset {
  SqlTimeStamp stamp;
  int16_t tz_hour = 0, tz_minute = 0;
  bool operator==(const SqlTimeStampOffset&) const = default;
};

// SQL interval: kind says which fields are meaningful; sign is +1 or -1.
struct SqlInterval {
  enum Kind : uint8_t { kYearMonth = 0, kDaySecond = 1 };
  Kind kind = kDaySecond;
  int8_t sign = 1;
  uint32_t years = 0, months = 0, days = 0, hours = 0, minutes = 0, seconds = 0, fraction = 0;
  bool operator==(const SqlInterval&) const = default;
};

class OleVariant;

// One-dimensional array of variants with a lower bound (bounds low..low+size-1).
struct VariantArray {
  int32_t low = 0;
  std::vector<OleVariant> items;
  bool operator==(const VariantArray&) const;
};

// One-dimensional array of bytes with a lower bound.
struct ByteArray {
  int32_t low = 0;
  std::vector<uint8_t> bytes;
  bool operator==(const ByteArray&) const = default;
};

class OleVariant {
 public:
  OleVariant() = default;  // Empty
  OleVariant(int8_t v) : type_(varShortInt), value_(int64_t{v}) {}
  OleVariant(uint8_t v) : type_(varByte), value_(uint64_t{v}) {}
  OleVariant(int16_t v) : type_(varSmallint), value_(int64_t{v}) {}
  OleVariant(uint16_t v) : type_(varWord), value_(uint64_t{v}) {}
  OleVariant(int32_t v) : type_(varInteger), value_(int64_t{v}) {}
  OleVariant(uint32_t v) : type_(varLongWord), value_(uint64_t{v}) {}
  OleVariant(int64_t v) : type_(varInt64), value_(v) {}
  OleVariant(uint64_t v) : type_(varUInt64), value_(v) {}
  OleVariant(float v) : type_(varSingle), value_(double{v}) {}
  OleVariant(double v) : type_(varDouble), value_(v) {}
  OleVariant(bool v) : type_(varBoolean), value_(int64_t{v ? 1 : 0}) {}
  // Text becomes an OLE string, as assigning text to a variant does.
  OleVariant(std::string v) : type_(varOleStr), value_(std::move(v)) {}
  OleVariant(std::string_view v) : type_(varOleStr), value_(std::string(v)) {}
  OleVariant(const char* v) : type_(varOleStr), value_(std::string(v)) {}
  OleVariant(BcdValue v) : type_(varFMTBcd), value_(std::move(v)) {}
  OleVariant(SqlTimeStamp v) : type_(varSQLTimeStamp), value_(v) {}
  OleVariant(SqlTimeStampOffset v) : type_(varSQLTimeStampOffset), value_(v) {}
  OleVariant(SqlInterval v) : type_(varSQLInterval), value_(v) {}
  OleVariant(VariantArray v) : type_(kVarVariantArray), value_(std::move(v)) {}
  OleVariant(ByteArray v) : type_(kVarByteArray), value_(std::move(v)) {}

  static OleVariant Null();
  static OleVariant Currency(int64_t scaled_by_10000);
  static OleVariant Date(double days_since_1899_12_30);
  static OleVariant Error(int32_t scode);
  static OleVariant OleStr(std::string utf8);
  static OleVariant UString(std::string utf8);
  static OleVariant AnsiString(std::string bytes);
  // An array of Empty variants with bounds low..high (high = low - 1 gives an empty array).
  static OleVariant VarArrayCreate(int32_t low, int32_t high);
  static OleVariant Bytes(std::vector<uint8_t> bytes, int32_t low = 0);
  static OleVariant Bytes(std::string_view bytes, int32_t low = 0);

  uint16_t VarType() const { return type_; }
  bool IsEmpty() const { return type_ == varEmpty; }
  bool IsNull() const { return type_ == varNull; }
  bool IsArray() const { return (type_ & varArray) != 0; }
  bool IsByteArray() const { return type_ == kVarByteArray; }
  bool IsVariantArray() const { return type_ == kVarVariantArray; }
  bool IsText() const { return type_ == varOleStr || type_ == varUString || type_ == varString; }
  bool IsOrdinal() const;  // any integer type (boolean excluded)
  bool IsFloat() const { return type_ == varSingle || type_ == varDouble; }
  bool IsCustom() const { return type_ >= varFMTBcd && type_ <= varSQLInterval; }

  // General conversions; raise EVariantError when the value cannot be converted.
  int64_t AsInt64() const;  // integers, boolean, floats (rounded), currency, text holding a number
  int32_t AsInteger() const;     // as AsInt64, refused outside the 32-bit range
  double AsDouble() const;       // numbers, currency, date, text holding a number
  bool AsBoolean() const;        // numbers (non-zero), text "true"/"false"
  std::string AsString() const;  // text form of any scalar; Null and Empty give ""

  // Exact access; raise EVariantError when the value is of another kind.
  const std::string& Text() const;
  int64_t CurrencyScaled() const;
  double DateValue() const;
  const BcdValue& Bcd() const;
  const SqlTimeStamp& TimeStamp() const;
  const SqlTimeStampOffset& TimeStampOffset() const;
  const SqlInterval& Interval() const;
  const VariantArray& Array() const;
  VariantArray& Array();
  const ByteArray& ByteData() const;
  ByteArray& ByteData();

  // Bounds of an array's one dimension; raise when the value is not an array.
  int32_t LowBound() const;
  int32_t HighBound() const;
  // Element of a variant array by its index within the bounds; raises when out of bounds.
  const OleVariant& operator[](int32_t index) const;
  OleVariant& operator[](int32_t index);

  // Exact equality: same type code and the same value.
  bool operator==(const OleVariant& other) const;

  // Raw payload access for codecs (signed integers and booleans, unsigned integers, floating).
  int64_t RawSigned() const { return std::get<int64_t>(value_); }
  uint64_t RawUnsigned() const { return std::get<uint64_t>(value_); }
  double RawDouble() const { return std::get<double>(value_); }

 private:
  using Payload =
      std::variant<std::monostate, int64_t, uint64_t, double, std::string, BcdValue, SqlTimeStamp,
                   SqlTimeStampOffset, SqlInterval, VariantArray, ByteArray>;
  OleVariant(uint16_t type, Payload value) : type_(type), value_(std::move(value)) {}
  [[noreturn]] void ThrowCast(const char* target) const;

  uint16_t type_ = varEmpty;
  Payload value_;
};

// Name of a type code for messages ("OleStr", "Array of Byte", ...).
std::string VarTypeName(uint16_t type);

}  // namespace velmora
