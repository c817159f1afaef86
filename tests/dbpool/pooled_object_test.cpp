// TPooled, the holder every borrower of the pools uses: the object goes back when the holder goes
// (also when an exception leaves the scope), exactly once however often the holder is moved, and
// an object that broke is dropped by the pool rather than handed out again.
#include "dbpool/pooled_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "dbpool/object_pool.h"
#include "tests/dbpool/app_folder.h"

namespace velmora::test {
namespace {

struct Item {
  int Tag = 0;
};

using ItemPool = TObjectPool<Item>;
using HeldItem = TPooled<ItemPool>;

class PooledHolder : public ::testing::Test {
 protected:
  // Capacity 2, and a short permit wait so that a full pool answers at once.
  ItemPool pool_{2, [] { return std::make_unique<Item>(); }, nullptr, 10};
};

TEST_F(PooledHolder, GivesTheObjectBackOnScopeExitAndOnException) {
  Item* seen = nullptr;
  {
    HeldItem held(&pool_);
    ASSERT_TRUE(held);
    seen = held.Get();
    EXPECT_EQ(pool_.TagOf(seen), 1);
    EXPECT_EQ(pool_.Permits(), 1);
  }
  EXPECT_EQ(pool_.TagOf(seen), 0);
  EXPECT_EQ(pool_.Permits(), 2);

  EXPECT_THROW(
      {
        HeldItem held(&pool_);
        EXPECT_EQ(held.Get(), seen) << "the idle object is handed out again";
        throw std::runtime_error("the call failed");
      },
      std::runtime_error);
  EXPECT_EQ(pool_.TagOf(seen), 0);
  EXPECT_EQ(pool_.Permits(), 2);
  EXPECT_EQ(pool_.Count(), 1u);
}

TEST_F(PooledHolder, AMovedFromHolderGivesNothingBack) {
  HeldItem first(&pool_);
  Item* a = first.Get();
  HeldItem second(&pool_);
  Item* b = second.Get();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  {
    HeldItem moved(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(first.Get(), nullptr);
    EXPECT_EQ(moved.Get(), a);
    first.Reset();  // an empty holder has nothing to give back
    EXPECT_EQ(pool_.TagOf(a), 1);

    // Assigning over a holder gives its own object back first.
    second = std::move(moved);
    EXPECT_EQ(pool_.TagOf(b), 0);
    EXPECT_EQ(pool_.TagOf(a), 1);
    EXPECT_EQ(second.Get(), a);
  }
  EXPECT_EQ(pool_.TagOf(a), 1) << "the moved-from holder went without giving `a` back";
  second.Reset();
  EXPECT_EQ(pool_.TagOf(a), 0);
  EXPECT_EQ(pool_.Permits(), 2);
}

TEST_F(PooledHolder, IsEmptyWhenThePoolHasNothingToHandOut) {
  EXPECT_FALSE(HeldItem(nullptr)) << "no pool";
  HeldItem a(&pool_), b(&pool_);
  {
    HeldItem none(&pool_);
    EXPECT_FALSE(none) << "pool full";
  }
  EXPECT_EQ(pool_.TagOf(a.Get()), 1);
  EXPECT_EQ(pool_.TagOf(b.Get()), 1);
  EXPECT_EQ(pool_.Permits(), 0) << "an empty holder releases no permit";
}

TEST_F(PooledHolder, DiscardDropsTheObjectAndFreesItsPlace) {
  HeldItem held(&pool_);
  Item* dropped = held.Get();
  held.Discard();
  EXPECT_FALSE(held);
  EXPECT_EQ(pool_.TagOf(dropped), -1) << "no longer in the pool";
  EXPECT_EQ(pool_.Count(), 0u);
  EXPECT_EQ(pool_.Permits(), 2);
}

// The database pools through their own aliases: the dataset pools' give-back closes the object;
// a connection marked broken is dropped by the connection pool's give-back check.
TEST(PooledDatabaseObjects, GoBackToTheirPoolsAndABrokenConnectionIsDropped) {
  TFDQueryPool queries(1);
  TFDStoredProcPool procs(1);
  TFDQuery* query = nullptr;
  TFDStoredProc* proc = nullptr;
  {
    TPooledQuery q(&queries);
    TPooledStoredProc p(&procs);
    ASSERT_TRUE(q && p);
    query = q.Get();
    proc = p.Get();
    EXPECT_EQ(queries.TagOf(query), 1);
    EXPECT_EQ(procs.TagOf(proc), 1);
  }
  EXPECT_EQ(queries.TagOf(query), 0);
  EXPECT_EQ(procs.TagOf(proc), 0);
  EXPECT_EQ(queries.Permits(), 1);
  EXPECT_EQ(procs.Permits(), 1);

  AppFolder folder;
  folder.UseSqlite("pooled.db");
  TFDConnectionPool connections(2);
  TFDConnection* kept = nullptr;
  {
    std::string error;
    TPooledConnection c(&connections, &error);
    ASSERT_TRUE(c) << error;
    kept = c.Get();
  }
  EXPECT_EQ(connections.TagOf(kept), 0) << "a sound connection stays in the pool";
  {
    TPooledConnection c(&connections);
    ASSERT_EQ(c.Get(), kept);
    c->MarkBroken("lost in the test");
  }
  EXPECT_EQ(connections.TagOf(kept), -1) << "a broken connection is not kept";
  EXPECT_EQ(connections.Count(), 0u);
  EXPECT_EQ(connections.Permits(), 2);

  // The connection pool's own Discard, for a connection its user gives up on.
  TPooledConnection c(&connections);
  ASSERT_TRUE(c);
  c.Discard();
  EXPECT_EQ(connections.Count(), 0u);
  EXPECT_EQ(connections.Permits(), 2);
}

}  // namespace
}  // namespace velmora::test
