// Fields and parameters are found by name with letter case folded the Unicode way
// (variant/name_fold.h), through the lookups every caller uses: TDataSet::FieldByName and
// FindField (over TFieldDefs), TParams::FindParam and ParamByName.
#include <gtest/gtest.h>

#include "data/dataset.h"
#include "data/params.h"

namespace velmora::test {
namespace {

TEST(NameLookup, FieldsAreFoundByNameInAnyLetterCase) {
  TDataSet ds;
  ds.FieldDefs().Add("ID", ftInteger);
  ds.FieldDefs().Add("\xC3\x84PFEL", ftInteger);                                         // ÄPFEL
  ds.FieldDefs().Add("\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91\xCE\xA3", ftString, 10);  // ΣΟΦΙΑΣ
  ds.FieldDefs().Add("STRA\xC3\x9F\x45", ftInteger);                                     // STRAßE
  ds.Open();
  RecordAppender& row = ds.BeginAppend();
  row.AppendInt64(1);
  row.AppendInt64(7);
  row.AppendText("x");
  row.AppendInt64(9);
  ds.EndAppend();
  ds.First();

  EXPECT_EQ(ds.FieldByName("\xC3\xA4pfel").AsInteger(), 7);  // äpfel
  EXPECT_EQ(ds.FieldByName("\xC3\x84pFeL").Index(), 1);
  const auto sofia = ds.FindField("\xCF\x83\xCE\xBF\xCF\x86\xCE\xB9\xCE\xB1\xCF\x82");  // σοφιας
  ASSERT_TRUE(sofia.has_value());
  EXPECT_EQ(sofia->AsString(), "x");
  EXPECT_EQ(ds.FieldDefs().IndexOf("stra\xC3\x9F\x65"), 3);
  EXPECT_EQ(ds.FieldDefs().Find("id"), &ds.FieldDefs()[0]);

  EXPECT_FALSE(ds.FindField("APFEL").has_value());     // A is not Ä
  EXPECT_FALSE(ds.FindField("STRASSE").has_value());   // ß is not SS under simple folding
  EXPECT_FALSE(ds.FindField("\xC3").has_value());      // a cut sequence
  EXPECT_FALSE(ds.FindField("\xC4PFEL").has_value());  // Latin-1 Ä: not UTF-8
  EXPECT_THROW(ds.FieldByName("\xC3\xA4pfe"), EDatabaseError);
}

// A stored procedure's parameters are declared and then set through ParamByName, so of two names
// that differ only in letter case the first is found, whether the letters are ASCII or not.
TEST(NameLookup, ParametersAreFoundByNameInAnyLetterCase) {
  TParams params;
  params.CreateParam(ftInteger, "\xC3\x84PFEL", ptInput);                      // ÄPFEL
  params.CreateParam(ftInteger, "\xC3\xA4pfel", ptOutput);                     // äpfel
  params.CreateParam(ftInteger, "\xD0\x9C\xD0\x95\xD0\xA0\xD0\x90", ptInput);  // МЕРА

  EXPECT_EQ(params.FindParam("\xC3\xA4pfel"), &params[0]);
  EXPECT_EQ(&params.ParamByName("\xC3\xA4PFEL"), &params[0]);
  params.ParamByName("\xC3\xA4pfel").SetValue(OleVariant(int32_t{5}));
  EXPECT_EQ(params[0].Value().AsInt64(), 5);
  EXPECT_TRUE(params[1].IsNull());
  EXPECT_EQ(params.FindParam("\xD0\xBC\xD0\xB5\xD1\x80\xD0\xB0"), &params[2]);  // мера

  EXPECT_EQ(params.FindParam("APFEL"), nullptr);
  EXPECT_EQ(params.FindParam("\xC3\xA4pfe"), nullptr);
  try {
    params.ParamByName("\xC3\xA4pfe");
    FAIL() << "no error";
  } catch (const EParamError& e) {
    EXPECT_STREQ(e.what(), "Parameter '\xC3\xA4pfe' not found");
  }
}

}  // namespace
}  // namespace velmora::test
