// velmora-cli apply and call end to end: the real program run as a subprocess against a server
// started in this test on a free loopback port, with a generated SQLite database.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/program_run.h"
#include "tests/support/server_fixture.h"
#include "tests/support/stand_in_procedures.h"

namespace velmora::test {
namespace {

using RunResult = ProgramResult;

class CliDeltaTest : public ServerFixture {
 protected:
  // velmora-cli connected to the test server, standard input from `stdin_file`.
  RunResult Run(const std::vector<std::string>& args, const std::string& stdin_file = "/dev/null") {
    std::vector<std::string> argv{
        VELMORA_CLI_PATH, "--host", "127.0.0.1",  "--port", std::to_string(Port()),
        "--user",         kUser,    "--password", kPassword};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, work_, stdin_file);
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

// The call command on a stand-in engine with made-up procedures (stand_in_procedures.h).
class CliCallTest : public CliDeltaTest {
 protected:
  void SetUp() override {
    CliDeltaTest::SetUp();
    WriteDatabaseConfig({"DriverID=PROCTEST", "Database=" + DatabasePath()});
  }
  StandInProcedures procedures_;
};

TEST_F(CliCallTest, OutputsAndRowsInEachFormat) {
  const RunResult csv = Run({"--format", "csv", "call", "ADD_ONE", "A=2", "C:string=orig", "--out",
                             "B:int", "--out", "T", "--rows"});
  ASSERT_EQ(csv.code, 0) << csv.err;
  // T, undeclared, is the decimal the server packed and prints as decimals do.
  EXPECT_EQ(csv.out, "B,T\r\n3,12.5\r\n\nID,NAME\r\n1,Name 1\r\n2,Name 2\r\n");
  // Typed from the value: 2 an integer; C declared as text; the outputs as asked.
  EXPECT_EQ(ProcedureCalls(), std::vector<std::string>{"ADD_ONE A:1 C:1 B:2 T:2"});

  const RunResult json = Run({"--format", "json", "call", "ADD_ONE", "A=1", "--out", "B"});
  ASSERT_EQ(json.code, 0) << json.err;
  EXPECT_EQ(json.out,
            "{\"fields\":[{\"name\":\"B\",\"type\":\"ftInteger\",\"size\":0}],\"rows\":[\n[2]]}\n");

  const RunResult both =
      Run({"--format", "json", "call", "ADD_ONE", "A=1", "--out", "B", "--rows"});
  ASSERT_EQ(both.code, 0) << both.err;
  EXPECT_EQ(both.out.rfind("{\"outputs\":{", 0), 0u) << both.out;
  EXPECT_NE(both.out.find(",\"rows\":{"), std::string::npos) << both.out;
}

TEST_F(CliCallTest, ErrorInsideTheProcedureExitsOneAndInputOutputIsRefused) {
  const RunResult failed = Run({"call", "FAIL", "A=1", "--out", "B"});
  EXPECT_EQ(failed.code, 1);
  EXPECT_EQ(failed.err, "FAIL: raised inside the procedure\n");
  EXPECT_EQ(failed.out, "");

  const RunResult inout = Run({"call", "ADD_ONE", "A=1", "--out", "A"});
  EXPECT_EQ(inout.code, 2);
  EXPECT_EQ(inout.err,
            "A is given as an input and with --out: the server does not return the value of an "
            "input-output parameter; give it as one or the other\n");
  EXPECT_EQ(ProcedureCalls().size(), 1u);  // only FAIL reached the engine
}

}  // namespace
}  // namespace velmora::test
