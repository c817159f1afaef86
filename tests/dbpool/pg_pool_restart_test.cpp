// The connection pool on PostgreSQL when the server goes away and comes back: calls fail with the
// engine's message while it is down, broken sessions are dropped instead of handed out again,
// and calls work again once it is back, without a restart of the pool.
#include <gtest/gtest.h>

#include <string>

#include "db/core/query.h"
#include "dbpool/uFDConnPool.h"
#include "tests/dbpool/app_folder.h"
#include "tests/support/pg_server.h"

namespace velmora::test {
namespace {

// Runs `sql` on `connection`; returns its first value as text, or the error's message.
std::string Ask(TFDConnection* connection, const std::string& sql) {
  TFDQuery q;
  q.SetConnection(connection);
  q.SQL().SetText(sql);
  try {
    q.Open();
    return "value " + q.Fields(0).AsString();
  } catch (const std::exception& e) {
    return e.what();
  }
}

TEST(PgPoolRestart, CallsFailWhileTheServerIsDownAndWorkAgainAfterwards) {
  AppFolder folder;
  PgCluster cluster;
  const PgServer& server = cluster.Server();
  folder.WriteConfig({"DriverID=PG", "Server=127.0.0.1", "Port=" + std::to_string(server.port),
                      "Database=postgres", "User_Name=" + server.user});
  TFDConnectionPool pool(30);
  std::string error;
  TFDConnection* held = pool.Lock(&error);
  ASSERT_NE(held, nullptr) << error;
  TFDConnection* idle = pool.Lock(&error);
  ASSERT_NE(idle, nullptr) << error;
  EXPECT_EQ(Ask(held, "SELECT 1"), "value 1");
  EXPECT_EQ(Ask(idle, "SELECT 2"), "value 2");
  pool.Unlock(idle);
  ASSERT_EQ(pool.Count(), 2u);

  cluster.Pause();
  // A session held across the stop: its call fails with what libpq says, and the session says
  // it is unusable, so the give-back drops it.
  const std::string failed = Ask(held, "SELECT 3");
  EXPECT_NE(failed.find("server closed the connection"), std::string::npos) << failed;
  EXPECT_NE(held->UnusableReason(false), "");
  pool.Unlock(held);
  EXPECT_EQ(pool.Count(), 1u);
  // The idle session is found dead at hand-out and dropped; no new one can open.
  error.clear();
  EXPECT_EQ(pool.Lock(&error), nullptr);
  EXPECT_NE(error.find("Connection refused"), std::string::npos) << error;
  EXPECT_EQ(pool.Count(), 0u);

  cluster.Resume();
  TFDConnection* again = pool.Lock(&error);
  ASSERT_NE(again, nullptr) << error;
  EXPECT_EQ(Ask(again, "SELECT 4"), "value 4");
  pool.Unlock(again);
  EXPECT_EQ(pool.Count(), 1u);
}

}  // namespace
}  // namespace velmora::test
