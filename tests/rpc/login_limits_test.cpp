// Login once per connection, refusals that close the connection, and the per-address delay that
// slows password guessing.
#include <gtest/gtest.h>

#include "rpc/login_throttle.h"
#include "tests/rpc/hardening_test_support.h"

namespace velmora::test {
namespace {

std::string HelloReplyText(Sock& s) {
  const auto m = s.Read();
  if (!m || m->empty() ||
      static_cast<uint8_t>((*m)[0]) != static_cast<uint8_t>(TDSMessageType::HelloReply)) {
    return "(no hello reply)";
  }
  HelloReplyMessage r;
  DecodeHelloReply(*m, r);
  return r.Accepted ? "(accepted)" : r.Text;
}

TEST_F(LimitsTest, LoginHappensOnceAndRefusalsCloseTheConnection) {
  ServerLimits limits;
  limits.RefusalsPerConnection = 3;
  limits.RefusalsPerMinutePerAddress = 1000;
  Restart(limits);
  {
    Sock s(Port());
    ASSERT_TRUE(s.Login());
    ASSERT_TRUE(s.Send(Frame(HelloBytes(kUser, kPassword))));
    EXPECT_EQ(s.ReadError(), "The session is already logged in");
    EXPECT_TRUE(s.Served());  // the session goes on as it was
  }
  {
    // Checked once: after the first refusal further hellos are refused unchecked, and the
    // connection closes at the limit.
    Sock s(Port());
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(s.Send(Frame(HelloBytes(kUser, "guess" + std::to_string(i)))));
      EXPECT_EQ(HelloReplyText(s), i == 0 ? kAuthenticationRejected : kLoginAlreadyRefused);
    }
    EXPECT_TRUE(s.WaitClosed(seconds(5)));
  }
  {
    Sock s(Port());
    ASSERT_TRUE(s.Send(Frame(HelloBytes(kUser, "guess"))));
    EXPECT_EQ(HelloReplyText(s), kAuthenticationRejected);
    // Even the right password does not get in on a refused connection ...
    ASSERT_TRUE(s.Send(Frame(HelloBytes(kUser, kPassword))));
    EXPECT_EQ(HelloReplyText(s), kLoginAlreadyRefused);
    // ... but does on a new one.
    Sock again(Port());
    EXPECT_TRUE(again.Login());
    EXPECT_TRUE(again.Served());
  }
}

TEST_F(LimitsTest, RefusalsFromOneAddressDelayItsFurtherLogins) {
  ServerLimits limits;
  limits.RefusalsPerConnection = 100;
  limits.RefusalsPerMinutePerAddress = 2;
  limits.LoginDelayFirst = seconds(1);
  limits.LoginDelayMax = seconds(2);
  Restart(limits);
  // Each try, on a connection of its own, takes at least this long to be answered.
  const milliseconds waits[] = {milliseconds(0), milliseconds(0), milliseconds(1000),
                                milliseconds(2000), milliseconds(2000)};
  for (const milliseconds wait : waits) {
    Sock s(Port());
    const auto start = Clock::now();
    ASSERT_TRUE(s.Send(Frame(HelloBytes(kUser, "guess"))));
    EXPECT_EQ(HelloReplyText(s), kAuthenticationRejected);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, wait - milliseconds(50));
    EXPECT_LT(took, wait + milliseconds(1500));
  }
  // Another connection from the address waits too, even with the right password.
  Sock other(Port());
  const auto start = Clock::now();
  EXPECT_TRUE(other.Login());
  EXPECT_GE(Clock::now() - start, milliseconds(1950));
}

TEST(LoginThrottle, DelaysDoubleAfterTheThresholdAndAreForgotten) {
  using TP = TLoginThrottle::Clock::time_point;
  const TP t0{};
  const auto at = [&](int s) { return t0 + seconds(1000 + s); };
  struct Step {
    int refused_at;  // seconds; -1: no refusal, only a look at the delay
    int look_at;     // seconds
    int delay;       // expected delay then, seconds
  };
  const Step steps[] = {
      {0, 0, 0},     {1, 1, 0},     {2, 2, 1},             // the third refusal within a minute: 1 s
      {3, 3, 2},     {4, 4, 4},     {5, 5, 8}, {6, 6, 8},  // doubling up to the maximum
      {-1, 60, 8},                                         // still remembered
      {-1, 75, 0},                   // a minute and the delay later: forgotten
      {80, 80, 0},   {100, 100, 0},  // counting starts over
      {150, 150, 0},                 // 80 has left the minute: two in it
      {155, 155, 1},                 // three within a minute
  };
  TLoginThrottle throttle(3, seconds(1), seconds(8));
  for (const Step& step : steps) {
    SCOPED_TRACE(step.look_at);
    if (step.refused_at >= 0) throttle.Refused("10.0.0.1", at(step.refused_at));
    EXPECT_EQ(throttle.Delay("10.0.0.1", at(step.look_at)).count(), step.delay);
    EXPECT_EQ(throttle.Delay("10.0.0.2", at(step.look_at)).count(), 0);  // others are not slowed
  }
}

TEST(LoginThrottle, ForgottenAddressesAreDropped) {
  TLoginThrottle throttle(3, seconds(1), seconds(8));
  const TLoginThrottle::Clock::time_point t0{};
  for (int i = 0; i < 5000; ++i) throttle.Refused("a" + std::to_string(i), t0 + seconds(1000));
  for (int i = 0; i < 5000; ++i) throttle.Refused("b" + std::to_string(i), t0 + seconds(2000));
  EXPECT_EQ(throttle.Size(), 5000u);
}

}  // namespace
}  // namespace velmora::test
