// MemoryBudget: one budget for every buffer that is being inflated or decoded at once, across all
// connections. A caller reserves the bytes before it allocates them and holds the reservation as
// long as the buffer lives, so the sum of what clients make the server hold stays under the budget
// whatever they send.
//
// Rules:
// - A reservation larger than the whole budget is refused at once; so is a Grow that would make
//   its reservation larger than the whole budget.
// - Otherwise a reservation waits, up to the given time, for others to release enough; then it is
//   refused. A refusal raises EMemoryBudgetExceeded and leaves nothing reserved.
// - Grow adds to a reservation under the same rules (for buffers whose size is learnt while they
//   fill, such as an inflater's output).
// - A reservation releases its bytes when destroyed.
//
// Thread contract: every member is safe to call from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "common/velmora_error.h"

namespace velmora {

class EMemoryBudgetExceeded : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

class MemoryBudget;

class MemoryReservation {
 public:
  MemoryReservation() = default;  // holds nothing
  MemoryReservation(MemoryReservation&& other) noexcept;
  MemoryReservation& operator=(MemoryReservation&& other) noexcept;
  MemoryReservation(const MemoryReservation&) = delete;
  MemoryReservation& operator=(const MemoryReservation&) = delete;
  ~MemoryReservation();

  // Adds `bytes` to this reservation; raises EMemoryBudgetExceeded as Reserve does.
  void Grow(uint64_t bytes, std::chrono::milliseconds wait = std::chrono::milliseconds(3000));
  uint64_t Bytes() const { return bytes_; }

 private:
  friend class MemoryBudget;
  MemoryReservation(MemoryBudget* budget, uint64_t bytes) : budget_(budget), bytes_(bytes) {}
  void Release() noexcept;

  MemoryBudget* budget_ = nullptr;
  uint64_t bytes_ = 0;
};

class MemoryBudget {
 public:
  explicit MemoryBudget(uint64_t total) : total_(total) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  // The budget the whole process shares; its total is Limits().MemoryBudget when first used and
  // follows SetTotal afterwards.
  static MemoryBudget& Process();

  MemoryReservation Reserve(uint64_t bytes,
                            std::chrono::milliseconds wait = std::chrono::milliseconds(3000));
  void SetTotal(uint64_t total);
  uint64_t Total() const;
  uint64_t InUse() const;

 private:
  friend class MemoryReservation;
  // Adds `bytes` for a caller that already holds `held`; raises on refusal.
  void Acquire(uint64_t bytes, uint64_t held, std::chrono::milliseconds wait);
  void Give(uint64_t bytes) noexcept;

  mutable std::mutex mutex_;
  std::condition_variable released_;
  uint64_t total_;
  uint64_t in_use_ = 0;
};

}  // namespace velmora
