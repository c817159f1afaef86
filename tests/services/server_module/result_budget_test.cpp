// Results and replies inside the memory budget, through the running server: a result past
// ResultMaxMiB or past what the budget lets one call hold is refused in ErrMsg while it is fetched,
// the budget is given back, the pooled query and the connection serve the next call, and other
// clients are served meanwhile; ReadData is held to the same rules.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/memory_budget.h"
#include "common/server_limits.h"
#include "tests/support/server_fixture.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSmallQuery = "SELECT ID, NAME FROM BIG_TABLE";
constexpr const char* kShareRefusal = "one call may hold";

// `rows` rows of a number and a 20-character text, made by SQLite itself.
std::string Rows(int rows) {
  return "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
         std::to_string(rows) + ") SELECT x, printf('%020d', x) FROM c";
}

// The budget is given back once the reply has been sent; the client may read it a moment before.
bool BudgetGivenBack() {
  for (int i = 0; i < 250 && MemoryBudget::Process().InUse() != 0; ++i)
    std::this_thread::sleep_for(20ms);
  return MemoryBudget::Process().InUse() == 0;
}

class ResultBudget : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    ServerLimits limits;
    limits.ResultMax = 1 * kMiB;
    limits.MemoryBudget = 16 * kMiB;
    limits.UploadMax = 16 * kMiB;
    SetServerLimits(limits);
  }
  void TearDown() override {
    SetServerLimits(ServerLimits{});
    ServerFixture::TearDown();
  }
  static void ExpectSmallQueryWorks(TDSClientChannel& client) {
    const auto [packet, err] = Sql(client, kSmallQuery);
    EXPECT_EQ(err, "");
    EXPECT_EQ(Load(packet)->RecordCount(), kBigRows);
  }
};

TEST_F(ResultBudget, AResultPastTheLimitIsRefusedAndTheConnectionGoesOn) {
  const struct {
    const char* name;
    std::string sql;
  } cases[] = {
      {"100000 short rows", Rows(100000)},
      {"three blobs of 1 MiB",
       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 3) "
       "SELECT randomblob(1048576) FROM c"},
  };
  auto client = Connect();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [packet, err] = Sql(*client, c.sql);
    EXPECT_EQ(err, "The result is larger than the server's limit of 1 MiB (ResultMaxMiB)");
    EXPECT_TRUE(packet.IsEmpty());
    ExpectSmallQueryWorks(*client);
    ExpectAllGivenBack();
    EXPECT_TRUE(BudgetGivenBack());
  }
  // Just under the limit (10000 rows take about 350 KiB saved) the result comes back whole.
  const auto [packet, err] = Sql(*client, Rows(10000));
  EXPECT_EQ(err, "");
  EXPECT_EQ(Load(packet)->RecordCount(), 10000);
}

// A result within ResultMaxMiB that one call's share of a small budget (2 MiB of 4) cannot hold is
// refused with the budget's text while a second client's small queries are served throughout.
TEST_F(ResultBudget, AResultTheBudgetCannotHoldIsRefusedWhileOthersAreServed) {
  ServerLimits limits = Limits();
  limits.ResultMax = 255 * kMiB;
  limits.MemoryBudget = 4 * kMiB;
  SetServerLimits(limits);
  auto big = Connect();
  auto other = Connect();
  std::atomic<bool> done{false};
  std::string big_err;
  std::thread fetch([&] {
    big_err = Sql(*big, Rows(500'000)).second;
    done = true;
  });
  int served = 0;
  do {
    ExpectSmallQueryWorks(*other);
    ++served;
  } while (!done);
  fetch.join();
  EXPECT_NE(big_err.find(kShareRefusal), std::string::npos) << big_err;
  EXPECT_GE(served, 1);
  ExpectSmallQueryWorks(*big);
  ExpectAllGivenBack();
  EXPECT_TRUE(BudgetGivenBack());
}

// ReadData: a file past the transfer limit, and one whose content and reply one call cannot hold
// (two copies of 6 MiB against a share of 8 MiB), are refused in ErrMsg; a smaller one is read.
TEST_F(ResultBudget, ReadDataOfAFileTooLargeIsRefusedClearly) {
  std::filesystem::create_directories(dir_.File("store"));
  WriteFile(dir_.File("store/big.bin"), std::string(17 * kMiB, 'b'));
  WriteFile(dir_.File("store/half.bin"), std::string(6 * kMiB, 'h'));
  WriteFile(dir_.File("store/ok.bin"), std::string(kMiB, 'o'));
  auto client = Connect();
  const struct {
    const char* file;
    const char* error;  // a part of ErrMsg; empty: read
  } cases[] = {
      {"big.bin", "more than the transfer limit of"},
      {"half.bin", kShareRefusal},
      {"ok.bin", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const TDSCallResult r = Call(*client, "ReadData", {OleVariant("store"), OleVariant(c.file)});
    const std::string err = r.Outs.at(0).AsString();
    if (*c.error == '\0') {
      EXPECT_EQ(err, "");
      ASSERT_TRUE(r.Result.IsByteArray());
      EXPECT_EQ(r.Result.ByteData().bytes.size(), kMiB);
    } else {
      EXPECT_NE(err.find(c.error), std::string::npos) << err;
      EXPECT_TRUE(r.Result.IsEmpty());
      EXPECT_TRUE(BudgetGivenBack());
    }
  }
  // The client's channel keeps the last reply it inflated (and its charge) until its next one.
  client.reset();
  EXPECT_TRUE(BudgetGivenBack());
}

}  // namespace
}  // namespace velmora::test
