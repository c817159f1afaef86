// TStatementWatch: stops a running statement from outside, for engines whose client library blocks
// inside one call (Firebird, ODBC) and offers a cancel that another thread calls
// (fb_cancel_operation, SQLCancel). SQLite looks at its TStatementStop itself and needs none.
//
// The rules:
// - A session owns one watch; a Scope spans one statement's engine calls, after
//   TStatementStop::Arm. While a Scope is open the watch calls the engine's cancel once, as soon as
//   the statement's deadline passes or the work is cancelled (looked at every 20 ms); the engine's
//   call then fails and the driver reports TStatementStop::Message() in its place (Check() on the
//   session's thread gives the reason).
// - The cancel is never called outside a Scope: transaction control and the session's set-up run
//   without one, so they are never stopped.
// - The watch's thread starts with the first Scope, so a session that runs nothing costs no thread,
//   and ends with the watch.
//
// Thread contract: Scopes are opened and closed on the session's thread, one at a time; the cancel
// runs on the watch's own thread and must be safe to call while the session's thread is inside
// the engine.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "db/core/statement_stop.h"

namespace velmora {

class TStatementWatch {
 public:
  explicit TStatementWatch(std::function<void()> cancel_engine);
  // Waits for a cancel in progress to return, then ends the thread.
  ~TStatementWatch();
  TStatementWatch(const TStatementWatch&) = delete;
  TStatementWatch& operator=(const TStatementWatch&) = delete;

  class Scope {
   public:
    // `stop` has been armed for the statement and outlives the scope.
    Scope(TStatementWatch& watch, const TStatementStop& stop);
    // Returns only when no cancel for this statement is running or will run.
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    TStatementWatch& watch_;
  };

 private:
  void Run(std::stop_token token);

  std::function<void()> cancel_engine_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  const TStatementStop* watched_ = nullptr;  // the open Scope's stop, or nullptr
  uint64_t scopes_ = 0;      // Scopes opened and closed: one statement from the next
  bool cancelling_ = false;  // the engine's cancel is running now
  std::jthread thread_;      // last: stopped and joined first
};

}  // namespace velmora
