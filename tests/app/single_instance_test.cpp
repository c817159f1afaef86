// The single-copy rule over a local socket: a later copy reaches the first and asks it to show.
#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <cstring>

namespace velmora::test {
namespace {

QString UniqueName() {
  return QStringLiteral("velmora-test-%1-%2")
      .arg(QCoreApplication::applicationPid())
      .arg(QDateTime::currentMSecsSinceEpoch());
}

bool PumpUntil(const bool& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done && timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return done;
}

TEST(SingleInstance, NameCarriesTheTitleAndTheUser) {
  EXPECT_TRUE(SingleInstanceName().startsWith(QStringLiteral("服务器-")));
  EXPECT_GT(SingleInstanceName().size(), 4);
}

TEST(SingleInstance, LaterCopyFindsTheFirstAndAsksItToShow) {
  const QString name = UniqueName();
  TSingleInstance later(name);
  EXPECT_FALSE(later.NotifyRunningCopy());  // nobody listens yet

  TSingleInstance first(name);
  ASSERT_TRUE(first.Listen());
  bool shown = false;
  QObject::connect(&first, &TSingleInstance::ShowRequested, [&] { shown = true; });
  EXPECT_TRUE(later.NotifyRunningCopy());
  EXPECT_TRUE(PumpUntil(shown, 3000));
}

TEST(SingleInstance, NameLeftByACopyThatDiedIsTakenOver) {
  // A copy that died leaves its socket file behind: bound once, never removed.
  const QString name = UniqueName();
  const QByteArray path = (QDir::tempPath() + QLatin1Char('/') + name).toUtf8();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(static_cast<size_t>(path.size()), sizeof(address.sun_path));
  std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);
  ASSERT_TRUE(QFileInfo::exists(QString::fromUtf8(path)));

  TSingleInstance next(name);
  EXPECT_FALSE(next.NotifyRunningCopy());
  EXPECT_TRUE(next.Listen());
}

}  // namespace
}  // namespace velmora::test
