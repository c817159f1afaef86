// The PostgreSQL driver against a real server: types and values both ways, keys and origins from
// the catalog, several statements per text, routine bodies holding ";", statements stopped by
// their time-out or a cancel, the engine's own messages. (Transactions and escapes are
// conformance cases, run on every engine: tests/db/conformance.)
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "data/params.h"
#include "db/core/db_error.h"
#include "db/core/statement_stop.h"
#include "tests/db/pg/pg_test_support.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

using std::chrono::steady_clock;

TEST_F(PgTest, TypesMapToFieldTypesAndValuesRoundTrip) {
  Exec(
      "CREATE TABLE t (i2 smallint, i4 integer, i8 bigint, n0 numeric(9,0), n2 numeric(12,2),"
      " nf numeric, f4 real, f8 double precision, b boolean, vc varchar(20), ch char(3),"
      " tx text, by bytea, d date, tm time, ts timestamp, tz timestamptz, u uuid, js jsonb,"
      " m money)");
  auto insert = Query(
      "INSERT INTO t VALUES (:i2, :i4, :i8, :n0, :n2, :nf, :f4, :f8, :b, :vc, :ch, :tx, :by, :d,"
      " :tm, :ts, :tz, :u, CAST(:js AS jsonb), CAST(:m AS money))");
  TParams& p = insert->Params();
  p.ParamByName("i2").DataType = ftSmallint;
  p.ParamByName("i2").SetValue(OleVariant(int16_t{-7}));
  p.ParamByName("i4").SetValue(OleVariant(int32_t{2000000000}));
  p.ParamByName("i8").SetValue(OleVariant(int64_t{-9000000000000000000}));
  p.ParamByName("n0").SetValue(OleVariant(int32_t{123456789}));
  p.ParamByName("n2").SetValue(OleVariant("1234567890.25"));
  p.ParamByName("nf").SetValue(OleVariant("3.14159265358979323846"));
  p.ParamByName("f4").SetValue(OleVariant(1.5));
  p.ParamByName("f8").SetValue(OleVariant(0.1));
  p.ParamByName("b").SetValue(OleVariant(true));
  p.ParamByName("vc").SetValue(OleVariant("中文 text"));
  p.ParamByName("ch").SetValue(OleVariant("ab"));
  p.ParamByName("tx").SetValue(OleVariant("line\nbreak"));
  p.ParamByName("by").DataType = ftBlob;
  p.ParamByName("by").SetValue(OleVariant::Bytes(std::string_view("\0\x01\xff'\\", 5)));
  const double when = EncodeDateTime({2024, 2, 29, 13, 14, 15, 678});
  p.ParamByName("d").DataType = ftDate;
  p.ParamByName("d").SetValue(OleVariant::Date(std::floor(when)));
  p.ParamByName("tm").DataType = ftTime;
  p.ParamByName("tm").SetValue(OleVariant::Date(when - std::floor(when)));
  p.ParamByName("ts").SetValue(OleVariant::Date(when));
  p.ParamByName("tz").SetValue(OleVariant::Date(when));
  p.ParamByName("u").SetValue(OleVariant("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"));
  p.ParamByName("js").SetValue(OleVariant("{\"k\": [1, 2]}"));
  p.ParamByName("m").SetValue(OleVariant("12.34"));
  insert->ExecSQL();
  EXPECT_EQ(insert->RowsAffected(), 1);
  Exec("INSERT INTO t DEFAULT VALUES");

  auto q = Open("SELECT * FROM t ORDER BY i2 NULLS LAST");
  struct Expected {
    const char* name;
    TFieldType type;
    int size, precision, scale;
  };
  const Expected expected[] = {
      {"i2", ftSmallint, 0, 0, 0},    {"i4", ftInteger, 0, 0, 0},       {"i8", ftLargeint, 0, 0, 0},
      {"n0", ftInteger, 0, 9, 0},     {"n2", ftFMTBcd, 0, 12, 2},       {"nf", ftFMTBcd, 0, 32, 8},
      {"f4", ftSingle, 0, 0, 0},      {"f8", ftFloat, 0, 0, 0},         {"b", ftBoolean, 0, 0, 0},
      {"vc", ftWideString, 20, 0, 0}, {"ch", ftFixedWideChar, 3, 0, 0}, {"tx", ftWideMemo, 0, 0, 0},
      {"by", ftBlob, 0, 0, 0},        {"d", ftDate, 0, 0, 0},           {"tm", ftTime, 0, 0, 0},
      {"ts", ftDateTime, 0, 0, 0},    {"tz", ftDateTime, 0, 0, 0},      {"u", ftGuid, 38, 0, 0},
      {"js", ftWideMemo, 0, 0, 0},    {"m", ftCurrency, 0, 0, 0},
  };
  ASSERT_EQ(q->FieldDefs().Count(), static_cast<int>(std::size(expected)));
  for (int i = 0; i < q->FieldDefs().Count(); ++i) {
    const TFieldDef& def = q->FieldDefs()[i];
    const Expected& e = expected[i];
    EXPECT_EQ(def.Name, e.name);
    EXPECT_EQ(def.DataType, e.type) << e.name;
    EXPECT_EQ(def.Size, e.size) << e.name;
    EXPECT_EQ(def.Precision, e.precision) << e.name;
    EXPECT_EQ(def.Scale, e.scale) << e.name;
  }
  ASSERT_EQ(q->RecordCount(), 2);
  EXPECT_EQ(q->FieldByName("i2").AsInteger(), -7);
  EXPECT_EQ(q->FieldByName("i4").AsInteger(), 2000000000);
  EXPECT_EQ(q->FieldByName("i8").AsLargeInt(), -9000000000000000000);
  EXPECT_EQ(q->FieldByName("n0").AsInteger(), 123456789);
  EXPECT_EQ(q->FieldByName("n2").AsString(), "1234567890.25");
  EXPECT_EQ(q->FieldByName("nf").AsString(), "3.14159265358979323846");
  EXPECT_EQ(q->FieldByName("f4").AsFloat(), 1.5);
  EXPECT_EQ(q->FieldByName("f8").AsFloat(), 0.1);
  EXPECT_TRUE(q->FieldByName("b").AsBoolean());
  EXPECT_EQ(q->FieldByName("vc").AsString(), "中文 text");
  EXPECT_EQ(q->FieldByName("ch").AsString(), "ab ");
  EXPECT_EQ(q->FieldByName("tx").AsString(), "line\nbreak");
  EXPECT_EQ(q->FieldByName("by").AsString(), std::string("\0\x01\xff'\\", 5));
  EXPECT_EQ(FormatDateTime(q->FieldByName("d").AsFloat()), "2024-02-29");
  EXPECT_EQ(FormatDateTime(q->FieldByName("tm").AsFloat()), "1899-12-30 13:14:15.678");
  EXPECT_EQ(FormatDateTime(q->FieldByName("ts").AsFloat()), "2024-02-29 13:14:15.678");
  // Sent as local time, stored with the session's zone, read back in local time.
  EXPECT_EQ(FormatDateTime(q->FieldByName("tz").AsFloat()), "2024-02-29 13:14:15.678");
  EXPECT_EQ(q->FieldByName("u").AsString(), "{A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11}");
  EXPECT_EQ(q->FieldByName("js").AsString(), "{\"k\": [1, 2]}");
  EXPECT_EQ(q->FieldByName("m").AsFloat(), 12.34);
  q->Next();
  for (int i = 0; i < q->FieldCount(); ++i) EXPECT_TRUE(q->FieldIsNull(i)) << i;

  // Money arrives in the session's lc_monetary=C form: sign, symbol and grouping.
  auto money = Open("SELECT CAST(-1234567.5 AS money) AS m");
  EXPECT_EQ(money->FieldByName("m").AsFloat(), -1234567.5);
}

TEST_F(PgTest, TimeStampTzIsReadInLocalTimeWhateverTheSessionZone) {
  Exec("SET TIME ZONE 'Asia/Kolkata'");
  auto q = Open(
      "SELECT TIMESTAMPTZ '2024-06-01 12:00:00.25+00' AS a, TIMESTAMPTZ '1999-12-31 "
      "23:59:59-03:30' AS b, TIMETZ '10:11:12+02' AS c");
  const auto local = [](int y, int mo, int d, int h, int mi, int s, int ms) {
    std::tm tm{};
    tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d, tm.tm_hour = h, tm.tm_min = mi,
    tm.tm_sec = s;
    const time_t t = timegm(&tm);
    std::tm l{};
    localtime_r(&t, &l);
    return FormatDateTime(EncodeDateTime(
        {l.tm_year + 1900, l.tm_mon + 1, l.tm_mday, l.tm_hour, l.tm_min, l.tm_sec, ms}));
  };
  EXPECT_EQ(FormatDateTime(q->FieldByName("a").AsFloat()), local(2024, 6, 1, 12, 0, 0, 250));
  EXPECT_EQ(FormatDateTime(q->FieldByName("b").AsFloat()), local(2000, 1, 1, 3, 29, 59, 0));
  EXPECT_EQ(FormatDateTime(q->FieldByName("c").AsFloat()), "1899-12-30 10:11:12");
}

TEST_F(PgTest, KeysOriginsAndAutoIncrementComeFromTheCatalog) {
  Exec(
      "CREATE SCHEMA hidden; CREATE TABLE hidden.h (k int PRIMARY KEY);"
      "CREATE TABLE items (shop int, id serial, name varchar(30) NOT NULL, price float8,"
      " seen timestamp, PRIMARY KEY (shop, id));"
      "CREATE TABLE plain (n int GENERATED ALWAYS AS IDENTITY, v text)");
  auto q = Open(
      "SELECT i.shop, i.id, i.name AS label, i.price * 2 AS twice, p.n, h.k FROM items i, plain "
      "p, hidden.h h");
  const TFieldDefs& d = q->FieldDefs();
  EXPECT_TRUE(d[0].InKey);
  EXPECT_TRUE(d[0].Required);
  EXPECT_FALSE(d[0].AutoInc);
  EXPECT_EQ(d[0].OriginTable, "items");
  EXPECT_TRUE(d[1].InKey);
  EXPECT_TRUE(d[1].AutoInc);
  EXPECT_FALSE(d[2].InKey);
  EXPECT_TRUE(d[2].Required);
  EXPECT_EQ(d[2].Name, "label");
  EXPECT_EQ(d[2].OriginColumn, "name");
  EXPECT_TRUE(d[3].ReadOnly);
  EXPECT_EQ(d[3].OriginTable, "");
  EXPECT_TRUE(d[4].AutoInc);
  EXPECT_FALSE(d[4].InKey);
  EXPECT_EQ(d[4].OriginTable, "plain");
  EXPECT_EQ(d[5].OriginTable, "hidden.h");  // not on the search path
  EXPECT_TRUE(d[5].InKey);
}

// The catalog is asked once per table per session: a rename made by another session is not seen
// (the origin comes from memory, no round trip), DDL through this session makes it ask again.
TEST_F(PgTest, TheCatalogIsAskedOncePerTableUntilThisSessionRunsDdl) {
  Exec("CREATE TABLE c (id int PRIMARY KEY, v text); INSERT INTO c VALUES (1, 'a')");
  EXPECT_EQ(Open("SELECT id, v FROM c WHERE id = 1")->FieldDefs()[1].OriginColumn, "v");
  db_->Psql("ALTER TABLE c RENAME COLUMN v TO w");
  EXPECT_EQ(Open("SELECT id, w FROM c WHERE id = 1")->FieldDefs()[1].OriginColumn, "v");
  Exec("CREATE INDEX c_w ON c (w)");
  EXPECT_EQ(Open("SELECT id, w FROM c WHERE id = 1")->FieldDefs()[1].OriginColumn, "w");
}

// A session keeps the column layouts of the results it has described: a layout is reused only for
// columns of the same type, modifier, origin and name, and a DDL statement through the session
// (which may change keys and NOT NULL) drops them all.
TEST_F(PgTest, ResultLayoutsAreReusedOnlyForTheSameShape) {
  Exec(
      "CREATE TABLE keyed (id int PRIMARY KEY, name varchar(10) NOT NULL, note text);"
      "CREATE TABLE loose (id int, name varchar(10), note text);"
      "INSERT INTO keyed VALUES (1, 'one', 'a'), (2, 'two', NULL);"
      "INSERT INTO loose VALUES (1, 'uno', 'b')");
  struct Case {
    const char* sql;
    int column;
    const char* name;
    TFieldType type;
    int32_t size;
    bool in_key, required, read_only;
    const char* value;  // of the first row; "" for NULL
  };
  const Case cases[] = {
      {"SELECT * FROM keyed WHERE id = 1", 0, "id", ftInteger, 0, true, true, false, "1"},
      {"SELECT * FROM keyed WHERE id = 2", 2, "note", ftWideMemo, 0, false, false, false, ""},
      {"SELECT * FROM keyed WHERE id = 2", 1, "name", ftWideString, 10, false, true, false, "two"},
      {"SELECT * FROM loose WHERE id = 1", 0, "id", ftInteger, 0, false, false, false, "1"},
      {"SELECT * FROM loose WHERE id = 1", 1, "name", ftWideString, 10, false, false, false, "uno"},
      {"SELECT id + 0 AS id, name, note FROM keyed WHERE id = 1", 0, "id", ftInteger, 0, false,
       false, true, "1"},
      {"SELECT id, CAST(name AS varchar(20)) AS name, note FROM keyed WHERE id = 1", 1, "name",
       ftWideString, 20, false, false, true, "one"},
      {"SELECT id, CAST(name AS varchar(30)) AS name, note FROM keyed WHERE id = 1", 1, "name",
       ftWideString, 30, false, false, true, "one"},
      {"SELECT id, name AS label, note FROM keyed WHERE id = 1", 1, "label", ftWideString, 10,
       false, true, false, "one"},
      {"SELECT * FROM keyed WHERE id = 1", 1, "name", ftWideString, 10, false, true, false, "one"},
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.sql << " column " << c.column << " pass " << pass);
      auto q = Open(c.sql);
      const TFieldDef& d = q->FieldDefs()[c.column];
      EXPECT_EQ(d.Name, c.name);
      EXPECT_EQ(d.DataType, c.type);
      EXPECT_EQ(d.Size, c.size);
      EXPECT_EQ(d.InKey, c.in_key);
      EXPECT_EQ(d.Required, c.required);
      EXPECT_EQ(d.ReadOnly, c.read_only);
      EXPECT_EQ(q->Fields(c.column).AsString(), c.value);
    }
    // More shapes than the session keeps, so that the second pass finds its layouts gone.
    for (int i = 0; i < 20; ++i) Open("SELECT " + std::to_string(i) + " AS c" + std::to_string(i));
  }
  // The same shape before and after DDL through this session: the key and NOT NULL come from the
  // catalog again.
  EXPECT_FALSE(Open("SELECT * FROM loose WHERE id = 1")->FieldDefs()[0].InKey);
  Exec("ALTER TABLE loose ADD PRIMARY KEY (id); ALTER TABLE loose ALTER COLUMN note SET NOT NULL");
  auto q = Open("SELECT * FROM loose WHERE id = 1");
  EXPECT_TRUE(q->FieldDefs()[0].InKey);
  EXPECT_TRUE(q->FieldDefs()[2].Required);
  EXPECT_EQ(q->Fields(2).AsString(), "b");
}

// Without keys a changed row is found by every original value, and a microsecond timestamp or a
// float read back never matches: the keys make the update land.
TEST_F(PgTest, ApplyUpdatesFindsRowsByKeyDespiteMicrosecondsAndFloats) {
  Exec(
      "CREATE TABLE m (id int PRIMARY KEY, at timestamp, x float8, note text);"
      "INSERT INTO m VALUES (1, '2024-01-02 03:04:05.123456', 0.1 + 0.2, 'old')");
  auto q = Query("SELECT * FROM m");
  q->SetCachedUpdates(true);
  q->Open();
  q->Edit();
  q->FieldByName("note").SetValue(OleVariant("new"));
  q->Post();
  EXPECT_EQ(q->ApplyUpdates(0), 0);
  EXPECT_EQ(db_->Psql("SELECT note FROM m"), "new\n");
}

TEST_F(PgTest, SeveralStatementsWithParametersRunOneAfterTheOther) {
  Exec("CREATE TABLE b (id int PRIMARY KEY, v text)");
  auto batch = Query(
      "INSERT INTO b VALUES (:id, :v); UPDATE b SET v = v || :suffix WHERE id = :id;"
      "INSERT INTO b VALUES (:id + 1, '?;')");
  batch->Params().ParamByName("id").SetValue(OleVariant(int32_t{7}));
  batch->Params().ParamByName("v").SetValue(OleVariant("x"));
  batch->Params().ParamByName("suffix").SetValue(OleVariant("y"));
  batch->ExecSQL();
  EXPECT_EQ(batch->RowsAffected(), 3);
  EXPECT_EQ(db_->Psql("SELECT id || v FROM b ORDER BY id"), "7xy\n8?;\n");

  // Open runs up to the first result set and the rest after its rows.
  auto q = Query(
      "UPDATE b SET v = 'z' WHERE id = :id; SELECT v FROM b WHERE id = :id;"
      "DELETE FROM b WHERE id = 8");
  q->Params().ParamByName("id").SetValue(OleVariant(int32_t{7}));
  q->Open();
  EXPECT_EQ(q->FieldByName("v").AsString(), "z");
  EXPECT_EQ(db_->Psql("SELECT count(*) FROM b"), "1\n");

  // A text without a result set is refused, its last statement not run.
  auto none = Query("UPDATE b SET v = 'w'; DELETE FROM b");
  EXPECT_EQ(ErrorOf([&] { none->Open(); }), "Command text does not return a result set");
  EXPECT_EQ(db_->Psql("SELECT v FROM b"), "w\n");
}

// A last statement that may or may not give rows (WITH, RETURNING) is prepared and described
// first and runs only when it gives rows: with parameters, after errors, in and out of a
// transaction, and stopped by the time-out while it runs.
TEST_F(PgTest, StatementsThatMayWriteAreDescribedBeforeTheyRun) {
  Exec("CREATE TABLE w (v int PRIMARY KEY)");
  auto with = Query("WITH x AS (SELECT CAST(:a AS int) + 1 AS b) SELECT b FROM x");
  with->Params().ParamByName("a").SetValue(OleVariant(int32_t{41}));
  with->Open();
  EXPECT_EQ(with->FieldByName("b").AsInteger(), 42);

  EXPECT_EQ(Open("INSERT INTO w VALUES (7) RETURNING v")->FieldByName("v").AsInteger(), 7);
  EXPECT_EQ(ErrorOf([&] { Open("INSERT INTO w VALUES (8)"); }),
            "Command text does not return a result set");
  EXPECT_EQ(db_->Psql("SELECT string_agg(v::text, ',') FROM w"), "7\n");

  // An error in preparing, then in running: the engine's message, and the session goes on.
  EXPECT_NE(ErrorOf([&] { Open("WITH x AS (SELEC 1) SELECT 1"); }).find("syntax error"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { Open("INSERT INTO w VALUES (7) RETURNING v"); }).find("duplicate key"),
            std::string::npos);
  EXPECT_EQ(Open("WITH y AS (SELECT 2 AS c) SELECT c FROM y")->FieldByName("c").AsInteger(), 2);

  // Inside a transaction nothing of it commits on its own.
  connection_.StartTransaction();
  EXPECT_EQ(Open("INSERT INTO w VALUES (9) RETURNING v")->FieldByName("v").AsInteger(), 9);
  EXPECT_NE(ErrorOf([&] { Open("WITH x AS (SELEC 1) SELECT 1"); }), "");
  connection_.Rollback();
  EXPECT_EQ(db_->Psql("SELECT string_agg(v::text, ',') FROM w"), "7\n");
  EXPECT_FALSE(connection_.InTransaction());

  connection_.SetStatementTimeout(std::chrono::seconds(1));
  const auto started = steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { Open("WITH s AS (SELECT pg_sleep(30)) SELECT 1 AS one FROM s"); }),
            "Statement stopped: it ran longer than the statement time-out of 1 s");
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(Open("WITH y AS (SELECT 3 AS c) SELECT c FROM y")->FieldByName("c").AsInteger(), 3);
  EXPECT_EQ(connection_.UnusableReason(), "");
}

TEST_F(PgTest, RoutineBodiesHoldingSemicolonsAreOneStatement) {
  Exec(
      "CREATE TABLE log (v int);"
      "CREATE FUNCTION add_one(a int) RETURNS int LANGUAGE plpgsql AS $$\n"
      "DECLARE r int;\nBEGIN\n  r := a + 1; -- ; in a comment\n  RETURN r;\nEND;\n$$;\n"
      "CREATE PROCEDURE put(a int) LANGUAGE sql BEGIN ATOMIC\n"
      "  INSERT INTO log VALUES (a);\n  INSERT INTO log VALUES (CASE WHEN a > 0 THEN a ELSE 0 "
      "END * 10);\nEND;\n");
  auto q = Query("SELECT add_one(:n) AS r");
  q->Params().ParamByName("n").SetValue(OleVariant(int32_t{41}));
  q->Open();
  EXPECT_EQ(q->FieldByName("r").AsInteger(), 42);
  auto call = Query("CALL put(:a); SELECT sum(v) AS s FROM log");
  call->Params().ParamByName("a").SetValue(OleVariant(int32_t{2}));
  call->Open();
  EXPECT_EQ(call->FieldByName("s").AsInteger(), 22);
}

TEST_F(PgTest, QuestionMarkOperatorsPassWithAndWithoutParameters) {
  auto q = Open("SELECT '{\"a\":1}'::::jsonb ? 'a' AS has_a");
  EXPECT_TRUE(q->FieldByName("has_a").AsBoolean());
  auto p = Query("SELECT '{\"a\":1}'::::jsonb ?| string_to_array(:k, ',') AS any_key");
  p->Params().ParamByName("k").SetValue(OleVariant("b,a"));
  p->Open();
  EXPECT_TRUE(p->FieldByName("any_key").AsBoolean());
}

TEST_F(PgTest, EngineMessagesReachTheCallerWhole) {
  try {
    Open("SELECT * FROM no_such_table");
    FAIL() << "opened";
  } catch (const EFDDBEngineException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("ERROR:  relation \"no_such_table\" does not exist", 0),
              0u)
        << e.what();
    EXPECT_NE(e.ErrorCode(), 0);
  }
  EXPECT_EQ(ErrorOf([&] { Exec("DO $$ BEGIN RAISE EXCEPTION 'custom % failure', 42; END $$"); }),
            "ERROR:  custom 42 failure\nCONTEXT:  PL/pgSQL function inline_code_block line 1 at "
            "RAISE");
}

TEST_F(PgTest, ARunningStatementStopsAtItsTimeOutAndOnCancel) {
  connection_.SetStatementTimeout(std::chrono::seconds(1));
  auto started = steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { Open("SELECT pg_sleep(30)"); }),
            "Statement stopped: it ran longer than the statement time-out of 1 s");
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(Open("SELECT 5 AS v")->FieldByName("v").AsInteger(), 5);  // the session goes on
  EXPECT_EQ(connection_.UnusableReason(), "");

  connection_.SetStatementTimeout(std::chrono::milliseconds(0));
  started = steady_clock::now();
  std::thread canceller([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    connection_.Interrupt();
  });
  EXPECT_EQ(ErrorOf([&] { Exec("SELECT pg_sleep(30)"); }), kStatementCancelledMessage);
  canceller.join();
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(ErrorOf([&] { Open("SELECT 1"); }), kStatementCancelledMessage);  // until cleared
  connection_.ClearInterrupt();
  EXPECT_EQ(Open("SELECT 6 AS v")->FieldByName("v").AsInteger(), 6);

  // Transaction control is never stopped: a commit after the deadline still lands.
  connection_.SetStatementTimeout(std::chrono::seconds(1));
  Exec("CREATE TABLE s (v int)");
  connection_.StartTransaction();
  Exec("INSERT INTO s VALUES (1)");
  connection_.Commit();
  EXPECT_EQ(db_->Psql("SELECT count(*) FROM s"), "1\n");
}

}  // namespace
}  // namespace velmora::test
