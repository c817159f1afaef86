// Conversion of appended and assigned values to the field's type.
#include <gtest/gtest.h>

#include <functional>

#include "data/dataset.h"
#include "data/dataset_values.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

struct ConversionCase {
  const char* name;
  TFieldType type;
  std::function<void(RecordAppender&)> append;
  OleVariant expected;
};

OleVariant AppendOne(TFieldType type, const std::function<void(RecordAppender&)>& append) {
  TDataSet ds;
  ds.FieldDefs().Add("F", type, 20);
  ds.Open();
  append(ds.BeginAppend());
  ds.EndAppend();
  ds.First();
  return ds.FieldValue(0);
}

TEST(FieldValues, AppendConvertsToTheFieldType) {
  const double date = EncodeDateTime({2024, 3, 5, 10, 11, 12, 0});
  const std::vector<ConversionCase> cases = {
      {"int into smallint", ftSmallint, [](auto& a) { a.AppendInt64(-1234); },
       OleVariant(int16_t{-1234})},
      {"int into word", ftWord, [](auto& a) { a.AppendInt64(65535); }, OleVariant(uint16_t{65535})},
      {"int into byte", ftByte, [](auto& a) { a.AppendInt64(200); }, OleVariant(uint8_t{200})},
      {"int into largeint", ftLargeint, [](auto& a) { a.AppendInt64(INT64_MIN); },
       OleVariant(int64_t{INT64_MIN})},
      {"int into boolean", ftBoolean, [](auto& a) { a.AppendInt64(5); }, OleVariant(true)},
      {"int into currency", ftCurrency, [](auto& a) { a.AppendInt64(3); },
       OleVariant::Currency(30000)},
      {"int into text", ftString, [](auto& a) { a.AppendInt64(-42); }, OleVariant("-42")},
      {"text into integer", ftInteger, [](auto& a) { a.AppendText(" 77 "); },
       OleVariant(int32_t{77})},
      {"text into float", ftFloat, [](auto& a) { a.AppendText("12.5"); }, OleVariant(12.5)},
      {"text into single", ftSingle, [](auto& a) { a.AppendText("0.25"); }, OleVariant(0.25f)},
      {"text into currency", ftCurrency, [](auto& a) { a.AppendText("1.2345"); },
       OleVariant::Currency(12345)},
      {"text into date-time", ftDateTime, [](auto& a) { a.AppendText("2024-03-05 10:11:12"); },
       OleVariant::Date(date)},
      {"iso text into date-time", ftDateTime, [](auto& a) { a.AppendText("2024-03-05T10:11:12"); },
       OleVariant::Date(date)},
      {"double into date-time", ftDateTime, [&](auto& a) { a.AppendDouble(date); },
       OleVariant::Date(date)},
      {"text into time-stamp", ftTimeStamp, [](auto& a) { a.AppendText("2024-03-05 10:11:12.5"); },
       OleVariant(SqlTimeStamp{2024, 3, 5, 10, 11, 12, 500})},
      {"text into BCD", ftFMTBcd, [](auto& a) { a.AppendText("-0012.3400"); },
       OleVariant(BcdValue{"-12.34", 0, 0})},
      {"double into BCD", ftBCD, [](auto& a) { a.AppendDouble(0.1); },
       OleVariant(BcdValue{"0.1", 0, 0})},
      {"text into boolean", ftBoolean, [](auto& a) { a.AppendText("false"); }, OleVariant(false)},
      {"bytes into blob", ftBlob, [](auto& a) { a.AppendBytes(std::string_view("\0\1\2", 3)); },
       OleVariant::Bytes(std::string_view("\0\1\2", 3))},
      {"empty text is not NULL", ftString, [](auto& a) { a.AppendText(""); }, OleVariant("")},
      {"empty blob is not NULL", ftBlob, [](auto& a) { a.AppendBytes(""); },
       OleVariant::Bytes(std::string_view())},
      {"variant into variant field", ftVariant,
       [](auto& a) { a.AppendVariant(OleVariant(uint32_t{7})); }, OleVariant(uint32_t{7})},
      {"currency variant into currency", ftCurrency,
       [](auto& a) { a.AppendVariant(OleVariant::Currency(-5)); }, OleVariant::Currency(-5)},
      {"null variant", ftInteger, [](auto& a) { a.AppendVariant(OleVariant()); },
       OleVariant::Null()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AppendOne(c.type, c.append), c.expected);
  }
}

TEST(FieldValues, RefusesValuesTheFieldCannotHold) {
  const std::vector<ConversionCase> cases = {
      {"smallint overflow", ftSmallint, [](auto& a) { a.AppendInt64(40000); }, {}},
      {"byte negative", ftByte, [](auto& a) { a.AppendInt64(-1); }, {}},
      {"longword overflow", ftLongWord, [](auto& a) { a.AppendInt64(int64_t{1} << 32); }, {}},
      {"text not a number", ftInteger, [](auto& a) { a.AppendText("12abc"); }, {}},
      {"text not a date", ftDateTime, [](auto& a) { a.AppendText("2024-13-01"); }, {}},
      {"text not a decimal", ftFMTBcd, [](auto& a) { a.AppendText("1.2.3"); }, {}},
      {"value into cursor", ftCursor, [](auto& a) { a.AppendInt64(1); }, {}},
      {"bytes into date", ftDate, [](auto& a) { a.AppendBytes("x"); }, {}},
      {"array into integer",
       ftInteger,
       [](auto& a) { a.AppendVariant(OleVariant::VarArrayCreate(0, 1)); },
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(AppendOne(c.type, c.append), EDatabaseError);
  }
}

TEST(FieldValues, OutOfRangeMessageNamesValueAndField) {
  TDataSet ds;
  ds.FieldDefs().Add("Qty", ftSmallint);
  ds.Open();
  try {
    ds.BeginAppend().AppendInt64(70000);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Value 70000 is out of range for field 'Qty'");
  }
}

TEST(FieldValues, AssignedTextIsCutToFieldSizeInCharacters) {
  TDataSet ds;
  ds.FieldDefs().Add("S", ftString, 5);
  ds.FieldDefs().Add("M", ftMemo, 5);
  ds.Open();
  ds.Append();
  ds.SetFieldValues("S", OleVariant("ÄÖÜäöüß"));  // two-byte characters: cut at 5 characters
  ds.SetFieldValues("M", OleVariant("a memo is never cut"));
  ds.Post();
  EXPECT_EQ(ds.FieldValues("S").AsString(), "ÄÖÜäö");
  EXPECT_EQ(ds.FieldValues("M").AsString(), "a memo is never cut");
}

}  // namespace
}  // namespace velmora::test
