#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/uMemoryStream2OLEVariant.h"

namespace velmora::test {
namespace {

OleVariant Entry(std::vector<OleVariant> items, int32_t low = 0) {
  VariantArray a;
  a.low = low;
  a.items = std::move(items);
  return OleVariant(std::move(a));
}

OleVariant Packed(std::vector<OleVariant> entries) {
  return Entry(std::move(entries));
}

class ParamsPacking : public ::testing::Test {
 protected:
  void SetUp() override {
    TParam& a = list.CreateParam(ftInteger, "A", ptInput);
    a.SetValue(OleVariant(7));
    TParam& b = list.CreateParam(ftFMTBcd, "B", ptOutput);
    b.SetValue(OleVariant(BcdValue{"-12.340", 5, 3}));
    b.Size = 10;
    b.Precision = 5;
    b.NumericScale = 3;
    list.CreateParam(ftWideString, "C", ptInputOutput).SetValue(OleVariant::UString("中文"));
    list.CreateParam(ftDateTime, "D", ptOutput).SetValue(OleVariant::Null());
    list.CreateParam(ftInteger, "E", ptResult);
    list.CreateParam(ftUnknown, "F", ptUnknown);
  }

  // The list the target holds before an unpack that must not change it.
  static TParams Sentinel() {
    TParams t;
    t.CreateParam(ftFloat, "keep", ptInput).SetValue(OleVariant(1.5));
    return t;
  }
  static void ExpectSentinel(const TParams& t) {
    ASSERT_EQ(t.Count(), 1);
    EXPECT_EQ(t[0].Name, "keep");
    EXPECT_EQ(t[0].DataType, ftFloat);
    EXPECT_TRUE(t[0].Value() == OleVariant(1.5));
  }

  TParams list;
};

TEST_F(ParamsPacking, EntriesCarryTheWrittenVariantTypes) {
  OleVariant packed;
  Params2OleVariant(list, kAllParamTypes, packed);
  ASSERT_EQ(packed.VarType(), kVarVariantArray);
  ASSERT_EQ(packed.LowBound(), 0);
  ASSERT_EQ(packed.HighBound(), 5);
  const OleVariant& b = packed[1];
  ASSERT_EQ(b.VarType(), kVarVariantArray);
  EXPECT_EQ(b.LowBound(), 0);
  EXPECT_EQ(b.HighBound(), 6);
  const uint16_t types[] = {varOleStr,  varOleStr,  varShortInt, varShortInt,
                            varInteger, varInteger, varInteger};
  for (int32_t i = 0; i < 7; ++i) EXPECT_EQ(b[i].VarType(), types[i]) << "entry " << i;
  EXPECT_EQ(b[0].Text(), "B");
  EXPECT_EQ(b[1].Text(), "-12.340");  // a decimal travels as its text
  EXPECT_EQ(b[2].AsInteger(), ftFMTBcd);
  EXPECT_EQ(b[3].AsInteger(), ptOutput);
  EXPECT_EQ(b[4].AsInteger(), 10);
  EXPECT_EQ(b[5].AsInteger(), 5);
  EXPECT_EQ(b[6].AsInteger(), 3);
  EXPECT_TRUE(packed[0][1] == OleVariant(7));
  EXPECT_EQ(packed[2][1].VarType(), varOleStr);  // text goes as an OLE string
  EXPECT_EQ(packed[2][1].Text(), "中文");
  EXPECT_TRUE(packed[3][1].IsNull());
  EXPECT_TRUE(packed[4][1].IsEmpty());
}

TEST_F(ParamsPacking, CustomKindsGoAsText) {
  TParams t;
  t.CreateParam(ftTimeStamp, "ts", ptInput)
      .SetValue(OleVariant(SqlTimeStamp{2024, 3, 5, 1, 2, 3, 4}));
  t.CreateParam(ftOraInterval, "iv", ptInput)
      .SetValue(OleVariant(SqlInterval{SqlInterval::kYearMonth, 1, 2, 3}));
  t.CreateParam(ftTimeStampOffset, "tz", ptInput)
      .SetValue(OleVariant(SqlTimeStampOffset{{2024, 3, 5, 1, 2, 3, 0}, 8, 0}));
  OleVariant packed;
  Params2OleVariant(t, kAllParamTypes, packed);
  EXPECT_TRUE(packed[0][1] == OleVariant::OleStr("2024-03-05 01:02:03.004"));
  EXPECT_TRUE(packed[1][1] == OleVariant::OleStr("2-03"));
  EXPECT_TRUE(packed[2][1] == OleVariant::OleStr("2024-03-05 01:02:03 +08:00"));
}

TEST_F(ParamsPacking, KindSetSelectsInListOrder) {
  const struct {
    TParamTypes kinds;
    std::vector<std::string> names;
  } cases[] = {
      {ParamTypeBit(ptOutput), {"B", "D"}},
      {ParamTypeBit(ptInput) | ParamTypeBit(ptResult), {"A", "E"}},
      {ParamTypeBit(ptUnknown), {"F"}},
      {kAllParamTypes, {"A", "B", "C", "D", "E", "F"}},
  };
  for (const auto& c : cases) {
    OleVariant packed;
    Params2OleVariant(list, c.kinds, packed);
    std::vector<std::string> names;
    for (int32_t i = packed.LowBound(); i <= packed.HighBound(); ++i)
      names.push_back(packed[i][0].Text());
    EXPECT_EQ(names, c.names) << int{c.kinds};
  }
}

TEST_F(ParamsPacking, NoMatchGivesNull) {
  TParams only_inputs;
  only_inputs.CreateParam(ftInteger, "x", ptInput);
  OleVariant packed = OleVariant(3);
  Params2OleVariant(only_inputs, ParamTypeBit(ptOutput), packed);
  EXPECT_TRUE(packed.IsNull());
  Params2OleVariant(TParams(), kAllParamTypes, packed);
  EXPECT_TRUE(packed.IsNull());
  Params2OleVariant(list, 0, packed);
  EXPECT_TRUE(packed.IsNull());
}

TEST_F(ParamsPacking, RoundTripReplacesTheList) {
  OleVariant packed;
  Params2OleVariant(list, kAllParamTypes, packed);
  TParams back = Sentinel();
  OleVariant2Params(packed, back);
  ASSERT_EQ(back.Count(), list.Count());
  for (int i = 0; i < list.Count(); ++i) {
    EXPECT_EQ(back[i].Name, list[i].Name);
    EXPECT_EQ(back[i].DataType, list[i].DataType) << i;
    EXPECT_EQ(back[i].ParamType, list[i].ParamType) << i;
    EXPECT_EQ(back[i].Size, list[i].Size);
    EXPECT_EQ(back[i].Precision, list[i].Precision);
    EXPECT_EQ(back[i].NumericScale, list[i].NumericScale);
  }
  EXPECT_TRUE(back[0].Value() == OleVariant(7));
  EXPECT_TRUE(back[1].Value() == OleVariant::OleStr("-12.340"));
  EXPECT_TRUE(back[3].Value().IsNull());
}

TEST_F(ParamsPacking, ShortEntriesReadOnlyWhatTheyHold) {
  const std::vector<OleVariant> full = {OleVariant::OleStr("p"),
                                        OleVariant(int32_t{5}),
                                        OleVariant(int8_t{ftLargeint}),
                                        OleVariant(int8_t{ptOutput}),
                                        OleVariant(11),
                                        OleVariant(12),
                                        OleVariant(13)};
  for (size_t n = 2; n <= 7; ++n) {
    TParams t;
    OleVariant2Params(Packed({Entry({full.begin(), full.begin() + static_cast<long>(n)})}), t);
    ASSERT_EQ(t.Count(), 1);
    const TParam& p = t[0];
    EXPECT_EQ(p.Name, "p");
    EXPECT_TRUE(p.Value() == OleVariant(int32_t{5}));
    // Without a data type entry the value's type decides.
    EXPECT_EQ(p.DataType, n > 2 ? ftLargeint : ftInteger) << n;
    EXPECT_EQ(p.ParamType, n > 3 ? ptOutput : ptUnknown) << n;
    EXPECT_EQ(p.Size, n > 4 ? 11 : 0) << n;
    EXPECT_EQ(p.Precision, n > 5 ? 12 : 0) << n;
    EXPECT_EQ(p.NumericScale, n > 6 ? 13 : 0) << n;
  }
}

TEST_F(ParamsPacking, DeclaredStringTypeSurvivesAnIntegerValue) {
  TParams t;
  OleVariant2Params(
      Packed({Entry({OleVariant("s"), OleVariant(42), OleVariant(int8_t{ftString})})}), t);
  ASSERT_EQ(t.Count(), 1);
  EXPECT_EQ(t[0].DataType, ftString);
  EXPECT_EQ(t[0].Value().VarType(), varInteger);
}

TEST_F(ParamsPacking, IntegerEntriesAcceptAnyIntegerTypeAndNumericText) {
  TParams t;
  OleVariant2Params(
      Packed({Entry({OleVariant("x"), OleVariant(), OleVariant(int64_t{ftInteger}), OleVariant("2"),
                     OleVariant(uint16_t{300}), OleVariant(" 9 "), OleVariant(true)})}),
      t);
  ASSERT_EQ(t.Count(), 1);
  EXPECT_EQ(t[0].DataType, ftInteger);
  EXPECT_EQ(t[0].ParamType, ptOutput);
  EXPECT_EQ(t[0].Size, 300);
  EXPECT_EQ(t[0].Precision, 9);
  EXPECT_EQ(t[0].NumericScale, -1);
}

TEST_F(ParamsPacking, NothingToReadLeavesTheListAlone) {
  const OleVariant inputs[] = {
      OleVariant::Null(),
      OleVariant(),
      OleVariant(12),
      OleVariant("text"),
      Packed({OleVariant(1), Entry({OleVariant("a"), OleVariant(1)})}),
      Packed({}),
      OleVariant::Bytes(std::string_view("\x01\x02")),
  };
  for (const auto& in : inputs) {
    TParams t = Sentinel();
    EXPECT_NO_THROW(OleVariant2Params(in, t)) << VarTypeName(in.VarType());
    ExpectSentinel(t);
  }
}

TEST_F(ParamsPacking, MalformedEntriesRaiseAndLeaveTheListAlone) {
  const OleVariant good = Entry({OleVariant("a"), OleVariant(1)});
  const struct {
    const char* label;
    OleVariant packed;
  } cases[] = {
      {"later entry not an array", Packed({good, OleVariant(5)})},
      {"later entry Null", Packed({good, OleVariant::Null()})},
      {"first entry too short", Packed({Entry({OleVariant("a")})})},
      {"later entry empty", Packed({good, Entry({})})},
      {"first entry a byte array", Packed({OleVariant::Bytes(std::string_view("ab"))})},
      {"data type not a number",
       Packed({Entry({OleVariant("a"), OleVariant(1), OleVariant("abc")})})},
      {"data type out of range",
       Packed({Entry({OleVariant("a"), OleVariant(1), OleVariant(int8_t{52})})})},
      {"data type negative",
       Packed({Entry({OleVariant("a"), OleVariant(1), OleVariant(int8_t{-1})})})},
      {"kind out of range",
       Packed({Entry({OleVariant("a"), OleVariant(1), OleVariant(int8_t{3}), OleVariant(5)})})},
      {"size beyond 32 bits", Packed({Entry({OleVariant("a"), OleVariant(1), OleVariant(int8_t{3}),
                                             OleVariant(1), OleVariant(int64_t{1} << 40)})})},
      {"name is an array", Packed({Entry({good, OleVariant(1)})})},
  };
  for (const auto& c : cases) {
    TParams t = Sentinel();
    EXPECT_THROW(OleVariant2Params(c.packed, t), EVariantError) << c.label;
    ExpectSentinel(t);
  }
}

TEST_F(ParamsPacking, EntriesWithOtherLowerBoundsAreReadFromTheirFirstElement) {
  TParams t;
  OleVariant2Params(
      Packed({Entry({OleVariant("n"), OleVariant(2.5), OleVariant(int8_t{ftFloat})}, 1)}), t);
  ASSERT_EQ(t.Count(), 1);
  EXPECT_EQ(t[0].Name, "n");
  EXPECT_EQ(t[0].DataType, ftFloat);
  EXPECT_TRUE(t[0].Value() == OleVariant(2.5));
}

}  // namespace
}  // namespace velmora::test
