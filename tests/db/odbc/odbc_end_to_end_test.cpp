// The real server on ODBC-to-PostgreSQL (DriverID=ODBC, PostgreSQL's ODBC driver), driven by
// velmora-cli run as a subprocess: SQL2OleVariant (query), ExecSQL (exec) and UpdateSQL (batch).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <string>
#include <vector>

#include "db/string_list.h"
#include "tests/db/odbc/odbc_pg_support.h"
#include "tests/support/server_fixture.h"

extern char** environ;

namespace velmora::test {
namespace {

struct CliRun {
  int code = -1;
  std::string out, err;
};

class OdbcEndToEnd : public ServerFixture {
 protected:
  CliRun Cli(std::vector<std::string> args) {
    std::vector<std::string> argv_s{
        VELMORA_CLI_PATH, "--host",  "127.0.0.1", "--port", std::to_string(Port()), "--user", kUser,
        "--password",     kPassword, "--format",  "csv"};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out_file = work_ + "/.out", err_file = work_ + "/.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    CliRun r;
    if (rc != 0) {
      ADD_FAILURE() << "cannot start velmora-cli: " << std::strerror(rc);
      return r;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadFile(out_file);
    r.err = ReadFile(err_file);
    return r;
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
