// The real program serving an embedded Firebird database, driven by velmora-cli as a user runs it.
// The fixture makes the database and its schema, then detaches before the server opens it: an
// embedded database is held by one process at a time. VELMORA_PROGRAM, VELMORA_CLI and
// VELMORA_LSAN_SUPPRESSIONS are compile definitions of the test target.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/db/firebird/fb_test_support.h"
#include "tests/support/free_port.h"
#include "tests/support/program_run.h"

namespace velmora::test {

inline constexpr const char* kFbServiceUser = "fbuser";
inline constexpr const char* kFbServicePassword = "fb-pa55";

// The environment for the programs started here: the leak-check suppressions of the engines'
// client libraries, and without the leak check where asked.
inline std::vector<std::string> FbProgramEnvironment(bool leak_check) {
  std::vector<std::string> add{std::string("LSAN_OPTIONS=suppressions=") +
                               VELMORA_LSAN_SUPPRESSIONS};
  if (!leak_check) add.emplace_back("ASAN_OPTIONS=detect_leaks=0:abort_on_error=1");
  return ChildEnvironment(
      leak_check
          ? std::initializer_list<std::string_view>{"LSAN_OPTIONS=", "VELMORA_"}
          : std::initializer_list<std::string_view>{"LSAN_OPTIONS=", "VELMORA_", "ASAN_OPTIONS="},
      add);
}

using CliResult = ProgramResult;

class FbEndToEnd : public ::testing::Test {
 protected:
  // The statements (";"-separated) that make the database's tables and procedures.
  virtual std::string Schema() const {
    return "CREATE TABLE CUSTOMER (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), "
           "JOINED DATE, BALANCE NUMERIC(12,2))";
  }

  void SetUp() override {
    port_ = FreeLoopbackPort();
    ASSERT_NE(port_, 0);
    CreateFbDatabase(db_path_);
    {
      TFDConnection setup;  // detached again before the server starts
      SetFbParams(setup.Params(), db_path_);
      setup.Open();
      TFDQuery q;
      q.SetConnection(&setup);
      q.SQL().SetText(Schema());
      q.ExecSQL();
    }
    WriteFile(dir_.File("CONFIG.CFG"), "[CONFIG]\r\nSVRUSERNAME=" + std::string(kFbServiceUser) +
                                           "\r\nSVRPASSWORD=" + kFbServicePassword +
                                           "\r\nSVROPENPORT=" + std::to_string(port_) + "\r\n");
    WriteFile(dir_.File("DataBase.CFG"), "DriverID=FB\r\nDatabase=" + db_path_ +
                                             "\r\nUser_Name=SYSDBA\r\nPassword=masterkey\r\n");
    // The server runs without the leak check at exit: LeakSanitizer's scan of thread-local
    // storage crashes now and then on the embedded engine's modules ("Tracer caught signal 11",
    // this GCC 12 runtime), and the server's own (Qt) thread-local data rules out skipping it
    // there. The driver's leaks are checked in the in-process Firebird tests.
    const std::vector<std::string> env = FbProgramEnvironment(false);
    server_ = SpawnProgram({VELMORA_PROGRAM, "--headless", "--app-dir", dir_.Path()},
                           dir_.File("server.out"), dir_.File("server.err"), "/dev/null", &env);
    ASSERT_GT(server_, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadFile(dir_.File("server.out")).find("服务启动完成") == std::string::npos) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline)
          << ReadFile(dir_.File("server.out")) << ReadFile(dir_.File("server.err"));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  void TearDown() override {
    if (server_ <= 0) return;
    ::kill(server_, SIGTERM);
    EXPECT_EQ(WaitProgram(server_), 0) << ReadFile(dir_.File("server.err"));
  }

  // velmora-cli on the program's port with `args`, standard input from `in`.
  CliResult Cli(std::vector<std::string> args, const std::string& in = "/dev/null") {
    std::vector<std::string> full{VELMORA_CLI,           "--host", "127.0.0.1",    "--port",
                                  std::to_string(port_), "--user", kFbServiceUser, "--password",
                                  kFbServicePassword};
    full.insert(full.end(), args.begin(), args.end());
    const std::vector<std::string> env = FbProgramEnvironment(true);
    return RunProgram(full, dir_.Path(), in, &env);
  }

  TempDir dir_;
  std::string db_path_ = dir_.File("data.fdb");
  int port_ = 0;
  pid_t server_ = -1;
};

}  // namespace velmora::test
