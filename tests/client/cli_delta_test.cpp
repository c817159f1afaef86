// velmora-cli apply and call end to end: the real program run as a subprocess against a server
// started in this test on a free loopback port, with a generated SQLite database.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/server_fixture.h"

extern char** environ;

namespace velmora::test {
namespace {

struct RunResult {
  int code = -1;
  std::string out;
  std::string err;
};

class CliDeltaTest : public ServerFixture {
 protected:
  // velmora-cli connected to the test server, standard input from `stdin_file`.
  RunResult Run(const std::vector<std::string>& args, const std::string& stdin_file = "/dev/null") {
    const std::string out_file = work_ + "/.stdout", err_file = work_ + "/.stderr";
    std::vector<std::string> argv_s{
        VELMORA_CLI_PATH, "--host", "127.0.0.1",  "--port", std::to_string(Port()),
        "--user",         kUser,    "--password", kPassword};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdin_file.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    RunResult r;
    if (rc != 0) {
      ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
      return r;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadFile(out_file);
    r.err = ReadFile(err_file);
    return r;
  }

  std::string ChangeFile(const std::string& json) {
    const std::string path = work_ + "/changes.json";
    WriteFile(path, json);
    return path;
  }

  std::string Names(const std::string& where) {
    auto channel = Connect();
    auto [packet, err] = Sql(*channel,
                             "SELECT group_concat(ID || ':' || NAME, ' ') AS S FROM "
                             "(SELECT * FROM BIG_TABLE WHERE " +
                                 where + " ORDER BY ID)");
    EXPECT_EQ(err, "");
    return Load(packet)->FieldByName("S").AsString();
  }
};

TEST_F(CliDeltaTest, ApplyWritesEveryChangeOfTheFile) {
  const RunResult r =
      Run({"apply", "BIG_TABLE",
           ChangeFile(R"({"key": ["ID"], "insert": [{"ID": 500, "NAME": "new 'one'"}],
                     "update": [{"ID": 2, "NAME": "two", "NOTE": null}],
                     "delete": [{"ID": 3}]})")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Names("ID IN (2, 3, 500)"), "2:two 500:new 'one'");

  // The same from standard input.
  const RunResult s = Run({"apply", "BIG_TABLE", "-"},
                          ChangeFile(R"({"key": ["ID"], "update": [{"ID": 4, "NAME": "four"}]})"));
  EXPECT_EQ(s.code, 0) << s.err;
  EXPECT_EQ(Names("ID = 4"), "4:four");
}

TEST_F(CliDeltaTest, RefusedRowsExitOneWithTheirMessagesAndTheOthersStay) {
  const RunResult r =
      Run({"apply", "BIG_TABLE",
           ChangeFile(
               R"({"key": ["ID"], "insert": [{"ID": 1, "NAME": "dup"}, {"ID": 600, "NAME": "ok"}],
                     "update": [{"ID": 5, "NAME": null}, {"ID": 6, "NAME": "six"}]})")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "NOT NULL constraint failed: BIG_TABLE.NAME"
            "UNIQUE constraint failed: BIG_TABLE.ID\n");
  EXPECT_EQ(Names("ID IN (1, 5, 6, 600)"), "1:Name 1 5:Name 5 6:six 600:ok");
}

// Keys are checked before the delta is sent: nothing of the file is applied.
TEST_F(CliDeltaTest, KeyMatchingNoRowIsReportedBeforeAnythingIsSent) {
  struct Case {
    const char* file;
    int code;
    const char* err;
  };
  const Case cases[] = {
      {R"({"key": ["ID"], "update": [{"ID": 7, "NAME": "x"}, {"ID": 9999, "NAME": "y"}]})", 1,
       "The key ID=9999 matches no current row of BIG_TABLE\n"},
      {R"({"key": ["ID"], "delete": [{"ID": 7}, {"ID": 7}]})", 1,
       "The change file names the row ID=7 twice\n"},
      {R"({"key": ["ID"], "update": [{"NAME": "x"}]})", 1,
       "CHANGES: update 1 lacks key column ID\n"},
      {R"({"key": ["NOPE"], "update": [{"NOPE": 7}]})", 1, nullptr},
      {R"({"key": ["ID"], "update": [{"ID": 7, "NO_COLUMN": 1}]})", 1, nullptr},
      {R"([1, 2])", 1, "CHANGES: the change file must be a JSON object\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = ChangeFile(c.file);
    const RunResult r = Run({"apply", "BIG_TABLE", path});
    EXPECT_EQ(r.code, c.code);
    if (c.err != nullptr) {
      std::string expected = c.err;
      if (expected.rfind("CHANGES", 0) == 0) expected.replace(0, 7, path);
      EXPECT_EQ(r.err, expected);
    } else {
      EXPECT_NE(r.err, "");
    }
    EXPECT_EQ(Names("ID = 7"), "7:Name 7");
  }
  const RunResult wrong = Run({"apply", "NO_SUCH_TABLE", ChangeFile(R"({"key": ["ID"]})")});
  EXPECT_EQ(wrong.code, 1);
  EXPECT_EQ(wrong.err, "no such table: NO_SUCH_TABLE\n");
}

TEST_F(CliDeltaTest, CallOnSQLiteFailsClearlyAndBadParametersAreUsageErrors) {
  const RunResult r = Run({"call", "ANY_PROC", "A=1", "B:string=x", "--out", "C:int", "--rows"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Stored procedures are not supported by the SQLite driver\n");
  EXPECT_EQ(r.out, "");

  for (const std::vector<std::string>& args : {std::vector<std::string>{"call", "P", "NOVALUE"},
                                               {"call", "P", "A:nosuchtype=1"},
                                               {"call", "P", "--out"},
                                               {"call", "P", "A=1", "--out", "a"}}) {
    const RunResult u = Run(args);
    EXPECT_EQ(u.code, 2) << args.back();
    EXPECT_NE(u.err, "");
  }
}

}  // namespace
}  // namespace velmora::test
