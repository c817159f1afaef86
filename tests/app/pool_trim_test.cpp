// The stop operation and each disconnect trim one idle object from each of the three database
// pools, on real pools over a SQLite database in the application folder; the connection pool's
// wait follows the limits the window reads.
#include <QElapsedTimer>
#include <QToolButton>
#include <array>
#include <cstddef>
#include <vector>

#include "dbpool/database_pools.h"
#include "tests/app/shell_fixture.h"

namespace velmora::test {
namespace {

class PoolTrimTest : public ShellTest {
 protected:
  void SetUp() override { SetUpWith(""); }
  // `limits`: lines of the section [Limits], or nothing.
  void SetUpWith(const std::string& limits) {
    ShellTest::SetUp();
    WriteFile(
        folder_.File("DataBase.CFG"),
        "DriverID=SQLite\r\nDatabase=" + folder_.File("pools.db") + "\r\nCreateDatabase=Yes\r\n");
    CreateDatabasePools();
    ASSERT_NE(FDConnectionPool(), nullptr);
    WriteConfigWithFreePort(limits.empty() ? "" : "[Limits]\r\n" + limits);
    CreateWindow();
    ASSERT_TRUE(service_->Started());
  }
  void TearDown() override {
    ShellTest::TearDown();  // the service stops before its pools go
    DestroyDatabasePools();
  }

  // Takes two objects from each pool and gives them back: two idle objects each, however many
  // were idle before.
  static void TwoIdleInEachPool() {
    std::array<TFDConnection*, 2> connections{};
    std::array<TFDQuery*, 2> queries{};
    std::array<TFDStoredProc*, 2> procs{};
    for (size_t i = 0; i < 2; ++i) {
      std::string error;
      connections[i] = FDConnectionPool()->Lock(&error);
      ASSERT_NE(connections[i], nullptr) << error;
      queries[i] = FDQueryPool()->Lock();
      ASSERT_NE(queries[i], nullptr);
      procs[i] = FDStoredProcPool()->Lock();
      ASSERT_NE(procs[i], nullptr);
    }
    for (size_t i = 0; i < 2; ++i) {
      FDStoredProcPool()->UnLock(procs[i]);
      FDQueryPool()->UnLock(queries[i]);
      FDConnectionPool()->Unlock(connections[i]);
    }
  }
  // The objects held by the query, stored-procedure and connection pools (all idle here).
  static std::array<size_t, 3> Counts() {
    return {FDQueryPool()->Count(), FDStoredProcPool()->Count(), FDConnectionPool()->Count()};
  }
  static bool CountsAre(size_t n) {
    return WaitUntil([n] { return Counts() == std::array<size_t, 3>{n, n, n}; });
  }
};

TEST_F(PoolTrimTest, StopAndEachDisconnectDropOneIdleObjectFromEachPool) {
  using Counted = std::array<size_t, 3>;
  ASSERT_NO_FATAL_FAILURE(TwoIdleInEachPool());
  ASSERT_EQ(Counts(), (Counted{2, 2, 2}));

  // The stop operation drops one from each pool...
  Find<QToolButton>("B_Stop")->click();
  EXPECT_EQ(Counts(), (Counted{1, 1, 1}));
  // ...and so does a stop on a stopped service (as a restart after a database change runs it).
  window_->B_StopClick();
  EXPECT_EQ(Counts(), (Counted{0, 0, 0}));

  // A client that connects and leaves drops one from each pool, not more.
  Find<QToolButton>("B_Start")->click();
  ASSERT_TRUE(service_->Started());
  ASSERT_NO_FATAL_FAILURE(TwoIdleInEachPool());
  ASSERT_EQ(Counts(), (Counted{2, 2, 2}));
  Client()->Close();
  EXPECT_TRUE(CountsAre(1)) << Counts()[0] << " " << Counts()[1] << " " << Counts()[2];
  Pump(200);  // nothing further arrives for that client
  EXPECT_EQ(Counts(), (Counted{1, 1, 1}));
  // A second one drops one more.
  Client()->Close();
  EXPECT_TRUE(CountsAre(0)) << Counts()[0] << " " << Counts()[1] << " " << Counts()[2];
}

class PoolWaitTest : public PoolTrimTest {
 protected:
  void SetUp() override { SetUpWith("PoolWaitTimeoutSeconds=1\r\n"); }
};

TEST_F(PoolWaitTest, AFullConnectionPoolRefusesAfterTheWaitTheLimitsSet) {
  std::vector<TFDConnection*> held;
  for (int i = 0; i < kDatabasePoolCapacity; ++i) {
    std::string error;
    held.push_back(FDConnectionPool()->Lock(&error));
    ASSERT_NE(held.back(), nullptr) << error;
  }
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(FDConnectionPool()->Lock(), nullptr);
  // One second, not the pool's built-in three.
  EXPECT_GE(timer.elapsed(), 900);
  EXPECT_LT(timer.elapsed(), 2500);
  for (TFDConnection* connection : held) FDConnectionPool()->Unlock(connection);
}

}  // namespace
}  // namespace velmora::test
