// The real program on PostgreSQL: velmora (headless) serving a database of the run's server,
// driven by velmora-cli as a user would: SQL2OleVariant (query), ExecSQL (exec) and UpdateSQL
// (batch, two statements in one text).
#include "tests/db/pg/pg_program_fixture.h"

namespace velmora::test {
namespace {

TEST_F(PgEndToEnd, QueryExecAndBatchThroughTheRealProgram) {
  CliResult r = Cli({"exec",
                     "CREATE TABLE e2e (id int PRIMARY KEY, name varchar(20), at timestamp,"
                     " price numeric(10,2))"});
  ASSERT_EQ(r.code, 0) << r.err;
  WriteFile(dir_.File("batch.sql"),
            "INSERT INTO e2e VALUES (1, 'one', '2024-01-02 03:04:05.5', 9.95),\r\n"
            "  (2, '二', NULL, NULL);\r\n"
            "UPDATE e2e SET name = name || '!' WHERE id = 1\r\n");
  r = Cli({"batch", dir_.File("batch.sql")});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Cli({"--format", "csv", "query", "SELECT id, name, at, price FROM e2e ORDER BY id"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "id,name,at,price\r\n1,one!,2024-01-02 03:04:05.500,9.95\r\n2,二,,\r\n");
  r = Cli({"--format", "json", "query", "SELECT count(*) AS n FROM e2e"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"type\":\"ftLargeint\""), std::string::npos) << r.out;

  r = Cli({"query", "SELECT * FROM no_such_table"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("relation \"no_such_table\" does not exist"), std::string::npos) << r.err;
  EXPECT_EQ(db_->Psql("SELECT name FROM e2e ORDER BY id"), "one!\n二\n");
}

// One client changes its session's state; the next client, served by the same pooled
// connection, finds it as it was opened.
TEST_F(PgEndToEnd, OneClientsSessionChangesNeverReachTheNextClient) {
  struct Case {
    const char* method;  // velmora-cli's command: exec (ExecSQL) or query (SQL2OleVariant)
    const char* change;
    const char* look;  // what the next client asks
  };
  const Case cases[] = {
      {"exec", "SET standard_conforming_strings = off", "SHOW standard_conforming_strings"},
      {"exec", "SET DateStyle = 'German, DMY'", "SELECT CAST(DATE '2024-01-02' AS text) AS d"},
      {"query", "SELECT set_config('TimeZone', 'Asia/Tokyo', false) AS z", "SHOW TimeZone"},
      {"exec", "SET search_path TO pg_catalog", "SHOW search_path"},
      {"exec", "SET ROLE pg_read_all_data", "SELECT current_user AS u"},
      {"exec", "CREATE TEMP TABLE left_behind (i int)",
       "SELECT count(*) AS n FROM pg_tables WHERE tablename = 'left_behind'"},
      {"exec", "PREPARE left_behind AS SELECT 1",
       "SELECT count(*) AS n FROM pg_prepared_statements WHERE name = 'left_behind'"},
      {"exec", "LISTEN left_behind", "SELECT count(*) AS n FROM pg_listening_channels()"},
      {"query", "SELECT pg_advisory_lock(42) IS NULL AS locked",
       "SELECT count(*) AS n FROM pg_locks WHERE locktype = 'advisory' AND"
       " database = (SELECT oid FROM pg_database WHERE datname = current_database())"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    const CliResult before = Cli({"--format", "csv", "query", c.look});
    ASSERT_EQ(before.code, 0) << before.err;
    const CliResult change = Cli({c.method, c.change});
    ASSERT_EQ(change.code, 0) << change.err;
    const CliResult after = Cli({"--format", "csv", "query", c.look});
    ASSERT_EQ(after.code, 0) << after.err;
    EXPECT_EQ(after.out, before.out);
  }
  // Kept statements go with the reset; the next texts are kept afresh and answer alike.
  for (int round = 0; round < 2; ++round) {
    const CliResult r = Cli({"--format", "csv", "query", "SELECT 7 AS v WHERE 1 = 1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "v\r\n7\r\n");
  }
}

}  // namespace
}  // namespace velmora::test
