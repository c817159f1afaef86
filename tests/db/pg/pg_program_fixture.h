// The real program on a database of the run's PostgreSQL server: velmora --headless started in a
// fresh folder on a free port, velmora-cli run against it as a user would, and a client of the
// library logged in with the default account. VELMORA_PROGRAM and VELMORA_CLI_PATH name the
// programs (compile definitions of the test target).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/free_port.h"
#include "tests/support/pg_server.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {

using CliResult = ProgramResult;

class PgEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PG_SERVER(server);
    db_.emplace(server);
    port_ = FreeLoopbackPort();
    ASSERT_NE(port_, 0);
    WriteFile(dir_.File("CONFIG.CFG"), "[CONFIG]\r\nSVROPENPORT=" + std::to_string(port_) + "\r\n");
    std::string cfg = db_->ConnectionLines();
    for (size_t at = 0; (at = cfg.find('\n', at)) != std::string::npos; at += 2)
      cfg.insert(at, "\r");
    WriteFile(dir_.File("DataBase.CFG"), cfg + "\r\n");
    program_ = SpawnProgram({VELMORA_PROGRAM, "--headless", "--app-dir", dir_.Path()},
                            dir_.File(".server.out"), dir_.File(".server.err"));
    ASSERT_GT(program_, 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadFile(dir_.File(".server.out")).find("服务启动完成") == std::string::npos) {
      ASSERT_LT(std::chrono::steady_clock::now(), until)
          << ReadFile(dir_.File(".server.out")) << ReadFile(dir_.File(".server.err"));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  void TearDown() override {
    if (program_ > 0) {
      ::kill(program_, SIGTERM);
      EXPECT_EQ(WaitProgram(program_), 0) << ReadFile(dir_.File(".server.err"));
    }
  }

  // velmora-cli on the program's port with `args`, standard input from `in`.
  CliResult Cli(std::vector<std::string> args, const std::string& in = "/dev/null") {
    std::vector<std::string> full{VELMORA_CLI_PATH, "--port", std::to_string(port_)};
    full.insert(full.end(), args.begin(), args.end());
    return RunProgram(full, dir_.Path(), in);
  }

  TempDir dir_;
  std::optional<PgTestDatabase> db_;
  int port_ = 0;
  pid_t program_ = -1;
};

}  // namespace velmora::test
