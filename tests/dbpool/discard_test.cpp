// The pool's two changes to its first rules: a new object is made outside the list's lock, and
// an object can be dropped instead of given back (on its user's word or when it fails the pool's
// checks). Then the connection pool's use of them: no connection comes back inside a
// transaction, and none whose database file was deleted or replaced is handed out again.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "db/core/query.h"
#include "dbpool/object_pool.h"
#include "dbpool/uFDConnPool.h"
#include "tests/dbpool/app_folder.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

struct Item {
  int Tag = 0;
  int id = 0;
  bool healthy = true;
};

// A gate that the making of one chosen object waits at until it is opened.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool open = false;

  void Wait() {
    std::unique_lock lock(mutex);
    entered = true;
    changed.notify_all();
    changed.wait(lock, [this] { return open; });
  }
  bool WaitEntered(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [this] { return entered; });
  }
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
};

class PoolRules : public ::testing::Test {
 protected:
  // Capacity 2, a short permit wait; the second object made waits at the gate.
  TObjectPool<Item> pool_{2,
                          [this]() -> std::unique_ptr<Item> {
                            const int id = made_++;
                            if (id == 1) gate_.Wait();
                            if (fail_) throw std::runtime_error("database unreachable");
                            auto item = std::make_unique<Item>();
                            item->id = id;
                            return item;
                          },
                          nullptr, 50};
  std::atomic<int> made_{0};
  bool fail_ = false;
  Gate gate_;
};

// While one caller makes a new object, the others give back and take idle ones at once.
TEST_F(PoolRules, ASlowMakeDoesNotHoldUpIdleObjects) {
  Item* first = pool_.Lock();
  ASSERT_NE(first, nullptr);
  auto slow = std::async(std::launch::async, [this] { return pool_.Lock(); });
  ASSERT_TRUE(gate_.WaitEntered(5s));
  auto quick = std::async(std::launch::async, [this, first] {
    pool_.Unlock(first);
    return pool_.Lock();
  });
  const bool quick_done = quick.wait_for(2s) == std::future_status::ready;
  gate_.Open();
  ASSERT_TRUE(quick_done) << "a give-back and hand-out waited for another caller's make";
  EXPECT_EQ(quick.get(), first) << "the earliest-made idle object still comes first";
  Item* second = slow.get();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->id, 1);
  EXPECT_EQ(pool_.Count(), 2u);
}

// A place being filled counts against the capacity; a failed make frees the place, keeps the
// caller's permit and reports why.
TEST_F(PoolRules, PlacesBeingFilledCountAndAFailedMakeKeepsItsPermit) {
  Item* first = pool_.Lock();
  fail_ = true;
  std::string error;
  auto slow = std::async(std::launch::async, [this, &error] { return pool_.Lock(&error); });
  ASSERT_TRUE(gate_.WaitEntered(5s));
  EXPECT_EQ(pool_.Lock(), nullptr) << "the pool is full while the second place is filled";
  gate_.Open();
  EXPECT_EQ(slow.get(), nullptr);
  EXPECT_EQ(error, "database unreachable");
  EXPECT_EQ(pool_.Count(), 1u);
  EXPECT_EQ(pool_.Permits(), 0) << "the failed hand-outs keep their permits";
  pool_.Unlock(first);
  EXPECT_EQ(pool_.Permits(), 1);
}

TEST_F(PoolRules, DroppedObjectsLeaveTheListAndReleaseTheirPermit) {
  gate_.Open();
  pool_.SetChecks([](Item& item) { return item.healthy; }, [](Item& item) { return item.healthy; });
  struct Case {
    const char* name;
    void (*drop)(TObjectPool<Item>& pool, Item* item);
  };
  const Case cases[] = {
      {"Discard", [](TObjectPool<Item>& pool, Item* item) { pool.Discard(item); }},
      {"give-back check",
       [](TObjectPool<Item>& pool, Item* item) {
         item->healthy = false;
         pool.Unlock(item);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Item* a = pool_.Lock();
    Item* b = pool_.Lock();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pool_.Permits(), 0);
    c.drop(pool_, a);
    EXPECT_EQ(pool_.Count(), 1u);
    EXPECT_EQ(pool_.Item(0), b);
    EXPECT_EQ(pool_.Permits(), 1);
    pool_.Discard(a);  // no longer held: nothing changes
    EXPECT_EQ(pool_.Permits(), 1);
    pool_.Unlock(b);
    pool_.Discard(b);  // idle objects can be dropped too
    EXPECT_EQ(pool_.Count(), 0u);
  }
}

// An idle object failing the hand-out check is dropped; the hand-out takes the next one.
TEST_F(PoolRules, AnIdleObjectFailingTheHandOutCheckIsSkipped) {
  gate_.Open();
  pool_.SetChecks([](Item& item) { return item.healthy; }, nullptr);
  Item* a = pool_.Lock();
  Item* b = pool_.Lock();
  pool_.Unlock(a);
  pool_.Unlock(b);
  a->healthy = false;
  EXPECT_EQ(pool_.Lock(), b);
  EXPECT_EQ(pool_.Count(), 1u);
  EXPECT_EQ(pool_.Permits(), 1) << "the caller holds one permit, no more";
}

class ConnectionPoolGiveBack : public ::testing::Test {
 protected:
  void SetUp() override { folder_.UseSqlite("data.db"); }

  static void Run(TFDConnection* connection, const std::string& sql) {
    TFDQuery q;
    q.SetConnection(connection);
    q.SQL().SetText(sql);
    q.ExecSQL();
  }
  static std::string Scalar(TFDConnection* connection, const std::string& sql) {
    TFDQuery q;
    q.SetConnection(connection);
    q.SQL().SetText(sql);
    q.Open();
    return q.Fields(0).AsString();
  }

  AppFolder folder_;
  TFDConnectionPool pool_{3, 100};
};

// Whoever left a transaction open, it is rolled back at give-back and the same connection is
// handed out again, clean.
TEST_F(ConnectionPoolGiveBack, NoConnectionComesBackInsideATransaction) {
  TFDConnection* c = pool_.Lock();
  ASSERT_NE(c, nullptr);
  Run(c, "CREATE TABLE T (V INT)");
  const std::pair<const char*, void (*)(TFDConnection*)> cases[] = {
      {"StartTransaction", [](TFDConnection* conn) { conn->StartTransaction(); }},
      {"BEGIN in the text", [](TFDConnection* conn) { Run(conn, "BEGIN"); }},
      {"BEGIN IMMEDIATE in a batch",
       [](TFDConnection* conn) { Run(conn, "BEGIN IMMEDIATE;\nINSERT INTO T VALUES (0)"); }},
  };
  for (const auto& [name, begin] : cases) {
    SCOPED_TRACE(name);
    begin(c);
    Run(c, "INSERT INTO T VALUES (1)");
    ASSERT_TRUE(c->InTransaction());
    pool_.Unlock(c);
    EXPECT_FALSE(c->InTransaction());
    EXPECT_EQ(pool_.Lock(), c);
    EXPECT_EQ(Scalar(c, "SELECT COUNT(*) FROM T"), "0");
    EXPECT_NO_THROW(c->StartTransaction());
    c->Rollback();
  }
  pool_.Unlock(c);
  EXPECT_EQ(pool_.Permits(), 3);
}

TEST_F(ConnectionPoolGiveBack, GiveBackRestoresTheDefaultsAndDropsBrokenConnections) {
  TFDConnection* c = pool_.Lock();
  c->SetStatementTimeout(0ms);
  c->Interrupt();
  pool_.Unlock(c);
  ASSERT_EQ(pool_.Lock(), c);
  EXPECT_EQ(c->StatementTimeout(), std::nullopt);
  EXPECT_FALSE(c->Interrupted());
  c->MarkBroken("found broken by its user");
  pool_.Unlock(c);
  EXPECT_EQ(pool_.Count(), 0u);
  EXPECT_EQ(pool_.Permits(), 3);
}

// Deleted: the stale connection is dropped at hand-out and, with no file to open and no
// CreateDatabase, the caller gets the driver's own message. Replaced: the stale connection is
// dropped and writes reach the new file.
TEST_F(ConnectionPoolGiveBack, AStaleConnectionIsNeverHandedOutAgain) {
  const std::string path = folder_.File("data.db");
  TFDConnection* c = pool_.Lock();
  Run(c, "CREATE TABLE T (V INT)");
  pool_.Unlock(c);
  folder_.WriteConfig({"DriverID=SQLite", "Database=" + path});  // no CreateDatabase from now
  std::filesystem::remove(path);
  std::string error;
  EXPECT_EQ(pool_.Lock(&error), nullptr);
  EXPECT_EQ(error, "unable to open database file: " + path);
  EXPECT_EQ(pool_.Count(), 0u);
  EXPECT_FALSE(std::filesystem::exists(path)) << "no new empty database in place of the old";

  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE T (V INT)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  c = pool_.Lock();
  ASSERT_NE(c, nullptr);
  pool_.Unlock(c);
  const std::string other = folder_.File("other.db");
  ASSERT_EQ(sqlite3_open(other.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE T (V INT); CREATE TABLE NEWER (V INT)", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  std::filesystem::rename(other, path);
  c = pool_.Lock();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(pool_.Count(), 1u) << "the stale connection was dropped";
  EXPECT_EQ(Scalar(c, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'NEWER'"), "1");
  Run(c, "INSERT INTO T VALUES (7)");
  pool_.Unlock(c);
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT COUNT(*) FROM T WHERE V = 7", -1, &stmt, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 1);
  sqlite3_finalize(stmt);
  sqlite3_close(raw);
}

}  // namespace
}  // namespace velmora::test
