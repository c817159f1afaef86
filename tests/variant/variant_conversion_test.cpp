#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "variant/ole_variant.h"

namespace velmora::test {
namespace {

struct IntCase {
  const char* label;
  OleVariant value;
  int64_t expected;
};

TEST(VariantConversion, AsInt64AcceptsEveryNumericKindAndNumericText) {
  const IntCase cases[] = {
      {"shortint", OleVariant(int8_t{-7}), -7},
      {"byte", OleVariant(uint8_t{250}), 250},
      {"smallint", OleVariant(int16_t{-30000}), -30000},
      {"word", OleVariant(uint16_t{65000}), 65000},
      {"integer", OleVariant(int32_t{-2'000'000'000}), -2'000'000'000},
      {"longword", OleVariant(uint32_t{4'000'000'000u}), 4'000'000'000},
      {"int64", OleVariant(int64_t{-9'000'000'000'000}), -9'000'000'000'000},
      {"uint64", OleVariant(uint64_t{123}), 123},
      {"boolean true", OleVariant(true), -1},
      {"double rounds", OleVariant(2.6), 3},
      {"currency 1.5 rounds away", OleVariant::Currency(15000), 2},
      {"currency -1.5 rounds away", OleVariant::Currency(-15000), -2},
      {"currency -1.4999", OleVariant::Currency(-14999), -1},
      {"currency max", OleVariant::Currency(std::numeric_limits<int64_t>::max()), 922337203685478},
      {"currency min", OleVariant::Currency(std::numeric_limits<int64_t>::min()), -922337203685478},
      {"text", OleVariant("  -42 "), -42},
      {"hex text", OleVariant("$1F"), 31},
      {"ustring", OleVariant::UString("17"), 17},
      {"ansi", OleVariant::AnsiString("+9"), 9},
      {"bcd", OleVariant(BcdValue{"12.50", 4, 2}), 13},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.AsInt64(), c.expected) << c.label;
}

TEST(VariantConversion, RefusesWhatIsNoInteger) {
  const OleVariant refused[] = {
      OleVariant(),
      OleVariant::Null(),
      OleVariant("12abc"),
      OleVariant(""),
      OleVariant("1.5"),
      OleVariant(1e300),
      OleVariant(std::numeric_limits<double>::quiet_NaN()),
      OleVariant(uint64_t{UINT64_MAX}),
      OleVariant::VarArrayCreate(0, 1),
      OleVariant::Bytes(std::string_view("ab")),
      OleVariant("99999999999999999999"),
  };
  for (const auto& v : refused)
    EXPECT_THROW(v.AsInt64(), EVariantError) << VarTypeName(v.VarType()) << " " << v.IsText();
}

TEST(VariantConversion, AsIntegerRangeAndLongWordWrap) {
  EXPECT_EQ(OleVariant(int64_t{2147483647}).AsInteger(), 2147483647);
  EXPECT_EQ(OleVariant("-2147483648").AsInteger(), std::numeric_limits<int32_t>::min());
  EXPECT_THROW(OleVariant(int64_t{2147483648}).AsInteger(), EVariantError);
  EXPECT_THROW(OleVariant("-2147483649").AsInteger(), EVariantError);
  EXPECT_EQ(OleVariant(uint32_t{0xFFFFFFFFu}).AsInteger(), -1);
}

TEST(VariantConversion, AsDouble) {
  EXPECT_DOUBLE_EQ(OleVariant(" 1.25e2 ").AsDouble(), 125.0);
  EXPECT_DOUBLE_EQ(OleVariant::Currency(-12345).AsDouble(), -1.2345);
  EXPECT_DOUBLE_EQ(OleVariant::Date(45000.5).AsDouble(), 45000.5);
  EXPECT_DOUBLE_EQ(OleVariant(uint16_t{7}).AsDouble(), 7.0);
  EXPECT_DOUBLE_EQ(OleVariant(SqlTimeStamp{1899, 12, 31, 12, 0, 0, 0}).AsDouble(), 1.5);
  for (const char* text : {"abc", "", "1,5", "inf", "nan", "1e999"})
    EXPECT_THROW(OleVariant(text).AsDouble(), EVariantError) << text;
  EXPECT_THROW(OleVariant::Null().AsDouble(), EVariantError);
}

TEST(VariantConversion, AsStringOfEveryScalarKind) {
  struct Case {
    OleVariant value;
    std::string expected;
  };
  const Case cases[] = {
      {OleVariant(), ""},
      {OleVariant::Null(), ""},
      {OleVariant(int8_t{-5}), "-5"},
      {OleVariant(uint64_t{18446744073709551615ull}), "18446744073709551615"},
      {OleVariant(true), "True"},
      {OleVariant(false), "False"},
      {OleVariant(0.5), "0.5"},
      {OleVariant(0.1f), "0.1"},
      {OleVariant::Currency(-125000), "-12.5"},
      {OleVariant::Date(2.0), "1900-01-01"},
      {OleVariant::Date(2.75), "1900-01-01 18:00:00"},
      {OleVariant(BcdValue{"-12.340", 5, 3}), "-12.340"},
      {OleVariant(SqlTimeStamp{2024, 3, 5, 10, 11, 12, 123}), "2024-03-05 10:11:12.123"},
      {OleVariant(SqlTimeStampOffset{{2024, 3, 5, 10, 11, 12, 0}, -2, -30}),
       "2024-03-05 10:11:12 -02:30"},
      {OleVariant(SqlInterval{SqlInterval::kYearMonth, -1, 1, 2}), "-1-02"},
      {OleVariant(SqlInterval{SqlInterval::kDaySecond, 1, 0, 0, 3, 4, 5, 6, 7}), "3 04:05:06.007"},
      {OleVariant("中文"), "中文"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.AsString(), c.expected);
  EXPECT_THROW(OleVariant::VarArrayCreate(0, 0).AsString(), EVariantError);
}

TEST(VariantConversion, ArrayBoundsIncludingExtremeLowBounds) {
  const OleVariant empty = OleVariant::VarArrayCreate(0, -1);
  EXPECT_EQ(empty.LowBound(), 0);
  EXPECT_EQ(empty.HighBound(), -1);
  const OleVariant shifted = OleVariant::VarArrayCreate(-3, -1);
  EXPECT_EQ(shifted.Array().items.size(), 3u);
  EXPECT_NO_THROW(shifted[-3]);
  EXPECT_THROW(shifted[0], EVariantError);
  // Bounds at the ends of the 32-bit range must not overflow.
  EXPECT_TRUE(OleVariant::VarArrayCreate(std::numeric_limits<int32_t>::min() + 1,
                                         std::numeric_limits<int32_t>::min())
                  .Array()
                  .items.empty());
  const OleVariant low = OleVariant::VarArrayCreate(std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::min());
  EXPECT_EQ(low.HighBound(), std::numeric_limits<int32_t>::min());
  EXPECT_THROW(OleVariant::VarArrayCreate(5, 3), EVariantError);
  EXPECT_THROW(OleVariant(1).LowBound(), EVariantError);
}

}  // namespace
}  // namespace velmora::test
