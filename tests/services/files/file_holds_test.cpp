#include "services/files/file_holds.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace velmora::test {
namespace {

struct HoldCase {
  bool first_exclusive;
  bool second_exclusive;
  bool second_granted;
};

class FileHoldTest : public ::testing::TestWithParam<HoldCase> {
 protected:
  std::optional<FileHold> Take(bool exclusive, const std::string& key) {
    return exclusive ? table_.TryExclusive(key) : table_.TryShared(key);
  }
  FileHoldTable table_;
};

TEST_P(FileHoldTest, SharingRulesAndRelease) {
  const HoldCase& c = GetParam();
  {
    auto first = Take(c.first_exclusive, "/a");
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(Take(c.second_exclusive, "/a").has_value(), c.second_granted);
    EXPECT_TRUE(Take(c.second_exclusive, "/b").has_value()) << "another file is independent";
  }
  EXPECT_EQ(table_.HeldCount(), 0u);
  EXPECT_TRUE(Take(c.second_exclusive, "/a").has_value()) << "granted once the first is gone";
}

INSTANTIATE_TEST_SUITE_P(Modes, FileHoldTest,
                         ::testing::Values(HoldCase{false, false, true},
                                           HoldCase{false, true, false},
                                           HoldCase{true, false, false},
                                           HoldCase{true, true, false}));

TEST(FileHoldTableTest, SharedHoldsCountEachReaderAndMovedHoldsReleaseOnce) {
  FileHoldTable table;
  auto r1 = table.TryShared("/f");
  std::optional<FileHold> r2;
  r2.emplace(std::move(*table.TryShared("/f")));
  r1.reset();
  EXPECT_FALSE(table.TryExclusive("/f").has_value()) << "one reader still holds it";
  r2.reset();
  EXPECT_TRUE(table.TryExclusive("/f").has_value());
}

TEST(FileHoldTableTest, HoldFromAnotherThreadIsRefusedWithoutWaiting) {
  FileHoldTable table;
  std::promise<void> taken;
  std::promise<void> done;
  std::thread holder([&] {
    auto hold = table.TryExclusive("/shared");
    taken.set_value();
    done.get_future().wait();
  });
  taken.get_future().wait();
  EXPECT_FALSE(table.TryShared("/shared").has_value());
  done.set_value();
  holder.join();
  EXPECT_TRUE(table.TryShared("/shared").has_value());
}

}  // namespace
}  // namespace velmora::test
