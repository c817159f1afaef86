#include "data/params.h"

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

TEST(Params, ValueGivesTheTypeOfAnUntypedParameter) {
  const struct {
    OleVariant value;
    TFieldType expected;
  } cases[] = {
      {OleVariant(int16_t{1}), ftSmallint},
      {OleVariant(1), ftInteger},
      {OleVariant(1.0f), ftSingle},
      {OleVariant(1.0), ftFloat},
      {OleVariant::Currency(1), ftBCD},
      {OleVariant::Date(1), ftDateTime},
      {OleVariant("x"), ftWideString},
      {OleVariant::UString("x"), ftWideString},
      {OleVariant(true), ftBoolean},
      {OleVariant(int8_t{1}), ftShortint},
      {OleVariant(uint8_t{1}), ftByte},
      {OleVariant(uint16_t{1}), ftWord},
      {OleVariant(uint32_t{1}), ftLongWord},
      {OleVariant(int64_t{1}), ftLargeint},
      {OleVariant::AnsiString("x"), ftString},
      {OleVariant(SqlTimeStamp{}), ftTimeStamp},
      {OleVariant(SqlTimeStampOffset{}), ftTimeStampOffset},
      {OleVariant(BcdValue{"1", 1, 0}), ftFMTBcd},
      {OleVariant(uint64_t{1}), ftUnknown},
      {OleVariant(SqlInterval{}), ftUnknown},
      {OleVariant::Null(), ftUnknown},
      {OleVariant(), ftUnknown},
      {OleVariant::Bytes(std::string_view("ab")), ftUnknown},
  };
  for (const auto& c : cases) {
    TParam p;
    p.SetValue(c.value);
    EXPECT_EQ(p.DataType, c.expected) << VarTypeName(c.value.VarType());
    EXPECT_TRUE(p.Value() == c.value);
  }
}

TEST(Params, DeclaredTypeSurvivesAValue) {
  TParam p("n", ftString, ptInput);
  p.SetValue(OleVariant(12));
  EXPECT_EQ(p.DataType, ftString);
  TParam q;
  q.SetValue(OleVariant(1));
  q.SetValue(OleVariant("later text"));
  EXPECT_EQ(q.DataType, ftInteger);  // typed by the first value
}

TEST(Params, EachKindIsSentReceivedOrBoth) {
  const struct {
    TParamType kind;
    bool sent;
    bool received;
  } cases[] = {
      {ptUnknown, true, false},    {ptInput, true, false},  {ptOutput, false, true},
      {ptInputOutput, true, true}, {ptResult, false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsInputParam(c.kind), c.sent) << int{c.kind};
    EXPECT_EQ(IsOutputParam(c.kind), c.received) << int{c.kind};
  }
}

class ParamsList : public ::testing::Test {
 protected:
  void SetUp() override {
    list.CreateParam(ftInteger, "Id", ptInput).SetValue(OleVariant(1));
    list.CreateParam(ftString, "Name", ptOutput);
    list.CreateParam(ftUnknown, "Result", ptResult);
  }
  TParams list;
};

TEST_F(ParamsList, OrderAndLookUpWithoutRegardToCase) {
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[0].Name, "Id");
  EXPECT_EQ(list.Items(2).ParamType, ptResult);
  EXPECT_EQ(list.FindParam("NAME"), &list[1]);
  EXPECT_EQ(list.FindParam("id"), &list[0]);
  EXPECT_EQ(list.FindParam("Nam"), nullptr);
  EXPECT_EQ(&list.ParamByName("rEsUlT"), &list[2]);
  try {
    list.ParamByName("Missing");
    FAIL() << "no error";
  } catch (const EParamError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'Missing' not found");
  }
  EXPECT_THROW(list.Items(3), EParamError);
  EXPECT_THROW(list.Items(-1), EParamError);
}

TEST_F(ParamsList, ReferencesStayValidAsTheListGrows) {
  TParam& first = list[0];
  for (int i = 0; i < 100; ++i) list.Add();
  EXPECT_EQ(&first, &list[0]);
  EXPECT_EQ(list.Count(), 103);
}

TEST_F(ParamsList, CopiesAreDeepAndClearEmpties) {
  TParams copy = list;
  copy[0].SetValue(OleVariant(99));
  copy[0].Name = "Other";
  EXPECT_EQ(list[0].Value().AsInteger(), 1);
  EXPECT_EQ(list[0].Name, "Id");
  TParams assigned;
  assigned.CreateParam(ftFloat, "old", ptInput);
  assigned.Assign(list);
  ASSERT_EQ(assigned.Count(), 3);
  EXPECT_EQ(assigned.FindParam("old"), nullptr);
  EXPECT_NE(&assigned[0], &list[0]);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(assigned.Count(), 3);
}

TEST(Params, KindSets) {
  EXPECT_EQ(ParamTypeBit(ptOutput), 4);
  EXPECT_TRUE(ParamTypeIn(ptResult, kAllParamTypes));
  EXPECT_FALSE(ParamTypeIn(ptInput, ParamTypeBit(ptOutput)));
  EXPECT_FALSE(ParamTypeIn(static_cast<TParamType>(9), 0xFF));
}

}  // namespace
}  // namespace velmora::test
