// The ODBC driver's query, parameter, several-statement and type paths for real,
// through SQLite's ODBC driver (libsqliteodbc, registered as "SQLite3") on a file in a fresh
// folder. That driver takes one statement per call, so texts of several statements are split.
#include <fmt/core.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "data/params.h"
#include "tests/db/odbc/odbc_test_support.h"
#include "tests/support/temp_dir.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

class OdbcSQLiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_ = OpenOdbc("DriverID=ODBC\nODBCDriver=SQLite3\nDatabase=" + dir_.File("o.db"));
  }
  TempDir dir_;
  std::unique_ptr<TFDConnection> connection_;
};

TEST_F(OdbcSQLiteTest, ParametersOfEachTypeRoundTrip) {
  Exec(*connection_,
       "CREATE TABLE t (id INTEGER PRIMARY KEY, name VARCHAR(20), price DECIMAL(10,2), "
       "ratio DOUBLE, born DATE, seen TIMESTAMP, data BLOB, flag BIT)");
  TFDQuery insert;
  insert.SetConnection(connection_.get());
  insert.SQL().SetText(
      "INSERT INTO t VALUES (:id, :name, :price, :ratio, :born, :seen, :data, :flag)");
  insert.ParamByName("id").SetValue(OleVariant(int32_t{7}));
  insert.ParamByName("name").SetValue(OleVariant("价格 ok"));
  insert.ParamByName("price").DataType = ftFMTBcd;
  insert.ParamByName("price").SetValue(OleVariant("12.50"));
  insert.ParamByName("ratio").SetValue(OleVariant(0.25));
  insert.ParamByName("born").DataType = ftDate;
  insert.ParamByName("born").SetValue(OleVariant::Date(EncodeDateTime({2024, 2, 29})));
  insert.ParamByName("seen").DataType = ftDateTime;
  insert.ParamByName("seen").SetValue(
      OleVariant::Date(EncodeDateTime({2023, 12, 31, 23, 59, 58, 0})));
  insert.ParamByName("data").DataType = ftBlob;
  insert.ParamByName("data").SetValue(OleVariant::Bytes(std::string("a\0b", 3)));
  insert.ParamByName("flag").DataType = ftBoolean;
  insert.ParamByName("flag").SetValue(OleVariant(true));
  insert.ExecSQL();
  EXPECT_EQ(insert.RowsAffected(), 1);

  TFDQuery q;
  q.SetConnection(connection_.get());
  q.SQL().SetText("SELECT id, name, price, ratio, born, seen, data, flag FROM t WHERE id = :id");
  q.ParamByName("id").SetValue(OleVariant(int64_t{7}));
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("name").AsString(), "价格 ok");
  EXPECT_EQ(q.FieldDefs().Find("name")->DataType, ftWideString);
  // SQLite's ODBC driver describes DECIMAL(10,2) as VARCHAR(10), its scale elsewhere: read by the
  // declared type, a decimal of that precision and scale.
  const TFieldDef& price = *q.FieldDefs().Find("price");
  EXPECT_EQ(FieldTypeName(price.DataType), "ftFMTBcd");
  EXPECT_EQ(price.Precision, 10);
  EXPECT_EQ(price.Scale, 2);
  EXPECT_EQ(q.FieldByName("price").AsString(), "12.5");
  EXPECT_DOUBLE_EQ(q.FieldByName("ratio").AsFloat(), 0.25);
  EXPECT_EQ(q.FieldDefs().Find("born")->DataType, ftDate);
  EXPECT_DOUBLE_EQ(q.FieldValues("born").AsDouble(), EncodeDateTime({2024, 2, 29}));
  EXPECT_EQ(q.FieldDefs().Find("seen")->DataType, ftDateTime);
  EXPECT_DOUBLE_EQ(q.FieldValues("seen").AsDouble(), EncodeDateTime({2023, 12, 31, 23, 59, 58, 0}));
  EXPECT_EQ(q.FieldByName("data").AsString(), std::string("a\0b", 3));
  EXPECT_TRUE(q.FieldValues("flag").AsBoolean());
}

TEST_F(OdbcSQLiteTest, NullsAndLongTextComeBackWhole) {
  Exec(*connection_, "CREATE TABLE t (id INTEGER, note TEXT)");
  const std::string long_text(70000, 'x');
  TFDQuery insert;
  insert.SetConnection(connection_.get());
  insert.SQL().SetText("INSERT INTO t VALUES (1, :a); INSERT INTO t VALUES (2, :b)");
  insert.ParamByName("a").SetValue(OleVariant(long_text + "é"));
  insert.ParamByName("b").DataType = ftWideString;
  insert.ParamByName("b").SetValue(OleVariant::Null());
  insert.ExecSQL();
  EXPECT_EQ(insert.RowsAffected(), 2);
  TFDQuery q;
  q.SetConnection(connection_.get());
  q.SQL().SetText("SELECT note FROM t ORDER BY id");
  q.Open();
  EXPECT_EQ(q.FieldByName("note").AsString(), long_text + "é");
  q.Next();
  EXPECT_TRUE(q.FieldByName("note").IsNull());
}

TEST_F(OdbcSQLiteTest, SeveralStatementsPerText) {
  // Statements without rows before the select run; the select's rows are the result.
  TFDQuery q;
  q.SetConnection(connection_.get());
  q.SQL().SetText(
      "CREATE TABLE t (a INTEGER, b VARCHAR(10)); -- a ; in a comment\n"
      "INSERT INTO t VALUES (:x, 'p;q'); INSERT INTO t VALUES (:y, 'r');\n"
      "SELECT a, b FROM t ORDER BY a; UPDATE t SET a = a + 10");
  q.ParamByName("x").SetValue(OleVariant(int32_t{1}));
  q.ParamByName("y").SetValue(OleVariant(int32_t{2}));
  q.Open();
  ASSERT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.FieldByName("b").AsString(), "p;q");
  // The statement after the select ran too.
  EXPECT_EQ(Scalar(*connection_, "SELECT SUM(a) FROM t"), "23");
  // A trigger body holds ";" and stays one statement.
  Exec(*connection_,
       "CREATE TABLE log (n INTEGER);\n"
       "CREATE TRIGGER t_log AFTER INSERT ON t BEGIN INSERT INTO log VALUES (new.a); "
       "UPDATE log SET n = n + 0 WHERE n = CASE WHEN new.a > 0 THEN new.a END; END;");
  EXPECT_NE(ErrorOf([&] { Exec(*connection_, "INSERT INTO t VALUES (3, 'z'); SELEC 1"); }), "");
  EXPECT_EQ(Scalar(*connection_, "SELECT n FROM log"), "3");
  EXPECT_EQ(Scalar(*connection_, "SELECT COUNT(*) FROM t"), "3");  // the first statement ran
}

// The driver never reports its connection dead; the session watches the file itself, as the
// native SQLite session does: a file deleted, or replaced by another, makes it unusable.
TEST_F(OdbcSQLiteTest, AFileDeletedOrReplacedMakesTheSessionUnusable) {
  Exec(*connection_, "CREATE TABLE t (a INTEGER)");
  const std::string path = dir_.File("o.db");
  for (const char* what : {"deleted", "replaced"}) {
    SCOPED_TRACE(what);
    auto session = OpenOdbc("DriverID=ODBC\nODBCDriver=SQLite3\nDatabase=" + path);
    EXPECT_EQ(session->UnusableReason(), "");
    if (std::string(what) == "deleted") {
      ASSERT_EQ(std::remove(path.c_str()), 0);
    } else {
      const std::string other = dir_.File("other.db");
      OpenOdbc("DriverID=ODBC\nODBCDriver=SQLite3\nDatabase=" + other);
      ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    }
    // Without looking, only what the session saw itself: a failed statement.
    EXPECT_EQ(session->UnusableReason(false), "");
    EXPECT_NE(ErrorOf([&] { Exec(*session, "INSERT INTO t VALUES (1)"); }), "");
    EXPECT_EQ(
        session->UnusableReason(false),
        fmt::format("The database file was {} since this connection opened it: {}", what, path));
  }
}

}  // namespace
}  // namespace velmora::test
