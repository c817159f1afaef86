#include "common/memory_budget.h"

#include <fmt/format.h>

#include <utility>

#include "common/server_limits.h"
#include "common/server_metrics.h"

namespace velmora {

namespace {
thread_local CallMemoryScope* t_call_scope = nullptr;

// Only the process's budget is the server's; budgets of their own (tests) are not counted.
void CountRefusal(const MemoryBudget& budget) {
  if (&budget == &MemoryBudget::Process()) metrics::Metrics().memory_budget_refusals.Add();
}

}  // namespace

MemoryReservation::MemoryReservation(MemoryReservation&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)),
      call_(std::move(other.call_)) {}

MemoryReservation& MemoryReservation::operator=(MemoryReservation&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = std::exchange(other.budget_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
    call_ = std::move(other.call_);
  }
  return *this;
}

MemoryReservation::~MemoryReservation() {
  Release();
}

void MemoryReservation::Grow(uint64_t bytes, std::chrono::milliseconds wait) {
  if (bytes == 0) return;
  if (budget_ == nullptr) {
    budget_ = &MemoryBudget::Process();
    call_ = CallMemoryScope::Current();
  }
  budget_->Acquire(bytes, bytes_, call_.get(), wait);
  bytes_ += bytes;
}

void MemoryReservation::Shrink(uint64_t bytes) noexcept {
  const uint64_t given = bytes < bytes_ ? bytes : bytes_;
  if (budget_ != nullptr && given != 0) budget_->Give(given, call_.get());
  bytes_ -= given;
}

void MemoryReservation::Release() noexcept {
  Shrink(bytes_);
}

MemoryBudget& MemoryBudget::Process() {
  static MemoryBudget budget(Limits().MemoryBudget);
  return budget;
}

MemoryReservation MemoryBudget::Reserve(uint64_t bytes, std::chrono::milliseconds wait) {
  std::shared_ptr<CallMemoryLedger> call = CallMemoryScope::Current();
  Acquire(bytes, 0, call.get(), wait);
  return MemoryReservation(this, bytes, std::move(call));
}

void MemoryBudget::Acquire(uint64_t bytes, uint64_t held, CallMemoryLedger* call,
                           std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  // What the caller holds already counts: a reservation that can never fit is refused at once
  // instead of waiting for bytes that only its own release could free.
  if (bytes > total_ || held > total_ - bytes) {
    CountRefusal(*this);
    throw EMemoryBudgetExceeded(fmt::format(
        "The request needs {} bytes of memory, more than the server's budget of {} bytes",
        held + bytes, total_));
  }
  // A call's share is checked at once too: waiting would not make the call's own holdings fit.
  if (call != nullptr) {
    const uint64_t share = total_ / 2;
    const uint64_t call_held = call->held.load();
    if (bytes > share || call_held > share - bytes) {
      CountRefusal(*this);
      throw EMemoryBudgetExceeded(fmt::format(
          "The call needs {} bytes of memory, more than the {} bytes one call may hold (half of "
          "the server's budget of {} bytes)",
          call_held + bytes, share, total_));
    }
  }
  const bool fits = released_.wait_for(
      lock, wait, [&] { return in_use_ <= total_ && total_ - in_use_ >= bytes; });
  if (!fits) {
    CountRefusal(*this);
    throw EMemoryBudgetExceeded(
        fmt::format("The server is busy: {} bytes of memory could not be had within {} ms", bytes,
                    wait.count()));
  }
  in_use_ += bytes;
  if (call != nullptr) call->held += bytes;
}

void MemoryBudget::Give(uint64_t bytes, CallMemoryLedger* call) noexcept {
  {
    std::lock_guard lock(mutex_);
    in_use_ -= bytes <= in_use_ ? bytes : in_use_;
    if (call != nullptr) call->held -= bytes;
  }
  released_.notify_all();
}

void MemoryBudget::SetTotal(uint64_t total) {
  {
    std::lock_guard lock(mutex_);
    total_ = total;
  }
  released_.notify_all();
}

uint64_t MemoryBudget::Total() const {
  std::lock_guard lock(mutex_);
  return total_;
}

uint64_t MemoryBudget::InUse() const {
  std::lock_guard lock(mutex_);
  return in_use_;
}

CallMemoryScope::CallMemoryScope()
    : ledger_(std::make_shared<CallMemoryLedger>()), outer_(t_call_scope) {
  t_call_scope = this;
}

CallMemoryScope::~CallMemoryScope() {
  t_call_scope = outer_;
  kept_.clear();
}

std::shared_ptr<CallMemoryLedger> CallMemoryScope::Current() {
  return t_call_scope != nullptr ? t_call_scope->ledger_ : nullptr;
}

void KeepUntilCallEnds(MemoryReservation&& reservation) {
  if (t_call_scope == nullptr || reservation.Bytes() == 0) {
    MemoryReservation released = std::move(reservation);
    return;
  }
  t_call_scope->kept_.push_back(std::move(reservation));
}

}  // namespace velmora
