// The real program without a display: start-up on a configured port, a client, SIGTERM; a second
// copy for the same folder that only hands over to the first, and one for another folder that
// serves beside it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <csignal>
#include <string>

#include "app/config/server_config.h"
#include "rpc/client_channel.h"
#include "tests/app/headless_program.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

int FreePort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

void ExpectStartFailureExitsNonZeroWithTheReason();

TEST(Headless, ServesUntilSigtermThenExitsCleanlySecondCopyHandsOverFailedStartExits) {
  TempDir folder;
  const int port = FreePort();
  ASSERT_NE(port, 0);
  WriteFile(folder.File("CONFIG.CFG"), "[CONFIG]\r\nSVROPENPORT=" + std::to_string(port) + "\r\n");
  HeadlessProgram first(folder.Path());
  ASSERT_TRUE(first.WaitForOutput(QStringLiteral(">>>服务启动完成\n")))
      << first.Output().toStdString() << first.Process().readAllStandardError().toStdString();
  ASSERT_TRUE(first.WaitForOutput(QStringLiteral(">>>端口：") + QString::number(port) + "\n"));

  TDSClientChannel client;
  client.Connect("127.0.0.1", static_cast<uint16_t>(port), "admin", std::string(kDefaultPassword));
  EXPECT_TRUE(first.WaitForOutput(QStringLiteral("登录服务器\n")));

  {
    // A second copy for the same folder asks the first to show itself and ends at once, creating
    // nothing, and says why on standard error.
    const auto before = folder.Listing();
    QElapsedTimer timer;
    timer.start();
    HeadlessProgram second(folder.Path());
    // Generous bounds: a sanitized build on a loaded machine starts slowly. A copy that served
    // instead of handing over would run until killed.
    ASSERT_TRUE(second.Process().waitForFinished(15000)) << "the second copy kept running";
    EXPECT_LT(timer.elapsed(), 15000);
    EXPECT_EQ(second.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.Process().exitCode(), 0);
    EXPECT_TRUE(second.Process().readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.Process().readAllStandardError().contains("already serves"));
    EXPECT_EQ(folder.Listing(), before);
  }
  {
    // A copy for another folder is a server of its own.
    TempDir other;
    const int other_port = FreePort();
    WriteFile(other.File("CONFIG.CFG"),
              "[CONFIG]\r\nSVROPENPORT=" + std::to_string(other_port) + "\r\n");
    HeadlessProgram beside(other.Path());
    EXPECT_TRUE(beside.WaitForOutput(QStringLiteral(">>>端口：") + QString::number(other_port)))
        << beside.Output().toStdString() << beside.Process().readAllStandardError().toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(beside.Process().processId()), SIGTERM), 0);
    EXPECT_TRUE(beside.Process().waitForFinished(2000));
  }

  const QElapsedTimer started = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  ASSERT_EQ(::kill(static_cast<pid_t>(first.Process().processId()), SIGTERM), 0);
  // An idle client does not hold the stop for the drain time (10 s).
  ASSERT_TRUE(first.Process().waitForFinished(8000));
  EXPECT_LT(started.elapsed(), 8000);
  EXPECT_EQ(first.Process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first.Process().exitCode(), 0) << first.Process().readAllStandardError().toStdString();
  // The stop closed the client's connection without a leave line.
  first.WaitForOutput(QStringLiteral("离开服务器"), 0);
  EXPECT_FALSE(first.Output().contains(QStringLiteral("离开服务器")));

  ExpectStartFailureExitsNonZeroWithTheReason();
}

// Checked after the copies above have ended, so that the ports they held are free again.
void ExpectStartFailureExitsNonZeroWithTheReason() {
  TempDir folder;
  QTcpServer blocker;
  ASSERT_TRUE(blocker.listen(QHostAddress::Any, 0));
  WriteFile(folder.File("CONFIG.CFG"),
            "[CONFIG]\r\nSVROPENPORT=" + std::to_string(blocker.serverPort()) + "\r\n");
  HeadlessProgram program(folder.Path());
  ASSERT_TRUE(program.Process().waitForFinished(5000));
  EXPECT_NE(program.Process().exitCode(), 0);
  EXPECT_FALSE(program.Process().readAllStandardError().isEmpty());
  EXPECT_FALSE(program.Process().readAllStandardOutput().contains("服务启动完成"));
}

}  // namespace
}  // namespace velmora::test

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
