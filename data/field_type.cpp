#include "data/field_type.h"

#include <array>

namespace velmora {
namespace {

constexpr std::array<std::string_view, kFieldTypeCount> kNames = {
    "ftUnknown",      "ftString",      "ftSmallint", "ftInteger",       "ftWord",
    "ftBoolean",      "ftFloat",       "ftCurrency", "ftBCD",           "ftDate",
    "ftTime",         "ftDateTime",    "ftBytes",    "ftVarBytes",      "ftAutoInc",
    "ftBlob",         "ftMemo",        "ftGraphic",  "ftFmtMemo",       "ftParadoxOle",
    "ftDBaseOle",     "ftTypedBinary", "ftCursor",   "ftFixedChar",     "ftWideString",
    "ftLargeint",     "ftADT",         "ftArray",    "ftReference",     "ftDataSet",
    "ftOraBlob",      "ftOraClob",     "ftVariant",  "ftInterface",     "ftIDispatch",
    "ftGuid",         "ftTimeStamp",   "ftFMTBcd",   "ftFixedWideChar", "ftWideMemo",
    "ftOraTimeStamp", "ftOraInterval", "ftLongWord", "ftShortint",      "ftByte",
    "ftExtended",     "ftConnection",  "ftParams",   "ftStream",        "ftTimeStampOffset",
    "ftObject",       "ftSingle"};

}  // namespace

std::string_view FieldTypeName(int code) {
  return code >= 0 && code < kFieldTypeCount ? kNames[static_cast<size_t>(code)]
                                             : std::string_view{};
}

std::optional<TFieldType> FieldTypeFromName(std::string_view name) {
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (kNames[i] == name) return static_cast<TFieldType>(i);
  }
  return std::nullopt;
}

}  // namespace velmora
