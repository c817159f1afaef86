// TVelmoraClient after its connection dropped, against a server started in the test: reconnecting
// before the next call, lost replies (made with ReplyLosingProxy) that are resent only for reads
// the caller allowed, several addresses, and the back-off giving up.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "client/velmora_client.h"
#include "tests/client/reply_losing_proxy.h"
#include "tests/support/free_port.h"
#include "tests/support/server_fixture.h"

namespace velmora::test {
namespace {

using std::chrono::milliseconds;

TEST(ServerAddressesTest, ParsesListsAndRejectsBadEntries) {
  struct Case {
    const char* text;
    std::vector<std::pair<std::string, uint16_t>> want;  // empty: invalid_argument
  };
  const Case cases[] = {
      {"db1", {{"db1", 211}}},
      {"a,b:212,[::1]:2000", {{"a", 211}, {"b", 212}, {"::1", 2000}}},
      {" a , 10.0.0.2:65535 ", {{"a", 211}, {"10.0.0.2", 65535}}},
      {"::1", {{"::1", 211}}},
      {"[fe80::1]", {{"fe80::1", 211}}},
      {"", {}},
      {"a,,b", {}},
      {"a,", {}},
      {":212", {}},
      {"a:0", {}},
      {"a:65536", {}},
      {"a:12x", {}},
      {"a:", {}},
      {"[::1", {}},
      {"[::1]x", {}},
      {"[]:5", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.want.empty()) {
      EXPECT_THROW(ParseServerAddresses(c.text, 211), std::invalid_argument);
      continue;
    }
    std::vector<std::pair<std::string, uint16_t>> got;
    for (const TServerAddress& a : ParseServerAddresses(c.text, 211))
      got.emplace_back(a.host, a.port);
    EXPECT_EQ(got, c.want);
  }
  EXPECT_EQ(FormatServerAddress({"::1", 5}), "[::1]:5");
  try {
    ParseServerAddresses("good,bad:port", 211);
    FAIL() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("bad:port"), std::string::npos) << e.what();
  }
}

class ReconnectTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    direct_.Connect("127.0.0.1", Port(), kUser, kPassword);
    std::string errMsg;
    direct_.ExecSQL("CREATE TABLE T (A INTEGER)", errMsg);
    ASSERT_EQ(errMsg, "");
  }

  TServerAddress Direct() const { return {"127.0.0.1", Port()}; }
  static TReconnectRules Quick(bool retry_reads = false) {
    TReconnectRules rules;
    rules.RetryReads = retry_reads;
    rules.FirstDelay = milliseconds(20);
    rules.MaxDelay = milliseconds(100);
    return rules;
  }
  // Rows of T holding `a`, counted over a connection of its own.
  int Rows(int a) {
    std::string errMsg;
    const OleVariant packet = direct_.SQL2OleVariant(
        "SELECT COUNT(*) AS N FROM T WHERE A = " + std::to_string(a), errMsg);
    EXPECT_EQ(errMsg, "");
    return Load(packet)->FieldValue(0).AsInteger();
  }
  // Starts `call` on another thread and has the proxy lose its reply: `while_held` runs after
  // the server answered and before the client's connection is closed. The call's future.
  static std::future<void> LoseReplyOf(ReplyLosingProxy& proxy, std::function<void()> call,
                                       const std::function<void()>& while_held = {}) {
    proxy.LoseNextReply();
    std::future<void> done = std::async(std::launch::async, std::move(call));
    EXPECT_TRUE(proxy.WaitForHeldReply());
    if (while_held) while_held();
    proxy.DropHeldReply();
    return done;
  }

  TVelmoraClient direct_;  // straight to the server, for checking what happened
};

TEST_F(ReconnectTest, ReadWhoseReplyWasLostIsSentAgainAcrossARestart) {
  std::string errMsg;
  direct_.PostData(OleVariant::Bytes(std::string_view("kept")), "Data", "r.txt", errMsg);
  ASSERT_EQ(errMsg, "");
  ReplyLosingProxy proxy(Port());
  TVelmoraClient client;
  client.Connect({{"127.0.0.1", proxy.Port()}}, kUser, kPassword, {}, Quick(/*retry_reads=*/true));
  const uint16_t port = Port();
  OleVariant data;
  std::string readErr = "stale";
  // The server goes away before the client learns its reply is lost, and comes back while the
  // client is backing off: the read is sent again on the new connection.
  std::future<void> done = LoseReplyOf(
      proxy, [&] { data = client.ReadData("Data", "r.txt", readErr); }, [&] { Host().Stop(); });
  std::this_thread::sleep_for(milliseconds(150));
  Host().Start(port);
  ASSERT_NO_THROW(done.get());
  EXPECT_EQ(readErr, "");
  EXPECT_EQ(ByteArrayToBytes(data), "kept");
  EXPECT_EQ(client.Reconnects(), 1);
  EXPECT_GE(proxy.Accepted(), 3);  // the first connection, refused ones while down, the last
}

// Each read kind, with and without the caller's permission: a lost reply is resent exactly when
// the read is allowed; a statement not marked read-only is never resent.
TEST_F(ReconnectTest, LostReadsAreResentOnlyWhenAllowed) {
  std::string errMsg;
  direct_.PostData(OleVariant::Bytes(std::string_view("x")), "Data", "f.txt", errMsg);
  ASSERT_TRUE(direct_.UploadFile(CompressToPacket("up"), "u.bin"));
  struct Case {
    const char* name;
    std::function<void(TVelmoraClient&)> call;  // raises or checks its result
    bool resent_when_reads_retry;
  };
  const Case cases[] = {
      {"GetServerDateTime", [](TVelmoraClient& c) { EXPECT_GT(c.GetServerDateTime(), 40000.0); },
       true},
      {"CheckUpload",
       [](TVelmoraClient& c) {
         std::string n, t, s;
         EXPECT_GE(c.CheckUpload(n, t, s), 1);
       },
       true},
      {"DownLoadFile",
       [](TVelmoraClient& c) {
         int32_t size = 0;
         EXPECT_EQ(PacketToBytes(c.DownLoadFile("u.bin", size)), "up");
       },
       true},
      {"ReadData",
       [](TVelmoraClient& c) {
         std::string e;
         EXPECT_EQ(ByteArrayToBytes(c.ReadData("Data", "f.txt", e)), "x");
       },
       true},
      {"SQL2OleVariant read-only",
       [](TVelmoraClient& c) {
         std::string e;
         EXPECT_TRUE(c.SQL2OleVariant("SELECT 1 AS X", e, TCallSafety::ReadOnly).IsByteArray());
         EXPECT_EQ(e, "");
       },
       true},
      {"SQL2OleVariant unmarked",
       [](TVelmoraClient& c) {
         std::string e;
         c.SQL2OleVariant("SELECT 1 AS X", e);
       },
       false},
  };
  for (const Case& c : cases) {
    for (const bool retry_reads : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (retry_reads ? " with RetryReads" : " without"));
      ReplyLosingProxy proxy(Port());
      TVelmoraClient client;
      client.Connect({{"127.0.0.1", proxy.Port()}}, kUser, kPassword, {}, Quick(retry_reads));
      std::future<void> done = LoseReplyOf(proxy, [&] { c.call(client); });
      if (retry_reads && c.resent_when_reads_retry) {
        EXPECT_NO_THROW(done.get());
        EXPECT_EQ(client.Reconnects(), 1);
      } else {
        EXPECT_THROW(done.get(), EDSOutcomeUnknown);
        EXPECT_EQ(client.Reconnects(), 0);
      }
    }
  }
}

// A read the caller cut short with Interrupt was not lost: it is not sent again.
TEST_F(ReconnectTest, InterruptedReadIsNotResent) {
  ReplyLosingProxy proxy(Port());
  TVelmoraClient client;
  client.Connect({{"127.0.0.1", proxy.Port()}}, kUser, kPassword, {}, Quick(/*retry_reads=*/true));
  std::future<void> done = LoseReplyOf(
      proxy, [&] { client.GetServerDateTime(); }, [&] { client.Interrupt(); });
  EXPECT_THROW(done.get(), EDSOutcomeUnknown);
  EXPECT_EQ(client.Reconnects(), 0);
  EXPECT_EQ(proxy.Accepted(), 1);
  EXPECT_GT(client.GetServerDateTime(), 40000.0);  // the next call opens a new connection
}

// Calls that change data, with reads allowed to retry: a lost reply is reported as an unknown
// outcome, the change happened once, and the client carries on over a new connection.
TEST_F(ReconnectTest, WriteWhoseReplyWasLostIsReportedAndNeverSentTwice) {
  struct Case {
    int id;
    std::function<void(TVelmoraClient&, const std::string& insert)> call;
  };
  const Case cases[] = {
      {1,
       [](TVelmoraClient& c, const std::string& sql) {
         std::string e;
         c.ExecSQL(sql, e);
       }},
      {2,
       [](TVelmoraClient& c, const std::string& sql) {
         std::string e;
         c.UpdateSQL(CompressToPacket(sql), e);
       }},
      {3,
       [](TVelmoraClient& c, const std::string& sql) {
         const OleVariant args[] = {OleVariant(sql)};
         c.Call("ExecSQL", args);
       }},
  };
  ReplyLosingProxy proxy(Port());
  TVelmoraClient client;
  client.Connect({{"127.0.0.1", proxy.Port()}}, kUser, kPassword, {}, Quick(/*retry_reads=*/true));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const std::string insert = "INSERT INTO T VALUES (" + std::to_string(c.id) + ")";
    std::future<void> done = LoseReplyOf(proxy, [&] { c.call(client, insert); });
    try {
      done.get();
      ADD_FAILURE() << "a lost reply was reported as success";
    } catch (const EDSOutcomeUnknown& e) {
      EXPECT_NE(std::string(e.what()).find("outcome is unknown"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Rows(c.id), 1);
    std::string errMsg;
    client.ExecSQL("INSERT INTO T VALUES (100)", errMsg);  // the next call reconnects
    EXPECT_EQ(errMsg, "");
  }
  EXPECT_EQ(Rows(100), 3);
  EXPECT_EQ(client.Reconnects(), 3);
}

// The server closed the idle connection (a restart): the client sees it before sending, so the
// write goes once over a fresh connection; with reconnecting off it is refused unsent.
TEST_F(ReconnectTest, WriteAfterADropSeenBeforeSendingGoesToTheFreshConnection) {
  TVelmoraClient client, stays_down;
  client.Connect({Direct()}, kUser, kPassword, {}, Quick());
  TReconnectRules off = Quick();
  off.Reconnect = false;
  stays_down.Connect({Direct()}, kUser, kPassword, {}, off);
  const uint16_t port = Port();
  Host().Stop();
  Host().Start(port);

  std::string errMsg = "stale";
  client.ExecSQL("INSERT INTO T VALUES (7)", errMsg);
  EXPECT_EQ(errMsg, "");
  EXPECT_EQ(client.Reconnects(), 1);
  try {
    stays_down.ExecSQL("INSERT INTO T VALUES (8)", errMsg);
    ADD_FAILURE() << "sent without reconnecting";
  } catch (const EDSOutcomeUnknown& e) {
    ADD_FAILURE() << "sent into the closed connection: " << e.what();
  } catch (const EDSConnectionError& e) {
    EXPECT_NE(std::string(e.what()).find("was not sent"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Rows(7), 1);
  EXPECT_EQ(Rows(8), 0);
}

TEST_F(ReconnectTest, LaterAddressesStandInForOnesThatAreDown) {
  const auto dead = static_cast<uint16_t>(FreeLoopbackPort());
  TVelmoraClient client;
  client.Connect({{"127.0.0.1", dead}, Direct()}, kUser, kPassword, {}, Quick());
  EXPECT_EQ(client.Server(), FormatServerAddress(Direct()));

  // Connected through the first address; when it goes, the next call uses the second.
  ReplyLosingProxy proxy(Port());
  const TServerAddress first{"127.0.0.1", proxy.Port()};
  client.Connect({first, Direct()}, kUser, kPassword, {}, Quick());
  EXPECT_EQ(client.Server(), FormatServerAddress(first));
  proxy.Shutdown();
  std::string errMsg = "stale";
  client.ExecSQL("INSERT INTO T VALUES (1)", errMsg);
  EXPECT_EQ(errMsg, "");
  EXPECT_EQ(client.Server(), FormatServerAddress(Direct()));
  EXPECT_EQ(Rows(1), 1);
}

TEST_F(ReconnectTest, RandomOrderSpreadsConnectsOverTheAddresses) {
  ReplyLosingProxy proxy(Port());
  const std::vector<TServerAddress> both{{"127.0.0.1", proxy.Port()}, Direct()};
  TReconnectRules random = Quick();
  random.RandomOrder = true;
  std::set<std::string> in_order, at_random;
  for (int i = 0; i < 24; ++i) {
    TVelmoraClient client;
    client.Connect(both, kUser, kPassword);
    in_order.insert(client.Server());
    client.Connect(both, kUser, kPassword, {}, random);
    at_random.insert(client.Server());
  }
  EXPECT_EQ(in_order, std::set<std::string>{FormatServerAddress(both[0])});
  EXPECT_EQ(at_random.size(), 2u);
}

// Every address down: the back-off gives up after its attempts (or its time) and names each
// address with its error; the call was not sent.
TEST_F(ReconnectTest, BackOffGivesUpNamingEveryAddress) {
  const auto dead = static_cast<uint16_t>(FreeLoopbackPort());
  struct Case {
    const char* name;
    int max_attempts;
    milliseconds give_up;
    int min_attempts, max_attempts_seen;
    milliseconds min_spent;
  };
  // 20, 40, 80, 80 ms between attempts; the time limit stops the second case after 20 + 40.
  const Case cases[] = {
      {"attempts", 5, milliseconds(10000), 5, 5, milliseconds(220)},
      {"time", 1000, milliseconds(70), 2, 3, milliseconds(20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReplyLosingProxy proxy(Port());
    TReconnectRules rules;
    rules.FirstDelay = milliseconds(20);
    rules.MaxDelay = milliseconds(80);
    rules.MaxAttempts = c.max_attempts;
    rules.GiveUp = c.give_up;
    const TServerAddress first{"127.0.0.1", proxy.Port()}, second{"127.0.0.1", dead};
    TVelmoraClient client;
    client.Connect({first, second}, kUser, kPassword, {}, rules);
    proxy.Shutdown();
    const auto start = std::chrono::steady_clock::now();
    std::string errMsg;
    try {
      client.ExecSQL("INSERT INTO T VALUES (5)", errMsg);
      ADD_FAILURE() << "no server, yet the call succeeded";
    } catch (const EDSOutcomeUnknown& e) {
      ADD_FAILURE() << e.what();
    } catch (const EDSConnectionError& e) {
      const std::string text = e.what();
      EXPECT_NE(text.find(FormatServerAddress(first) + " ("), std::string::npos) << text;
      EXPECT_NE(text.find(FormatServerAddress(second) + " ("), std::string::npos) << text;
      EXPECT_NE(text.find("last error: "), std::string::npos) << text;
      const int attempts = std::stoi(text.substr(text.find('(') + 1));
      EXPECT_GE(attempts, c.min_attempts) << text;
      EXPECT_LE(attempts, c.max_attempts_seen) << text;
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, c.min_spent);
  }
  EXPECT_EQ(Rows(5), 0);

  // Connect itself tries each address once and names them all.
  TVelmoraClient client;
  try {
    client.Connect({{"127.0.0.1", dead}, {"localhost", dead}}, kUser, kPassword);
    ADD_FAILURE() << "connected to nothing";
  } catch (const EDSConnectionError& e) {
    for (const char* host : {"127.0.0.1", "localhost"})
      EXPECT_NE(std::string(e.what()).find(host + (":" + std::to_string(dead)) + " ("),
                std::string::npos)
          << e.what();
  }
}

}  // namespace
}  // namespace velmora::test
