#include "data/field_family.h"

namespace velmora {

TFieldFamily FieldFamilyOf(TFieldType type) {
  switch (type) {
    case ftString:
    case ftWideString:
    case ftFixedChar:
    case ftFixedWideChar:
    case ftMemo:
    case ftWideMemo:
    case ftFmtMemo:
    case ftOraClob:
      return TFieldFamily::kText;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
    case ftLongWord:
    case ftShortint:
    case ftByte:
      return TFieldFamily::kInteger;
    case ftFloat:
    case ftSingle:
    case ftExtended:
      return TFieldFamily::kFloat;
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
      return TFieldFamily::kDecimal;
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp:
      return TFieldFamily::kDateTime;
    case ftBoolean:
      return TFieldFamily::kBoolean;
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
    case ftGraphic:
    case ftTypedBinary:
    case ftOraBlob:
      return TFieldFamily::kBytes;
    default:
      return TFieldFamily::kOther;
  }
}

TIntegerRange IntegerRangeOf(TFieldType type) {
  switch (type) {
    case ftShortint:
      return {INT8_MIN, INT8_MAX};
    case ftByte:
      return {0, UINT8_MAX};
    case ftSmallint:
      return {INT16_MIN, INT16_MAX};
    case ftWord:
      return {0, UINT16_MAX};
    case ftInteger:
    case ftAutoInc:
      return {INT32_MIN, INT32_MAX};
    case ftLongWord:
      return {0, UINT32_MAX};
    default:
      return {};
  }
}

}  // namespace velmora
