// The monitoring endpoint of the real headless program: /metrics after real calls (a query, a
// failing statement, a refused login) counts each of them, its text passes `promtool check
// metrics`, and /health answers 200 while the database opens and 503, with the reason, once the
// database file is gone, without making a new one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "client/velmora_client.h"
#include "common/service_defaults.h"
#include "rpc/rpc_errors.h"
#include "tests/app/headless_program.h"
#include "tests/support/free_port.h"
#include "tests/support/http_get.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"
#include "tools/self_host/database_config.h"
#include "tools/self_host/fixture_db.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

// The samples of a text in the Prometheus format: "name{labels}" (as written) to value.
std::map<std::string, double> Samples(const std::string& text) {
  std::map<std::string, double> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.rfind(' ');
    out[line.substr(0, space)] = std::strtod(line.c_str() + space + 1, nullptr);
  }
  return out;
}

// The change of `name` between two scrapes; a sample missing from the second fails the test.
double Delta(const std::map<std::string, double>& before,
             const std::map<std::string, double>& after, const std::string& name) {
  const auto a = after.find(name);
  if (a == after.end()) {
    ADD_FAILURE() << name << " is missing";
    return -1;
  }
  const auto b = before.find(name);
  return a->second - (b == before.end() ? 0 : b->second);
}

TEST(MetricsEndpoint, CountsRealCallsPassesPromtoolAndHealthFollowsTheDatabase) {
  TempDir folder;
  const std::string database = folder.File("app.db");
  self_host::CreateFixtureDatabase(database, 100);
  // CreateDatabase=Yes: the health check must still not make a new file when it is gone.
  self_host::WriteSqliteConfig(folder.Path(), database, self_host::NewDatabase::kCreate);
  const int port = FreeLoopbackPort();
  const int metrics_port = FreeLoopbackPort();
  ASSERT_NE(port, 0);
  ASSERT_NE(metrics_port, 0);
  WriteFile(folder.File("CONFIG.CFG"), "[CONFIG]\r\nSVROPENPORT=" + std::to_string(port) +
                                           "\r\n[Metrics]\r\nPort=" + std::to_string(metrics_port) +
                                           "\r\n");
  HeadlessProgram server(folder.Path());
  ASSERT_TRUE(server.WaitForOutput(
      QStringLiteral(">>>Metrics and health: http://127.0.0.1:%1/").arg(metrics_port)))
      << server.Log();

  const HttpReply healthy = Get(metrics_port, "/health");
  EXPECT_EQ(healthy.status, 200) << healthy.body << server.Log();
  EXPECT_EQ(healthy.body, "{\"status\":\"ok\"}\n");
  EXPECT_EQ(Get(metrics_port, "/nothing-here").status, 404);

  const HttpReply first = Get(metrics_port, "/metrics");
  ASSERT_EQ(first.status, 200) << server.Log();
  const auto before = Samples(first.body);

  {
    TVelmoraClient client;
    client.Connect("127.0.0.1", static_cast<uint16_t>(port), "admin",
                   std::string(kDefaultPassword));
    std::string error;
    for (int i = 1; i <= 3; ++i) {
      client.SQL2OleVariant("SELECT * FROM BIG_TABLE WHERE ID = " + std::to_string(i), error);
      ASSERT_EQ(error, "");
    }
    client.ExecSQL("UPDATE NO_SUCH_TABLE SET X = 1", error);
    EXPECT_NE(error, "");
    // Between calls the session holds its server module; the database objects are back idle.
    const auto during = Samples(Get(metrics_port, "/metrics").body);
    EXPECT_EQ(during.at("velmora_pool_objects_in_use{pool=\"server_modules\"}"), 1);
    EXPECT_EQ(during.at("velmora_pool_objects_in_use{pool=\"connections\"}"), 0);
    EXPECT_EQ(during.at("velmora_pool_objects_idle{pool=\"connections\"}"), 1);
    EXPECT_EQ(during.at("velmora_pool_objects_idle{pool=\"queries\"}"), 1);
    EXPECT_EQ(during.at("velmora_connections_open"), 1);
  }
  TVelmoraClient refused;
  EXPECT_THROW(refused.Connect("127.0.0.1", static_cast<uint16_t>(port), "admin", "wrong"),
               EDSLoginError);

  // The server ends a connection's thread after the client has gone: scraped until both have.
  HttpReply second;
  std::map<std::string, double> after;
  for (int tries = 0; tries < 100; ++tries) {
    second = Get(metrics_port, "/metrics");
    ASSERT_EQ(second.status, 200);
    after = Samples(second.body);
    if (after["velmora_connections_open"] == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const std::string query = "{method=\"SQL2OleVariant\"}";
  const std::string exec = "{method=\"ExecSQL\"}";
  EXPECT_EQ(Delta(before, after, "velmora_calls_total" + query), 3);
  EXPECT_EQ(Delta(before, after, "velmora_call_failures_total" + query), 0);
  EXPECT_EQ(Delta(before, after, "velmora_calls_total" + exec), 1);
  EXPECT_EQ(Delta(before, after, "velmora_call_failures_total" + exec), 1);
  EXPECT_EQ(Delta(before, after, "velmora_call_duration_seconds_count" + query), 3);
  EXPECT_EQ(Delta(before, after,
                  "velmora_call_duration_seconds_bucket{method=\"SQL2OleVariant\",le=\"+Inf\"}"),
            3);
  EXPECT_GT(Delta(before, after, "velmora_call_duration_seconds_sum" + query), 0);
  EXPECT_EQ(Delta(before, after, "velmora_logins_accepted_total"), 1);
  EXPECT_EQ(Delta(before, after, "velmora_logins_refused_total"), 1);
  EXPECT_EQ(Delta(before, after, "velmora_connections_accepted_total"), 2);
  EXPECT_GT(Delta(before, after, "velmora_received_bytes_total"), 0);
  EXPECT_GT(Delta(before, after, "velmora_sent_bytes_total"), 0);
  // The session has ended: its server module is back idle, and the connection's end dropped the
  // one idle database connection.
  EXPECT_EQ(after.at("velmora_pool_objects_in_use{pool=\"server_modules\"}"), 0);
  EXPECT_EQ(after.at("velmora_pool_objects_idle{pool=\"server_modules\"}"), 1);
  EXPECT_EQ(after.at("velmora_pool_objects_in_use{pool=\"connections\"}"), 0);
  EXPECT_EQ(after.at("velmora_pool_objects_idle{pool=\"connections\"}"), 0);
  EXPECT_EQ(after.at("velmora_connections_open"), 0);
  EXPECT_GT(after.at("process_resident_memory_bytes"), 0);
  EXPECT_GT(after.at("process_start_time_seconds"), 1.7e9);
  EXPECT_EQ(after.count("velmora_build_info{version=\"0.1\",compiler=\"" __VERSION__ "\"}"), 1u);

  const std::string scraped = folder.File("scraped.prom");
  WriteFile(scraped, second.body);
  const ProgramResult check =
      RunProgram({"/usr/bin/promtool", "check", "metrics"}, folder.Path(), scraped);
  EXPECT_EQ(check.code, 0) << check.out << check.err;

  fs::remove(database);
  const HttpReply gone = Get(metrics_port, "/health");
  EXPECT_EQ(gone.status, 503) << gone.body;
  EXPECT_NE(gone.body.find("\"status\":\"unavailable\",\"reason\":\"the database connection"),
            std::string::npos)
      << gone.body;
  EXPECT_FALSE(fs::exists(database));
  // The listener stops with the program, which still ends cleanly (sanitizers included).
  EXPECT_EQ(server.Terminate(), 0) << server.Log();
}

}  // namespace
}  // namespace velmora::test
