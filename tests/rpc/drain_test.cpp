// Stopping drains: calls running may finish for the drain time and send their replies; calls
// still running then are answered with an error and asked to stop; idle connections close at
// once. A call also learns when its client hangs up.
#include <gtest/gtest.h>

#include "tests/rpc/hardening_test_support.h"

namespace velmora::test {
namespace {

TEST_F(LimitsTest, StopLetsRunningCallsFinishForTheDrainTimeThenAnswersTheRest) {
  ServerLimits limits;
  limits.DrainTimeout = seconds(1);
  Restart(limits);
  Sock idle(Port()), quick(Port()), slow(Port());
  ASSERT_TRUE(idle.Login());
  ASSERT_TRUE(quick.Login());
  ASSERT_TRUE(slow.Login());
  ASSERT_TRUE(quick.Send(Frame(CallMessage("Nap", {OleVariant(int32_t{400})}))));
  ASSERT_TRUE(slow.Send(Frame(CallMessage("Wait", {OleVariant(int32_t{20000})}))));
  ASSERT_TRUE(log_.WaitFor("create", 2));
  for (size_t i = 0; i < 2; ++i) {
    while (!Instance(i)->started) std::this_thread::sleep_for(milliseconds(1));
  }
  const auto start = Clock::now();
  server_.Stop();
  const auto took = Clock::now() - start;
  EXPECT_GE(took, milliseconds(900));  // the drain waited for the slow call
  EXPECT_LT(took, milliseconds(2500));
  EXPECT_TRUE(idle.WaitClosed(seconds(1)));
  const auto quick_reply = quick.Read(seconds(1));
  ASSERT_TRUE(quick_reply.has_value());
  EXPECT_EQ(static_cast<uint8_t>((*quick_reply)[0]), static_cast<uint8_t>(TDSMessageType::Reply));
  EXPECT_EQ(slow.ReadError(seconds(1)),
            "The server is stopping; the call was ended before it finished");
  EXPECT_TRUE(quick.WaitClosed(seconds(1)));
  EXPECT_TRUE(slow.WaitClosed(seconds(1)));
  bool slow_stopped = false;
  for (size_t i = 0; i < 2; ++i) slow_stopped = slow_stopped || Instance(i)->stopped;
  EXPECT_TRUE(slow_stopped);  // its stop token was stopped
  EXPECT_EQ(transport_.AbandonedThreads(), 0u);
  EXPECT_EQ(transport_.ConnectionCount(), 0u);
}

TEST_F(LimitsTest, ACallIsAskedToStopWhenItsClientHangsUp) {
  Sock s(Port());
  ASSERT_TRUE(s.Login());
  ASSERT_TRUE(s.Send(Frame(CallMessage("Wait", {OleVariant(int32_t{20000})}))));
  ASSERT_TRUE(log_.WaitFor("create"));
  while (!Instance(0)->started) std::this_thread::sleep_for(milliseconds(1));
  s.Close();
  const auto end = Clock::now() + seconds(5);
  while (!Instance(0)->stopped && Clock::now() < end) std::this_thread::sleep_for(milliseconds(10));
  EXPECT_TRUE(Instance(0)->stopped);
  ASSERT_TRUE(log_.WaitFor("disconnect"));
  ExpectServing();
}

// The server of RpcServerTest, set up by hand inside a death test's child process.
class StopProbe : public RpcServerTest {
 public:
  void TestBody() override {}
  // Stops while a call sleeps past the drain and the grace, without looking at its stop token.
  // Exits 0 when the stop returned in time and counted the call's thread as left behind.
  [[noreturn]] void StopUnderAStuckCall() {
    ServerLimits limits;
    limits.DrainTimeout = seconds(1);
    SetServerLimits(limits);
    SetUp();
    Sock s(Port());
    const bool ok = s.Login() && s.Send(Frame(CallMessage("Nap", {OleVariant(int32_t{8000})})));
    while (ok && (Instance(0) == nullptr || !Instance(0)->started)) {
      std::this_thread::sleep_for(milliseconds(1));
    }
    const auto start = Clock::now();
    server_.Stop();
    const auto took = Clock::now() - start;
    const bool answered =
        s.ReadError(seconds(1)) == "The server is stopping; the call was ended before it finished";
    std::_Exit(ok && answered && took >= limits.DrainTimeout + kStopGrace && took < seconds(5) &&
                       transport_.AbandonedThreads() == 1
                   ? 0
                   : 1);
  }
};

TEST(StopDeathTest, AStopReturnsInTimeEvenWhenACallIgnoresItsStopToken) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StopProbe().StopUnderAStuckCall(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velmora::test
