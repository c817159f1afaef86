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

}  // namespace
}  // namespace velmora::test
