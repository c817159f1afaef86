// The stop token of the remote call running on the current thread: how code deep under a call
// (a database statement, a file copy) learns that the call should end early because its client
// has gone away or the server is stopping.
//
// Rules:
// - The transport sets the token for the length of each call (CallStopScope) on the thread that
//   runs it; outside a call CurrentCallStopToken() returns a token that never stops.
// - Long work either polls `stop_requested()` or registers a `std::stop_callback` on the token,
//   e.g. one that interrupts the database statement. The callback runs on the thread that asks
//   for the stop (the transport's watchdog or the thread stopping the service), so it must be
//   quick and safe to call from another thread; it must not wait for the call's thread.
// - A stop is a request: the call still returns and its thread still ends normally.
#pragma once

#include <functional>
#include <optional>
#include <stop_token>

namespace velmora {

// The stop token of the call running on this thread.
std::stop_token CurrentCallStopToken() noexcept;

// Makes `token` the current call's token on this thread for the scope's life.
class CallStopScope {
 public:
  explicit CallStopScope(std::stop_token token) noexcept;
  ~CallStopScope();
  CallStopScope(const CallStopScope&) = delete;
  CallStopScope& operator=(const CallStopScope&) = delete;

 private:
  std::stop_token previous_;
};

// Registers `stop` with the current call's token for the registration's life: it runs once when
// the call is asked to stop, at once when it already was, and never after the registration's
// destructor has returned (the destructor waits for a run in progress on another thread). Outside
// a call it does nothing. A database connection registers its Interrupt this way while a call
// holds it. `stop` must be quick, must not raise and must not wait for the call's thread.
class CallStopRegistration {
 public:
  explicit CallStopRegistration(std::function<void()> stop);
  CallStopRegistration(const CallStopRegistration&) = delete;
  CallStopRegistration& operator=(const CallStopRegistration&) = delete;

 private:
  std::optional<std::stop_callback<std::function<void()>>> callback_;
};

}  // namespace velmora
