#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "host/uObjPoolMgr.h"

namespace velmora::test {
namespace {

std::atomic<int> g_alive{0};

class Module : public TComponent {
 public:
  Module() { ++g_alive; }
  ~Module() override { --g_alive; }
};

class ThrowingModule : public TComponent {
 public:
  ThrowingModule() { throw std::runtime_error("design-time contents missing"); }
};

TEST(PoolManager, FirstSessionMakesOneInstanceInUse) {
  TPoolManager pool;
  pool.SetInstanceClass(TPersistentClass::Of<Module>("TServerModule1"));
  TPersistent* a = pool.LockPoolObject();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(pool.Count(), 1u);
  EXPECT_TRUE(pool.InUse(0));
  EXPECT_TRUE(pool.InstanceClass().IsComponent);
}

TEST(PoolManager, EarliestMadeFreeInstanceIsHandedOutFirst) {
  TPoolManager pool;
  pool.SetInstanceClass(TPersistentClass::Of<Module>("TServerModule1"));
  TPersistent* a = pool.LockPoolObject();
  pool.UnlockPoolObject(a);
  EXPECT_EQ(pool.LockPoolObject(), a) << "a later session reuses the instance";

  TPersistent* b = pool.LockPoolObject();
  EXPECT_NE(a, b) << "two open sessions get two instances";
  pool.UnlockPoolObject(b);
  pool.UnlockPoolObject(a);
  EXPECT_EQ(pool.LockPoolObject(), a) << "after both end, the one made first comes back";
  EXPECT_EQ(pool.Count(), 2u);
}

TEST(PoolManager, GivingBackTwiceOrAForeignObjectChangesNothing) {
  TPoolManager pool;
  pool.SetInstanceClass(TPersistentClass::Of<Module>("TServerModule1"));
  TPersistent* a = pool.LockPoolObject();
  TPersistent* b = pool.LockPoolObject();
  pool.UnlockPoolObject(a);
  pool.UnlockPoolObject(a);
  Module foreign;
  pool.UnlockPoolObject(&foreign);
  pool.UnlockPoolObject(nullptr);
  EXPECT_EQ(pool.Count(), 2u);
  EXPECT_FALSE(pool.InUse(0));
  EXPECT_TRUE(pool.InUse(1));
  EXPECT_EQ(pool.Instance(1), b);
}

TEST(PoolManager, EmptyClassRaisesAndMakesNoEntry) {
  TPoolManager pool;
  try {
    pool.LockPoolObject();
    FAIL() << "expected an error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Not specify class of instance!");
  }
  EXPECT_EQ(pool.Count(), 0u);
}

TEST(PoolManager, FailedConstructionLeavesNoEntryAndReleasesTheLock) {
  TPoolManager pool;
  pool.SetInstanceClass(TPersistentClass::Of<ThrowingModule>("TBroken"));
  EXPECT_THROW(pool.LockPoolObject(), std::runtime_error);
  EXPECT_EQ(pool.Count(), 0u);
  pool.SetInstanceClass(TPersistentClass::Of<Module>("TServerModule1"));
  std::thread other([&] { EXPECT_NE(pool.LockPoolObject(), nullptr); });
  other.join();
  EXPECT_EQ(pool.Count(), 1u);
}

TEST(PoolManager, DestructionDestroysEveryInstanceInUseOrNot) {
  const int before = g_alive;
  {
    TPoolManager pool;
    pool.SetInstanceClass(TPersistentClass::Of<Module>("TServerModule1"));
    pool.LockPoolObject();
    pool.UnlockPoolObject(pool.LockPoolObject());
    pool.LockPoolObject();
    EXPECT_EQ(g_alive, before + 2);
  }
  EXPECT_EQ(g_alive, before);
}

TEST(PoolManager, ConcurrentSessionsNeverShareAnInstance) {
  TPoolManager pool;
  pool.SetInstanceClass(TPersistentClass::Of<Module>("TServerModule1"));
  std::atomic<int> holders[64] = {};
  std::atomic<bool> shared{false};
  std::vector<std::thread> threads;
  std::mutex index_mutex;
  std::vector<TPersistent*> seen;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        TPersistent* p = pool.LockPoolObject();
        size_t slot;
        {
          std::lock_guard lock(index_mutex);
          auto it = std::find(seen.begin(), seen.end(), p);
          if (it == seen.end()) it = seen.insert(seen.end(), p);
          slot = static_cast<size_t>(it - seen.begin());
        }
        if (slot >= 64 || holders[slot].fetch_add(1) != 0) shared = true;
        if (slot < 64) holders[slot].fetch_sub(1);
        pool.UnlockPoolObject(p);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(shared);
  for (size_t i = 0; i < pool.Count(); ++i) EXPECT_FALSE(pool.InUse(i));
}

}  // namespace
}  // namespace velmora::test
