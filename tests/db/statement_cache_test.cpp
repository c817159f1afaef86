// TStatementCache: a statement is checked out by Take and back by Put, the least recently given
// back goes first when the cache is full, and whatever does not fit is handed back to the caller.
#include "db/core/statement_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

// Stands for a prepared statement: records its disposal in a shared log.
struct FakeStatement {
  std::string name;
  std::shared_ptr<std::vector<std::string>> disposed;

  FakeStatement(std::string n, std::shared_ptr<std::vector<std::string>> log)
      : name(std::move(n)), disposed(std::move(log)) {}
  FakeStatement(FakeStatement&&) noexcept = default;
  FakeStatement& operator=(FakeStatement&& other) noexcept {
    Dispose();
    name = std::move(other.name);
    disposed = std::move(other.disposed);
    return *this;
  }
  ~FakeStatement() { Dispose(); }

  void Dispose() {
    if (disposed) disposed->push_back(name);
    disposed.reset();
  }
};

class StatementCacheTest : public ::testing::Test {
 protected:
  FakeStatement Make(const std::string& name) { return FakeStatement(name, log_); }

  std::shared_ptr<std::vector<std::string>> log_ = std::make_shared<std::vector<std::string>>();
};

TEST_F(StatementCacheTest, TakeChecksOutAndPutGivesBack) {
  TStatementCache<FakeStatement> cache(4);
  EXPECT_FALSE(cache.Take("SELECT 1").has_value());
  EXPECT_FALSE(cache.Put("SELECT 1", Make("s1")).has_value());
  EXPECT_FALSE(cache.Take("select 1").has_value());  // keys are compared exactly
  std::optional<FakeStatement> taken = cache.Take("SELECT 1");
  ASSERT_TRUE(taken.has_value());
  EXPECT_EQ(taken->name, "s1");
  // Checked out: a second user of the same text finds nothing.
  EXPECT_FALSE(cache.Take("SELECT 1").has_value());
  EXPECT_EQ(cache.Size(), 0u);
  EXPECT_FALSE(cache.Put("SELECT 1", std::move(*taken)).has_value());
  EXPECT_EQ(cache.Size(), 1u);
  EXPECT_TRUE(log_->empty());
}

TEST_F(StatementCacheTest, FullCacheHandsBackTheLeastRecentlyGivenBack) {
  TStatementCache<FakeStatement> cache(3);
  for (const char* key : {"a", "b", "c"}) EXPECT_FALSE(cache.Put(key, Make(key)).has_value());
  // "a" is used again: "b" is now the oldest.
  std::optional<FakeStatement> a = cache.Take("a");
  ASSERT_TRUE(a.has_value());
  EXPECT_FALSE(cache.Put("a", std::move(*a)).has_value());
  std::optional<FakeStatement> evicted = cache.Put("d", Make("d"));
  ASSERT_TRUE(evicted.has_value());
  EXPECT_EQ(evicted->name, "b");
  evicted = cache.Put("e", Make("e"));
  ASSERT_TRUE(evicted.has_value());
  EXPECT_EQ(evicted->name, "c");
  EXPECT_EQ(cache.Size(), 3u);
  for (const char* key : {"a", "d", "e"}) EXPECT_TRUE(cache.Take(key).has_value()) << key;
}

TEST_F(StatementCacheTest, SecondStatementOfACachedKeyIsHandedBack) {
  TStatementCache<FakeStatement> cache(3);
  EXPECT_FALSE(cache.Put("SELECT 1", Make("first")).has_value());
  std::optional<FakeStatement> back = cache.Put("SELECT 1", Make("second"));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->name, "second");
  EXPECT_EQ(cache.Take("SELECT 1")->name, "first");
}

// A cache of no capacity keeps nothing; any cache keeps no text past kMaxCachedTextBytes, while a
// text of that length is kept.
TEST_F(StatementCacheTest, WhatMayNotBeKeptIsHandedBack) {
  const struct {
    size_t capacity;
    std::string key;
    bool kept;
  } cases[] = {
      {0, "SELECT 1", false},
      {4, "SELECT '" + std::string(kMaxCachedTextBytes - 9, 'x') + "'", true},
      {4, "SELECT '" + std::string(kMaxCachedTextBytes - 8, 'x') + "'", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key.size());
    TStatementCache<FakeStatement> cache(c.capacity);
    std::optional<FakeStatement> back = cache.Put(c.key, Make("s"));
    EXPECT_EQ(back.has_value(), !c.kept);
    EXPECT_EQ(cache.Size(), c.kept ? 1u : 0u);
    EXPECT_EQ(cache.Take(c.key).has_value(), c.kept);
  }
}

TEST_F(StatementCacheTest, ClearAndDestructionDisposeOfEveryStatementOnce) {
  {
    TStatementCache<FakeStatement> cache(4);
    for (const char* key : {"a", "b", "c"}) cache.Put(key, Make(key));
    cache.Take("b");  // taken and dropped by its user: disposed there
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
    cache.Put("d", Make("d"));
  }
  std::vector<std::string> disposed = *log_;
  std::sort(disposed.begin(), disposed.end());
  EXPECT_EQ(disposed, (std::vector<std::string>{"a", "b", "c", "d"}));
}

}  // namespace
}  // namespace velmora::test
