// Connection caps, deadlines and frame sizes: each case ends with the offending connection refused
// or closed, counted by its reason in the server's metrics, and the server still serving others.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <system_error>

#include "common/memory_budget.h"
#include "common/server_metrics.h"
#include "tests/rpc/hardening_test_support.h"

namespace velmora::test {
namespace {

// How many refusals of one reason the server has counted so far.
uint64_t Refused(metrics::ConnectionRefusal why) {
  return metrics::Metrics().Refused(why).Value();
}

long PeakRssKiB() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

TEST_F(LimitsTest, ConnectionsOverACapGetOneErrorAndAreClosed) {
  ServerLimits limits;
  limits.MaxConnections = 3;
  limits.MaxUnauthenticatedPerAddress = 2;
  Restart(limits);
  const uint64_t cap = Refused(metrics::ConnectionRefusal::kCap);
  const uint64_t per_address = Refused(metrics::ConnectionRefusal::kPerAddressCap);
  Sock a(Port()), b(Port());
  ASSERT_TRUE(WaitConnections(2));
  {
    Sock c(Port());  // a third from this address without a login
    EXPECT_EQ(
        c.ReadError(),
        "Too many connections from 127.0.0.1 have not logged in (at most 2); try again later");
    EXPECT_TRUE(c.WaitClosed(seconds(5)));
  }
  ASSERT_TRUE(a.Login());  // a login makes room for another one waiting for its login
  Sock c(Port());
  ASSERT_TRUE(WaitConnections(3));
  {
    Sock d(Port());
    EXPECT_EQ(d.ReadError(), "The server is serving its maximum of 3 connections; try again later");
    EXPECT_TRUE(d.WaitClosed(seconds(5)));
  }
  b.Close();
  ASSERT_TRUE(WaitConnections(2));
  Sock e(Port());
  EXPECT_TRUE(e.Login());
  EXPECT_TRUE(e.Served());
  EXPECT_TRUE(a.Served());
  EXPECT_EQ(Refused(metrics::ConnectionRefusal::kCap) - cap, 1u);
  EXPECT_EQ(Refused(metrics::ConnectionRefusal::kPerAddressCap) - per_address, 1u);
}

TEST_F(LimitsTest, AFailedThreadCreationRefusesThatConnectionOnly) {
  std::atomic<int> failures{2};
  server_.Stop();
  transport_.ThreadStarter = [&](std::function<void()> body) {
    if (failures.fetch_sub(1) > 0) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    return std::thread(std::move(body));
  };
  server_.Start();
  const uint64_t threads = Refused(metrics::ConnectionRefusal::kThreads);
  for (int i = 0; i < 2; ++i) {
    Sock refused(Port());
    EXPECT_EQ(refused.ReadError(),
              "The server cannot serve another connection now; try again later");
    EXPECT_TRUE(refused.WaitClosed(seconds(5)));
  }
  EXPECT_TRUE(server_.Started());
  ExpectServing();
  EXPECT_EQ(log_.Count("connect"), 1u);  // the refused ones never reached the connect event
  EXPECT_EQ(Refused(metrics::ConnectionRefusal::kThreads) - threads, 2u);
}

// Before login only small plain frames: the connection gets the error and is closed, without the
// server inflating or holding anything the client claims.
TEST_F(LimitsTest, BeforeLoginOnlySmallPlainFrames) {
  server_.Stop();
  transport_.MaxFrameSize = kDefaultMaxFrameSize;
  server_.Start();
  const std::string hello = HelloBytes(kUser, kPassword);
  std::string deflated_hello(4, '\0');
  const uint32_t n = static_cast<uint32_t>(hello.size());
  std::memcpy(deflated_hello.data(), &n, 4);
  uLongf room = compressBound(n);
  std::string z(room, '\0');
  compress(reinterpret_cast<Bytef*>(z.data()), &room, reinterpret_cast<const Bytef*>(hello.data()),
           n);
  deflated_hello.append(z.data(), room);
  struct Case {
    const char* name;
    std::string bytes;
    std::string error;
  };
  const Case cases[] = {
      {"a deflated hello", Frame(deflated_hello, kFrameDeflated),
       "Before login frames must be sent uncompressed"},
      // Its header and first 4 KiB: the rest would never be read.
      {"a deflated frame claiming 256 MiB",
       DeflatedZerosFrame(kDefaultMaxFrameSize).substr(0, 4101),
       "Before login a frame may hold at most 4096 bytes; this one holds"},
      {"a plain hello of 5000 bytes", Frame(HelloBytes(std::string(5000, 'u'), kPassword)),
       "Before login a frame may hold at most 4096 bytes; this one holds 50"},
  };
  const long rss_before = PeakRssKiB();
  const uint64_t pre_login = Refused(metrics::ConnectionRefusal::kPreLoginLimit);
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    // Four at once, as an attacker would.
    std::vector<std::unique_ptr<Sock>> socks;
    for (int i = 0; i < 4; ++i) {
      socks.push_back(std::make_unique<Sock>(Port()));
      socks.back()->Send(t.bytes);
    }
    for (auto& s : socks) {
      const std::string text = s->ReadError();
      EXPECT_EQ(text.rfind(t.error, 0), 0u) << text;
      EXPECT_TRUE(s->WaitClosed(seconds(5)));
    }
  }
  EXPECT_LT(PeakRssKiB() - rss_before, 64 * 1024) << "KiB of peak RSS added";
  EXPECT_EQ(MemoryBudget::Process().InUse(), 0u);
  EXPECT_EQ(Refused(metrics::ConnectionRefusal::kPreLoginLimit) - pre_login, 12u);
  ExpectServing();
}

// After login a frame's bytes and its inflated message come out of the memory budget: over it
// the call is refused with the budget's error and the connection goes on.
TEST_F(LimitsTest, AfterLoginFramesOverTheMemoryBudgetAreRefusedAndTheConnectionGoesOn) {
  ServerLimits limits;
  limits.MemoryBudget = 6 * kMiB;
  server_.Stop();
  transport_.MaxFrameSize = kDefaultMaxFrameSize;
  SetServerLimits(limits);
  server_.Start();
  std::string plain = Frame(std::string(12 * kMiB, '\0'));
  struct Case {
    const char* name;
    const std::string bytes;
  };
  const Case cases[] = {
      {"a deflated frame claiming 256 MiB", DeflatedZerosFrame(kDefaultMaxFrameSize)},
      {"a plain frame of 12 MiB", std::move(plain)},
  };
  Sock s(Port());
  ASSERT_TRUE(s.Login());
  const uint64_t budget_refusals = metrics::Metrics().memory_budget_refusals.Value();
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    const long rss_before = PeakRssKiB();
    std::thread sender([&] { s.Send(t.bytes); });
    const std::string text = s.ReadError();
    sender.join();
    // Refused for the whole budget or for one call's half of it, whichever step passes first.
    EXPECT_NE(text.find("the server's budget of 6291456 bytes"), std::string::npos) << text;
    EXPECT_LT(PeakRssKiB() - rss_before, 128 * 1024) << "KiB of peak RSS added";
    EXPECT_TRUE(s.Served());
    EXPECT_EQ(MemoryBudget::Process().InUse(), 0u);
  }
  EXPECT_EQ(metrics::Metrics().memory_budget_refusals.Value() - budget_refusals, 2u);
}

// Each deadline closes a connection that misses it, counted from accept for the hello, from a
// frame's first byte for the frame, from the last answer for an idle session.
TEST_F(LimitsTest, DeadlinesCloseSlowAndSilentClients) {
  ServerLimits limits;
  limits.HelloTimeout = seconds(1);
  limits.FrameTimeout = seconds(1);
  limits.IdleTimeout = seconds(1);
  Restart(limits);
  const std::string call = Frame(CallMessage("Echo", {OleVariant::OleStr(std::string(200, 'x'))}));
  struct Case {
    const char* name;
    bool login;
    std::string trickle;  // sent one byte every 100 ms while the connection lasts
  };
  const Case cases[] = {
      {"a hello that never comes", false, ""},
      {"a hello sent one byte at a time", false, Frame(HelloBytes(kUser, kPassword))},
      {"a frame sent one byte at a time", true, call},
      {"an idle session", true, ""},
  };
  const uint64_t deadlines = Refused(metrics::ConnectionRefusal::kDeadline);
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    Sock s(Port());
    if (t.login) {
      ASSERT_TRUE(s.Login());
    }
    const auto start = Clock::now();
    bool closed = false;
    for (size_t i = 0; i < 50 && !closed; ++i) {  // 5 s at most
      if (i < t.trickle.size()) s.Send(t.trickle.substr(i, 1));
      closed = s.WaitClosed(milliseconds(100));
    }
    const auto took = Clock::now() - start;
    EXPECT_TRUE(closed);
    EXPECT_GE(took, milliseconds(900));
    EXPECT_LT(took, milliseconds(3000));
  }
  // A client that keeps to the deadlines is served.
  Sock s(Port());
  std::this_thread::sleep_for(milliseconds(500));
  ASSERT_TRUE(s.Login());
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_TRUE(s.Served());
  EXPECT_EQ(Refused(metrics::ConnectionRefusal::kDeadline) - deadlines, 4u);
}

}  // namespace
}  // namespace velmora::test
