// Requests over the single-copy channel: a later copy sends a command and waits; the running copy
// serves it on its own thread and replies with the exit status and the text.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <atomic>
#include <thread>

#include "app/single_instance.h"

namespace velmora::test {
namespace {

QString UniqueName() {
  return QStringLiteral("velmora-request-test-%1-%2")
      .arg(QCoreApplication::applicationPid())
      .arg(QDateTime::currentMSecsSinceEpoch());
}

// Sends from another thread (a later copy is another process) while this one serves.
std::optional<CommandOutcome> SendWhileServing(const QString& name, const QString& command,
                                               const QString& argument) {
  std::optional<CommandOutcome> reply;
  std::atomic<bool> done{false};
  std::thread sender([&] {
    TSingleInstance later(name);
    reply = later.SendRequest(command, argument, 10000);
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  sender.join();
  return reply;
}

TEST(SingleInstanceRequest, NoCopyMeansNoReply) {
  TSingleInstance later(UniqueName());
  EXPECT_FALSE(later.SendRequest(QStringLiteral("set-database"), QStringLiteral("x"), 1000));
}

TEST(SingleInstanceRequest, HandlerGetsTheArgumentAndItsReplyComesBackWhole) {
  const QString name = UniqueName();
  TSingleInstance first(name);
  ASSERT_TRUE(first.Listen());
  QString received;
  first.SetRequestHandler(QStringLiteral("set-database"), [&](const QString& argument) {
    received = argument;
    return CommandOutcome{argument.contains(QStringLiteral("bad")) ? 1 : 0,
                          QStringLiteral("连接成功\nline two ; with spaces")};
  });
  const QString argument = QStringLiteral("DriverID=SQLite;Database=/数据/a b.db;\nX=\"q\"");
  const auto done = SendWhileServing(name, QStringLiteral("set-database"), argument);
  ASSERT_TRUE(done);
  EXPECT_EQ(received, argument);
  EXPECT_EQ(done->exit_code, 0);
  EXPECT_EQ(done->text, QStringLiteral("连接成功\nline two ; with spaces"));

  const auto refused =
      SendWhileServing(name, QStringLiteral("set-database"), QStringLiteral("bad"));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->exit_code, 1);

  const auto unknown = SendWhileServing(name, QStringLiteral("no-such-command"), QString());
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->exit_code, 1);
  EXPECT_TRUE(unknown->text.contains(QStringLiteral("no-such-command")));

  // The show request still works beside the commands.
  bool shown = false;
  QObject::connect(&first, &TSingleInstance::ShowRequested, [&] { shown = true; });
  std::thread([&] { TSingleInstance(name).NotifyRunningCopy(); }).join();
  for (int i = 0; i < 300 && !shown; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  EXPECT_TRUE(shown);
}

}  // namespace
}  // namespace velmora::test
