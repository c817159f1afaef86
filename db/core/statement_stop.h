// TStatementStop: when a running statement is stopped. A connection owns one and hands it to its
// driver session; the driver asks it at each statement's start and, while the statement runs,
// every few thousand engine steps.
//
// The rules:
// - A statement runs at most its time-out: the connection's own setting, else the process-wide
//   Limits().StatementTimeout read when the statement starts. Zero means no limit (the backup
//   engine runs without one). A time-out counts for one statement from its start, its rows
//   included; a command of several statements gives each its own.
// - Cancel() stops the statement running now and fails every statement started after it, until
//   ClearCancel(): the work of a call whose client went away ends as soon as the engine next looks.
// - Transaction control (commit, rollback) is never stopped.
//
// Thread contract: Cancel and Cancelled from any thread at any time (an atomic flag: nothing of
// the session is touched); everything else on the thread that uses the connection.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace velmora {

// The messages of a stopped statement, as they reach ErrMsg.
inline constexpr const char* kStatementCancelledMessage =
    "Statement stopped: the call was cancelled (its client went away)";
// fmt pattern: the time-out in seconds.
inline constexpr const char* kStatementTimeoutMessage =
    "Statement stopped: it ran longer than the statement time-out of {} s";

class TStatementStop {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Reason { kNone, kCancelled, kTimeout };

  // nullopt: Limits().StatementTimeout. Zero: no limit.
  void SetTimeout(std::optional<std::chrono::milliseconds> timeout) { timeout_ = timeout; }
  std::optional<std::chrono::milliseconds> TimeoutSetting() const { return timeout_; }
  // The time-out a statement starting now gets; zero: none.
  std::chrono::milliseconds Timeout() const;

  void Cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }
  void ClearCancel() noexcept { cancelled_.store(false, std::memory_order_relaxed); }
  bool Cancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }

  // A statement starts: its deadline is set and the checks are on. Raises EFDException with the
  // cancel message when the work is cancelled already.
  void Arm();
  // The checks are off (transaction control runs next).
  void Disarm() noexcept { armed_ = false; }
  // While armed: why the running statement must stop now, or kNone. Remembers the reason for
  // Message().
  Reason Check() noexcept;
  // The message for the last reason Check gave, or empty when it gave none since Arm.
  std::string Message() const;
  // When the statement armed last must stop: time_point::max() when it has no time-out. Set by
  // Arm; read by TStatementWatch, which arms nothing itself.
  Clock::time_point Deadline() const noexcept { return deadline_; }

 private:
  std::atomic<bool> cancelled_{false};
  std::optional<std::chrono::milliseconds> timeout_;
  bool armed_ = false;
  Clock::time_point deadline_ = Clock::time_point::max();
  std::chrono::milliseconds armed_timeout_{0};
  Reason stopped_ = Reason::kNone;
};

}  // namespace velmora
