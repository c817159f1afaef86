// Per-field value encoding of records (the same bytes in memory and in the storage format) and
// the conversions from driver and user values to a field's type.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/field_defs.h"
#include "variant/byte_io.h"
#include "variant/ole_variant.h"

namespace velmora {

// How a field type's values are encoded (documented in docs/storage-format.md).
enum class TValueKind : uint8_t {
  None,  // the field is always NULL
  I8,
  U8,
  I16,
  U16,
  I32,
  U32,
  I64,
  Bool,
  F32,
  F64,
  Currency,  // i64 scaled by 10000
  Date,      // f64 days since 1899-12-30
  Text,      // u32 length + UTF-8
  Bytes,     // u32 length + bytes
  Decimal,   // u32 length + decimal text
  TimeStamp,
  TimeStampOffset,
  Interval,
  Variant,  // the variant encoding
};

TValueKind ValueKindOf(TFieldType type);

// Appenders: convert the value to the field's type and append its encoding (never NULL).
// Raise EDatabaseError when the field cannot hold the value.
void EncodeInt64Value(const TFieldDef& def, int64_t v, std::string& out);
void EncodeDoubleValue(const TFieldDef& def, double v, std::string& out);
void EncodeTextValue(const TFieldDef& def, std::string_view v, std::string& out);
void EncodeBytesValue(const TFieldDef& def, std::string_view v, std::string& out);
// `v` must be neither Null nor Empty. With cut_text, text longer than the field's Size (in
// characters) is cut to it.
void EncodeVariantValue(const TFieldDef& def, const OleVariant& v, std::string& out,
                        bool cut_text = false);

// Reads one value of trusted bytes (produced by the encoders above or checked by CheckValue).
OleVariant DecodeValue(const TFieldDef& def, const uint8_t* p, const uint8_t* end);
// Size in bytes of the trusted value at p.
size_t ValueSize(TValueKind kind, const uint8_t* p, const uint8_t* end);
// Checks and skips one value of untrusted input; raises EFormatError when it is malformed.
void CheckValue(TValueKind kind, ByteReader& in);

// Canonical decimal text ("-12.5") of a decimal written as text; false when it is not one.
bool NormalizeDecimalText(std::string_view text, std::string& out);

}  // namespace velmora
