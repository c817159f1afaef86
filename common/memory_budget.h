// MemoryBudget: one budget for every buffer that is being inflated, decoded or built for a reply at
// once, across all connections. A caller reserves the bytes before it allocates them and holds the
// reservation as long as the buffer lives, so the sum of what clients make the server hold stays
// under the budget whatever they send or ask for.
//
// Rules:
// - A reservation larger than the whole budget is refused at once; so is a Grow that would make
//   its reservation larger than the whole budget.
// - One call may hold at most half of the budget (CallShare()), so one client cannot take what the
//   others need: the transport opens a CallMemoryScope on the call's thread from the moment its
//   frame is read until its reply has been sent, and every reservation made or first grown on that
//   thread meanwhile counts toward the call. A reservation that would take the call past its share
//   is refused at once. Reservations made outside a scope count only toward the whole budget.
// - Otherwise a reservation waits, up to the given time, for others to release enough; then it is
//   refused. A refusal raises EMemoryBudgetExceeded and leaves nothing reserved.
// - Grow adds to a reservation under the same rules (for buffers whose size is learnt while they
//   fill, such as an inflater's output); Shrink gives part of it back.
// - A reservation releases its bytes when destroyed. A reply's buffers, which outlive the method
//   that made them, are handed to KeepUntilCallEnds: released when the call's scope closes.
//
// Thread contract: every member of MemoryBudget and MemoryReservation is safe to call from any
// thread (one reservation is used by one thread at a time). A CallMemoryScope belongs to the thread
// that opened it and must be closed there, innermost first.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "common/velmora_error.h"

namespace velmora {

class EMemoryBudgetExceeded : public EVelmoraError {
 public:
  using EVelmoraError::EVelmoraError;
};

class MemoryBudget;

// What the reservations of one call hold together.
struct CallMemoryLedger {
  std::atomic<uint64_t> held{0};
};

class MemoryReservation {
 public:
  MemoryReservation() = default;  // holds nothing
  MemoryReservation(MemoryReservation&& other) noexcept;
  MemoryReservation& operator=(MemoryReservation&& other) noexcept;
  MemoryReservation(const MemoryReservation&) = delete;
  MemoryReservation& operator=(const MemoryReservation&) = delete;
  ~MemoryReservation();

  // Adds `bytes` to this reservation; raises EMemoryBudgetExceeded as Reserve does. A reservation
  // that holds nothing yet draws on MemoryBudget::Process() and joins the current call.
  void Grow(uint64_t bytes, std::chrono::milliseconds wait = std::chrono::milliseconds(3000));
  // Gives back `bytes` of this reservation (all of it when it holds less).
  void Shrink(uint64_t bytes) noexcept;
  uint64_t Bytes() const { return bytes_; }

 private:
  friend class MemoryBudget;
  MemoryReservation(MemoryBudget* budget, uint64_t bytes, std::shared_ptr<CallMemoryLedger> call)
      : budget_(budget), bytes_(bytes), call_(std::move(call)) {}
  void Release() noexcept;

  MemoryBudget* budget_ = nullptr;
  uint64_t bytes_ = 0;
  std::shared_ptr<CallMemoryLedger> call_;  // the call it counts toward; none outside a call
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
  // The most one call may hold: half of the total.
  uint64_t CallShare() const { return Total() / 2; }

 private:
  friend class MemoryReservation;
  // Adds `bytes` for a caller that already holds `held` and belongs to `call` (may be null);
  // raises on refusal.
  void Acquire(uint64_t bytes, uint64_t held, CallMemoryLedger* call,
               std::chrono::milliseconds wait);
  void Give(uint64_t bytes, CallMemoryLedger* call) noexcept;

  mutable std::mutex mutex_;
  std::condition_variable released_;
  uint64_t total_;
  uint64_t in_use_ = 0;
};

// The memory of the call running on this thread (see the rules above). Scopes nest: an inner one
// stands for its own call until it closes.
class CallMemoryScope {
 public:
  CallMemoryScope();
  ~CallMemoryScope();
  CallMemoryScope(const CallMemoryScope&) = delete;
  CallMemoryScope& operator=(const CallMemoryScope&) = delete;

  // What the call's reservations hold now.
  uint64_t Held() const { return ledger_->held.load(); }
  // The ledger of the innermost scope open on this thread; null outside a call.
  static std::shared_ptr<CallMemoryLedger> Current();

 private:
  friend void KeepUntilCallEnds(MemoryReservation&& reservation);
  std::shared_ptr<CallMemoryLedger> ledger_;
  std::vector<MemoryReservation> kept_;
  CallMemoryScope* outer_;
};

// Keeps `reservation` until the call running on this thread ends (its scope closes): for a reply's
// buffers, which live on after the method returns. Outside a call it is released at once.
void KeepUntilCallEnds(MemoryReservation&& reservation);

}  // namespace velmora
