// Firebird's types as field types and values, both ways: parameters bound and columns read.
#include <fmt/core.h>
#include <gtest/gtest.h>

#include <cstring>

#include "tests/db/firebird/fb_test_support.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

using FbTypes = FbTest;

struct TypeCase {
  const char* column;
  const char* declared;
  OleVariant value;  // bound as a parameter
  TFieldType type;
  int size, precision, scale;
  const char* text;  // the value read back, as the field's text
};

double Stamp(int y, int mo, int d, int h, int mi, int s, int ms) {
  return EncodeDateTime({y, mo, d, h, mi, s, ms});
}

TEST_F(FbTypes, EachTypeMapsToItsFieldTypeAndRoundTripsItsValue) {
  const std::string bytes("\x00\xFF;\x01", 4);
  const TypeCase cases[] = {
      {"C_SMALL", "SMALLINT", OleVariant(int16_t{-32768}), ftSmallint, 0, 0, 0, "-32768"},
      {"C_INT", "INTEGER", OleVariant(int32_t{2147483647}), ftInteger, 0, 0, 0, "2147483647"},
      {"C_BIG", "BIGINT", OleVariant(int64_t{-9223372036854775807LL}), ftLargeint, 0, 0, 0,
       "-9223372036854775807"},
      {"C_N42", "NUMERIC(4,2)", OleVariant(BcdValue{"-12.34", 4, 2}), ftFMTBcd, 0, 4, 2, "-12.34"},
      {"C_N93", "NUMERIC(9,3)", OleVariant(0.5), ftFMTBcd, 0, 9, 3, "0.5"},
      {"C_D184", "DECIMAL(18,4)", OleVariant(BcdValue{"92233720368547.5807", 18, 4}), ftFMTBcd, 0,
       18, 4, "92233720368547.5807"},
      {"C_CUR", "DECIMAL(18,4)", OleVariant::Currency(-12345), ftFMTBcd, 0, 18, 4, "-1.2345"},
      {"C_FLOAT", "FLOAT", OleVariant(1.5f), ftSingle, 0, 0, 0, "1.5"},
      {"C_DOUBLE", "DOUBLE PRECISION", OleVariant(0.1), ftFloat, 0, 0, 0, "0.1"},
      {"C_DATE", "DATE", OleVariant::Date(Stamp(1858, 11, 17, 0, 0, 0, 0)), ftDate, 0, 0, 0,
       "1858-11-17"},
      {"C_TIME", "TIME", OleVariant::Date(Stamp(1899, 12, 30, 23, 59, 58, 123)), ftTime, 0, 0, 0,
       "1899-12-30 23:59:58.123"},
      {"C_STAMP", "TIMESTAMP", OleVariant::Date(Stamp(2024, 2, 29, 13, 45, 10, 7)), ftDateTime, 0,
       0, 0, "2024-02-29 13:45:10.007"},
      {"C_STAMP_TEXT", "TIMESTAMP", OleVariant("2001-02-03 04:05:06"), ftDateTime, 0, 0, 0,
       "2001-02-03 04:05:06"},
      {"C_CHAR", "CHAR(3)", OleVariant("日本"), ftFixedWideChar, 3, 0, 0, "日本 "},
      {"C_VARCHAR", "VARCHAR(5)", OleVariant("añø€😀"), ftWideString, 5, 0, 0, "añø€😀"},
      {"C_WIN", "VARCHAR(4) CHARACTER SET WIN1252", OleVariant("é€"), ftWideString, 4, 0, 0, "é€"},
      {"C_OCT", "CHAR(4) CHARACTER SET OCTETS", OleVariant::Bytes(bytes), ftBytes, 4, 0, 0,
       nullptr},
      {"C_VOCT", "VARCHAR(6) CHARACTER SET OCTETS", OleVariant::Bytes(bytes), ftVarBytes, 6, 0, 0,
       nullptr},
      {"C_MEMO", "BLOB SUB_TYPE TEXT", OleVariant(std::string(70000, 'x') + "ü"), ftWideMemo, 0, 0,
       0, nullptr},
      {"C_BLOB", "BLOB SUB_TYPE BINARY", OleVariant::Bytes(std::string(40000, '\0') + bytes),
       ftBlob, 0, 0, 0, nullptr},
      {"C_BOOL", "BOOLEAN", OleVariant(true), ftBoolean, 0, 0, 0, "True"},
  };
  std::string create = "CREATE TABLE TY (ID INTEGER NOT NULL PRIMARY KEY";
  std::string insert = "INSERT INTO TY VALUES (:ID";
  for (const TypeCase& c : cases) {
    create += fmt::format(", {} {}", c.column, c.declared);
    insert += fmt::format(", :{}", c.column);
  }
  Exec(create + ")");
  TFDQuery q;
  q.SetConnection(&connection_);
  q.SQL().SetText(insert + ")");
  q.ParamByName("ID").SetValue(OleVariant(int32_t{1}));
  for (const TypeCase& c : cases) {
    TParam& param = q.ParamByName(c.column);
    if (c.value.IsByteArray()) param.DataType = c.type;  // a byte array names no type itself
    param.SetValue(c.value);
  }
  q.ExecSQL();
  q.ParamByName("ID").SetValue(OleVariant(int32_t{2}));
  for (const TypeCase& c : cases) q.ParamByName(c.column).SetValue(OleVariant::Null());
  q.ExecSQL();

  q.SQL().SetText("SELECT * FROM TY ORDER BY ID");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 2);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TypeCase& c = cases[i];
    SCOPED_TRACE(c.column);
    const int index = static_cast<int>(i) + 1;
    const TFieldDef& def = q.FieldDefs()[index];
    EXPECT_EQ(FieldTypeName(def.DataType), FieldTypeName(c.type));
    EXPECT_EQ(def.Size, c.size);
    EXPECT_EQ(def.Precision, c.precision);
    EXPECT_EQ(def.Scale, c.scale);
    EXPECT_EQ(def.OriginColumn, c.column);
    const TField field = q.Fields(index);
    if (c.text != nullptr) {
      EXPECT_EQ(field.AsString(), c.text);
    } else if (c.value.IsByteArray()) {
      const OleVariant got = field.Value();
      ASSERT_TRUE(got.IsByteArray());
      EXPECT_EQ(got.ByteData().bytes, c.value.ByteData().bytes);
    } else {
      EXPECT_EQ(field.AsString(), c.value.AsString());
    }
  }
  q.Next();
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].column);
    EXPECT_TRUE(q.Fields(static_cast<int>(i) + 1).IsNull());
  }
}

// Another connection character set: text still reaches datasets as UTF-8 and goes back as it
// came.
TEST_F(FbTypes, AConnectionCharacterSetOtherThanUtf8ConvertsText) {
  Exec("CREATE TABLE W (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10), M BLOB SUB_TYPE TEXT)");
  TFDConnection win;
  SetFbParams(win.Params(), db_path_);
  win.Params().SetValue("CharacterSet", "WIN1252");
  win.Open();
  TFDQuery q;
  q.SetConnection(&win);
  q.SQL().SetText("INSERT INTO W VALUES (1, :V, :M)");
  q.ParamByName("V").SetValue(OleVariant("Café €5"));
  q.ParamByName("M").SetValue(OleVariant("Crème brûlée"));
  q.ExecSQL();
  q.SQL().SetText("SELECT V, M FROM W");
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "Café €5");
  EXPECT_EQ(q.Fields(1).AsString(), "Crème brûlée");
  EXPECT_EQ(q.FieldDefs()[0].Size, 10);
  EXPECT_EQ(Scalar("SELECT V FROM W"), "Café €5");  // the UTF8 connection reads the same
}

}  // namespace
}  // namespace velmora::test
