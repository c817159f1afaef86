// Field-type codes of datasets and parameters (the ordinal is what is stored and sent).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora {

enum TFieldType : uint8_t {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  ftFixedWideChar,
  ftWideMemo,
  ftOraTimeStamp,
  ftOraInterval,
  ftLongWord,
  ftShortint,
  ftByte,
  ftExtended,
  ftConnection,
  ftParams,
  ftStream,
  ftTimeStampOffset,
  ftObject,
  ftSingle,
};

inline constexpr int kFieldTypeCount = 52;

// "ftInteger" for ftInteger; "" for a code outside the list.
std::string_view FieldTypeName(int code);
// The code named by "ftInteger" (exact spelling); nothing for an unknown name.
std::optional<TFieldType> FieldTypeFromName(std::string_view name);

}  // namespace velmora
