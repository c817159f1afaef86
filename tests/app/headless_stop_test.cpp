// The real headless program stopped by a signal while a client's call runs: the call gets the
// drain time, is then answered with the stop's error, and the log on standard output ends with
// the stop line, once; the program exits with 0.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/free_port.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "tools/self_host/database_config.h"

namespace velmora::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Seconds a running call may go on after the signal, as CONFIG.CFG sets it below.
constexpr int kDrainSeconds = 1;

// A statement that never ends by itself: only the stop's token ends it.
constexpr const char* kEndlessQuery =
    "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT count(*) FROM n";

std::string ReadIfThere(const std::string& path) {
  try {
    return ReadFile(path);
  } catch (const std::exception&) {
    return "";
  }
}

// Waits until the file holds `text`; false after `limit`.
bool WaitForText(const std::string& path, const std::string& text, milliseconds limit) {
  const auto until = Clock::now() + limit;
  while (ReadIfThere(path).find(text) == std::string::npos) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(milliseconds(50));
  }
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

struct StopSignal {
  const char* name;
  int number;
};

TEST(HeadlessStop, SignalStopsAfterTheDrainAndTheLogEndsWithTheStopLine) {
  const std::vector<StopSignal> signals = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}};
  const std::vector<std::string> env =
      ChildEnvironment({"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "VELMORA_"});
  for (const StopSignal& sig : signals) {
    SCOPED_TRACE(sig.name);
    TempDir folder;
    const int port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    WriteFile(folder.File("CONFIG.CFG"),
              "[CONFIG]\r\nSVROPENPORT=" + std::to_string(port) +
                  "\r\n[Limits]\r\nDrainTimeoutSeconds=" + std::to_string(kDrainSeconds) + "\r\n");
    self_host::WriteSqliteConfig(folder.Path(), folder.File("data.db"),
                                 self_host::NewDatabase::kCreate);
    const std::string out = folder.File("server.out");
    const std::string err = folder.File("server.err");
    const pid_t server = SpawnProgram({VELMORA_PROGRAM, "--headless", "--app-dir", folder.Path()},
                                      out, err, "/dev/null", &env);
    ASSERT_GT(server, 0);
    ASSERT_TRUE(WaitForText(out, ">>>端口：" + std::to_string(port) + "\n", milliseconds(20000)))
        << ReadIfThere(out) << ReadIfThere(err);

    const pid_t client =
        SpawnProgram({VELMORA_CLI, "--port", std::to_string(port), "query", kEndlessQuery},
                     folder.File("cli.out"), folder.File("cli.err"), "/dev/null", &env);
    ASSERT_GT(client, 0);
    // The call opens the pool's first database connection, which creates the database file: once
    // it is there, the call is running.
    const auto until = Clock::now() + milliseconds(20000);
    while (!std::filesystem::exists(folder.File("data.db")) && Clock::now() < until) {
      std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_TRUE(std::filesystem::exists(folder.File("data.db"))) << ReadIfThere(out);

    const auto signalled = Clock::now();
    ASSERT_EQ(::kill(server, sig.number), 0);
    const int server_code = WaitProgram(server);
    const auto took = Clock::now() - signalled;
    const int client_code = WaitProgram(client);

    EXPECT_EQ(server_code, 0) << ReadIfThere(err);
    // The running call held the stop for the drain time, and was then answered by the stop.
    EXPECT_GE(took, milliseconds(kDrainSeconds * 1000 - 100));
    EXPECT_NE(client_code, 0);
    EXPECT_NE(ReadIfThere(folder.File("cli.err"))
                  .find("The server is stopping; the call was ended before it finished"),
              std::string::npos)
        << ReadIfThere(folder.File("cli.err"));

    const std::vector<std::string> lines = Lines(ReadIfThere(out));
    ASSERT_FALSE(lines.empty());
    static const std::regex kStopLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d>>>服务关闭完成)");
    EXPECT_TRUE(std::regex_match(lines.back(), kStopLine)) << ReadIfThere(out);
    size_t stop_lines = 0;
    for (const std::string& line : lines) {
      if (line.ends_with(">>>服务关闭完成")) ++stop_lines;
    }
    EXPECT_EQ(stop_lines, 1u) << ReadIfThere(out);
  }
}

}  // namespace
}  // namespace velmora::test
