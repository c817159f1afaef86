// Output formats of the command-line client on memory tables: CSV quoting and NULL, JSON value
// types, table alignment by display width, and the exchange folder's listing.
#include "client/format.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/display_width.h"
#include "client/file_listing.h"
#include "client/format_value.h"
#include "data/mem_table.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

std::string Render(OutputFormat format, TDataSet& ds) {
  std::ostringstream out;
  WriteDataSet(format, ds, out);
  return out.str();
}

void AddRow(TDataSet& ds, const std::vector<OleVariant>& values) {
  ds.Append();
  for (size_t i = 0; i < values.size(); ++i) ds.SetFieldValue(static_cast<int>(i), values[i]);
  ds.Post();
}

TEST(DisplayWidth, CountsWideCharactersTwiceAndMarksNone) {
  const struct {
    const char* text;
    size_t width;
  } cases[] = {
      {"", 0},
      {"abc", 3},
      {"数据库", 6},            // CJK ideographs
      {"한글", 4},              // Hangul syllables
      {"\xEF\xBC\xA1", 2},      // U+FF21 fullwidth A
      {"\xEF\xBD\xB6", 1},      // U+FF76 halfwidth katakana
      {"e\xCC\x81", 1},         // e + combining acute accent
      {"\xF0\x9F\x98\x80", 2},  // U+1F600 emoji
      {"\xE3\x80\x80", 2},      // U+3000 ideographic space
      {"a\xFF"
       "b",
       3},              // invalid byte counts one column
      {"\xE6\x95", 2},  // sequence cut short: one column per byte
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayWidth(c.text), c.width) << c.text;
}

TEST(Base64, EncodesWithPadding) {
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
      {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {std::string("\x00\x01\x02\xff", 4), "AAEC/w=="}};
  for (const auto& c : cases) EXPECT_EQ(Base64Encode(c.in), c.out);
}

TEST(CsvFormat, QuotesOnlyWhatNeedsItAndLeavesNullEmpty) {
  const struct {
    OleVariant value;
    const char* field;
  } cases[] = {
      {OleVariant("plain"), "plain"},
      {OleVariant("a,b"), "\"a,b\""},
      {OleVariant("say \"hi\""), "\"say \"\"hi\"\"\""},
      {OleVariant("two\nlines"), "\"two\nlines\""},
      {OleVariant("cr\r"), "\"cr\r\""},
      {OleVariant(" spaced "), " spaced "},
      {OleVariant(""), ""},
      {OleVariant::Null(), ""},
  };
  TFDMemTable t;
  t.FieldDefs().Add("ID", ftInteger);
  t.FieldDefs().Add("TEXT, \"quoted\"", ftWideString, 20);
  t.CreateDataSet();
  std::string expected = "ID,\"TEXT, \"\"quoted\"\"\"\r\n";
  int id = 0;
  for (const auto& c : cases) {
    AddRow(t, {OleVariant(++id), c.value});
    expected += std::to_string(id) + "," + c.field + "\r\n";
  }
  EXPECT_EQ(Render(OutputFormat::Csv, t), expected);
}

TEST(CsvFormat, WritesValuesInTheirCellForm) {
  TFDMemTable t;
  t.FieldDefs().Add("F", ftFloat);
  t.FieldDefs().Add("C", ftCurrency);
  t.FieldDefs().Add("B", ftBoolean);
  t.FieldDefs().Add("D", ftDate);
  t.FieldDefs().Add("T", ftTime);
  t.FieldDefs().Add("DT", ftDateTime);
  t.FieldDefs().Add("BIN", ftBlob);
  t.CreateDataSet();
  AddRow(t, {OleVariant(0.1), OleVariant::Currency(-12345), OleVariant(true),
             OleVariant::Date(EncodeDateTime({1990, 5, 17, 0, 0, 0, 0})),
             OleVariant::Date(EncodeDateTime({1899, 12, 30, 13, 14, 15, 160})),
             OleVariant::Date(EncodeDateTime({2024, 1, 2, 3, 4, 5, 6})),
             OleVariant::Bytes(std::string_view("\x00\x01\x02\xff", 4))});
  EXPECT_EQ(Render(OutputFormat::Csv, t),
            "F,C,B,D,T,DT,BIN\r\n"
            "0.1,-1.2345,true,1990-05-17,13:14:15.160,2024-01-02 03:04:05.006,AAEC/w==\r\n");
}

TEST(JsonFormat, GivesFieldsAndTypedValues) {
  TFDMemTable t;
  t.FieldDefs().Add("ID", ftInteger);
  t.FieldDefs().Add("NAME", ftWideString, 20);
  t.FieldDefs().Add("AMOUNT", ftFloat);
  t.FieldDefs().Add("PRICE", ftCurrency);
  t.FieldDefs().Add("DEC", ftFMTBcd);
  t.FieldDefs().Add("BIG", ftLargeint);
  t.FieldDefs().Add("FLAG", ftBoolean);
  t.FieldDefs().Add("BORN", ftDate);
  t.FieldDefs().Add("AT", ftDateTime);
  t.FieldDefs().Add("DATA", ftBlob);
  t.CreateDataSet();
  AddRow(t, {OleVariant(7), OleVariant("q\"uote\\ \n 数据"), OleVariant(2.5),
             OleVariant::Currency(125000), OleVariant(BcdValue{"-0.125", 10, 3}),
             OleVariant(int64_t{9007199254740993}), OleVariant(false),
             OleVariant::Date(EncodeDateTime({1990, 5, 17, 0, 0, 0, 0})),
             OleVariant::Date(EncodeDateTime({2024, 1, 2, 3, 4, 5, 6})),
             OleVariant::Bytes(std::string_view("\x00\x01\x02\xff", 4))});
  AddRow(t, {OleVariant(8)});  // every other field NULL

  const std::string text = Render(OutputFormat::Json, t);
  const nlohmann::json doc = nlohmann::json::parse(text);
  ASSERT_EQ(doc["fields"].size(), 10u);
  EXPECT_EQ(doc["fields"][0], (nlohmann::json{{"name", "ID"}, {"type", "ftInteger"}, {"size", 0}}));
  EXPECT_EQ(doc["fields"][1],
            (nlohmann::json{{"name", "NAME"}, {"type", "ftWideString"}, {"size", 20}}));
  EXPECT_EQ(doc["fields"][4]["type"], "ftFMTBcd");

  ASSERT_EQ(doc["rows"].size(), 2u);
  const auto& row = doc["rows"][0];
  EXPECT_TRUE(row[0].is_number_integer());
  EXPECT_EQ(row[0], 7);
  EXPECT_EQ(row[1], "q\"uote\\ \n 数据");
  EXPECT_TRUE(row[2].is_number_float());
  EXPECT_EQ(row[2], 2.5);
  EXPECT_TRUE(row[3].is_number());
  EXPECT_EQ(row[3], 12.5);
  EXPECT_TRUE(row[4].is_number());
  EXPECT_EQ(row[4], -0.125);
  EXPECT_EQ(row[5].get<int64_t>(), 9007199254740993);  // written exactly, not through a double
  EXPECT_EQ(row[6], false);
  EXPECT_EQ(row[7], "1990-05-17");
  EXPECT_EQ(row[8], "2024-01-02T03:04:05.006");
  EXPECT_EQ(row[9], "AAEC/w==");
  const auto& nulls = doc["rows"][1];
  EXPECT_EQ(nulls[0], 8);
  for (size_t i = 1; i < nulls.size(); ++i) EXPECT_TRUE(nulls[i].is_null()) << i;
}

TEST(JsonFormat, VariantFieldsAndOddDecimalsKeepValidJson) {
  TFDMemTable t;
  t.FieldDefs().Add("V", ftVariant);
  t.CreateDataSet();
  const struct {
    OleVariant value;
    nlohmann::json expected;
  } cases[] = {
      {OleVariant(BcdValue{"00.50", 3, 2}), 0.5},  // written in canonical form
      {OleVariant(BcdValue{"n/a", 3, 2}), "n/a"},  // not a number: a text
      {OleVariant::VarArrayCreate(0, 1), "<Array of Variant>"},
      {OleVariant(int16_t{-3}), -3},
      {OleVariant("t"), "t"},
  };
  for (const auto& c : cases) AddRow(t, {c.value});
  const nlohmann::json doc = nlohmann::json::parse(Render(OutputFormat::Json, t));
  ASSERT_EQ(doc["rows"].size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(doc["rows"][i][0], cases[i].expected) << i;
}

TEST(JsonFormat, NonFiniteFloatsBecomeTextsAndNoRowsAnEmptyArray) {
  TFDMemTable t;
  t.FieldDefs().Add("F", ftFloat);
  t.CreateDataSet();
  EXPECT_EQ(nlohmann::json::parse(Render(OutputFormat::Json, t))["rows"], nlohmann::json::array());
  AddRow(t, {OleVariant(1.0 / 0.0)});
  AddRow(t, {OleVariant(-1.0 / 0.0)});
  const nlohmann::json doc = nlohmann::json::parse(Render(OutputFormat::Json, t));
  EXPECT_EQ(doc["rows"], (nlohmann::json{{"Infinity"}, {"-Infinity"}}));
}

TEST(TableFormat, AlignsColumnsByDisplayWidth) {
  TFDMemTable t;
  t.FieldDefs().Add("ID", ftInteger);
  t.FieldDefs().Add("NAME", ftWideString, 20);
  t.FieldDefs().Add("NOTE", ftWideString, 20);
  t.CreateDataSet();
  AddRow(t, {OleVariant(1), OleVariant("数据库"), OleVariant("x")});
  AddRow(t, {OleVariant(22), OleVariant("ab"), OleVariant("tab\there")});
  AddRow(t, {OleVariant(333), OleVariant::Null(), OleVariant("é")});
  AddRow(t, {OleVariant(4)});
  EXPECT_EQ(Render(OutputFormat::Table, t),
            "ID  | NAME   | NOTE\n"
            "----+--------+----------\n"
            "  1 | 数据库 | x\n"
            " 22 | ab     | tab\\there\n"
            "333 |        | é\n"
            "  4 |        |\n"
            "(4 rows)\n");
}

TEST(TableFormat, EmptyResultShowsHeaderAndCount) {
  TFDMemTable t;
  t.FieldDefs().Add("名称", ftWideString, 10);
  t.CreateDataSet();
  EXPECT_EQ(Render(OutputFormat::Table, t), "名称\n----\n(0 rows)\n");
}

TEST(OutputFormatName, KnowsTheThreeFormats) {
  EXPECT_EQ(OutputFormatFromName("table"), OutputFormat::Table);
  EXPECT_EQ(OutputFormatFromName("csv"), OutputFormat::Csv);
  EXPECT_EQ(OutputFormatFromName("json"), OutputFormat::Json);
  EXPECT_EQ(OutputFormatFromName("xml"), std::nullopt);
}

TEST(FileListing, TurnsTheThreeTextsIntoRows) {
  TFDMemTable t;
  BuildFileListing("a.txt|b.dat|c", "202201181530|202201191005|garbage", "10|2048|x", t);
  EXPECT_EQ(Render(OutputFormat::Csv, t),
            "name,size,time\r\n"
            "a.txt,10,2022-01-18 15:30:00\r\n"
            "b.dat,2048,2022-01-19 10:05:00\r\n"
            "c,,\r\n");
  const nlohmann::json doc = nlohmann::json::parse(Render(OutputFormat::Json, t));
  EXPECT_EQ(doc["rows"][1], (nlohmann::json{"b.dat", 2048, "2022-01-19T10:05:00"}));
}

TEST(FileListing, EmptyTextsGiveNoRowsAndUnevenTextsAreRefused) {
  TFDMemTable t;
  BuildFileListing("", "", "", t);
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(SplitListing("a||b"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_THROW(BuildFileListing("a|b", "202201181530", "1|2", t), std::runtime_error);
}

}  // namespace
}  // namespace velmora::test
