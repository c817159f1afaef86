#include "dbpool/object_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dbpool/counting_semaphore.h"

namespace velmora::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kShortTimeout = 200;

struct Item {
  Item(int id_, std::vector<int>* destroyed_) : id(id_), destroyed(destroyed_) {}
  ~Item() { destroyed->push_back(id); }
  int Tag = 0;
  int id;
  int closes = 0;
  std::vector<int>* destroyed;
};

// A pool of Items whose creation and give-back can be made to fail.
class ObjectPoolTest : public ::testing::Test {
 protected:
  std::unique_ptr<TObjectPool<Item>> MakePool(int capacity, int timeout_ms = kShortTimeout) {
    return std::make_unique<TObjectPool<Item>>(
        capacity,
        [this] {
          if (fail_create) throw std::runtime_error("database unreachable");
          return std::make_unique<Item>(made++, &destroyed);
        },
        [this](Item& item) {
          ++item.closes;
          if (fail_close) throw std::runtime_error("close failed");
        },
        timeout_ms);
  }

  static long long MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
  }

  std::atomic<bool> fail_create{false};
  bool fail_close = false;
  int made = 0;
  std::vector<int> destroyed;
};

TEST(CountingSemaphore, ReleaseAtMaximumHasNoEffectAndWaitTimesOut) {
  CountingSemaphore sem(2, 2);
  sem.release();
  EXPECT_EQ(sem.count(), 2);
  EXPECT_TRUE(sem.try_acquire_for(milliseconds(0)));
  EXPECT_TRUE(sem.try_acquire_for(milliseconds(0)));
  const auto start = Clock::now();
  EXPECT_FALSE(sem.try_acquire_for(milliseconds(100)));
  EXPECT_GE(Clock::now() - start, milliseconds(100));
  sem.release();
  sem.release();
  sem.release();
  EXPECT_EQ(sem.count(), 2);
}

TEST(CountingSemaphore, WaiterWakesWhenAPermitIsReleased) {
  CountingSemaphore sem(0, 1);
  std::thread releaser([&] {
    std::this_thread::sleep_for(milliseconds(50));
    sem.release();
  });
  EXPECT_TRUE(sem.try_acquire_for(milliseconds(5000)));
  releaser.join();
  EXPECT_EQ(sem.count(), 0);
}

TEST(CountingSemaphore, OutOfRangeArgumentsAreClamped) {
  EXPECT_EQ(CountingSemaphore(5, 3).count(), 3);
  EXPECT_EQ(CountingSemaphore(-1, 3).count(), 0);
  CountingSemaphore none(4, -2);
  none.release();
  EXPECT_EQ(none.count(), 0);
}

TEST_F(ObjectPoolTest, LowestIndexedIdleObjectIsHandedOutFirst) {
  auto pool = MakePool(30);
  EXPECT_EQ(pool->Count(), 0u) << "creating the pool makes nothing";
  Item* a = pool->Lock();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Tag, 1);
  pool->Unlock(a);
  EXPECT_EQ(pool->TagOf(a), 0);
  EXPECT_EQ(pool->Lock(), a) << "an idle object is reused";
  EXPECT_EQ(made, 1);

  Item* b = pool->Lock();
  ASSERT_NE(b, nullptr);
  ASSERT_NE(b, a);
  pool->Unlock(a);
  EXPECT_EQ(pool->Lock(), a) << "index 0 wins when it is idle";
  pool->Unlock(b);
  pool->Unlock(a);
  EXPECT_EQ(pool->Lock(), a);
  EXPECT_EQ(pool->Count(), 2u);
  EXPECT_EQ(pool->Permits(), 29);
}

TEST_F(ObjectPoolTest, UnlockOfNullOrForeignObjectChangesNothing) {
  auto pool = MakePool(3);
  auto other = MakePool(3);
  Item* mine = pool->Lock();
  Item* foreign = other->Lock();
  ASSERT_NE(mine, nullptr);
  ASSERT_NE(foreign, nullptr);
  for (Item* value : {static_cast<Item*>(nullptr), foreign}) {
    pool->Unlock(value);
    EXPECT_EQ(pool->Permits(), 2);
    EXPECT_EQ(pool->TagOf(mine), 1);
    EXPECT_EQ(pool->Count(), 1u);
    EXPECT_EQ(mine->closes, 0);
  }
  EXPECT_EQ(foreign->Tag, 1) << "the other pool's object is not touched";
  EXPECT_EQ(foreign->closes, 0);
}

TEST_F(ObjectPoolTest, FullPoolWaitsForTheTimeoutThenYieldsNothing) {
  auto pool = MakePool(2);
  Item* a = pool->Lock();
  Item* b = pool->Lock();
  ASSERT_NE(b, nullptr);
  const auto start = Clock::now();
  EXPECT_EQ(pool->Lock(), nullptr);
  EXPECT_GE(MillisSince(start), kShortTimeout);
  EXPECT_LT(MillisSince(start), 3000);
  EXPECT_EQ(pool->Count(), 2u);

  // A give-back during the wait hands that object to the waiter.
  std::thread giver([&] {
    std::this_thread::sleep_for(milliseconds(kShortTimeout / 4));
    pool->Unlock(a);
  });
  EXPECT_EQ(pool->Lock(), a);
  giver.join();
}

TEST_F(ObjectPoolTest, FailedCreationAppendsNothingAndKeepsItsPermit) {
  auto pool = MakePool(3);
  fail_create = true;
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    EXPECT_EQ(pool->Lock(), nullptr);
    EXPECT_LT(MillisSince(start), kShortTimeout) << "a permit was free: no wait";
  }
  EXPECT_EQ(pool->Count(), 0u);
  EXPECT_EQ(pool->Permits(), 0);

  auto start = Clock::now();
  EXPECT_EQ(pool->Lock(), nullptr);
  EXPECT_GE(MillisSince(start), kShortTimeout) << "no permit left: the full wait";

  fail_create = false;
  start = Clock::now();
  Item* a = pool->Lock();
  ASSERT_NE(a, nullptr) << "hand-outs go on without a permit";
  EXPECT_GE(MillisSince(start), kShortTimeout);
  pool->Unlock(a);
  EXPECT_EQ(pool->Permits(), 1) << "the give-back of a permitless hand-out still releases one";
  start = Clock::now();
  EXPECT_EQ(pool->Lock(), a);
  EXPECT_LT(MillisSince(start), kShortTimeout);
}

TEST_F(ObjectPoolTest, GiveBackHookRunsEachTimeAndItsFailureKeepsThePermit) {
  auto pool = MakePool(2);
  Item* a = pool->Lock();
  pool->Unlock(a);
  EXPECT_EQ(a->closes, 1);
  EXPECT_EQ(pool->Permits(), 2);

  ASSERT_EQ(pool->Lock(), a);
  fail_close = true;
  pool->Unlock(a);
  EXPECT_EQ(a->closes, 2);
  EXPECT_EQ(pool->TagOf(a), 0) << "marked idle before the hook ran";
  EXPECT_EQ(pool->Permits(), 1) << "the permit is not released when closing raises";
}

TEST_F(ObjectPoolTest, FreeAndNilDropsOnlyTheLowestIndexedIdleObject) {
  auto pool = MakePool(3);
  Item* a = pool->Lock();
  Item* b = pool->Lock();
  pool->FreeAndNil();
  EXPECT_EQ(pool->Count(), 2u) << "nothing is dropped while all are handed out";
  EXPECT_TRUE(destroyed.empty());

  pool->Unlock(a);
  pool->Unlock(b);
  const int permits = pool->Permits();
  pool->FreeAndNil();
  EXPECT_EQ(destroyed, std::vector<int>{0});
  ASSERT_EQ(pool->Count(), 1u);
  EXPECT_EQ(pool->Item(0), b) << "the former index 1 is now index 0";
  EXPECT_EQ(pool->Permits(), permits) << "trimming leaves the permits alone";

  ASSERT_EQ(pool->Lock(), b);
  Item* c = pool->Lock();
  ASSERT_NE(c, nullptr);
  pool->Unlock(c);
  pool->FreeAndNil();
  EXPECT_EQ(destroyed, (std::vector<int>{0, 2})) << "the idle one goes, not the handed-out b";
  EXPECT_EQ(pool->Item(0), b);
}

TEST_F(ObjectPoolTest, DestructionDestroysAllFromTheLastIndexDown) {
  auto pool = MakePool(4);
  Item* a = pool->Lock();
  pool->Lock();
  pool->Lock();
  pool->Unlock(a);
  pool.reset();
  EXPECT_EQ(destroyed, (std::vector<int>{2, 1, 0}));
}

TEST_F(ObjectPoolTest, ZeroCapacityYieldsNothingAfterTheWait) {
  auto pool = MakePool(0);
  const auto start = Clock::now();
  EXPECT_EQ(pool->Lock(), nullptr);
  EXPECT_GE(MillisSince(start), kShortTimeout);
  EXPECT_EQ(made, 0);
}

// The gauges follow every way an object comes and goes, and waits and time-outs are counted once
// each: after each step in_use and idle are what the pool holds.
TEST_F(ObjectPoolTest, MetricsFollowHandOutGiveBackDropAndWait) {
  metrics::PoolMetrics counted;
  auto pool = MakePool(2, 50);
  pool->SetMetrics(&counted);
  const auto expect = [&](int64_t in_use, int64_t idle, const char* step) {
    EXPECT_EQ(counted.in_use.Value(), in_use) << step;
    EXPECT_EQ(counted.idle.Value(), idle) << step;
  };
  Item* a = pool->Lock();
  Item* b = pool->Lock();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  expect(2, 0, "two made");
  EXPECT_EQ(counted.waits.Value(), 0u);
  EXPECT_EQ(pool->Lock(), nullptr);  // waits for a permit, times out, finds none
  EXPECT_EQ(counted.waits.Value(), 1u);
  EXPECT_EQ(counted.timeouts.Value(), 1u);
  pool->Unlock(a);
  expect(1, 1, "one given back");
  pool->Unlock(a);
  expect(1, 1, "given back twice");
  EXPECT_EQ(pool->Lock(), a);
  expect(2, 0, "the idle one handed out again");
  pool->Discard(b);
  expect(1, 0, "a handed-out one discarded");
  pool->Unlock(a);
  pool->FreeAndNil();
  expect(0, 0, "the idle one freed");
  ASSERT_NE(pool->Lock(), nullptr);
  ASSERT_NE(pool->Lock(), nullptr);
  pool.reset();
  expect(0, 0, "the pool destroyed with both handed out");
}

}  // namespace
}  // namespace velmora::test
