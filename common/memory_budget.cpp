#include "common/memory_budget.h"

#include <fmt/format.h>

#include <utility>

#include "common/server_limits.h"
#include "common/server_metrics.h"

namespace velmora {

namespace {

// Only the process's budget is the server's; budgets of their own (tests) are not counted.
void CountRefusal(const MemoryBudget& budget) {
  if (&budget == &MemoryBudget::Process()) metrics::Metrics().memory_budget_refusals.Add();
}

}  // namespace

MemoryReservation::MemoryReservation(MemoryReservation&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

MemoryReservation& MemoryReservation::operator=(MemoryReservation&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = std::exchange(other.budget_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

MemoryReservation::~MemoryReservation() {
  Release();
}

void MemoryReservation::Grow(uint64_t bytes, std::chrono::milliseconds wait) {
  if (bytes == 0) return;
  if (budget_ == nullptr) budget_ = &MemoryBudget::Process();
  budget_->Acquire(bytes, bytes_, wait);
  bytes_ += bytes;
}

void MemoryReservation::Release() noexcept {
  if (budget_ != nullptr && bytes_ != 0) budget_->Give(bytes_);
  bytes_ = 0;
}

MemoryBudget& MemoryBudget::Process() {
  static MemoryBudget budget(Limits().MemoryBudget);
  return budget;
}

MemoryReservation MemoryBudget::Reserve(uint64_t bytes, std::chrono::milliseconds wait) {
  Acquire(bytes, 0, wait);
  return MemoryReservation(this, bytes);
}

void MemoryBudget::Acquire(uint64_t bytes, uint64_t held, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  // What the caller holds already counts: a reservation that can never fit is refused at once
  // instead of waiting for bytes that only its own release could free.
  if (bytes > total_ || held > total_ - bytes) {
    CountRefusal(*this);
    throw EMemoryBudgetExceeded(fmt::format(
        "The request needs {} bytes of memory, more than the server's budget of {} bytes",
        held + bytes, total_));
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
}

void MemoryBudget::Give(uint64_t bytes) noexcept {
  {
    std::lock_guard lock(mutex_);
    in_use_ -= bytes <= in_use_ ? bytes : in_use_;
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

}  // namespace velmora
