#include "data/field_family.h"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <vector>

namespace velmora::test {
namespace {

TEST(FieldFamily, EveryCodeBelongsToItsFamilyAndTheRestToNone) {
  const struct {
    TFieldFamily family;
    std::vector<TFieldType> members;
  } families[] = {
      {TFieldFamily::kText,
       {ftString, ftWideString, ftFixedChar, ftFixedWideChar, ftMemo, ftWideMemo, ftFmtMemo,
        ftOraClob}},
      {TFieldFamily::kInteger,
       {ftSmallint, ftInteger, ftWord, ftAutoInc, ftLargeint, ftLongWord, ftShortint, ftByte}},
      {TFieldFamily::kFloat, {ftFloat, ftSingle, ftExtended}},
      {TFieldFamily::kDecimal, {ftCurrency, ftBCD, ftFMTBcd}},
      {TFieldFamily::kDateTime, {ftDate, ftTime, ftDateTime, ftTimeStamp}},
      {TFieldFamily::kBoolean, {ftBoolean}},
      {TFieldFamily::kBytes, {ftBlob, ftBytes, ftVarBytes, ftGraphic, ftTypedBinary, ftOraBlob}},
  };
  std::set<int> placed;
  for (const auto& f : families) {
    for (TFieldType type : f.members) {
      EXPECT_EQ(FieldFamilyOf(type), f.family) << FieldTypeName(type);
      placed.insert(type);
    }
  }
  for (int code = 0; code < kFieldTypeCount + 2; ++code) {
    if (placed.count(code) != 0) continue;
    EXPECT_EQ(FieldFamilyOf(static_cast<TFieldType>(code)), TFieldFamily::kOther)
        << code << " " << FieldTypeName(code);
  }
}

template <typename T>
TIntegerRange RangeOfCType() {
  return {static_cast<int64_t>(std::numeric_limits<T>::min()),
          static_cast<int64_t>(std::numeric_limits<T>::max())};
}

TEST(FieldFamily, IntegerRangesAreThoseOfTheMachineTypes) {
  const struct {
    TFieldType type;
    TIntegerRange expected;
  } cases[] = {
      {ftShortint, RangeOfCType<int8_t>()},   {ftByte, RangeOfCType<uint8_t>()},
      {ftSmallint, RangeOfCType<int16_t>()},  {ftWord, RangeOfCType<uint16_t>()},
      {ftInteger, RangeOfCType<int32_t>()},   {ftAutoInc, RangeOfCType<int32_t>()},
      {ftLongWord, RangeOfCType<uint32_t>()}, {ftLargeint, RangeOfCType<int64_t>()},
      {ftFloat, RangeOfCType<int64_t>()},     {ftWideString, RangeOfCType<int64_t>()},
  };
  for (const auto& c : cases) {
    const TIntegerRange got = IntegerRangeOf(c.type);
    EXPECT_EQ(got.min, c.expected.min) << FieldTypeName(c.type);
    EXPECT_EQ(got.max, c.expected.max) << FieldTypeName(c.type);
  }
}

}  // namespace
}  // namespace velmora::test
