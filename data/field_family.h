// The families of field types: what kind of value a column or parameter of each TFieldType code
// holds. Every engine binds parameters and reads columns by these families, so a code belongs to
// the same family in all of them and a type added here reaches every engine at once.
//
// The rules:
// - Text: ftString, ftWideString, ftFixedChar, ftFixedWideChar, ftMemo, ftWideMemo, ftFmtMemo,
//   ftOraClob.
// - Integer: ftSmallint, ftInteger, ftWord, ftAutoInc, ftLargeint, ftLongWord, ftShortint, ftByte;
//   IntegerRangeOf gives the values each holds.
// - Float: ftFloat, ftSingle, ftExtended. Decimal: ftCurrency, ftBCD, ftFMTBcd.
// - Date and time: ftDate, ftTime, ftDateTime, ftTimeStamp.
// - Boolean: ftBoolean.
// - Bytes: ftBlob, ftBytes, ftVarBytes, ftGraphic, ftTypedBinary, ftOraBlob.
// - Everything else (ftUnknown, ftGuid, ftVariant, ftTimeStampOffset, the object and interface
//   codes, a code outside the list) is of no family; an engine takes such a value by its own
//   kind, most of them as text.
//
// Thread rules: pure functions.
#pragma once

#include <cstdint>

#include "data/field_type.h"

namespace velmora {

enum class TFieldFamily : uint8_t {
  kText,
  kInteger,
  kFloat,
  kDecimal,
  kDateTime,
  kBoolean,
  kBytes,
  kOther,
};

TFieldFamily FieldFamilyOf(TFieldType type);

// The values a type of the integer family holds, both ends included.
struct TIntegerRange {
  int64_t min = INT64_MIN;
  int64_t max = INT64_MAX;
};

// The range of an integer type (ftSmallint: -32768 to 32767, ftLongWord: 0 to 4294967295, ...);
// the whole int64 range for ftLargeint and for a type outside the integer family.
TIntegerRange IntegerRangeOf(TFieldType type);

}  // namespace velmora
