#include "common/call_cancel.h"

#include <algorithm>

namespace velmora {
namespace {

thread_local TCallCancel* t_current = nullptr;

}  // namespace

void TCallCancel::Cancel() noexcept {
  std::lock_guard lock(mutex_);
  if (cancelled_) return;
  cancelled_ = true;
  // Run under the lock, so that no stopper runs after its registration has gone.
  for (auto& entry : stoppers_) {
    try {
      entry.second();
    } catch (...) {
    }
  }
}

bool TCallCancel::Cancelled() const noexcept {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

TCallCancelScope::TCallCancelScope(TCallCancel& cancel) noexcept : previous_(t_current) {
  t_current = &cancel;
}

TCallCancelScope::~TCallCancelScope() {
  t_current = previous_;
}

TCallCancel* CurrentCallCancel() noexcept {
  return t_current;
}

TCallCancelRegistration::TCallCancelRegistration(std::function<void()> stop) : cancel_(t_current) {
  if (cancel_ == nullptr) return;
  std::lock_guard lock(cancel_->mutex_);
  if (cancel_->cancelled_) {
    try {
      stop();
    } catch (...) {
    }
    return;  // nothing left to stop later
  }
  cancel_->stoppers_.emplace_back(this, std::move(stop));
}

TCallCancelRegistration::~TCallCancelRegistration() {
  if (cancel_ == nullptr) return;
  std::lock_guard lock(cancel_->mutex_);
  auto& list = cancel_->stoppers_;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [this](const auto& entry) { return entry.first == this; }),
             list.end());
}

}  // namespace velmora
