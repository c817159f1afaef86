// Logins and online users end to end: real TCP clients against the window's service.
#include <QRegularExpression>
#include <QTcpSocket>
#include <QToolButton>
#include <asio.hpp>
#include <atomic>
#include <thread>

#include "rpc/frame_codec.h"
#include "rpc/frame_io.h"
#include "rpc/messages.h"
#include "rpc/rpc_errors.h"
#include "tests/app/shell_fixture.h"

namespace velmora::test {
namespace {

constexpr const char* kRefused = "有陌生用户登录，请管理员注意！";

class OnlineUsersTest : public ServingShellTest {
 protected:
  bool CountIs(int n) {
    return WaitUntil([&] { return Text("E_UserCount") == QString::number(n) && GridRows() == n; });
  }
  // Whether a login with these credentials gets in; the connection is closed again.
  bool LogsIn(const std::string& user, const std::string& password) {
    try {
      Client(user, password)->Close();
      return true;
    } catch (const EDSLoginError&) {
      return false;
    }
  }
};

TEST_F(OnlineUsersTest, LoginsAreComparedExactlyWithTheFieldsCurrentText) {
  const struct {
    const char* user;
    const char* password;
    bool admitted;
  } cases[] = {
      {"admin", "velmo", true},   {"admin", "wrong", false}, {"Admin", "velmo", false},
      {"admin", "velmo ", false}, {"", "", false},           {"admin", "", false},
  };
  int refusals = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(LogsIn(c.user, c.password), c.admitted) << c.user << "/" << c.password;
    refusals += c.admitted ? 0 : 1;
    // Each refusal is logged once, by itself: neither the name nor the address.
    ASSERT_TRUE(WaitUntil([&] { return LogCount(QString::fromUtf8(kRefused)) == refusals; }))
        << c.user << "/" << c.password;
  }
  ASSERT_TRUE(CountIs(0));
  for (const QString& line : LogLines()) {
    if (line.contains(QString::fromUtf8(kRefused))) {
      EXPECT_EQ(line.mid(22), QString::fromUtf8(kRefused));
    }
  }
}

TEST_F(OnlineUsersTest, UnsavedFieldEditsApplyToTheNextLogin) {
  Find<QLineEdit>("E_SVRPASSWORD")->setText("s3cret");
  EXPECT_FALSE(LogsIn("admin", "velmo"));
  EXPECT_TRUE(LogsIn("admin", "s3cret"));
  Find<QLineEdit>("E_SVRUSERNAME")->setText("");
  Find<QLineEdit>("E_SVRPASSWORD")->setText("");
  EXPECT_TRUE(LogsIn("", ""));
  EXPECT_FALSE(LogsIn("admin", ""));
}

TEST_F(OnlineUsersTest, OneClientInAndOut) {
  auto client = Client();
  ASSERT_TRUE(CountIs(1));
  const QString ip = GridCell(0, 1);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^127\\.0\\.0\\.1:\\d+$")).match(ip).hasMatch())
      << ip.toStdString();
  EXPECT_FALSE(GridCell(0, 0).isEmpty());
  EXPECT_FALSE(GridCell(0, 2).isEmpty());
  client->Close();
  ASSERT_TRUE(CountIs(0));
  ASSERT_TRUE(WaitUntil([&] { return LogCount(ip + QStringLiteral("离开服务器")) == 1; }));
  EXPECT_EQ(LogCount(ip + QStringLiteral("登录服务器")), 1);
  // In, then out.
  const QStringList lines = LogLines();
  qsizetype in = -1, out = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (lines[i].endsWith(ip + QStringLiteral("登录服务器"))) in = i;
    if (lines[i].endsWith(ip + QStringLiteral("离开服务器"))) out = i;
  }
  EXPECT_LT(in, out);
  EXPECT_EQ(service_->ConnectionCount(), 0u);
}

TEST_F(OnlineUsersTest, TwoClientsHaveTwoRowsWithDifferentIdsAndPorts) {
  auto a = Client();
  auto b = Client();
  ASSERT_TRUE(CountIs(2));
  EXPECT_NE(GridCell(0, 0), GridCell(1, 0));
  EXPECT_NE(GridCell(0, 1), GridCell(1, 1));
  const QString second = GridCell(1, 1);
  a->Close();
  ASSERT_TRUE(CountIs(1));
  EXPECT_EQ(GridCell(0, 1), second);
}

TEST_F(OnlineUsersTest, RefusedClientKeepsItsRowUntilItsConnectionCloses) {
  // The client speaks the protocol itself, so that its connection stays open after the refusal
  // (the client channel closes it at once).
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), transport_.BoundPort()});
  ASSERT_TRUE(CountIs(1));
  TDSFrameCodec codec(kDefaultCompressMoreThan, kDefaultMaxFrameSize);
  std::string frame;
  TDSFrameCodec::Begin(frame);
  EncodeHello(HelloMessage{kProtocolVersion, "admin", "wrong", "tcp/ip"}, frame);
  codec.Seal(frame);
  ASSERT_TRUE(WriteFrame(socket, frame));
  std::string buffer;
  std::string_view message;
  ASSERT_TRUE(ReadFrame(socket, codec, buffer, message));
  HelloReplyMessage reply;
  DecodeHelloReply(message, reply);
  EXPECT_FALSE(reply.Accepted);
  ASSERT_TRUE(WaitUntil([&] { return LogCount(QString::fromUtf8(kRefused)) == 1; }));
  // Refused, and still online while the connection is open.
  Pump(200);
  EXPECT_TRUE(socket.is_open());
  EXPECT_EQ(GridRows(), 1);
  EXPECT_EQ(Text("E_UserCount"), QStringLiteral("1"));
  socket.close();
  ASSERT_TRUE(CountIs(0));
}

TEST_F(OnlineUsersTest, StopWithThreeClientsEmptiesTheTableWithoutLeaveLines) {
  std::vector<std::unique_ptr<TDSClientChannel>> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(Client());
  ASSERT_TRUE(CountIs(3));
  ASSERT_EQ(service_->ConnectionCount(), 3u);
  Find<QToolButton>("B_Stop")->click();
  EXPECT_EQ(GridRows(), 0);
  EXPECT_EQ(Text("E_UserCount"), QStringLiteral("0"));
  EXPECT_EQ(service_->ConnectionCount(), 0u);
  Pump(300);  // whatever the connection threads queued before they ended
  EXPECT_EQ(GridRows(), 0);
  EXPECT_EQ(Text("E_UserCount"), QStringLiteral("0"));
  EXPECT_EQ(LogCount(QStringLiteral("服务关闭完成")), 1);
  for (const QString& line : LogLines()) EXPECT_FALSE(line.endsWith(QStringLiteral("离开服务器")));
  // The service starts again and takes new clients.
  Find<QToolButton>("B_Start")->click();
  ASSERT_TRUE(service_->Started());
  auto again = Client();
  EXPECT_TRUE(CountIs(1));
}

// The connect and disconnect handlers called the way the transport calls them, with addresses a
// loopback client cannot have.
TEST_F(OnlineUsersTest, HandlersCutLongAddressesAndIgnoreUnknownConnections) {
  int tokens[2] = {};
  auto* first = reinterpret_cast<TIdTCPConnection*>(&tokens[0]);
  auto* unknown = reinterpret_cast<TIdTCPConnection*>(&tokens[1]);
  TDSTCPChannel channel;
  channel.ChannelInfo.Id = 123456;
  channel.ChannelInfo.ClientInfo = {"255.255.255.255", "65535"};
  transport_.OnConnect(TDSTCPConnectEventObject{first, &channel});
  ASSERT_TRUE(CountIs(1));
  EXPECT_EQ(GridCell(0, 0), QStringLiteral("123456"));
  EXPECT_EQ(GridCell(0, 1), QStringLiteral("255.255.255.255:6553"));  // first 20 characters
  EXPECT_EQ(LogCount(QStringLiteral("255.255.255.255:65535登录服务器")), 1);

  const int lines = static_cast<int>(LogLines().size());
  transport_.OnDisconnect(TDSTCPDisconnectEventObject{unknown});
  Pump(50);
  EXPECT_EQ(static_cast<int>(LogLines().size()), lines);
  EXPECT_TRUE(CountIs(1));

  transport_.OnDisconnect(TDSTCPDisconnectEventObject{first});
  ASSERT_TRUE(CountIs(0));
  EXPECT_EQ(LogCount(QStringLiteral("255.255.255.255:65535离开服务器")), 1);
  // A second disconnect of the same connection finds no entry: nothing more.
  transport_.OnDisconnect(TDSTCPDisconnectEventObject{first});
  Pump(50);
  EXPECT_EQ(LogCount(QStringLiteral("255.255.255.255:65535离开服务器")), 1);
}

TEST_F(OnlineUsersTest, StopWhileClientsComeAndGoReturnsAndLeavesNothingBehind) {
  // Connection threads are busy handing over lines and rows while the stop waits for them; a
  // handler that waited for this thread would hang the stop here.
  std::atomic<bool> running{true};
  std::atomic<int> logins{0};
  const uint16_t port = transport_.BoundPort();
  std::thread traffic([&] {
    while (running) {
      try {
        TDSClientChannel c;
        c.Connect("127.0.0.1", port, "admin", logins % 2 ? "velmo" : "wrong");
        ++logins;
        c.Close();
      } catch (const std::exception&) {
        ++logins;
      }
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return logins >= 20; }));
  QElapsedTimer timer;
  timer.start();
  window_->B_StopClick();
  EXPECT_LT(timer.elapsed(), 5000);
  running = false;
  traffic.join();
  Pump(300);
  EXPECT_EQ(GridRows(), 0);
  EXPECT_EQ(Text("E_UserCount"), QStringLiteral("0"));
  EXPECT_EQ(service_->ConnectionCount(), 0u);
}

}  // namespace
}  // namespace velmora::test
