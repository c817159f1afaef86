// What the shell keeps while it runs stays bounded: the log page keeps its last lines, the
// online-user table gives back the rows of connections that have gone, and a leftover upload
// temporary is gone once the service has started.
#include <QPlainTextEdit>
#include <filesystem>

#include "common/server_limits.h"
#include "tests/app/shell_fixture.h"

namespace velmora::test {
namespace {

class ShellMemoryTest : public ShellTest {
 protected:
  void TearDown() override {
    ShellTest::TearDown();
    SetServerLimits(ServerLimits{});
  }
};

TEST_F(ShellMemoryTest, TheLogPageKeepsItsLastLines) {
  WriteConfigWithFreePort("[Limits]\r\nLogLinesKept=100\r\n");
  CreateWindow();
  ASSERT_TRUE(service_->Started());
  for (int i = 0; i < 250; ++i) service_->AddLog(QStringLiteral("line %1").arg(i));
  const QStringList lines = LogLines();
  EXPECT_EQ(lines.size(), 100);
  EXPECT_TRUE(lines.last().endsWith(QStringLiteral(">>>line 249")));
  EXPECT_TRUE(lines.first().endsWith(QStringLiteral(">>>line 150")));
}

TEST_F(ShellMemoryTest, ABadLimitIsLoggedAndClamped) {
  WriteConfigWithFreePort("[Limits]\r\nLogLinesKept=5\r\n");
  CreateWindow();
  EXPECT_EQ(Limits().LogLinesKept, 100u);
  EXPECT_EQ(LogCount(QStringLiteral("CONFIG.CFG [Limits] LogLinesKept=5 is outside 100 to "
                                    "10000000; 100 is used")),
            1);
}

TEST_F(ShellMemoryTest, ConnectDisconnectCyclesLeaveTheOnlineUserStoreBounded) {
  WriteConfigWithFreePort();
  CreateWindow();
  ASSERT_TRUE(service_->Started());
  auto stays = Client();
  ASSERT_TRUE(WaitUntil([&] { return service_->UserCount() == 1; }));
  // About 50 bytes a row: 600 cycles would leave 30 KB if deleted rows were never given back.
  for (int i = 0; i < 600; ++i) {
    Client()->Close();
    if (i % 50 == 49) {
      ASSERT_TRUE(WaitUntil([&] { return service_->UserCount() == 1; }));
    }
  }
  ASSERT_TRUE(WaitUntil([&] { return service_->UserCount() == 1 && GridRows() == 1; }));
  EXPECT_LT(service_->Clients().RecordStoreBytes(), size_t{9000});
}

TEST_F(ShellMemoryTest, AStartRemovesLeftoverUploadTemporaries) {
  namespace fs = std::filesystem;
  fs::create_directory(fs::path(folder_.Path()) / "Upload");
  const fs::path leftover = fs::path(folder_.Path()) / "Upload" / ".big.iso.velmora-Q1w2E3";
  const fs::path kept = fs::path(folder_.Path()) / "Upload" / "big.iso";
  WriteFile(leftover.string(), "half an upload");
  WriteFile(kept.string(), "a whole one");
  WriteConfigWithFreePort();
  CreateWindow();
  ASSERT_TRUE(service_->Started());
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::exists(kept));
}

}  // namespace
}  // namespace velmora::test
