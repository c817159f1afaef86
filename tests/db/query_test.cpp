#include "db/core/query.h"

#include <gtest/gtest.h>

#include "data/mem_table.h"
#include "db/core/db_error.h"
#include "tests/db/sqlite_test_support.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

using QueryTest = SQLiteTest;

TEST_F(QueryTest, SeveralStatementsRunInTurnAndCountAffectedRows) {
  query_.SQL().Add("CREATE TABLE T (A INT, B VARCHAR(10));");
  query_.SQL().Add("INSERT INTO T VALUES (1, 'x'), (2, 'y');");
  query_.SQL().Add("UPDATE T SET B = 'z' WHERE A = 2; SELECT * FROM T;");
  query_.SQL().Add("-- trailing comment");
  query_.ExecSQL();
  EXPECT_EQ(query_.RowsAffected(), 3);
  EXPECT_EQ(Scalar("SELECT group_concat(B) FROM T"), "x,z");

  // A later statement that fails leaves the earlier ones done (automatic commit).
  query_.SQL().SetText("INSERT INTO T VALUES (3, 'w'); INSERT INTO NOPE VALUES (1)");
  EXPECT_EQ(ErrorOf([&] { query_.ExecSQL(); }), "no such table: NOPE");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM T"), "3");
}

TEST_F(QueryTest, OpenRefusesEmptyTextAndTextWithoutResultSet) {
  query_.SQL().SetText("  \r\n ");
  EXPECT_EQ(ErrorOf([&] { query_.Open(); }), "Command text is empty");
  query_.SQL().SetText("DELETE FROM BIG_TABLE");
  EXPECT_EQ(ErrorOf([&] { query_.Open(); }), "Command text does not return a result set");
  EXPECT_FALSE(query_.Active());
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BIG_TABLE"), "50");  // and it did not run
  query_.SQL().SetText("SELECT * FROM NOPE");
  EXPECT_EQ(ErrorOf([&] { query_.Open(); }), "no such table: NOPE");
  query_.SQL().SetText("SELECT 1 AS ONE");  // the same object works afterwards
  query_.Open();
  EXPECT_EQ(query_.Fields(0).AsInteger(), 1);
}

TEST_F(QueryTest, EmptyResultKeepsTheStructure) {
  query_.SQL().SetText("SELECT ID, NAME FROM BIG_TABLE WHERE ID < 0");
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 0);
  ASSERT_EQ(query_.FieldDefs().Count(), 2);
  EXPECT_EQ(query_.FieldDefs()[1].DataType, ftWideString);
  EXPECT_EQ(query_.FieldDefs()[1].Size, 40);
}

TEST_F(QueryTest, UntypedParameterMarkerFailsNamingIt) {
  query_.SQL().SetText("SELECT * FROM BIG_TABLE WHERE ID = :ID");
  ASSERT_EQ(query_.Params().Count(), 1);
  EXPECT_EQ(ErrorOf([&] { query_.Open(); }), "Parameter [ID] data type is unknown");
  query_.SQL().SetText("DELETE FROM BIG_TABLE WHERE NAME = :who");
  EXPECT_EQ(ErrorOf([&] { query_.ExecSQL(); }), "Parameter [who] data type is unknown");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM BIG_TABLE"), "50");
}

TEST_F(QueryTest, ParameterValuesBindByTypeAndKeepAcrossTextChanges) {
  query_.SQL().SetText("SELECT ID, NAME FROM BIG_TABLE WHERE ID BETWEEN :lo AND :HI OR NAME = :lo");
  query_.ParamByName("LO").SetValue(int32_t{3});
  query_.ParamByName("hi").DataType = ftLargeint;
  query_.ParamByName("hi").SetValue(std::string("5"));
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 3);
  query_.Close();
  query_.SQL().SetText("SELECT COUNT(*) FROM BIG_TABLE WHERE ID > :lo");  // lo keeps its value
  ASSERT_EQ(query_.Params().Count(), 1);
  query_.Open();
  EXPECT_EQ(query_.Fields(0).AsInteger(), 47);

  Exec("CREATE TABLE D (K INTEGER PRIMARY KEY, DT DATE, TS DATETIME, B BLOB, F BOOLEAN)");
  query_.Close();
  query_.SQL().SetText("INSERT INTO D (DT, TS, B, F) VALUES (:dt, :ts, :b, :f)");
  query_.ParamByName("dt").DataType = ftDate;
  query_.ParamByName("dt").SetValue(OleVariant::Date(EncodeDateTime({2024, 3, 5})));
  query_.ParamByName("ts").SetValue(
      OleVariant::Date(EncodeDateTime({2024, 3, 5, 10, 11, 12, 130})));
  query_.ParamByName("b").DataType = ftBlob;
  query_.ParamByName("b").SetValue(OleVariant::Bytes(std::string("\0\1\2", 3)));
  query_.ParamByName("f").SetValue(true);
  query_.ExecSQL();
  EXPECT_EQ(query_.RowsAffected(), 1);
  EXPECT_EQ(Scalar("SELECT DT || '|' || TS || '|' || hex(B) || '|' || F FROM D"),
            "2024-03-05|2024-03-05 10:11:12.130|000102|1");
}

TEST_F(QueryTest, LiteralColonsAndEscapesReachTheEngineAsMeant) {
  query_.SQL().SetText(
      "SELECT ':x' AS A, 'a::b' AS B, {d '2024-03-05'} AS C, {fn CONCAT('x', {fn UCASE('y')})} AS "
      "D, "
      "'a' || '::' AS E /* :nope */ -- :nope\n");
  EXPECT_EQ(query_.Params().Count(), 0);
  query_.Open();
  EXPECT_EQ(query_.FieldValues("A").AsString(), ":x");
  EXPECT_EQ(query_.FieldValues("B").AsString(), "a::b");
  EXPECT_EQ(query_.FieldValues("C").AsString(), "2024-03-05");
  EXPECT_EQ(query_.FieldValues("D").AsString(), "xY");
  EXPECT_EQ(query_.FieldValues("E").AsString(), "a::");
}

TEST_F(QueryTest, ColumnsCarryKeyOriginAndNullability) {
  query_.SQL().SetText("SELECT b.ID, b.NAME AS N, b.PRICE * 2 AS P2, 'k' AS K FROM BIG_TABLE b");
  query_.Open();
  const TFieldDefs& defs = query_.FieldDefs();
  ASSERT_EQ(defs.Count(), 4);
  EXPECT_TRUE(defs[0].InKey);
  EXPECT_EQ(defs[0].OriginTable, "BIG_TABLE");
  EXPECT_EQ(defs[0].OriginColumn, "ID");
  EXPECT_EQ(defs[1].Name, "N");
  EXPECT_EQ(defs[1].OriginColumn, "NAME");
  EXPECT_TRUE(defs[1].Required);
  EXPECT_FALSE(defs[1].InKey);
  // Expressions: typed from their values, no origin.
  EXPECT_EQ(defs[2].DataType, ftFloat);
  EXPECT_TRUE(defs[2].OriginTable.empty());
  EXPECT_EQ(defs[3].DataType, ftWideString);
  EXPECT_EQ(defs[3].Size, 1);
}

TEST_F(QueryTest, ExpressionTypeFitsEveryRowNotJustTheFirst) {
  query_.SQL().SetText(
      "SELECT CASE WHEN ID = 1 THEN NULL WHEN ID = 2 THEN 7 ELSE ID / 4.0 END AS X "
      "FROM BIG_TABLE WHERE ID <= 3 ORDER BY ID");
  query_.Open();
  EXPECT_EQ(query_.FieldDefs()[0].DataType, ftFloat);
  query_.Last();
  EXPECT_DOUBLE_EQ(query_.Fields(0).AsFloat(), 0.75);
}

TEST_F(QueryTest, ValueThatDoesNotFitItsDeclaredTypeFailsInsteadOfBeingCut) {
  Exec("CREATE TABLE N (S SMALLINT, D DATE); INSERT INTO N VALUES (70000, '2024-01-01')");
  query_.SQL().SetText("SELECT S FROM N");
  EXPECT_EQ(ErrorOf([&] { query_.Open(); }),
            "Cannot convert value '70000' of column [S] to ftSmallint");
  Exec("UPDATE N SET S = 1, D = 'yesterday'");
  query_.SQL().SetText("SELECT * FROM N");
  EXPECT_EQ(ErrorOf([&] { query_.Open(); }),
            "Cannot convert value 'yesterday' of column [D] to ftDate");
}

// Saves the open dataset, loads it into another one and saves that again: the structure, the
// values and the bytes must come back the same.
TEST_F(QueryTest, EveryColumnTypeSurvivesSaveAndLoad) {
  query_.SQL().SetText("SELECT * FROM ALL_TYPES ORDER BY ID");
  query_.Open();
  ASSERT_EQ(query_.RecordCount(), self_host::kAllTypesRows);
  TMemoryStream saved;
  query_.SaveToStream(saved, sfAuto);

  TFDQuery loaded;
  saved.SetPosition(0);
  loaded.LoadFromStream(saved, sfAuto);
  EXPECT_EQ(loaded.FieldDefs(), query_.FieldDefs());
  ASSERT_EQ(loaded.RecordCount(), query_.RecordCount());
  query_.First();
  for (loaded.First(); !loaded.Eof(); loaded.Next(), query_.Next()) {
    for (int i = 0; i < query_.FieldCount(); ++i) {
      EXPECT_EQ(loaded.FieldValue(i), query_.FieldValue(i))
          << query_.FieldDefs()[i].Name << " row " << query_.RecNo();
    }
  }
  TMemoryStream again;
  loaded.SaveToStream(again, sfAuto);
  EXPECT_EQ(again.View(), saved.View());
}

TEST_F(QueryTest, ColumnTypesAndValuesOfTheFixture) {
  query_.SQL().SetText("SELECT * FROM ALL_TYPES ORDER BY ID");
  query_.Open();
  const std::pair<const char*, TFieldType> types[] = {
      {"ID", ftLargeint},          {"C_INT", ftInteger},    {"C_SMALLINT", ftSmallint},
      {"C_TINYINT", ftByte},       {"C_BOOL", ftBoolean},   {"C_REAL", ftFloat},
      {"C_DECIMAL", ftFMTBcd},     {"C_MONEY", ftCurrency}, {"C_VARCHAR", ftWideString},
      {"C_CHAR", ftFixedWideChar}, {"C_TEXT", ftWideMemo},  {"C_BLOB", ftBlob},
      {"C_DATE", ftDate},          {"C_TIME", ftTime},      {"C_DATETIME", ftDateTime},
      {"C_GUID", ftGuid}};
  for (const auto& [name, type] : types) {
    const TFieldDef* def = query_.FieldDefs().Find(name);
    ASSERT_NE(def, nullptr) << name;
    EXPECT_EQ(def->DataType, type) << name << " is " << FieldTypeName(def->DataType);
  }
  EXPECT_EQ(query_.FieldDefs().Find("C_DECIMAL")->Precision, 12);
  EXPECT_EQ(query_.FieldDefs().Find("C_DECIMAL")->Scale, 2);

  EXPECT_EQ(query_.FieldByName("C_INT").AsInteger(), 2147483647);
  EXPECT_EQ(query_.FieldByName("C_BIGINT").AsLargeInt(), 9007199254740993LL);
  EXPECT_TRUE(query_.FieldByName("C_BOOL").AsBoolean());
  EXPECT_DOUBLE_EQ(query_.FieldByName("C_DATE").AsFloat(), EncodeDateTime({2024, 3, 5}));
  EXPECT_DOUBLE_EQ(query_.FieldByName("C_DATETIME").AsFloat(),
                   EncodeDateTime({2024, 3, 5, 13, 45, 30}));
  EXPECT_DOUBLE_EQ(query_.FieldByName("C_TIMESTAMP").AsFloat(),
                   EncodeDateTime({1999, 12, 31, 23, 59, 59, 123}));
  EXPECT_EQ(query_.FieldByName("C_BLOB").Value(),
            OleVariant::Bytes(std::string("\0\1\2\3\xFF", 5)));
  query_.Next();
  EXPECT_EQ(query_.FieldByName("C_VARCHAR").AsString(), "中文文本 äöü 😀");
  EXPECT_EQ(query_.FieldByName("C_TEXT").AsString(), "多行\n文本");
  EXPECT_EQ(query_.FieldByName("C_BLOB").Value(), OleVariant::Bytes(std::string(3, '\0')));
  EXPECT_DOUBLE_EQ(query_.FieldByName("C_TIME").AsFloat(),
                   EncodeDateTime({1899, 12, 30, 0, 0, 0, 500}));
  query_.Next();
  for (int i = 1; i < query_.FieldCount(); ++i) EXPECT_TRUE(query_.Fields(i).IsNull()) << i;
}

}  // namespace
}  // namespace velmora::test
