// Rows charged while they are fetched: the budget holds what the record storage allocates, a row
// or value that would take the saved rows past the limit stops the fetch before it is copied in,
// a refused charge stops it too, and either way the rows and the charge are given back.
#include <gtest/gtest.h>

#include <string>

#include "common/memory_budget.h"
#include "common/server_limits.h"
#include "data/dataset.h"

namespace velmora::test {
namespace {

constexpr const char* kRefusal = "The result is too large";

// A dataset whose Open fetches `rows` rows of an ID and a text of `text_bytes` bytes, the way an
// engine appends them.
class FetchedRows : public TDataSet {
 public:
  int rows = 0;
  size_t text_bytes = 0;
  int appended = 0;  // rows complete when the fetch ended

 protected:
  void DoOpen() override {
    FieldDefs().Clear();
    FieldDefs().Add("ID", ftLargeint);
    FieldDefs().Add("NAME", ftWideMemo);
    const std::string text(text_bytes, 'n');
    appended = 0;
    for (int i = 0; i < rows; ++i) {
      RecordAppender& row = BeginAppend();
      try {
        row.AppendInt64(i);
        row.AppendText(text);
      } catch (...) {
        CancelAppend();
        throw;
      }
      EndAppend();
      ++appended;
    }
  }
};

class RowCharge : public ::testing::Test {
 protected:
  void TearDown() override { MemoryBudget::Process().SetTotal(Limits().MemoryBudget); }
  MemoryBudget& budget = MemoryBudget::Process();
  const uint64_t before = MemoryBudget::Process().InUse();
};

TEST_F(RowCharge, TheBudgetHoldsWhatTheRowsAllocateUntilTheyAreClosed) {
  FetchedRows ds;
  ds.rows = 20000;
  ds.text_bytes = 20;
  ds.ChargeRows(kMiB, kRefusal);
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 20000);
  EXPECT_LE(ds.SavedSize(), kMiB);
  // At least the arena and a row entry per row; less than twice that plus the first steps.
  const uint64_t needed = ds.RecordStoreBytes() + 20000 * sizeof(TRowEntry);
  EXPECT_GE(ds.ChargedBytes(), needed);
  EXPECT_LT(ds.ChargedBytes(), 2 * needed + 256 * 1024);
  EXPECT_EQ(budget.InUse(), before + ds.ChargedBytes());
  ds.Close();
  EXPECT_EQ(ds.ChargedBytes(), 0u);
  EXPECT_EQ(budget.InUse(), before);
  // Closed, the dataset is no longer charged: a later Open is not bounded.
  ds.rows = 60000;
  ds.Open();
  EXPECT_EQ(ds.ChargedBytes(), 0u);
  EXPECT_GT(ds.SavedSize(), kMiB);
}

// The limit is checked before what would pass it is copied in: a single value larger than the
// limit is refused for the limit, not for the budget (2 MiB here), which its charge would exceed.
TEST_F(RowCharge, WhatWouldPassTheLimitStopsTheFetchAndIsGivenBack) {
  const struct {
    const char* name;
    int rows;
    size_t text_bytes;
    int appended_at_most;
    uint64_t budget;
  } cases[] = {
      {"many small rows", 200000, 20, 40000, 64 * kMiB},
      {"one value larger than the limit", 3, 4 * kMiB, 0, 2 * kMiB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    budget.SetTotal(before + c.budget);
    FetchedRows ds;
    ds.rows = c.rows;
    ds.text_bytes = c.text_bytes;
    ds.ChargeRows(kMiB, kRefusal);
    try {
      ds.Open();
      ADD_FAILURE() << "opened past the limit";
    } catch (const EResultTooLarge& e) {
      EXPECT_STREQ(e.what(), kRefusal);
    }
    EXPECT_LE(ds.appended, c.appended_at_most);
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ds.RecordStoreBytes(), 0u);
    EXPECT_EQ(budget.InUse(), before);
    // The same dataset serves the next fetch.
    ds.rows = 10;
    ds.text_bytes = 20;
    ds.ChargeRows(kMiB, kRefusal);
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 10);
  }
}

// The limit is exact: a result whose saved form is one byte under the limit or the limit itself
// is fetched whole, one a byte over it is refused. The text (100 kB) is larger than the first
// arena, so the room made for it is checked against the limit before it is copied in.
TEST_F(RowCharge, TheLimitIsExactAtItsBoundary) {
  constexpr size_t kText = 100'000;
  const auto saved_size = [](size_t text_bytes) {
    FetchedRows ds;
    ds.rows = 1;
    ds.text_bytes = text_bytes;
    ds.Open();
    return static_cast<uint64_t>(ds.SavedSize());
  };
  const uint64_t limit = saved_size(kText);
  const struct {
    size_t text_bytes;
    uint64_t saved;
    bool fetched;
  } cases[] = {
      {kText - 1, limit - 1, true},
      {kText, limit, true},
      {kText + 1, limit + 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text_bytes);
    ASSERT_EQ(saved_size(c.text_bytes), c.saved);
    FetchedRows ds;
    ds.rows = 1;
    ds.text_bytes = c.text_bytes;
    ds.ChargeRows(limit, kRefusal);
    if (c.fetched) {
      EXPECT_NO_THROW(ds.Open());
      EXPECT_EQ(ds.RecordCount(), 1);
      EXPECT_EQ(ds.SavedSize(), c.saved);
    } else {
      EXPECT_THROW(ds.Open(), EResultTooLarge);
      EXPECT_FALSE(ds.Active());
    }
    ds.Close();
    EXPECT_EQ(budget.InUse(), before);
  }
}

TEST_F(RowCharge, ABudgetThatCannotHoldTheRowsStopsTheFetch) {
  budget.SetTotal(before + 512 * 1024);
  FetchedRows ds;
  ds.rows = 100000;
  ds.text_bytes = 20;
  ds.ChargeRows(100 * kMiB, kRefusal);
  EXPECT_THROW(ds.Open(), EMemoryBudgetExceeded);
  EXPECT_LT(ds.appended, 100000);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(budget.InUse(), before);
}

}  // namespace
}  // namespace velmora::test
