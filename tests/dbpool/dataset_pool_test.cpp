#include <gtest/gtest.h>

#include "db/core/query.h"
#include "db/core/stored_proc.h"
#include "dbpool/database_pools.h"
#include "dbpool/uFDConnPool.h"
#include "dbpool/uFDQueryPool.h"
#include "dbpool/uFDStoredProcPool.h"
#include "tests/dbpool/app_folder.h"

namespace velmora::test {
namespace {

// What both dataset pools share.
template <class Pool>
class DatasetPoolTest : public ::testing::Test {};
using DatasetPools = ::testing::Types<TFDQueryPool, TFDStoredProcPool>;
TYPED_TEST_SUITE(DatasetPoolTest, DatasetPools);

TYPED_TEST(DatasetPoolTest, NewObjectIsBareAndIsReusedAfterGiveBack) {
  TypeParam pool(30);
  EXPECT_EQ(pool.Count(), 0u);
  auto* a = pool.Lock();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Connection(), nullptr) << "the pool binds no connection";
  EXPECT_EQ(a->Tag, 1);
  pool.UnLock(a);
  EXPECT_EQ(pool.TagOf(a), 0);
  EXPECT_EQ(pool.Permits(), 30);
  EXPECT_EQ(pool.Lock(), a);
  EXPECT_EQ(pool.Count(), 1u);
}

TYPED_TEST(DatasetPoolTest, UnLockOfNullOrForeignObjectAndTrimWhileAllOutChangeNothing) {
  TypeParam pool(30);
  TypeParam other(30);
  auto* mine = pool.Lock();
  auto* theirs = other.Lock();
  ASSERT_NE(theirs, nullptr);
  for (auto* value : {static_cast<decltype(mine)>(nullptr), theirs}) {
    pool.UnLock(value);
    EXPECT_EQ(pool.TagOf(mine), 1);
    EXPECT_EQ(pool.Permits(), 29);
  }
  EXPECT_EQ(other.TagOf(theirs), 1);
  pool.FreeAndNil();
  EXPECT_EQ(pool.Count(), 1u) << "the only object is handed out";
}

class QueryPoolTest : public ::testing::Test {
 protected:
  void SetUp() override { folder.UseSqlite("data.db"); }
  AppFolder folder;
  TFDConnectionPool connections{30};
  TFDQueryPool queries{30};
};

TEST_F(QueryPoolTest, QueryGivenBackIsClosedAndKeepsItsTextAndConnection) {
  TFDConnection* c = connections.Lock();
  TFDQuery* q = queries.Lock();
  ASSERT_NE(c, nullptr);
  ASSERT_NE(q, nullptr);
  q->SetConnection(c);
  q->SQL().SetText("select 42 as answer");
  q->Open();
  ASSERT_TRUE(q->Active());
  queries.UnLock(q);  // left open by the caller
  EXPECT_FALSE(q->Active()) << "the pool closes what comes back";
  connections.Unlock(c);

  TFDQuery* again = queries.Lock();
  ASSERT_EQ(again, q);
  EXPECT_EQ(again->SQL().Text(), "select 42 as answer");
  EXPECT_EQ(again->Connection(), c);
}

TEST_F(QueryPoolTest, TrimmedConnectionDetachesItsIdleQuery) {
  TFDConnection* c0 = connections.Lock();
  TFDQuery* q = queries.Lock();
  ASSERT_NE(q, nullptr);
  q->SetConnection(c0);
  queries.UnLock(q);
  connections.Unlock(c0);

  connections.FreeAndNil();
  EXPECT_EQ(connections.Count(), 0u);
  EXPECT_EQ(q->Connection(), nullptr) << "no link to a destroyed connection";

  // The next caller attaches its own connection and the query works.
  TFDConnection* c = connections.Lock();
  ASSERT_EQ(queries.Lock(), q);
  ASSERT_NE(c, nullptr);
  q->SetConnection(c);
  q->SQL().SetText("select 1");
  q->Open();
  EXPECT_TRUE(q->Active());
  queries.UnLock(q);
  connections.Unlock(c);
}

TEST(DatabasePools, CreatedWithCapacityThirtyAndDestroyedWithEverything) {
  AppFolder folder;
  folder.UseSqlite("data.db");
  EXPECT_EQ(FDConnectionPool(), nullptr);
  CreateDatabasePools();
  ASSERT_NE(FDConnectionPool(), nullptr);
  ASSERT_NE(FDQueryPool(), nullptr);
  ASSERT_NE(FDStoredProcPool(), nullptr);
  EXPECT_EQ(FDConnectionPool()->Permits(), 30);
  EXPECT_EQ(FDQueryPool()->Permits(), 30);
  EXPECT_EQ(FDStoredProcPool()->Permits(), 30);

  TFDConnectionPool* first = FDConnectionPool();
  CreateDatabasePools();
  EXPECT_EQ(FDConnectionPool(), first) << "a second creation keeps the pools";

  // Objects still attached to pooled connections at exit are destroyed cleanly.
  TFDConnection* c = FDConnectionPool()->Lock();
  TFDQuery* q = FDQueryPool()->Lock();
  TFDStoredProc* p = FDStoredProcPool()->Lock();
  ASSERT_NE(c, nullptr);
  ASSERT_NE(q, nullptr);
  ASSERT_NE(p, nullptr);
  q->SetConnection(c);
  p->SetConnection(c);
  FDQueryPool()->UnLock(q);
  DestroyDatabasePools();
  EXPECT_EQ(FDConnectionPool(), nullptr);
  EXPECT_EQ(FDQueryPool(), nullptr);
  EXPECT_EQ(FDStoredProcPool(), nullptr);
  DestroyDatabasePools();
}

}  // namespace
}  // namespace velmora::test
