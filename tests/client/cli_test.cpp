// velmora-cli end to end: the real program run as a subprocess against a server started in this
// test on a free loopback port, with a generated SQLite database and a temporary application
// folder.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "rpc/auth_manager.h"
#include "tests/support/program_run.h"
#include "tests/support/server_fixture.h"
#include "tools/self_host/fixture_db.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

using RunResult = ProgramResult;

// True when `s` has the shape of `pattern`: '9' stands for any digit, every other character for
// itself.
bool HasShape(std::string_view s, std::string_view pattern) {
  if (s.size() != pattern.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool ok = pattern[i] == '9' ? (s[i] >= '0' && s[i] <= '9') : s[i] == pattern[i];
    if (!ok) return false;
  }
  return true;
}

// The line of CSV output that starts with `prefix`, without its CRLF; empty when none does.
std::string CsvLine(const std::string& out, const std::string& prefix) {
  const size_t at = out.find("\r\n" + prefix);
  if (at == std::string::npos) return {};
  const size_t end = out.find("\r\n", at + 2);
  return out.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
}

// Some bytes of every value, zero bytes and line ends included.
std::string BinaryContent(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return s;
}

class CliTest : public ServerFixture {
 protected:
  // Runs velmora-cli with `args` (no connection options added), the environment without any
  // VELMORA_ variable plus `env`, standard input from `stdin_file` (or /dev/null).
  RunResult RunRaw(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                   const std::string& stdin_file = "/dev/null") {
    std::vector<std::string> argv{VELMORA_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::vector<std::string> child_env = ChildEnvironment({"VELMORA_"}, env);
    return RunProgram(argv, work_, stdin_file, &child_env);
  }

  // Runs velmora-cli connected to the test server.
  RunResult Run(std::vector<std::string> args, const std::string& stdin_file = "/dev/null") {
    std::vector<std::string> full{"--host", "127.0.0.1", "--port",     std::to_string(Port()),
                                  "--user", kUser,       "--password", kPassword};
    full.insert(full.end(), args.begin(), args.end());
    return RunRaw(full, {}, stdin_file);
  }
};

TEST_F(CliTest, TimePrintsTheServerClockToTheMillisecond) {
  const RunResult r = Run({"time"});
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_TRUE(HasShape(r.out, "9999-99-99 99:99:99.999\n")) << r.out;
  auto num = [&](size_t at, size_t len) { return std::stoi(r.out.substr(at, len)); };
  const double shown = EncodeDateTime(
      {num(0, 4), num(5, 2), num(8, 2), num(11, 2), num(14, 2), num(17, 2), num(20, 3)});
  EXPECT_LT(std::fabs(shown - NowAsDateTime()) * 86400.0, 30.0) << r.out;
}

TEST_F(CliTest, QueryAsCsvAndJson) {
  RunResult r =
      Run({"--format", "csv", "query", "SELECT ID, NAME FROM BIG_TABLE WHERE ID <= 2 ORDER BY ID"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "ID,NAME\r\n1," + self_host::FixtureName(1) + "\r\n2," +
                       self_host::FixtureName(2) + "\r\n");

  r = Run({"--format", "json", "query",
           "SELECT ID, NAME, PRICE, NOTE, DATA FROM BIG_TABLE WHERE ID IN (5, 7, 10) ORDER BY ID"});
  ASSERT_EQ(r.code, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc["fields"].size(), 5u);
  EXPECT_EQ(doc["fields"][0]["name"], "ID");
  ASSERT_EQ(doc["rows"].size(), 3u);
  EXPECT_TRUE(doc["rows"][0][0].is_number_integer());
  EXPECT_EQ(doc["rows"][2][1], self_host::FixtureName(10));  // non-ASCII text intact
  EXPECT_TRUE(doc["rows"][0][2].is_number());
  EXPECT_TRUE(doc["rows"][1][3].is_null());    // NOTE is NULL in every 7th row
  EXPECT_TRUE(doc["rows"][0][4].is_string());  // DATA holds 16 bytes in every 5th row
  EXPECT_EQ(doc["rows"][0][4].get<std::string>().size(), 24u);
  EXPECT_TRUE(doc["rows"][1][4].is_null());
}

// --param values are bound by the server's engine in the order given, each of its form's type; a
// value is never part of the statement.
TEST_F(CliTest, ParamsAreBoundInOrderWithTheirTypes) {
  RunResult r = Run({"exec", "CREATE TABLE bound (k, v)"});
  ASSERT_EQ(r.code, 0) << r.err;
  struct Case {
    std::string arg;
    nlohmann::json type;   // SQLite's typeof() of what was stored
    nlohmann::json value;  // as the json format prints it
  };
  const Case cases[] = {
      {"42", "integer", 42},
      {"1.5", "real", 1.5},
      {"true", "integer", 1},
      {"text:42", "text", "42"},
      {"float:1e3", "real", 1000.0},
      {"bigint:9000000000", "integer", 9000000000LL},
      {"date:2024-03-05", "text", "2024-03-05"},
      {"bytes:00ff41", "blob", "AP9B"},
      {"null", "null", nullptr},
      {"x'); DROP TABLE bound; --", "text", "x'); DROP TABLE bound; --"},
  };
  for (size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(cases[k].arg);
    r = Run({"exec", "INSERT INTO bound (k, v) VALUES (?, ?)", "--param", std::to_string(k),
             "--param=" + cases[k].arg});
    ASSERT_EQ(r.code, 0) << r.err;
    r = Run({"--format", "json", "query", "SELECT typeof(v) AS t, v FROM bound WHERE k = :k",
             "--param", std::to_string(k)});
    ASSERT_EQ(r.code, 0) << r.err;
    const nlohmann::json row = nlohmann::json::parse(r.out)["rows"].at(0);
    EXPECT_EQ(row[0], cases[k].type);
    EXPECT_EQ(row[1], cases[k].value);
  }

  // Usage errors exit 2 before anything is sent; a marker without a value is the server's refusal.
  EXPECT_EQ(Run({"query", "SELECT ?", "--param", "bytes:0g"}).code, 2);
  EXPECT_EQ(Run({"query", "SELECT ?", "--param", "int:many"}).code, 2);
  r = Run({"query", "SELECT ? AS a, ? AS b", "--param", "1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "The command text has 2 parameter markers; 1 values given\n");
}

TEST_F(CliTest, FailuresReportedInErrMsgExitOne) {
  RunResult r = Run({"exec", "INSERT INTO NO_SUCH_TABLE VALUES (1)"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("NO_SUCH_TABLE"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");

  r = Run({"query", "SELECT FROM WHERE"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("syntax"), std::string::npos) << r.err;
}

TEST_F(CliTest, BatchSendsTheFileAsItIsFromAFileOrStandardInput) {
  const std::string file = work_ + "/batch.sql";
  WriteFile(file,
            "\xEF\xBB\xBF"
            "CREATE TABLE 客户 (名称 TEXT);\r\nINSERT INTO 客户 VALUES ('张三');\r\n");
  RunResult r = Run({"batch", file});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string more = work_ + "/more.sql";
  WriteFile(more, "INSERT INTO 客户 VALUES ('李四');");
  r = Run({"batch", "-"}, more);
  ASSERT_EQ(r.code, 0) << r.err;
  r = Run({"--format", "csv", "query", "SELECT 名称 FROM 客户 ORDER BY 名称 DESC"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "名称\r\n李四\r\n张三\r\n");

  r = Run({"batch", work_ + "/missing.sql"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("missing.sql"), std::string::npos) << r.err;
}

TEST_F(CliTest, RefusedLoginAndNoServerExitTwo) {
  RunResult r =
      RunRaw({"--port", std::to_string(Port()), "--user", kUser, "--password", "wrong", "time"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find(kAuthenticationRejected), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");

  // A port nobody listens on: bound for a moment, then given back.
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  close(s);
  r = RunRaw({"--port", std::to_string(ntohs(addr.sin_port)), "time"});
  EXPECT_EQ(r.code, 2);
  EXPECT_FALSE(r.err.empty());
}

TEST_F(CliTest, EnvironmentGivesDefaultsAndOptionsWin) {
  const std::string port = "VELMORA_PORT=" + std::to_string(Port());
  RunResult r =
      RunRaw({"time"}, {port, std::string("VELMORA_USER=") + kUser,
                        std::string("VELMORA_PASSWORD=") + kPassword, "VELMORA_HOST=127.0.0.1"});
  EXPECT_EQ(r.code, 0) << r.err;
  r = RunRaw({"--password", kPassword, "time"},
             {port, std::string("VELMORA_USER=") + kUser, "VELMORA_PASSWORD=wrong"});
  EXPECT_EQ(r.code, 0) << r.err;
  r = RunRaw({"time"}, {port, std::string("VELMORA_USER=") + kUser, "VELMORA_PASSWORD=wrong"});
  EXPECT_EQ(r.code, 2);
}

TEST_F(CliTest, BadUsageExitsTwo) {
  const std::vector<std::vector<std::string>> cases = {{},
                                                       {"query"},
                                                       {"no-such-command"},
                                                       {"--format", "xml", "ls"},
                                                       {"--port", "70000", "time"},
                                                       {"rm", "only-path"}};
  for (const auto& args : cases) {
    const RunResult r = RunRaw(args);
    EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(r.err.empty());
  }
}

TEST_F(CliTest, UploadListDownloadRoundTrip) {
  const std::string content = BinaryContent(70000);
  const std::string local = work_ + "/photo.bin";
  WriteFile(local, content);
  RunResult r = Run({"upload", local});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_.File("Upload/photo.bin")), content);
  WriteFile(work_ + "/empty", "");
  r = Run({"upload", work_ + "/empty", "renamed.txt"});
  ASSERT_EQ(r.code, 0) << r.err;

  r = Run({"--format", "csv", "ls"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("name,size,time\r\n")) << r.out;
  EXPECT_TRUE(HasShape(CsvLine(r.out, "photo.bin,"), "photo.bin,70000,9999-99-99 99:99:00"))
      << r.out;
  EXPECT_TRUE(HasShape(CsvLine(r.out, "renamed.txt,"), "renamed.txt,0,9999-99-99 99:99:00"))
      << r.out;
  r = Run({"--format", "json", "ls"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["rows"].size(), 2u);
  r = Run({"ls"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("(2 rows)"), std::string::npos) << r.out;

  r = Run({"download", "photo.bin", work_ + "/back.bin"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(work_ + "/back.bin"), content);

  r = Run({"upload", work_});  // a folder is no file to send
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Is a directory"), std::string::npos) << r.err;

  r = Run({"download", "missing.bin", work_ + "/x"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "No such file: missing.bin\n");
  EXPECT_FALSE(fs::exists(work_ + "/x"));
}

TEST_F(CliTest, ServerRaisedErrorExitsTwo) {
  // The exchange folder has no sub-folder "sub": the server fails the upload with its file
  // creation error, which comes back as a remote error.
  WriteFile(work_ + "/a.txt", "a");
  const RunResult r = Run({"upload", work_ + "/a.txt", "sub/a.txt"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Remote error"), std::string::npos) << r.err;
}

TEST_F(CliTest, PostReadRemoveInTheFileStore) {
  const std::string content = BinaryContent(3000);
  const std::string local = work_ + "/in.bin";
  WriteFile(local, content);
  RunResult r = Run({"post", local, "Data/2022/01", "f.bin"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_.File("Data/2022/01/f.bin")), content);

  r = Run({"read", "Data/2022/01", "f.bin"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, content);
  r = Run({"read", "Data/2022/01", "f.bin", work_ + "/out.bin"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(work_ + "/out.bin"), content);

  r = Run({"rm", "Data/2022/01", "f.bin"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_FALSE(fs::exists(dir_.File("Data/2022/01/f.bin")));
  r = Run({"read", "Data/2022/01", "f.bin"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "No such file: Data/2022/01/f.bin\n");

  // A file where the folder should be: the server's message in ErrMsg, exit 1.
  WriteFile(dir_.File("blocker"), "x");
  r = Run({"post", local, "blocker", "f.bin"});
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(r.err.empty());
  EXPECT_EQ(ReadFile(dir_.File("blocker")), "x");
}

TEST_F(CliTest, LargeFileTravelsWholeAndNotesNeedATerminal) {
  const std::string content = BinaryContent(6u << 20);
  WriteFile(work_ + "/big.bin", content);
  RunResult r = Run({"upload", work_ + "/big.bin"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");  // standard error is a file here, not a terminal
  r = Run({"download", "big.bin", work_ + "/big.back"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(ReadFile(work_ + "/big.back") == content);
}

}  // namespace
}  // namespace velmora::test
