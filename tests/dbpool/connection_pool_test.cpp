#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "db/core/query.h"
#include "dbpool/uFDConnPool.h"
#include "tests/dbpool/app_folder.h"

namespace velmora::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long MillisSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

struct TimedLock {
  TFDConnection* connection;
  long long millis;
};

// Lock on another thread, timed.
std::future<TimedLock> LockAsync(TFDConnectionPool& pool) {
  return std::async(std::launch::async, [&pool] {
    const auto start = Clock::now();
    TFDConnection* c = pool.Lock();
    return TimedLock{c, MillisSince(start)};
  });
}

class ConnectionPoolTest : public ::testing::Test {
 protected:
  AppFolder folder;
};

TEST_F(ConnectionPoolTest, FileIsReadOnlyWhenANewConnectionOpens) {
  folder.UseSqlite("first.db");
  TFDConnectionPool pool(30);
  EXPECT_EQ(pool.Count(), 0u) << "creating the pool opens nothing";

  TFDConnection* first = pool.Lock();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->Connected());
  EXPECT_FALSE(first->LoginPrompt);
  EXPECT_EQ(first->Tag, 1);
  EXPECT_TRUE(std::filesystem::exists(folder.File("first.db")));
  pool.Unlock(first);
  EXPECT_TRUE(first->Connected()) << "a connection given back stays open";

  folder.WriteConfig({"DriverID=SQLite", "Database=" + folder.File("second.db"), "Port=3050",
                      "CreateDatabase=Yes"});
  EXPECT_EQ(pool.Lock(), first) << "the idle connection at index 0 is reused";
  EXPECT_EQ(first->Params().Values("Database"), folder.File("first.db"))
      << "reuse does not read the file";

  TFDConnection* second = pool.Lock();
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->Connected());
  EXPECT_EQ(second->Params().Values("Database"), folder.File("second.db"))
      << "a new connection reads the file afresh";
  EXPECT_EQ(second->Params().Values("Port"), "3050") << "every line of the file is loaded";
  EXPECT_TRUE(std::filesystem::exists(folder.File("second.db")));

  pool.Unlock(first);
  EXPECT_EQ(pool.Lock(), first) << "two held, the first returned: index 0 comes next";
  EXPECT_EQ(pool.Count(), 2u);
}

TEST_F(ConnectionPoolTest, UnlockOfNullOrForeignConnectionChangesNothing) {
  folder.UseSqlite("data.db");
  TFDConnectionPool pool(30);
  TFDConnectionPool other(30);
  TFDConnection* mine = pool.Lock();
  TFDConnection* theirs = other.Lock();
  ASSERT_NE(mine, nullptr);
  ASSERT_NE(theirs, nullptr);
  TFDConnection loose;
  for (TFDConnection* value : {static_cast<TFDConnection*>(nullptr), theirs, &loose}) {
    pool.Unlock(value);
    EXPECT_EQ(pool.Permits(), 29);
    EXPECT_EQ(pool.TagOf(mine), 1);
    EXPECT_EQ(pool.Count(), 1u);
  }
  EXPECT_EQ(other.TagOf(theirs), 1);
}

TEST_F(ConnectionPoolTest, FreeAndNilDropsTheFirstIdleConnection) {
  folder.UseSqlite("data.db");
  TFDConnectionPool pool(30);
  TFDConnection* a = pool.Lock();
  TFDConnection* b = pool.Lock();
  ASSERT_NE(b, nullptr);
  pool.FreeAndNil();
  EXPECT_EQ(pool.Count(), 2u) << "all handed out: nothing is dropped";

  pool.Unlock(a);
  pool.Unlock(b);
  pool.FreeAndNil();
  ASSERT_EQ(pool.Count(), 1u);
  EXPECT_EQ(pool.Item(0), b) << "index 0 was dropped; the former index 1 is now index 0";
  EXPECT_EQ(pool.Permits(), 30);
}

// Runs `sql` on `connection`; returns its first value as text.
std::string Ask(TFDConnection* connection, const std::string& sql) {
  TFDQuery q;
  q.SetConnection(connection);
  q.SQL().SetText(sql);
  q.Open();
  return q.Fields(0).AsString();
}

// A caller's change of its session (pragmas, attached databases, temporary objects) does not
// reach the next caller: that connection is closed at give-back and the next one opens as
// DataBase.CFG says. A connection that was only read through is kept.
TEST_F(ConnectionPoolTest, ASessionChangedByOneCallerIsNotHandedToTheNext) {
  folder.UseSqlite("data.db");
  TFDConnectionPool pool(30);
  struct Case {
    const char* statement;
    const char* look;
    bool changes;
  };
  const Case cases[] = {
      {"PRAGMA foreign_keys = OFF", "PRAGMA foreign_keys", true},
      {"PRAGMA case_sensitive_like = 1", "SELECT 'a' LIKE 'A'", true},
      {"CREATE TEMP TABLE left_behind (i)", "SELECT count(*) FROM sqlite_temp_master", true},
      {"ATTACH DATABASE ':memory:' AS other",
       "SELECT count(*) FROM pragma_database_list WHERE name = 'other'", true},
      {"PRAGMA table_info(sqlite_master)", "PRAGMA foreign_keys", false},
      {"SELECT 1 WHERE 1 = 1", "PRAGMA foreign_keys", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    TFDConnection* first = pool.Lock();
    ASSERT_NE(first, nullptr);
    const std::string before = Ask(first, c.look);
    TFDQuery q;
    q.SetConnection(first);
    q.SQL().SetText(c.statement);
    q.ExecSQL();
    q.SetConnection(nullptr);
    if (c.changes) {
      EXPECT_NE(Ask(first, c.look), before) << "the caller's own change holds";
    }
    pool.Unlock(first);
    EXPECT_EQ(pool.Count(), c.changes ? 0u : 1u);
    TFDConnection* next = pool.Lock();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(Ask(next, c.look), before);
    pool.Unlock(next);
  }
}

// The 31st caller waits the full 3000 ms and gets nothing, unless a connection comes back in time.
// Two such callers wait at once; the one returned connection goes to exactly one of them.
TEST_F(ConnectionPoolTest, FullPoolWaitsAboutThreeSecondsUnlessAConnectionComesBack) {
  folder.UseSqlite("data.db");
  TFDConnectionPool pool(30);
  std::vector<TFDConnection*> held;
  for (int i = 0; i < 30; ++i) {
    held.push_back(pool.Lock());
    ASSERT_NE(held.back(), nullptr);
  }
  EXPECT_EQ(pool.Permits(), 0);

  auto one = LockAsync(pool);
  auto two = LockAsync(pool);
  std::this_thread::sleep_for(milliseconds(500));
  pool.Unlock(held[7]);
  TimedLock r1 = one.get();
  TimedLock r2 = two.get();
  if (r1.connection == nullptr) std::swap(r1, r2);

  EXPECT_EQ(r1.connection, held[7]) << "the waiter that got the permit gets the returned one";
  EXPECT_LT(r1.millis, 2500);
  EXPECT_EQ(r2.connection, nullptr);
  EXPECT_GE(r2.millis, 2500);
  EXPECT_LE(r2.millis, 6000);
  EXPECT_EQ(pool.Count(), 30u) << "never more than the capacity";
}

TEST_F(ConnectionPoolTest, UnreachableDatabaseYieldsNothingThenHandOutsGoOnSlowly) {
  // The database lies in a folder that does not exist yet.
  const std::string missing = folder.File("later");
  folder.WriteConfig({"DriverID=SQLite", "Database=" + missing + "/data.db"});
  TFDConnectionPool pool(30);
  const auto start = Clock::now();
  for (int i = 0; i < 30; ++i) EXPECT_EQ(pool.Lock(), nullptr);
  EXPECT_LT(MillisSince(start), 2500) << "while permits remain, failures do not wait";
  EXPECT_EQ(pool.Count(), 0u);
  EXPECT_EQ(pool.Permits(), 0) << "every failed hand-out kept its permit";

  // An unknown engine fails the same way (no permit is left, so it waits first).
  folder.WriteConfig({"DriverID=NoSuchEngine", "Database=" + folder.File("x.db")});
  TimedLock failed = LockAsync(pool).get();
  EXPECT_EQ(failed.connection, nullptr);
  EXPECT_GE(failed.millis, 2500);
  EXPECT_LE(failed.millis, 6000);

  // Reachable again: each further Lock waits the full time, then still gets a connection.
  std::filesystem::create_directory(missing);
  folder.WriteConfig({"DriverID=SQLite", "Database=" + missing + "/data.db", "CreateDatabase=Yes"});
  auto one = LockAsync(pool);
  auto two = LockAsync(pool);
  TimedLock r1 = one.get();
  TimedLock r2 = two.get();
  for (const TimedLock& r : {r1, r2}) {
    EXPECT_NE(r.connection, nullptr);
    EXPECT_GE(r.millis, 2500);
    EXPECT_LE(r.millis, 6000);
  }
  ASSERT_NE(r1.connection, r2.connection);
  pool.Unlock(r1.connection);
  pool.Unlock(r2.connection);
  EXPECT_EQ(pool.Permits(), 2) << "giving back permitless hand-outs restores permits";
  const auto again = Clock::now();
  EXPECT_NE(pool.Lock(), nullptr);
  EXPECT_LT(MillisSince(again), 2500);
}

}  // namespace
}  // namespace velmora::test
