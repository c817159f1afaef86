// Many threads take and give back connections and queries, running a real statement each time.
// No object may be held by two callers at once, and every object must be back at the end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <shared_mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "db/core/query.h"
#include "dbpool/uFDConnPool.h"
#include "dbpool/uFDQueryPool.h"
#include "tests/dbpool/app_folder.h"

namespace velmora::test {
namespace {

constexpr int kThreads = 16;
constexpr auto kDuration = std::chrono::seconds(3);

// Who holds each object: 0 when nobody. Claim fails when another caller holds it.
class Owners {
 public:
  bool Claim(const void* object, int me) { return Slot(object).exchange(me) == 0; }
  bool Release(const void* object, int me) { return Slot(object).exchange(0) == me; }

 private:
  std::atomic<int>& Slot(const void* object) {
    {
      std::shared_lock read(mutex_);
      auto it = slots_.find(object);
      if (it != slots_.end()) return *it->second;
    }
    std::unique_lock write(mutex_);
    auto& slot = slots_[object];
    if (!slot) slot = std::make_unique<std::atomic<int>>(0);
    return *slot;
  }

  std::shared_mutex mutex_;
  std::unordered_map<const void*, std::unique_ptr<std::atomic<int>>> slots_;
};

TEST(PoolStress, NoObjectIsSharedAndAllComeBack) {
  AppFolder folder;
  folder.UseSqlite("stress.db");
  TFDConnectionPool connections(30);
  TFDQueryPool queries(30);
  Owners owners;
  std::atomic<bool> stop{false};
  std::atomic<long> rounds{0}, nothing{0}, shared{0}, wrong_rows{0}, errors{0};

  auto worker = [&](int me) {
    while (!stop.load(std::memory_order_relaxed)) {
      TFDConnection* c = connections.Lock();
      if (c == nullptr) {
        ++nothing;
        continue;
      }
      TFDQuery* q = queries.Lock();
      if (q == nullptr) {
        ++nothing;
        connections.Unlock(c);
        continue;
      }
      if (!owners.Claim(c, me)) ++shared;
      if (!owners.Claim(q, me)) ++shared;
      try {
        q->SetConnection(c);
        q->SQL().SetText("select " + std::to_string(me) + " as who");
        q->Open();
        if (q->RecordCount() != 1) ++wrong_rows;
      } catch (const std::exception&) {
        ++errors;
      }
      if (!owners.Release(q, me)) ++shared;
      if (!owners.Release(c, me)) ++shared;
      queries.UnLock(q);
      connections.Unlock(c);
      ++rounds;
    }
  };

  std::vector<std::thread> threads;
  for (int t = 1; t <= kThreads; ++t) threads.emplace_back(worker, t);
  std::this_thread::sleep_for(kDuration);
  stop = true;
  for (auto& t : threads) t.join();

  EXPECT_GT(rounds.load(), kThreads);
  EXPECT_EQ(shared.load(), 0) << "an object was held by two callers at once";
  EXPECT_EQ(nothing.load(), 0) << "16 callers never exhaust 30 objects";
  EXPECT_EQ(errors.load(), 0);
  EXPECT_EQ(wrong_rows.load(), 0);
  EXPECT_LE(connections.Count(), 30u);
  EXPECT_LE(queries.Count(), 30u);
  for (size_t i = 0; i < connections.Count(); ++i) EXPECT_EQ(connections.Item(i)->Tag, 0);
  for (size_t i = 0; i < queries.Count(); ++i) {
    EXPECT_EQ(queries.Item(i)->Tag, 0);
    EXPECT_FALSE(queries.Item(i)->Active());
  }
  EXPECT_EQ(connections.Permits(), 30);
  EXPECT_EQ(queries.Permits(), 30);
  std::printf("rounds: %ld\n", rounds.load());
}

// A client disconnect trims the connection pool while another caller attaches the query that was
// last attached to the connection being dropped: the query must end up on the caller's connection
// and nothing may touch the dropped one.
TEST(PoolStress, TrimmingWhileAnotherCallerReattachesTheIdleQuery) {
  AppFolder folder;
  folder.UseSqlite("trim.db");
  TFDConnectionPool connections(30);
  TFDQueryPool queries(30);
  std::atomic<bool> stop{false};
  std::atomic<long> lost_link{0}, rounds{0};

  TFDConnection* mine = connections.Lock();  // held throughout, so never trimmed
  ASSERT_NE(mine, nullptr);
  std::thread trimmer([&] {
    while (!stop.load(std::memory_order_relaxed)) connections.FreeAndNil();
  });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < end) {
    // Another caller leaves the query attached to its connection, which is then idle.
    TFDConnection* other = connections.Lock();
    TFDQuery* q = queries.Lock();
    ASSERT_NE(other, nullptr);
    ASSERT_NE(q, nullptr);
    q->SetConnection(other);
    queries.UnLock(q);
    connections.Unlock(other);
    // This caller takes the query and attaches it to its own connection while `other` is dropped.
    ASSERT_EQ(queries.Lock(), q);
    q->SetConnection(mine);
    if (q->Connection() != mine) ++lost_link;
    queries.UnLock(q);
    ++rounds;
  }
  stop = true;
  trimmer.join();
  EXPECT_GT(rounds.load(), 0);
  EXPECT_EQ(lost_link.load(), 0) << "a caller's query lost the connection it was just given";
  connections.Unlock(mine);
}

}  // namespace
}  // namespace velmora::test
