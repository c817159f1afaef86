// The server and the client channel over real TCP on loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <thread>

#include "rpc/rpc_errors.h"
#include "tests/rpc/rpc_test_server.h"

namespace velmora::test {
namespace {

OleVariant Nested() {
  VariantArray inner{-3,
                     {OleVariant(int32_t{1}), OleVariant::UString("二"),
                      OleVariant::Bytes(std::string_view("\x00\xff", 2), 7)}};
  VariantArray outer{
      1, {OleVariant(std::move(inner)), OleVariant::Null(), OleVariant::VarArrayCreate(0, -1)}};
  return OleVariant(std::move(outer));
}

// One value of every type code, with the edges that a lossy encoding would get wrong.
std::vector<OleVariant> EveryTypeCode() {
  SqlTimeStamp ts{2024, 2, 29, 23, 59, 58, 999};
  SqlInterval iv;
  iv.kind = SqlInterval::kYearMonth;
  iv.sign = -1;
  iv.years = 3;
  iv.months = 11;
  return {
      OleVariant(),
      OleVariant::Null(),
      OleVariant(int16_t{-32768}),
      OleVariant(int32_t{std::numeric_limits<int32_t>::min()}),
      OleVariant(1.5f),
      OleVariant(-0.0),
      OleVariant(std::numeric_limits<double>::quiet_NaN()),
      OleVariant::Currency(-123456789),
      OleVariant::Date(45000.75),
      OleVariant::OleStr("olé 中文"),
      OleVariant::Error(-2147352572),
      OleVariant(true),
      OleVariant(int8_t{-128}),
      OleVariant(uint8_t{255}),
      OleVariant(uint16_t{65535}),
      OleVariant(uint32_t{4294967295u}),
      OleVariant(std::numeric_limits<int64_t>::min()),
      OleVariant(std::numeric_limits<uint64_t>::max()),
      OleVariant::AnsiString(std::string("a\0b", 3)),
      OleVariant::UString(""),
      OleVariant(BcdValue{"-12.340", 10, 3}),
      OleVariant(ts),
      OleVariant(SqlTimeStampOffset{ts, -5, -30}),
      OleVariant(iv),
      OleVariant::Bytes("abc", 5),
      OleVariant::Bytes(std::vector<uint8_t>{}, 0),  // 0..-1
      OleVariant::VarArrayCreate(-2, 2),
      Nested(),
  };
}

TEST_F(RpcServerTest, EveryTypeCodeRoundTripsExactly) {
  auto c = Connect();
  for (const OleVariant& v : EveryTypeCode()) {
    SCOPED_TRACE(VarTypeName(v.VarType()));
    const TDSCallResult r = c->Call(kClass, "Echo", std::span(&v, 1));
    EXPECT_EQ(r.Result.VarType(), v.VarType());
    EXPECT_EQ(r.Result, v);
    EXPECT_TRUE(r.Outs.empty());
  }
  const OleVariant empty_bytes =
      c->Call(kClass, "Echo", std::vector{OleVariant::Bytes("", 0)}).Result;
  EXPECT_EQ(empty_bytes.LowBound(), 0);
  EXPECT_EQ(empty_bytes.HighBound(), -1);
}

TEST_F(RpcServerTest, OutParametersAndResultsComeBackTyped) {
  auto c = Connect();
  for (const OleVariant& sql : {OleVariant::OleStr("select 1"), OleVariant::UString("select 1"),
                                OleVariant::AnsiString("select 1")}) {
    SCOPED_TRACE(VarTypeName(sql.VarType()));
    const TDSCallResult r = c->Call(kClass, "SQL2OleVariant", std::span(&sql, 1));
    EXPECT_EQ(r.Result, OleVariant::Bytes("select 1"));
    ASSERT_EQ(r.Outs.size(), 1u);
    EXPECT_EQ(r.Outs[0], OleVariant::OleStr("err:select 1"));
  }
  // Any integer kind converts; outs come back in declaration order.
  const TDSCallResult sum =
      c->Call(kClass, "Add", std::vector{OleVariant(uint8_t{7}), OleVariant(int64_t{-10})});
  EXPECT_EQ(sum.Result, OleVariant(int32_t{-3}));
  ASSERT_EQ(sum.Outs.size(), 2u);
  EXPECT_EQ(sum.Outs[0], OleVariant(int64_t{-3}));
  EXPECT_EQ(sum.Outs[1], OleVariant(true));
  // A date-time result travels as varDate; a method without result returns Empty.
  EXPECT_EQ(c->Call(kClass, "Now", {}).Result, OleVariant::Date(45000.5));
  EXPECT_TRUE(c->Call(kClass, "Nap", std::vector{OleVariant(int32_t{0})}).Result.IsEmpty());
}

TEST_F(RpcServerTest, MethodAndClassNamesIgnoreCase) {
  auto c = Connect();
  const OleVariant sql = OleVariant::OleStr("x");
  for (const char* name : {"SQL2OleVariant", "sql2olevariant", "SQL2OLEVARIANT"}) {
    EXPECT_EQ(c->Call(kClass, name, std::span(&sql, 1)).Outs.at(0), OleVariant::OleStr("err:x"));
  }
  EXPECT_EQ(c->Call("ttestmodule", "echo", std::span(&sql, 1)).Result, sql);
}

TEST_F(RpcServerTest, CallFailuresReachTheClientAndTheChannelStaysUsable) {
  auto c = Connect();
  struct Case {
    const char* method;
    std::vector<OleVariant> args;
    std::string error;
  } cases[] = {
      {"Fail",
       {OleVariant::OleStr("boom")},
       "Remote error: boom\nCaused by: write failed\nCaused by: disk full"},
      {"Echo",
       {OleVariant(), OleVariant()},
       "Method TTestModule.Echo expects 1 argument(s), 2 given"},
      {"Now", {OleVariant()}, "Method TTestModule.Now expects 0 argument(s), 1 given"},
      {"SQL2OleVariant",
       {OleVariant(int32_t{1})},
       "Invalid argument for TTestModule.SQL2OleVariant: Argument 1: could not convert variant of "
       "type "
       "(Integer) into type (String)"},
      {"Add",
       {OleVariant(int32_t{1}), OleVariant(2.5)},
       "Invalid argument for TTestModule.Add: Argument 2: could not convert variant of type "
       "(Double) "
       "into type (Int64)"},
      {"Add",
       {OleVariant(uint32_t{4000000000u}), OleVariant(int64_t{1})},
       "Invalid argument for TTestModule.Add: Argument 1: value 4000000000 is out of the range of "
       "Integer"},
      {"Nope", {}, "Server method TTestModule.Nope not found"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.method);
    try {
      c->Call(kClass, t.method, t.args);
      ADD_FAILURE() << "no error";
    } catch (const EDSRemoteError& e) {
      EXPECT_EQ(std::string(e.what()), t.error);
    }
    EXPECT_EQ(c->Call(kClass, "Now", {}).Result, OleVariant::Date(45000.5));
  }
  EXPECT_THROW(c->Call("TOther", "Now", {}), EDSRemoteError);
  EXPECT_EQ(log_.Count("create"), 1u);  // failures did not make more instances
}

TEST_F(RpcServerTest, LoginRefusedWithTheExactText) {
  for (auto [user, password] :
       {std::pair{"admin", "wrong"}, std::pair{"Admin", "secret"}, std::pair{"", ""}}) {
    TDSClientChannel c;
    try {
      c.Connect("127.0.0.1", Port(), user, password);
      ADD_FAILURE() << "admitted " << user;
    } catch (const EDSLoginError& e) {
      EXPECT_STREQ(
          e.what(),
          "Authentication manager rejected user credentials. This may due to invalid combination "
          "of DS user name and password");
    }
    EXPECT_FALSE(c.Connected());
  }
  EXPECT_EQ(log_.Count("create"), 0u);
}

TEST_F(RpcServerTest, UnauthorizedCallFailsWithTheUserName) {
  denied_ = "TTestModule.Now";
  auto c = Connect();
  try {
    c->Call(kClass, "now", {});
    ADD_FAILURE() << "no error";
  } catch (const EDSRemoteError& e) {
    EXPECT_STREQ(e.what(), "admin is not authorized to perform the requested action.");
  }
  const OleVariant v(int32_t{5});
  EXPECT_EQ(c->Call(kClass, "Echo", std::span(&v, 1)).Result, v);
}

TEST_F(RpcServerTest, EventsComeInSessionOrder) {
  {
    auto c = Connect();
    ASSERT_TRUE(log_.WaitFor("authenticate:tcp/ip"));
    EXPECT_EQ(log_.Count("create"), 0u);  // no instance before the first call
    const OleVariant v(int32_t{1});
    c->Call(kClass, "Echo", std::span(&v, 1));
    c->Call(kClass, "Echo", std::span(&v, 1));
  }
  ASSERT_TRUE(log_.WaitFor("destroy"));
  EXPECT_EQ(log_.Events(), (std::vector<std::string>{"connect", "authenticate:tcp/ip", "authorize",
                                                     "create", "disconnect", "destroy"}));
  std::lock_guard lock(instances_mu_);
  EXPECT_EQ(peer_.rfind("127.0.0.1:", 0), 0u);
}

// A program the client's process starts while connected gets no copy of the connection, so
// closing the client ends the session at once although that program still runs.
TEST_F(RpcServerTest, AProgramStartedWhileConnectedDoesNotHoldTheConnectionOpen) {
  auto c = Connect();
  ASSERT_TRUE(log_.WaitFor("authenticate:tcp/ip"));
  pid_t child = -1;
  char program[] = "/bin/sleep";
  char seconds[] = "60";
  char* argv[] = {program, seconds, nullptr};
  ASSERT_EQ(::posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
  c.reset();
  EXPECT_TRUE(log_.WaitFor("disconnect"));  // 10 s at most; the program runs for 60
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST_F(RpcServerTest, ChannelIdsDifferAmongOpenConnections) {
  auto a = Connect();
  auto b = Connect();
  ASSERT_TRUE(log_.WaitFor("connect", 2));
  std::lock_guard lock(instances_mu_);
  ASSERT_EQ(channel_ids_.size(), 2u);
  EXPECT_NE(channel_ids_[0], channel_ids_[1]);
}

TEST_F(RpcServerTest, StopClosesIdleAndBusyConnectionsWithoutDisconnectEvents) {
  auto idle = Connect();
  auto busy = Connect();
  std::atomic<bool> busy_failed{false};
  std::thread caller([&] {
    try {
      busy->Call(kClass, "Nap", std::vector{OleVariant(int32_t{300})});
      busy->Call(kClass, "Now", {});
    } catch (const EDSConnectionError&) {
      busy_failed = true;
    }
  });
  ASSERT_TRUE(log_.WaitFor("create"));
  while (!Instance(0)->started) std::this_thread::yield();
  server_.Stop();
  caller.join();
  EXPECT_FALSE(server_.Started());
  EXPECT_EQ(transport_.ConnectionCount(), 0u);
  EXPECT_TRUE(busy_failed);  // the running call's reply came; the next call found it closed
  EXPECT_EQ(log_.Count("disconnect"), 0u);
  EXPECT_EQ(log_.Count("destroy"), 1u);  // the busy session's instance went back
  EXPECT_THROW(idle->Call(kClass, "Now", {}), EDSConnectionError);

  // A restart serves again.
  server_.Start();
  ExpectServing();
}

TEST_F(RpcServerTest, StartOnAPortInUseNamesThePort) {
  TDSTCPServerTransport other;
  other.Port = Port();
  other.BindAddress = "127.0.0.1";
  TDSServer second;
  second.Transport = &other;
  second.ServerClass = &class_;
  try {
    second.Start();
    ADD_FAILURE() << "started twice on one port";
  } catch (const EDSServerError& e) {
    EXPECT_NE(std::string(e.what()).find(std::to_string(Port())), std::string::npos) << e.what();
  }
  EXPECT_FALSE(second.Started());
  ExpectServing();
}

TEST_F(RpcServerTest, ManyConcurrentClients) {
  constexpr int kClients = 16, kCalls = 40;
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      auto c = Connect();
      for (int k = 0; k < kCalls; ++k) {
        const OleVariant v = OleVariant::OleStr(std::to_string(i * 1000 + k));
        if (c->Call(kClass, "Echo", std::span(&v, 1)).Result == v) ++good;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good, kClients * kCalls);
  ASSERT_TRUE(log_.WaitFor("destroy", kClients));
  EXPECT_EQ(log_.Count("disconnect"), static_cast<size_t>(kClients));
}

TEST_F(RpcServerTest, LargeRepliesAreCompressedOnlyWhenThatPays) {
  RawClient raw(Port());
  raw.Login();
  for (bool random : {false, true}) {
    SCOPED_TRACE(random ? "random" : "compressible");
    std::string call;
    EncodeCall(kClass, "Bytes", std::vector{OleVariant(int32_t{200000}), OleVariant(random)}, call);
    raw.SendMessage(call);
    FrameHeader h;
    std::string payload;
    ASSERT_TRUE(raw.ReadFrame(h, payload));
    if (random) {
      EXPECT_EQ(h.flags, 0);
      EXPECT_GT(payload.size(), 200000u);
    } else {
      EXPECT_EQ(h.flags, kFrameDeflated);
      EXPECT_LT(payload.size(), 20000u);
    }
    TDSFrameCodec codec(kDefaultCompressMoreThan, kDefaultMaxFrameSize);
    ReplyMessage reply;
    DecodeReply(codec.Unpack(h, payload), reply);
    EXPECT_EQ(reply.Result.ByteData().bytes.size(), 200000u);
  }
  // Large arguments travel compressed the other way as well.
  auto c = Connect();
  const OleVariant big = OleVariant::Bytes(std::string(500000, 'z'));
  EXPECT_EQ(c->Call(kClass, "Echo", std::span(&big, 1)).Result, big);
}

}  // namespace
}  // namespace velmora::test
