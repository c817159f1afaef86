// The real program serving an embedded Firebird database, driven by velmora-cli: SQL2OleVariant
// (query), ExecSQL (exec) and UpdateSQL (batch) as a client runs them.
#include <filesystem>
#include <fstream>

#include "tests/db/firebird/fb_program_fixture.h"

namespace velmora::test {
namespace {

TEST_F(FbEndToEnd, QueryExecAndBatchThroughTheRealProgram) {
  // UpdateSQL: a batch of two statements, sent as one packet of lines.
  const std::string batch = dir_.File("batch.sql");
  WriteFile(batch,
            "INSERT INTO CUSTOMER VALUES (1, '张三', '2024-02-29', 10.5);\r\n"
            "INSERT INTO CUSTOMER VALUES (2, 'Zoë', NULL, -3);\r\n");
  CliResult r = Cli({"batch", batch});
  ASSERT_EQ(r.code, 0) << r.err;

  // ExecSQL: a procedure whose body holds ";" of its own, then a call of it.
  r = Cli({"exec",
           "CREATE PROCEDURE RICHER (MIN_BALANCE NUMERIC(12,2)) RETURNS (NAME VARCHAR(20)) AS\n"
           "BEGIN\n  FOR SELECT NAME FROM CUSTOMER WHERE BALANCE >= :MIN_BALANCE ORDER BY ID\n"
           "    INTO :NAME DO\n    SUSPEND;\nEND"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Cli({"exec", "UPDATE CUSTOMER SET BALANCE = BALANCE + 1 WHERE ID = 2"});
  ASSERT_EQ(r.code, 0) << r.err;

  // SQL2OleVariant: the rows, non-ASCII text, dates, decimals and NULLs intact.
  r = Cli(
      {"--format", "csv", "query", "SELECT ID, NAME, JOINED, BALANCE FROM CUSTOMER ORDER BY ID"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "ID,NAME,JOINED,BALANCE\r\n1,张三,2024-02-29,10.5\r\n2,Zoë,,-2\r\n");
  r = Cli({"--format", "csv", "query", "SELECT NAME FROM RICHER(0)"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "NAME\r\n张三\r\n");

  // The engine's own message reaches the client.
  r = Cli({"exec", "INSERT INTO CUSTOMER VALUES (1, 'again', NULL, 0)"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("violation of PRIMARY or UNIQUE KEY constraint"), std::string::npos)
      << r.err;
}

// The Firebird client installs SIGINT and SIGTERM handlers of its own when it loads, which start
// the engine's shutdown under the server's stop (the stop then hung in a detach). With the client
// loaded and its threads running, no thread of the server may take those signals; the stop on
// SIGTERM (TearDown) still ends the program with 0.
TEST_F(FbEndToEnd, NoThreadTakesTheQuitSignalsOnceTheClientLibraryIsLoaded) {
  const CliResult r = Cli({"query", "SELECT COUNT(*) FROM CUSTOMER"});
  ASSERT_EQ(r.code, 0) << r.err;
  const uint64_t quit_signals = (uint64_t{1} << (SIGINT - 1)) | (uint64_t{1} << (SIGTERM - 1));
  int threads = 0;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(server_) + "/task")) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line) && !line.starts_with("SigBlk:")) {
    }
    ASSERT_TRUE(line.starts_with("SigBlk:")) << task.path();
    const uint64_t blocked = std::stoull(line.substr(7), nullptr, 16);
    EXPECT_EQ(blocked & quit_signals, quit_signals) << task.path() << ": " << line;
    ++threads;
  }
  EXPECT_GT(threads, 1);  // the engine's threads are among them
}

}  // namespace
}  // namespace velmora::test
