#include "db/core/statement_watch.h"

#include <algorithm>
#include <chrono>

namespace velmora {

namespace {
// How often a running statement's cancel flag is looked at; its deadline is waited for exactly.
constexpr std::chrono::milliseconds kCancelPoll{20};
}  // namespace

TStatementWatch::TStatementWatch(std::function<void()> cancel_engine)
    : cancel_engine_(std::move(cancel_engine)) {}

TStatementWatch::~TStatementWatch() {
  if (thread_.joinable()) {
    thread_.request_stop();
    changed_.notify_all();
  }
}

TStatementWatch::Scope::Scope(TStatementWatch& watch, const TStatementStop& stop) : watch_(watch) {
  std::lock_guard lock(watch_.mutex_);
  if (!watch_.thread_.joinable()) {
    watch_.thread_ = std::jthread([&w = watch_](std::stop_token token) { w.Run(token); });
  }
  watch_.watched_ = &stop;
  ++watch_.scopes_;
  watch_.changed_.notify_all();
}

TStatementWatch::Scope::~Scope() {
  std::unique_lock lock(watch_.mutex_);
  watch_.watched_ = nullptr;
  ++watch_.scopes_;
  watch_.changed_.wait(lock, [this] { return !watch_.cancelling_; });
  watch_.changed_.notify_all();
}

void TStatementWatch::Run(std::stop_token token) {
  std::unique_lock lock(mutex_);
  while (!token.stop_requested()) {
    if (watched_ == nullptr) {
      changed_.wait(lock, token, [this] { return watched_ != nullptr; });
      continue;
    }
    const TStatementStop* stop = watched_;
    const uint64_t scope = scopes_;
    const auto now = TStatementStop::Clock::now();
    const auto deadline = stop->Deadline();
    if (stop->Cancelled() || now >= deadline) {
      cancelling_ = true;
      lock.unlock();
      cancel_engine_();
      lock.lock();
      cancelling_ = false;
      changed_.notify_all();
      // One cancel per statement: wait until this scope closes.
      changed_.wait(lock, token, [this, scope] { return scopes_ != scope; });
      continue;
    }
    const auto wake = std::min(deadline, now + kCancelPoll);
    changed_.wait_until(lock, token, wake, [this, scope] { return scopes_ != scope; });
  }
}

}  // namespace velmora
