// Results and replies inside the memory budget, through the running server: a result past
// ResultMaxMiB or past what the budget lets one call hold is refused in ErrMsg while it is fetched,
// the budget is given back, the pooled query and the connection serve the next call, and other
// clients are served meanwhile; ReadData is held to the same limits, by its own error rule.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/memory_budget.h"
#include "common/server_limits.h"
#include "rpc/rpc_errors.h"
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

// ReadData: a file past the transfer limit, and one whose content one call cannot hold (9 MiB
// against a share of 8 MiB), fail while loading and are refused in ErrMsg; one whose content fits
// but whose byte array beside it does not (two copies of 6 MiB) fails while its result is built,
// a remote error; a smaller one is read. The connection serves each next call.
TEST_F(ResultBudget, ReadDataOfAFileTooLargeIsRefusedClearly) {
  std::filesystem::create_directories(dir_.File("store"));
  WriteFile(dir_.File("store/big.bin"), std::string(17 * kMiB, 'b'));
  WriteFile(dir_.File("store/share.bin"), std::string(9 * kMiB, 's'));
  WriteFile(dir_.File("store/half.bin"), std::string(6 * kMiB, 'h'));
  WriteFile(dir_.File("store/ok.bin"), std::string(kMiB, 'o'));
  auto client = Connect();
  enum class Outcome { kRead, kErrMsg, kRemoteError };
  const struct {
    const char* file;
    Outcome outcome;
    const char* error;  // a part of the refusal's text
  } cases[] = {
      {"big.bin", Outcome::kErrMsg, "more than the transfer limit of"},
      {"share.bin", Outcome::kErrMsg, kShareRefusal},
      {"half.bin", Outcome::kRemoteError, kShareRefusal},
      {"ok.bin", Outcome::kRead, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::string err;
    OleVariant result;
    try {
      const TDSCallResult r = Call(*client, "ReadData", {OleVariant("store"), OleVariant(c.file)});
      err = r.Outs.at(0).AsString();
      result = r.Result;
      EXPECT_NE(c.outcome, Outcome::kRemoteError) << "answered, ErrMsg: " << err;
    } catch (const EDSRemoteError& e) {
      err = e.what();
      EXPECT_EQ(c.outcome, Outcome::kRemoteError) << err;
    }
    if (c.outcome == Outcome::kRead) {
      EXPECT_EQ(err, "");
      ASSERT_TRUE(result.IsByteArray());
      EXPECT_EQ(result.ByteData().bytes.size(), kMiB);
    } else {
      EXPECT_NE(err.find(c.error), std::string::npos) << err;
      EXPECT_TRUE(result.IsEmpty());
      EXPECT_TRUE(BudgetGivenBack());
    }
    EXPECT_NO_THROW(Call(*client, "GetServerDateTime"));
  }
  // The client's channel keeps the last reply it inflated (and its charge) until its next one.
  client.reset();
  EXPECT_TRUE(BudgetGivenBack());
}

}  // namespace
}  // namespace velmora::test
