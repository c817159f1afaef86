// TCallCancel: stops the work a remote call started when the call's client goes away.
//
// The rules:
// - The transport makes one TCallCancel per call, installs it on the call's thread with a
//   TCallCancelScope for the length of the call, and calls Cancel() from any thread when it sees
//   the client gone (socket closed, deadline passed, server draining).
// - Work that can be stopped registers a stopper for its own length with a
//   TCallCancelRegistration (a database connection registers its Interrupt while a call holds it).
//   Outside any scope a registration does nothing.
// - Cancel runs every registered stopper once; a stopper registered after Cancel runs at once.
//   Once a registration's destructor has returned, its stopper is never called again.
// - A stopper only flags its work to stop: it must be quick, must not raise and must not wait.
//
// Thread contract: Cancel and Cancelled from any thread; a scope and a registration on the call's
// own thread.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace velmora {

class TCallCancel {
 public:
  TCallCancel() = default;
  TCallCancel(const TCallCancel&) = delete;
  TCallCancel& operator=(const TCallCancel&) = delete;

  // Stops the call's registered work; later calls do nothing more.
  void Cancel() noexcept;
  bool Cancelled() const noexcept;

 private:
  friend class TCallCancelRegistration;
  using Stopper = std::function<void()>;

  mutable std::mutex mutex_;
  bool cancelled_ = false;
  std::vector<std::pair<const void*, Stopper>> stoppers_;  // keyed by their registration
};

// Installs `cancel` as the calling thread's current call for the scope's length.
class TCallCancelScope {
 public:
  explicit TCallCancelScope(TCallCancel& cancel) noexcept;
  ~TCallCancelScope();
  TCallCancelScope(const TCallCancelScope&) = delete;
  TCallCancelScope& operator=(const TCallCancelScope&) = delete;

 private:
  TCallCancel* previous_;
};

// The current call of this thread, or nullptr outside any scope.
TCallCancel* CurrentCallCancel() noexcept;

// Registers `stop` with the thread's current call, if any, for the registration's length.
class TCallCancelRegistration {
 public:
  explicit TCallCancelRegistration(std::function<void()> stop);
  ~TCallCancelRegistration();
  TCallCancelRegistration(const TCallCancelRegistration&) = delete;
  TCallCancelRegistration& operator=(const TCallCancelRegistration&) = delete;

 private:
  TCallCancel* cancel_;
};

}  // namespace velmora
