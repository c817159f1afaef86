// The watch stops an engine call that blocks: at the statement's deadline, or when the work is
// cancelled, and never after the statement's scope has closed.
#include "db/core/statement_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmora::test {
namespace {

using namespace std::chrono_literals;

// An engine call that blocks until cancelled (or gives up after 10 s, so a broken watch fails the
// test instead of hanging it).
class BlockingEngine {
 public:
  void Cancel() {
    std::lock_guard lock(mutex_);
    ++cancels_;
    cancelled_ = true;
    changed_.notify_all();
  }
  bool RunUntilCancelled() {
    std::unique_lock lock(mutex_);
    const bool stopped = changed_.wait_for(lock, 10s, [this] { return cancelled_; });
    cancelled_ = false;
    return stopped;
  }
  int Cancels() {
    std::lock_guard lock(mutex_);
    return cancels_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool cancelled_ = false;
  int cancels_ = 0;
};

TEST(StatementWatch, TimeoutAndCancelEachStopTheRunningCallOnce) {
  BlockingEngine engine;
  TStatementWatch watch([&] { engine.Cancel(); });
  TStatementStop stop;

  stop.SetTimeout(100ms);
  stop.Arm();
  const auto started = std::chrono::steady_clock::now();
  {
    TStatementWatch::Scope scope(watch, stop);
    EXPECT_TRUE(engine.RunUntilCancelled());
  }
  EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);
  EXPECT_EQ(stop.Check(), TStatementStop::Reason::kTimeout);
  EXPECT_EQ(engine.Cancels(), 1);

  stop.SetTimeout(0ms);  // no time-out: only a cancel from another thread stops it
  stop.Arm();
  {
    TStatementWatch::Scope scope(watch, stop);
    std::jthread client_gone([&] {
      std::this_thread::sleep_for(50ms);
      stop.Cancel();
    });
    EXPECT_TRUE(engine.RunUntilCancelled());
  }
  EXPECT_EQ(stop.Check(), TStatementStop::Reason::kCancelled);
  EXPECT_EQ(engine.Cancels(), 2);
}

TEST(StatementWatch, NothingIsCancelledOutsideAScope) {
  BlockingEngine engine;
  TStatementWatch watch([&] { engine.Cancel(); });
  TStatementStop stop;
  stop.SetTimeout(30ms);
  stop.Arm();
  { TStatementWatch::Scope quick(watch, stop); }  // the statement ended before its deadline
  std::this_thread::sleep_for(100ms);             // the deadline passes with no scope open
  EXPECT_EQ(engine.Cancels(), 0);

  stop.SetTimeout(0ms);
  stop.Arm();
  { TStatementWatch::Scope next(watch, stop); }  // a later statement on the same stop
  stop.Cancel();
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(engine.Cancels(), 0);
}

}  // namespace
}  // namespace velmora::test
