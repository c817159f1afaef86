// The ODBC driver against PostgreSQL's ODBC driver: types, keys, parameters, several statements
// per text. (Transactions, the time-out and cancel of a running statement and a lost session are
// conformance cases, run on every engine: tests/db/conformance.)
#include <fmt/core.h>
#include <gtest/gtest.h>

#include "data/params.h"
#include "tests/db/odbc/odbc_pg_support.h"
#include "tests/db/odbc/odbc_test_support.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

TEST(OdbcPg, TypesKeysAndOrigins) {
  REQUIRE_PG_SERVER(server);
  PgTestDatabase db(server);
  db.Psql(
      "CREATE TABLE t (id int PRIMARY KEY, s smallint, b bigint, n numeric(10,2), "
      "w numeric(12,0), r real, d double precision, f boolean, c char(3), v varchar(20), "
      "x text, y bytea, dt date, tm time, ts timestamp, u uuid);"
      "INSERT INTO t VALUES (1, -2, 9000000000, 12.34, 123456789012, 1.5, 2.25, true, 'ab', "
      "'价格', 'long text', '\\x00ff', '2024-02-29', '13:14:15.5', '2023-12-31 23:59:58.123', "
      "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11');"
      "INSERT INTO t (id) VALUES (2);");
  auto connection = OpenOdbc(OdbcPgLines(db));
  TFDQuery q;
  q.SetConnection(connection.get());
  q.SQL().SetText(
      "SELECT id, s, b, n, w, r, d, f, c, v, x, y, dt, tm, ts, u, id + 1 AS e "
      "FROM t ORDER BY id");
  q.Open();
  const struct {
    const char* name;
    TFieldType type;
    const char* text;
  } cases[] = {
      {"id", ftInteger, "1"},
      {"s", ftSmallint, "-2"},
      {"b", ftLargeint, "9000000000"},
      {"n", ftFMTBcd, "12.34"},
      {"w", ftLargeint, "123456789012"},
      {"r", ftSingle, "1.5"},
      {"d", ftFloat, "2.25"},
      {"f", ftBoolean, "True"},
      {"c", ftFixedWideChar, "ab "},
      {"v", ftWideString, "价格"},
      {"x", ftWideMemo, "long text"},
      {"u", ftGuid, "{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(q.FieldDefs().Find(c.name)->DataType, c.type) << c.name;
    EXPECT_EQ(q.FieldByName(c.name).AsString(), c.text) << c.name;
  }
  EXPECT_EQ(q.FieldByName("y").AsString(), std::string("\0\xff", 2));
  EXPECT_EQ(q.FieldDefs().Find("dt")->DataType, ftDate);
  EXPECT_DOUBLE_EQ(q.FieldValues("dt").AsDouble(), EncodeDateTime({2024, 2, 29}));
  EXPECT_EQ(q.FieldDefs().Find("tm")->DataType, ftTime);
  EXPECT_DOUBLE_EQ(q.FieldValues("tm").AsDouble(), EncodeDateTime({1899, 12, 30, 13, 14, 15, 500}));
  EXPECT_EQ(q.FieldDefs().Find("ts")->DataType, ftDateTime);
  EXPECT_DOUBLE_EQ(q.FieldValues("ts").AsDouble(), EncodeDateTime({2023, 12, 31, 23, 59, 58, 123}));
  // Key and origin: from the driver's base names and SQLPrimaryKeys.
  const TFieldDef& id = *q.FieldDefs().Find("id");
  EXPECT_TRUE(id.InKey);
  EXPECT_TRUE(id.Required);
  EXPECT_EQ(id.OriginTable, "t");
  EXPECT_EQ(id.OriginColumn, "id");
  EXPECT_FALSE(q.FieldDefs().Find("v")->InKey);
  EXPECT_EQ(q.FieldDefs().Find("v")->OriginColumn, "v");
  EXPECT_EQ(q.FieldDefs().Find("e")->OriginTable, "");
  q.Next();
  for (const char* name : {"s", "n", "f", "v", "y", "dt", "tm", "ts", "u"})
    EXPECT_TRUE(q.FieldByName(name).IsNull()) << name;
}

TEST(OdbcPg, ParametersAndSeveralStatementsPerText) {
  REQUIRE_PG_SERVER(server);
  PgTestDatabase db(server);
  db.Psql("CREATE TABLE t (id int PRIMARY KEY, name varchar(20), seen timestamp)");
  auto connection = OpenOdbc(OdbcPgLines(db));
  TFDQuery batch;
  batch.SetConnection(connection.get());
  batch.SQL().SetText(
      "INSERT INTO t VALUES (:a, :name, :seen); INSERT INTO t VALUES (:b, 'x;y', NULL);\n"
      "UPDATE t SET name = name || '!' WHERE id = :b");
  batch.ParamByName("a").SetValue(OleVariant(int32_t{1}));
  batch.ParamByName("b").SetValue(OleVariant(int32_t{2}));
  batch.ParamByName("name").SetValue(OleVariant("张三"));
  batch.ParamByName("seen").DataType = ftDateTime;
  batch.ParamByName("seen").SetValue(OleVariant::Date(EncodeDateTime({2024, 5, 6, 7, 8, 9, 10})));
  batch.ExecSQL();
  EXPECT_EQ(batch.RowsAffected(), 3);
  EXPECT_EQ(db.Psql("SELECT name || '|' || seen FROM t WHERE id = 1"),
            "张三|2024-05-06 07:08:09.01\n");
  EXPECT_EQ(db.Psql("SELECT name FROM t WHERE id = 2"), "x;y!\n");

  // A function body holds ";" and the text goes to the server whole.
  Exec(*connection,
       "CREATE FUNCTION twice(n int) RETURNS int AS $$ BEGIN n := n * 2; RETURN n; END $$ "
       "LANGUAGE plpgsql");
  // Row-count-only results before the rows are skipped; the statement after them still runs.
  TFDQuery q;
  q.SetConnection(connection.get());
  q.SQL().SetText(
      "UPDATE t SET id = id + 10; SELECT twice(id) AS v FROM t WHERE id > :m "
      "ORDER BY id; DELETE FROM t WHERE id = 12");
  q.ParamByName("m").SetValue(OleVariant(int32_t{10}));
  q.Open();
  ASSERT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.FieldByName("v").AsString(), "22");
  EXPECT_EQ(db.Psql("SELECT count(*) FROM t"), "1\n");
}

TEST(OdbcPg, InformationalResultsAndProcedureTextsRunToTheEnd) {
  REQUIRE_PG_SERVER(server);
  PgTestDatabase db(server);
  db.Psql("CREATE TABLE t (a int)");
  auto connection = OpenOdbc(OdbcPgLines(db));
  // Notices come as SQL_SUCCESS_WITH_INFO: success, and the statements after them still run.
  Exec(*connection,
       "DO $$ BEGIN RAISE NOTICE 'step 1'; END $$; INSERT INTO t VALUES (1);\n"
       "DO $$ BEGIN RAISE NOTICE 'step 2'; END $$; INSERT INTO t VALUES (2)");
  EXPECT_EQ(db.Psql("SELECT count(*) FROM t"), "2\n");
  // A procedure body holds ";": the text reaches the server whole.
  Exec(*connection,
       "CREATE PROCEDURE add_two(n int) LANGUAGE plpgsql AS $$ BEGIN "
       "INSERT INTO t VALUES (n); INSERT INTO t VALUES (n + 1); END $$;\n"
       "CALL add_two(10)");
  EXPECT_EQ(db.Psql("SELECT string_agg(a::text, ',' ORDER BY a) FROM t"), "1,2,10,11\n");
}

// A failed statement undoes itself only: in a transaction the session goes on and the commit keeps
// the rest. A file's Protocol line still decides: "7.4-1" gives the whole transaction up at the
// failure, "7.4-0" leaves the session in an aborted transaction until its end.
TEST(OdbcPg, AFailedStatementInATransactionUndoesItselfOnly) {
  REQUIRE_PG_SERVER(server);
  const struct {
    const char* extra_line;
    const char* next_error;  // part of the next statement's error; "": it runs
    const char* rows_after_commit;
  } cases[] = {
      {"", "", "1,2\n"},
      {"\nProtocol=7.4-1", "", "2\n"},
      {"\nProtocol=7.4-0", "current transaction is aborted", "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra_line);
    PgTestDatabase db(server);
    db.Psql("CREATE TABLE t (a int PRIMARY KEY)");
    auto connection = OpenOdbc(OdbcPgLines(db) + c.extra_line);
    connection->StartTransaction();
    Exec(*connection, "INSERT INTO t VALUES (1)");
    EXPECT_NE(ErrorOf([&] { Exec(*connection, "INSERT INTO t VALUES (1)"); }), "");
    const std::string next = ErrorOf([&] { Exec(*connection, "INSERT INTO t VALUES (2)"); });
    if (*c.next_error == '\0') {
      EXPECT_EQ(next, "");
    } else {
      EXPECT_NE(next.find(c.next_error), std::string::npos) << next;
    }
    connection->Commit();
    EXPECT_EQ(db.Psql("SELECT string_agg(a::text, ',' ORDER BY a) FROM t"), c.rows_after_commit);
  }
}

}  // namespace
}  // namespace velmora::test
