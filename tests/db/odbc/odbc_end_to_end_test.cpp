// The real server on ODBC-to-PostgreSQL (DriverID=ODBC, PostgreSQL's ODBC driver), driven by
// velmora-cli run as a subprocess: SQL2OleVariant (query), ExecSQL (exec) and UpdateSQL (batch).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/core/string_list.h"
#include "tests/db/odbc/odbc_pg_support.h"
#include "tests/support/program_run.h"
#include "tests/support/server_fixture.h"

namespace velmora::test {
namespace {

using CliRun = ProgramResult;

class OdbcEndToEnd : public ServerFixture {
 protected:
  CliRun Cli(std::vector<std::string> args) {
    std::vector<std::string> argv{
        VELMORA_CLI_PATH, "--host",  "127.0.0.1", "--port", std::to_string(Port()), "--user", kUser,
        "--password",     kPassword, "--format",  "csv"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, work_);
  }
};

TEST_F(OdbcEndToEnd, QueryExecAndBatchThroughTheServer) {
  REQUIRE_PG_SERVER(server);
  PgTestDatabase db(server);
  db.Psql("CREATE TABLE items (id int PRIMARY KEY, name varchar(20), price numeric(8,2))");
  TStringList lines;
  lines.SetText(OdbcPgLines(db));
  WriteDatabaseConfig({lines[0], lines[1], lines[2], lines[3], lines[4], lines[5]});

  CliRun r = Cli({"exec", "INSERT INTO items VALUES (1, '茶', 2.50)"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string batch = work_ + "/batch.sql";
  WriteFile(batch,
            "INSERT INTO items VALUES (2, 'coffee', 3.75);\r\n"
            "UPDATE items SET price = price * 2 WHERE id = 1;\r\n");
  r = Cli({"batch", batch});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Cli({"query", "SELECT id, name, price FROM items ORDER BY id"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "id,name,price\r\n1,茶,5\r\n2,coffee,3.75\r\n");

  r = Cli({"exec", "INSERT INTO no_such_table VALUES (1)"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no_such_table"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace velmora::test
